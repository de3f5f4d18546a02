// nbspawn: starts one command line exactly as given, the way nbmonitor starts its scripts and
// the server (CreateProcessW with no application name, hidden window), waits for it and
// exits with its exit code. For tests of the installation's scripts.
//   nbspawn.exe [--dir DIR] [--no-wait] "COMMAND LINE"
// Exit status: the command's, or 255 when it could not be started.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

int wmain(int argc, wchar_t** argv) {
    const wchar_t* dir = nullptr;
    bool wait = true;
    int i = 1;
    for (; i < argc - 1; ++i) {
        if (std::wcscmp(argv[i], L"--dir") == 0 && i + 2 < argc)
            dir = argv[++i];
        else if (std::wcscmp(argv[i], L"--no-wait") == 0)
            wait = false;
        else
            break;
    }
    if (i != argc - 1) {
        std::fputs("usage: nbspawn [--dir DIR] [--no-wait] \"COMMAND LINE\"\n", stderr);
        return 255;
    }
    std::wstring line = argv[i];  // CreateProcessW may write into its command line
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION pi = {};
    if (!::CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS,
                          nullptr, dir, &si, &pi)) {
        std::fprintf(stderr, "nbspawn: CreateProcess failed (error %lu)\n",
                     static_cast<unsigned long>(::GetLastError()));
        return 255;
    }
    ::CloseHandle(pi.hThread);
    DWORD code = 0;
    if (wait) {
        ::WaitForSingleObject(pi.hProcess, INFINITE);
        ::GetExitCodeProcess(pi.hProcess, &code);
    }
    ::CloseHandle(pi.hProcess);
    return static_cast<int>(code);
}
