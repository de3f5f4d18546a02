// The process and its environment over Win32, and the processes it starts, watches and
// ends.
#include "platform/win32/windows_support.h"

#include "platform/win32/win32_platform.h"
#include "platform/win32/window_handles.h"

#include <algorithm>
#include <vector>

namespace nb {
namespace win {

namespace {

HANDLE ProcessHandle(ProcessRef p) { return reinterpret_cast<HANDLE>(p); }

}  // namespace

int Win32Processes::ModulePath(std::wstring& out, std::size_t maxChars) {
    std::vector<wchar_t> buf(32768);
    DWORD n = ::GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0 || n >= buf.size()) return 0;
    out.assign(buf.data(), n < maxChars ? n : maxChars);
    return 1;
}

int Win32Processes::CurrentDirectory(std::wstring& out, std::size_t bufChars) {
    if (bufChars == 0) return 0;
    std::vector<wchar_t> buf(bufChars);
    DWORD n = ::GetCurrentDirectoryW(static_cast<DWORD>(bufChars), buf.data());
    // On a short buffer the call returns the size it would need, terminator included.
    if (n == 0 || n >= bufChars) return 0;
    out.assign(buf.data(), n);
    return 1;
}

int Win32Processes::CreateInstanceMutex(const std::wstring& name, bool* alreadyExisted) {
    // Never closed: the mutex marks this instance until the process ends.
    HANDLE mutex = ::CreateMutexW(nullptr, TRUE, name.c_str());
    DWORD err = ::GetLastError();
    if (mutex == nullptr) return 0;
    if (alreadyExisted != nullptr) *alreadyExisted = err == ERROR_ALREADY_EXISTS;
    return 1;
}

void Win32Processes::EndProcess(uint32_t exitCode) { ::ExitProcess(exitCode); }

void Win32Processes::SleepMs(uint32_t ms) { ::Sleep(ms); }

uint32_t Win32Processes::CurrentProcessId() { return ::GetCurrentProcessId(); }

uint32_t Win32Processes::AddErrorMode(uint32_t bits) {
    // SetErrorMode answers with the mode it replaces: set the bits, then add the old ones back.
    UINT old = ::SetErrorMode(bits);
    ::SetErrorMode(old | bits);
    return old | bits;
}

uint64_t Win32Processes::MonotonicMs() { return ::GetTickCount64(); }

LocalTime Win32Processes::Now() {
    // One instant, in UTC and in local time: their difference is the offset in force now
    // (daylight saving included).
    FILETIME utc;
    ::GetSystemTimeAsFileTime(&utc);
    SYSTEMTIME utcTime, local;
    ::FileTimeToSystemTime(&utc, &utcTime);
    if (!::SystemTimeToTzSpecificLocalTime(nullptr, &utcTime, &local)) local = utcTime;
    FILETIME localFile;
    ::SystemTimeToFileTime(&local, &localFile);
    auto ticks = [](const FILETIME& f) {
        return static_cast<int64_t>((static_cast<uint64_t>(f.dwHighDateTime) << 32) |
                                    f.dwLowDateTime);
    };
    LocalTime t;
    t.year = local.wYear;
    t.month = local.wMonth;
    t.day = local.wDay;
    t.hour = local.wHour;
    t.minute = local.wMinute;
    t.second = local.wSecond;
    t.millisecond = local.wMilliseconds;
    // Both come from the same instant with the milliseconds dropped the same way, so the
    // difference is whole minutes.
    t.utcOffsetMinutes = static_cast<int>((ticks(localFile) - ticks(utc) / 10000 * 10000) /
                                          600000000);
    return t;
}

int Win32Processes::CreateHiddenProcess(std::wstring& cmdLine, const std::wstring& currentDir,
                                        ProcessRef* process, uint32_t* pid) {
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION pi = {};
    // CreateProcessW may write into the command line, so it gets a buffer of its own.
    std::vector<wchar_t> line(cmdLine.begin(), cmdLine.end());
    line.push_back(L'\0');
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS,
                          nullptr, currentDir.empty() ? nullptr : currentDir.c_str(), &si, &pi))
        return 0;
    ::CloseHandle(pi.hThread);
    cmdLine.assign(line.data());
    if (process != nullptr)
        *process = reinterpret_cast<ProcessRef>(pi.hProcess);
    else
        ::CloseHandle(pi.hProcess);
    if (pid != nullptr) *pid = pi.dwProcessId;
    return 1;
}

namespace {
// Appends what the pipe holds now, without blocking, keeping at most maxOutput bytes.
void DrainPipe(HANDLE pipe, std::size_t maxOutput, std::string& output) {
    char chunk[4096];
    DWORD available = 0;
    while (::PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
        DWORD got = 0;
        if (!::ReadFile(pipe, chunk, std::min<DWORD>(available, sizeof chunk), &got, nullptr) ||
            got == 0)
            return;
        output.append(chunk,
                      std::min<std::size_t>(got, maxOutput - std::min(maxOutput, output.size())));
    }
}
}  // namespace

int Win32Processes::RunForOutput(std::wstring& cmdLine, const std::wstring& currentDir, uint32_t ms,
                                 std::size_t maxOutput, OutputRun* run) {
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!::CreatePipe(&readEnd, &writeEnd, nullptr, 0)) return 0;
    ScopedKernelHandle reader(readEnd), writer(writeEnd);
    // Made inheritable here, and named as the one handle this child inherits: a socket or
    // any other inheritable handle of this process stays out of it.
    if (!::SetHandleInformation(writer.Get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT)) return 0;
    SIZE_T listBytes = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &listBytes);
    std::vector<char> listBuffer(listBytes);
    auto list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(listBuffer.data());
    HANDLE inherited[1] = {writer.Get()};
    if (listBytes == 0 || !::InitializeProcThreadAttributeList(list, 1, 0, &listBytes)) return 0;
    const bool listed = ::UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                                    inherited, sizeof inherited, nullptr,
                                                    nullptr) != 0;
    STARTUPINFOEXW si = {};
    si.StartupInfo.cb = sizeof si;
    si.StartupInfo.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    si.StartupInfo.wShowWindow = SW_HIDE;
    si.StartupInfo.hStdInput = nullptr;
    si.StartupInfo.hStdOutput = writer.Get();
    si.StartupInfo.hStdError = writer.Get();
    si.lpAttributeList = list;
    PROCESS_INFORMATION pi = {};
    std::vector<wchar_t> line(cmdLine.begin(), cmdLine.end());
    line.push_back(L'\0');
    const BOOL created = listed && ::CreateProcessW(
                                       nullptr, line.data(), nullptr, nullptr, TRUE,
                                       NORMAL_PRIORITY_CLASS | EXTENDED_STARTUPINFO_PRESENT,
                                       nullptr, currentDir.empty() ? nullptr : currentDir.c_str(),
                                       &si.StartupInfo, &pi);
    ::DeleteProcThreadAttributeList(list);
    writer.Reset();  // the child's copy is the one left: the pipe breaks when it ends
    if (!created) return 0;
    ::CloseHandle(pi.hThread);
    ScopedKernelHandle process(pi.hProcess);
    OutputRun result;
    result.pid = pi.dwProcessId;
    const ULONGLONG started = ::GetTickCount64();
    for (;;) {
        DrainPipe(reader.Get(), maxOutput, result.output);
        if (::WaitForSingleObject(process.Get(), 20) == WAIT_OBJECT_0) break;
        if (::GetTickCount64() - started >= ms) {
            ::TerminateProcess(process.Get(), 1);
            ::WaitForSingleObject(process.Get(), 1000);
            result.ended = true;
            break;
        }
    }
    DrainPipe(reader.Get(), maxOutput, result.output);
    DWORD code = 0;
    ::GetExitCodeProcess(process.Get(), &code);
    result.exitCode = code;
    cmdLine.assign(line.data());
    *run = std::move(result);
    return 1;
}

int Win32Processes::QueryExitCode(ProcessRef process, uint32_t* code) {
    DWORD c = 0;
    if (!::GetExitCodeProcess(ProcessHandle(process), &c)) return 0;
    if (code != nullptr) *code = c;
    return 1;
}

void Win32Processes::CloseProcess(ProcessRef process) {
    if (process != 0) ::CloseHandle(ProcessHandle(process));
}

int Win32Processes::SnapshotProcesses(std::vector<ProcessEntry>& out) {
    ScopedKernelHandle snap(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snap) return 0;
    PROCESSENTRY32W pe;
    pe.dwSize = sizeof pe;
    std::vector<ProcessEntry> entries;
    for (BOOL more = ::Process32FirstW(snap.Get(), &pe); more;
         more = ::Process32NextW(snap.Get(), &pe)) {
        ProcessEntry e;
        e.pid = pe.th32ProcessID;
        e.exeName = pe.szExeFile;
        e.parentPid = pe.th32ParentProcessID;
        entries.push_back(std::move(e));
    }
    out.swap(entries);
    return 1;
}

int Win32Processes::TerminateProcessById(uint32_t pid, uint32_t exitCode) {
    // 0x1F0FFF: PROCESS_ALL_ACCESS as Windows XP's headers spell it, accepted everywhere.
    ScopedKernelHandle process(::OpenProcess(0x1F0FFF, FALSE, pid));
    if (!process) return 0;
    return ::TerminateProcess(process.Get(), exitCode) ? 1 : 0;
}

int Win32Processes::SetNamedEvent(const std::wstring& name) {
    ScopedKernelHandle event(::OpenEventW(EVENT_MODIFY_STATE, FALSE, name.c_str()));
    if (!event) return 0;
    return ::SetEvent(event.Get()) ? 1 : 0;
}

ProcessRef Win32Processes::OpenProcessToWait(uint32_t pid, bool* gone) {
    HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (process != nullptr) return reinterpret_cast<ProcessRef>(process);
    if (gone != nullptr) {
        // An id no process has any more is an invalid parameter; a process that has ended but
        // is still held open by someone can be opened to read its exit code.
        *gone = ::GetLastError() == ERROR_INVALID_PARAMETER;
        ScopedKernelHandle query(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
        DWORD code = 0;
        if (query && ::GetExitCodeProcess(query.Get(), &code) && code != STILL_ACTIVE) *gone = true;
    }
    return 0;
}

int Win32Processes::ProcessImagePath(uint32_t pid, std::wstring& out) {
    ScopedKernelHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process) return 0;
    std::vector<wchar_t> path(kMaxModulePathChars + 1);
    DWORD n = static_cast<DWORD>(path.size());
    if (!::QueryFullProcessImageNameW(process.Get(), 0, path.data(), &n)) return 0;
    out.assign(path.data(), n);
    return 1;
}

int Win32Processes::WaitAnyProcessEnd(const std::vector<ProcessRef>& processes, uint32_t ms) {
    // One wait takes at most MAXIMUM_WAIT_OBJECTS handles; beyond that only the first are
    // waited for (a caller waits again for the rest).
    std::vector<HANDLE> handles;
    for (ProcessRef p : processes) {
        if (handles.size() == MAXIMUM_WAIT_OBJECTS) break;
        handles.push_back(ProcessHandle(p));
    }
    if (handles.empty()) return -1;
    // INFINITE is never meant: the callers give a bounded time.
    if (ms == INFINITE) --ms;
    DWORD r = ::WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE,
                                       ms);
    if (r >= WAIT_OBJECT_0 && r < WAIT_OBJECT_0 + handles.size())
        return static_cast<int>(r - WAIT_OBJECT_0);
    return -1;
}

}  // namespace win
}  // namespace nb
