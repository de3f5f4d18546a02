// Test-only stand-in for a planted program or DLL: it leaves "<its own path>.ran" (the
// program) or "<its own path>.loaded" (the DLL, when a process loads it) and does nothing
// else, so a test can tell whether a process ran or loaded it.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace {
void Mark(HMODULE self, const wchar_t* suffix) {
    wchar_t path[MAX_PATH + 16] = {};
    DWORD n = ::GetModuleFileNameW(self, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    lstrcatW(path, suffix);
    HANDLE h = ::CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    const char text[] = "loaded or run\r\n";
    DWORD written = 0;
    ::WriteFile(h, text, sizeof text - 1, &written, nullptr);
    ::CloseHandle(h);
}
}  // namespace

#ifdef NB_MARKER_DLL
BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) Mark(self, L".loaded");
    return TRUE;
}
#else
int wmain() {
    Mark(nullptr, L".ran");
    return 0;
}
#endif
