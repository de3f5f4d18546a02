// The platform test program's set-up and its child mode:
//   nbwine_platform.exe --child exit N        ends with exit code N
//   nbwine_platform.exe --child wait          waits to be terminated
//   nbwine_platform.exe --child hidden        10 when started with SW_HIDE, else 11
//   nbwine_platform.exe --child cwd DIR       20 when its current folder is DIR, else 21
//   nbwine_platform.exe --child dll NAME      30 when the DLL NAME beside the exe loads
//                                             before the DLL search is restricted and not
//                                             after; 31 when it loads after; 32 never
//   nbwine_platform.exe --child say HANDLE    writes a line to standard output and one to
//                                             standard error; 40 when HANDLE (a value of
//                                             the parent's) is no handle of its own, else 41
#include <cstdlib>
#include <cwchar>
#include <vector>

#include "platform/win32/dll_search.h"
#include "platform_fixture.h"
#include "wine_test.h"

using namespace nb;

namespace fx {

nb::win::Win32Platform& Os() {
    static nb::win::Win32Platform platform;
    static bool installed = (nb::SetPlatform(&platform), true);
    (void)installed;
    return platform;
}

std::wstring SelfPath() {
    wchar_t buf[MAX_PATH];
    DWORD n = ::GetModuleFileNameW(nullptr, buf, MAX_PATH);
    return std::wstring(buf, n);
}

namespace {
void RemoveTree(const std::wstring& dir) {
    WIN32_FIND_DATAW d;
    HANDLE h = ::FindFirstFileW((dir + L"\\*").c_str(), &d);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = d.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring path = dir + L"\\" + name;
            ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path);
            else
                ::DeleteFileW(path.c_str());
        } while (::FindNextFileW(h, &d));
        ::FindClose(h);
    }
    ::RemoveDirectoryW(dir.c_str());
}

std::wstring g_scratch;
void RemoveScratch() {
    if (!g_scratch.empty()) RemoveTree(g_scratch);
}
}  // namespace

const std::wstring& ScratchDir() {
    if (g_scratch.empty()) {
        wchar_t tmp[MAX_PATH];
        ::GetTempPathW(MAX_PATH, tmp);
        wchar_t name[64];
        std::swprintf(name, 64, L"nbwt-%lu-%lu", ::GetCurrentProcessId(), ::GetTickCount());
        g_scratch = std::wstring(tmp) + name;
        ::CreateDirectoryW(g_scratch.c_str(), nullptr);
        std::atexit(&RemoveScratch);
    }
    return g_scratch;
}

std::wstring NewFolder(const wchar_t* name) {
    std::wstring dir = ScratchDir() + L"\\" + name;
    ::CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE f = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD n = 0;
    if (f != INVALID_HANDLE_VALUE) {
        ::WriteFile(f, bytes.data(), DWORD(bytes.size()), &n, nullptr);
        ::CloseHandle(f);
    }
}

std::string ReadBytes(const std::wstring& path, bool* found) {
    HANDLE f = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
    if (found != nullptr) *found = f != INVALID_HANDLE_VALUE;
    if (f == INVALID_HANDLE_VALUE) return std::string();
    std::string out;
    char buf[4096];
    DWORD n = 0;
    while (::ReadFile(f, buf, sizeof buf, &n, nullptr) && n > 0) out.append(buf, n);
    ::CloseHandle(f);
    return out;
}

std::wstring ListNames(const std::wstring& folder) {
    std::wstring names;
    WIN32_FIND_DATAW d;
    HANDLE h = ::FindFirstFileW((folder + L"\\*").c_str(), &d);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
        std::wstring name = d.cFileName;
        if (name == L"." || name == L"..") continue;
        if (!names.empty()) names += L" ";
        names += name;
    } while (::FindNextFileW(h, &d));
    ::FindClose(h);
    return names;
}

void Pump(unsigned ms, bool (*done)()) {
    DWORD end = ::GetTickCount() + ms;
    while (LONG(end - ::GetTickCount()) > 0) {
        if (done != nullptr && done()) return;
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        if (done != nullptr && done()) return;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

}  // namespace fx

namespace {

bool SameFolder(std::wstring a, std::wstring b) {
    while (!a.empty() && a.back() == L'\\') a.pop_back();
    while (!b.empty() && b.back() == L'\\') b.pop_back();
    return ::lstrcmpiW(a.c_str(), b.c_str()) == 0;
}

bool Child(int argc, wchar_t** argv, int* exitCode) {
    if (argc < 3 || std::wcscmp(argv[1], L"--child") != 0) return false;
    std::wstring mode = argv[2];
    if (mode == L"exit" && argc > 3) {
        *exitCode = std::wcstol(argv[3], nullptr, 10);
    } else if (mode == L"wait") {
        ::Sleep(120000);  // the test terminates it long before
        *exitCode = 0;
    } else if (mode == L"hidden") {
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        ::GetStartupInfoW(&si);
        *exitCode = (si.dwFlags & STARTF_USESHOWWINDOW) && si.wShowWindow == SW_HIDE ? 10 : 11;
    } else if (mode == L"cwd" && argc > 3) {
        wchar_t cwd[MAX_PATH];
        ::GetCurrentDirectoryW(MAX_PATH, cwd);
        *exitCode = SameFolder(cwd, argv[3]) ? 20 : 21;
    } else if (mode == L"dll" && argc > 3) {
        HMODULE before = ::LoadLibraryW(argv[3]);
        if (before != nullptr) ::FreeLibrary(before);
        nb::win::RestrictDllSearchToSystem();
        HMODULE after = ::LoadLibraryW(argv[3]);
        *exitCode = before == nullptr ? 32 : after == nullptr ? 30 : 31;
    } else if (mode == L"say" && argc > 3) {
        DWORD written = 0;
        ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), "to stdout\r\n", 11, &written, nullptr);
        ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), "to stderr\r\n", 11, &written, nullptr);
        DWORD flags = 0;
        HANDLE h = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(std::wcstoull(argv[3], nullptr, 10)));
        *exitCode = ::GetHandleInformation(h, &flags) ? 41 : 40;
    } else {
        *exitCode = 99;
    }
    return true;
}

const int g_hook = (wt::SetChildHook(&Child), 0);

}  // namespace
