// A small harness in the manner of Wine's conformance tests: ok() counts and reports with
// the value actually seen, skip() says what the environment lacks, and the last line of the
// run reads "N passed, M failed". The exit code is 1 when anything failed.
#pragma once

#include <string>

namespace wt {

void Ok(const char* file, int line, bool cond, const char* fmt, ...)
    __attribute__((format(printf, 4, 5)));
void Skip(const char* file, int line, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
void Trace(const char* file, int line, const char* fmt, ...) __attribute__((format(printf, 3, 4)));

// True under Wine, where a few results of the host system differ from Windows'; the tests
// say so with skip() rather than fail.
bool OnWine();

// A wide text for a message: ASCII as it is, everything else as \uXXXX, so that failures
// read the same whatever code page the console uses.
std::string Esc(const std::wstring& text);

using TestFunc = void (*)();
struct Registrar {
    Registrar(const char* name, TestFunc func);
};

// A test program may switch into child mode (see main in wine_test.cpp) when it re-launches
// itself; this hook returns true and sets *exitCode when argv asked for it.
using ChildHook = bool (*)(int argc, wchar_t** argv, int* exitCode);
void SetChildHook(ChildHook hook);

}  // namespace wt

#define ok(cond, ...) wt::Ok(__FILE__, __LINE__, (cond), __VA_ARGS__)
#define skip(...) wt::Skip(__FILE__, __LINE__, __VA_ARGS__)
#define trace(...) wt::Trace(__FILE__, __LINE__, __VA_ARGS__)

#define WT_CONCAT2(a, b) a##b
#define WT_CONCAT(a, b) WT_CONCAT2(a, b)
// START_TEST(name) { ... } defines one test function, run in the order of definition
// within a file; "prog.exe name" runs only that one.
#define START_TEST(name)                                               \
    static void wt_test_##name();                                      \
    static wt::Registrar WT_CONCAT(wt_reg_, name)(#name, &wt_test_##name); \
    static void wt_test_##name()
