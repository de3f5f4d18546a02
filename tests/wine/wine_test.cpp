// The harness's counters and main(): runs every registered test, or the ones named on the
// command line, then prints the totals.
#include "wine_test.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "platform/win32/windows_support.h"

using namespace nb;

namespace wt {
namespace {

int g_passed = 0;
int g_failed = 0;
int g_skipped = 0;
const char* g_current = "";
ChildHook g_childHook = nullptr;

struct Entry {
    const char* name;
    TestFunc func;
};
std::vector<Entry>& Tests() {
    static std::vector<Entry> tests;
    return tests;
}

const char* BaseName(const char* file) {
    const char* slash = std::strrchr(file, '/');
    const char* back = std::strrchr(file, '\\');
    if (back != nullptr && (slash == nullptr || back > slash)) slash = back;
    return slash != nullptr ? slash + 1 : file;
}

void Report(const char* kind, const char* file, int line, const char* fmt, va_list args) {
    std::printf("%s:%d: %s%s", BaseName(file), line, kind, kind[0] ? " " : "");
    std::vprintf(fmt, args);
    std::fflush(stdout);
}

}  // namespace

void Ok(const char* file, int line, bool cond, const char* fmt, ...) {
    if (cond) {
        ++g_passed;
        return;
    }
    ++g_failed;
    va_list args;
    va_start(args, fmt);
    std::printf("%s: ", g_current);
    Report("Test failed:", file, line, fmt, args);
    va_end(args);
}

void Skip(const char* file, int line, const char* fmt, ...) {
    ++g_skipped;
    va_list args;
    va_start(args, fmt);
    std::printf("%s: ", g_current);
    Report("Tests skipped:", file, line, fmt, args);
    va_end(args);
}

void Trace(const char* file, int line, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::printf("%s: ", g_current);
    Report("", file, line, fmt, args);
    va_end(args);
}

bool OnWine() {
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string Esc(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) {
        if (c >= 0x20 && c < 0x7F) {
            out.push_back(static_cast<char>(c));
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
            out += buf;
        }
    }
    return out;
}

Registrar::Registrar(const char* name, TestFunc func) { Tests().push_back({name, func}); }

void SetChildHook(ChildHook hook) { g_childHook = hook; }

}  // namespace wt

int wmain(int argc, wchar_t** argv) {
    int childExit = 0;
    if (wt::g_childHook != nullptr && wt::g_childHook(argc, argv, &childExit)) return childExit;

    // A crash dialog would hang an unattended run.
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    // Arguments that name tests select them; other arguments belong to the program.
    std::vector<std::string> selected;
    for (int i = 1; i < argc; ++i) {
        char name[128];
        std::snprintf(name, sizeof name, "%ls", argv[i]);
        for (const wt::Entry& t : wt::Tests())
            if (std::strcmp(name, t.name) == 0) selected.push_back(name);
    }
    for (const wt::Entry& t : wt::Tests()) {
        bool wanted = selected.empty();
        for (const std::string& s : selected) wanted = wanted || s == t.name;
        if (!wanted) continue;
        wt::g_current = t.name;
        int failedBefore = wt::g_failed;
        t.func();
        std::printf("%s: %s\n", t.name, wt::g_failed == failedBefore ? "ok" : "FAILED");
        std::fflush(stdout);
    }
    if (wt::g_skipped > 0) std::printf("%d skipped\n", wt::g_skipped);
    std::printf("%d passed, %d failed\n", wt::g_passed, wt::g_failed);
    return wt::g_failed == 0 ? 0 : 1;
}
