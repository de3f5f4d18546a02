// The platform over Win32: processes, files, sockets, the shell, and the small window
// operations. The dialog glue (creation, subclassing, modal loop) is in dialog_glue.cpp.
#include "platform/win32/windows_support.h"

#include "platform/win32/win32_platform.h"
#include "platform/win32/window_handles.h"

#include <mstcpip.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cwchar>
#include <vector>


#ifndef _WIN64
static_assert(NOTIFYICONDATAW_V3_SIZE == kNotifyIconDataV3Size,
              "the tray record is the version 3 NOTIFYICONDATAW of 32-bit Windows");
#endif

namespace nb {
namespace win {

namespace {

HINSTANCE Module() { return ::GetModuleHandleW(nullptr); }
HANDLE ProcessHandle(ProcessRef p) { return reinterpret_cast<HANDLE>(p); }

#ifdef NB_TEST_HOOKS
bool ShortWriteRequested(const std::wstring& target) {
    wchar_t pattern[MAX_PATH];
    DWORD n = ::GetEnvironmentVariableW(kShortWriteFaultVariable, pattern, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return false;
    return FileName(target).find(pattern) != std::wstring::npos;
}
#else
constexpr bool ShortWriteRequested(const std::wstring&) { return false; }
#endif

}  // namespace

Win32Platform::Win32Platform() = default;
Win32Platform::~Win32Platform() = default;

const std::wstring& Win32Platform::AppTitle() {
    if (m_appTitle.empty()) {
        std::wstring module;
        if (ModulePath(module, kMaxModulePathChars)) m_appTitle = FileStem(module);
    }
    return m_appTitle;
}

void* Win32Platform::LoadedIcon(int iconId) {
    auto it = m_icons.find(iconId);
    if (it != m_icons.end()) return it->second;
    // LoadIcon gives a shared icon: the system frees it with the module, never we.
    HICON icon = ::LoadIconW(Module(), MAKEINTRESOURCEW(iconId));
    if (icon != nullptr) m_icons[iconId] = icon;
    return icon;
}

// --- process and environment -------------------------------------------------------------

int Win32Platform::ModulePath(std::wstring& out, std::size_t maxChars) {
    std::vector<wchar_t> buf(32768);
    DWORD n = ::GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0 || n >= buf.size()) return 0;
    out.assign(buf.data(), n < maxChars ? n : maxChars);
    return 1;
}

int Win32Platform::CurrentDirectory(std::wstring& out, std::size_t bufChars) {
    if (bufChars == 0) return 0;
    std::vector<wchar_t> buf(bufChars);
    DWORD n = ::GetCurrentDirectoryW(static_cast<DWORD>(bufChars), buf.data());
    // On a short buffer the call returns the size it would need, terminator included.
    if (n == 0 || n >= bufChars) return 0;
    out.assign(buf.data(), n);
    return 1;
}

int Win32Platform::InitCommonControls(uint32_t iccClasses) {
    INITCOMMONCONTROLSEX icc;
    icc.dwSize = sizeof icc;
    icc.dwICC = iccClasses;
    return ::InitCommonControlsEx(&icc) ? 1 : 0;
}

int Win32Platform::SocketsStartup(uint16_t version, uint16_t* granted) {
    WSADATA wsa;
    if (::WSAStartup(version, &wsa) != 0) return 0;
    if (granted != nullptr) *granted = wsa.wVersion;
    return 1;
}

void Win32Platform::SocketsCleanup() { ::WSACleanup(); }

int Win32Platform::CreateInstanceMutex(const std::wstring& name, bool* alreadyExisted) {
    // Never closed: the mutex marks this instance until the process ends.
    HANDLE mutex = ::CreateMutexW(nullptr, TRUE, name.c_str());
    DWORD err = ::GetLastError();
    if (mutex == nullptr) return 0;
    if (alreadyExisted != nullptr) *alreadyExisted = err == ERROR_ALREADY_EXISTS;
    return 1;
}

void Win32Platform::EndProcess(uint32_t exitCode) { ::ExitProcess(exitCode); }

void Win32Platform::SleepMs(uint32_t ms) { ::Sleep(ms); }

uint32_t Win32Platform::CurrentProcessId() { return ::GetCurrentProcessId(); }

uint32_t Win32Platform::AddErrorMode(uint32_t bits) {
    // SetErrorMode answers with the mode it replaces: set the bits, then add the old ones back.
    UINT old = ::SetErrorMode(bits);
    ::SetErrorMode(old | bits);
    return old | bits;
}

uint64_t Win32Platform::MonotonicMs() { return ::GetTickCount64(); }

LocalTime Win32Platform::Now() {
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
        return static_cast<int64_t>((static_cast<uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime);
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
    t.utcOffsetMinutes = static_cast<int>((ticks(localFile) - ticks(utc) / 10000 * 10000) / 600000000);
    return t;
}

// --- settings ----------------------------------------------------------------------------

uint32_t Win32Platform::ProfileInt(const wchar_t* section, const wchar_t* key, int defaultValue,
                                   const wchar_t* file) {
    return ::GetPrivateProfileIntW(section, key, defaultValue, file);
}

std::wstring Win32Platform::ProfileString(const wchar_t* section, const wchar_t* key,
                                          const wchar_t* defaultValue, const wchar_t* file,
                                          std::size_t bufChars) {
    if (bufChars == 0) return std::wstring();
    std::vector<wchar_t> buf(bufChars);
    DWORD n = ::GetPrivateProfileStringW(section, key, defaultValue, buf.data(),
                                         static_cast<DWORD>(bufChars), file);
    return std::wstring(buf.data(), n);
}

// --- files -------------------------------------------------------------------------------

int Win32Platform::ReadWholeFile(const std::wstring& path, std::string& bytes) {
    ScopedKernelHandle file(::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return 0;
    std::string content;
    char chunk[16384];
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file.Get(), chunk, sizeof chunk, &got, nullptr)) return 0;
        if (got == 0) break;
        content.append(chunk, got);
    }
    bytes.swap(content);
    return 1;
}

namespace {
// A read-only file cannot be opened for writing, so it is not replaced either. Windows'
// MoveFileEx refuses to replace it anyway, but Wine renames over it: so ask first.
bool RefuseReadOnly(const std::wstring& path) {
    DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY))
        return false;
    ::SetLastError(ERROR_ACCESS_DENIED);
    return true;
}

// The temporary file beside the target, made new under the first of up to 16 free names;
// invalid when none could be made.
ScopedKernelHandle CreateTemporaryFile(const std::wstring& target, ReplacementPaths* paths) {
    static unsigned serial = 0;
    const DWORD pid = ::GetCurrentProcessId();
    ScopedKernelHandle file;
    for (int attempt = 0; attempt < 16 && !file; ++attempt) {
        *paths = ReplacementPathsFor(target, pid, serial++);
        // CREATE_NEW: never write into a file that someone else made under that name.
        file.Reset(::CreateFileW(paths->temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file && ::GetLastError() != ERROR_FILE_EXISTS) break;
    }
    return file;
}

bool WriteAndFlush(HANDLE file, const std::wstring& target, const std::string& bytes) {
    DWORD want = static_cast<DWORD>(bytes.size());
    if (want > 0 && ShortWriteRequested(target)) want /= 2;
    DWORD written = 0;
    bool ok = want == 0 || ::WriteFile(file, bytes.data(), want, &written, nullptr);
    return ok && written == bytes.size() && ::FlushFileBuffers(file);
}

bool MoveIntoPlace(const ReplacementPaths& paths) {
    return ::MoveFileExW(paths.temp.c_str(), paths.target.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

// A replacement that failed after the temporary file was made: the file removed, the system's
// error kept for the caller.
int AbandonReplacement(const ReplacementPaths& paths, WriteError& why) {
    DWORD err = ::GetLastError();
    // NTFS refuses to replace a file while any handle is open on it, whatever sharing that
    // handle allows: a reader of a moment, which the caller may wait out.
    if (why == WriteError::CannotReplace &&
        (err == ERROR_SHARING_VIOLATION || err == ERROR_ACCESS_DENIED))
        why = WriteError::TargetBusy;
    ::DeleteFileW(paths.temp.c_str());
    ::SetLastError(err);
    return 0;
}
}  // namespace

int Win32Platform::ReplaceFileContent(const std::wstring& path, const std::string& bytes,
                                      WriteError* error) {
    WriteError ignored;
    WriteError& why = error != nullptr ? *error : ignored;
    why = WriteError::CannotOpen;
    if (path.empty() || RefuseReadOnly(path)) return 0;
    ReplacementPaths paths;
    ScopedKernelHandle file = CreateTemporaryFile(path, &paths);
    if (!file) return 0;
    bool ok = WriteAndFlush(file.Get(), path, bytes);
    why = WriteError::ShortWrite;
    file.Reset();
    if (ok) {
        why = WriteError::CannotReplace;
        ok = MoveIntoPlace(paths);
    }
    if (!ok) return AbandonReplacement(paths, why);
    why = WriteError::None;
    return 1;
}

int Win32Platform::AppendToFile(const std::wstring& path, const std::string& bytes) {
    ScopedKernelHandle file(::CreateFileW(path.c_str(), FILE_APPEND_DATA,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return 0;
    DWORD written = 0;
    return ::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                       nullptr) &&
                   written == bytes.size()
               ? 1
               : 0;
}

int Win32Platform::ReadFileFrom(const std::wstring& path, int64_t offset, std::size_t maxBytes,
                                std::string& bytes) {
    ScopedKernelHandle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER at;
    at.QuadPart = offset;
    if (!file || !::SetFilePointerEx(file.Get(), at, nullptr, FILE_BEGIN)) return 0;
    std::string content;
    char chunk[16384];
    while (content.size() < maxBytes) {
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(sizeof chunk, maxBytes - content.size()));
        if (!::ReadFile(file.Get(), chunk, want, &got, nullptr)) return 0;
        if (got == 0) break;
        content.append(chunk, got);
    }
    bytes.swap(content);
    return 1;
}

int64_t Win32Platform::FileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

int Win32Platform::RenameReplacing(const std::wstring& from, const std::wstring& to) {
    return ::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) ? 1 : 0;
}

int Win32Platform::MakeFolder(const std::wstring& path) {
    return ::CreateDirectoryW(path.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS ? 1 : 0;
}

int Win32Platform::RemoveFile(const std::wstring& path) {
    return ::DeleteFileW(path.c_str()) ? 1 : 0;
}

int Win32Platform::ListFolder(const std::wstring& pattern, std::vector<FindEntry>& out) {
    WIN32_FIND_DATAW data;
    ScopedFindHandle find(::FindFirstFileW(pattern.c_str(), &data));
    if (!find) return 0;
    std::vector<FindEntry> entries;
    do {
        FindEntry e;
        e.name = data.cFileName;
        e.directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        entries.push_back(std::move(e));
    } while (::FindNextFileW(find.Get(), &data));
    out.swap(entries);
    return 1;
}

int Win32Platform::WideToAnsi(const std::wstring& text, std::string& out, std::size_t bufBytes) {
    if (bufBytes == 0) return 0;
    std::vector<char> buf(bufBytes, '\0');
    int n = ::WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, buf.data(),
                                  static_cast<int>(bufBytes), nullptr, nullptr);
    if (n == 0) return 0;
    out.assign(buf.data());
    return 1;
}

// --- sockets -----------------------------------------------------------------------------

namespace {
sockaddr_in Ipv4Address(const char* address, uint16_t port) {
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = ::inet_addr(address);
    addr.sin_port = ::htons(port);
    return addr;
}
}  // namespace

ProbeResult Win32Platform::ProbeListen(const std::string& ansiAddress, uint16_t port,
                                       int backlog) {
    ScopedSocket s(::socket(AF_INET, SOCK_STREAM, 0));
    if (!s) return ProbeResult::NoSocket;
    sockaddr_in addr = Ipv4Address(ansiAddress.c_str(), port);
    if (::bind(s.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == SOCKET_ERROR)
        return ProbeResult::BindFailed;
    if (::listen(s.Get(), backlog) == SOCKET_ERROR) return ProbeResult::ListenFailed;
    return ProbeResult::Listening;
}

// Windows lets a bind to a specific address share the port with a listener on the wildcard
// address that did not ask for exclusive use; Linux, and so Wine, refuses it. Microsoft's
// table of bind outcomes ("Using SO_REUSEADDR and SO_EXCLUSIVEADDRUSE" in the Winsock
// documentation) gives a second bind on the wildcard address without options INUSE after any
// wildcard bind, whatever options that one had. SO_EXCLUSIVEADDRUSE on the specific probe
// was not chosen: such a bind also fails while connections of the port linger in TIME_WAIT,
// which the previous server leaves behind, and a restart would then move the port.
int Win32Platform::WildcardBindFree(uint16_t port) {
    {
        ScopedSocket s(::socket(AF_INET, SOCK_STREAM, 0));
        if (!s) return 0;
        sockaddr_in addr = {};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = ::htonl(INADDR_ANY);
        addr.sin_port = ::htons(port);
        if (::bind(s.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == SOCKET_ERROR)
            return 0;
    }
    // A listener on [::] only: localhost may resolve to ::1 first. No IPv6, nothing to find.
    ScopedSocket s6(::socket(AF_INET6, SOCK_STREAM, 0));
    if (!s6) return 1;
    sockaddr_in6 addr6 = {};
    addr6.sin6_family = AF_INET6;
    addr6.sin6_port = ::htons(port);
    return ::bind(s6.Get(), reinterpret_cast<sockaddr*>(&addr6), sizeof addr6) == SOCKET_ERROR ? 0 : 1;
}

#ifdef NB_TEST_HOOKS
int noSynRetransmissionCalls = 0;
#endif

int NoSynRetransmissions(std::uintptr_t socket) {
#ifdef NB_TEST_HOOKS
    ++noSynRetransmissionCalls;
#endif
    TCP_INITIAL_RTO_PARAMETERS rto = {TCP_INITIAL_RTO_UNSPECIFIED_RTT, TCP_INITIAL_RTO_NO_SYN_RETRANSMISSIONS};
    DWORD got = 0;
    return ::WSAIoctl(static_cast<SOCKET>(socket), SIO_TCP_INITIAL_RTO, &rto, sizeof rto, nullptr,
                      0, &got, nullptr, nullptr);
}

int Win32Platform::TryConnect(const char* ipv4Address, uint16_t port) {
    ScopedSocket s(::socket(AF_INET, SOCK_STREAM, 0));
    if (!s) return 0;
    NoSynRetransmissions(s.Get());
    sockaddr_in addr = Ipv4Address(ipv4Address, port);
    return ::connect(s.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 ? 1 : 0;
}

int Win32Platform::BeginConnect(WindowId hwnd, uint32_t msg, const char* ipv4Address,
                                uint16_t port, SocketRef* socket) {
    ScopedSocket s(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!s) return 0;
    NoSynRetransmissions(s.Get());
    // WSAAsyncSelect also makes the socket non-blocking, so connect returns at once.
    if (::WSAAsyncSelect(s.Get(), H(hwnd), msg, FD_CONNECT | FD_READ | FD_CLOSE) == SOCKET_ERROR)
        return 0;
    sockaddr_in addr = Ipv4Address(ipv4Address, port);
    if (::connect(s.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == SOCKET_ERROR &&
        ::WSAGetLastError() != WSAEWOULDBLOCK)
        return 0;
    *socket = static_cast<SocketRef>(s.Release());
    return 1;
}

int Win32Platform::SocketSend(SocketRef socket, const std::string& bytes) {
    int n = ::send(static_cast<SOCKET>(socket), bytes.data(), static_cast<int>(bytes.size()), 0);
    return n == SOCKET_ERROR ? -1 : n;
}

int Win32Platform::SocketReceive(SocketRef socket, std::string& bytes, std::size_t maxBytes) {
    char buffer[512];
    int want = static_cast<int>(maxBytes < sizeof buffer ? maxBytes : sizeof buffer);
    int n = ::recv(static_cast<SOCKET>(socket), buffer, want, 0);
    if (n == SOCKET_ERROR) return -1;
    bytes.append(buffer, static_cast<std::size_t>(n));
    return n;
}

void Win32Platform::CloseSocket(SocketRef socket) { ::closesocket(static_cast<SOCKET>(socket)); }

// --- processes ---------------------------------------------------------------------------

int Win32Platform::CreateHiddenProcess(std::wstring& cmdLine, const std::wstring& currentDir,
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
        if (!::ReadFile(pipe, chunk, std::min<DWORD>(available, sizeof chunk), &got, nullptr) || got == 0) return;
        output.append(chunk, std::min<std::size_t>(got, maxOutput - std::min(maxOutput, output.size())));
    }
}
}  // namespace

int Win32Platform::RunForOutput(std::wstring& cmdLine, const std::wstring& currentDir, uint32_t ms,
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
    const bool listed = ::UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                                    sizeof inherited, nullptr, nullptr) != 0;
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
    const BOOL created = listed && ::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE,
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

int Win32Platform::QueryExitCode(ProcessRef process, uint32_t* code) {
    DWORD c = 0;
    if (!::GetExitCodeProcess(ProcessHandle(process), &c)) return 0;
    if (code != nullptr) *code = c;
    return 1;
}

void Win32Platform::CloseProcess(ProcessRef process) {
    if (process != 0) ::CloseHandle(ProcessHandle(process));
}

int Win32Platform::SnapshotProcesses(std::vector<ProcessEntry>& out) {
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

int Win32Platform::TerminateProcessById(uint32_t pid, uint32_t exitCode) {
    // 0x1F0FFF: PROCESS_ALL_ACCESS as Windows XP's headers spell it, accepted everywhere.
    ScopedKernelHandle process(::OpenProcess(0x1F0FFF, FALSE, pid));
    if (!process) return 0;
    return ::TerminateProcess(process.Get(), exitCode) ? 1 : 0;
}

int Win32Platform::SetNamedEvent(const std::wstring& name) {
    ScopedKernelHandle event(::OpenEventW(EVENT_MODIFY_STATE, FALSE, name.c_str()));
    if (!event) return 0;
    return ::SetEvent(event.Get()) ? 1 : 0;
}

ProcessRef Win32Platform::OpenProcessToWait(uint32_t pid, bool* gone) {
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

int Win32Platform::ProcessImagePath(uint32_t pid, std::wstring& out) {
    ScopedKernelHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process) return 0;
    std::vector<wchar_t> path(kMaxModulePathChars + 1);
    DWORD n = static_cast<DWORD>(path.size());
    if (!::QueryFullProcessImageNameW(process.Get(), 0, path.data(), &n)) return 0;
    out.assign(path.data(), n);
    return 1;
}

int Win32Platform::WaitAnyProcessEnd(const std::vector<ProcessRef>& processes, uint32_t ms) {
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
    DWORD r = ::WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, ms);
    if (r >= WAIT_OBJECT_0 && r < WAIT_OBJECT_0 + handles.size()) return static_cast<int>(r - WAIT_OBJECT_0);
    return -1;
}

// --- windows, boxes, timers --------------------------------------------------------------

int Win32Platform::MsgBox(WindowId owner, const std::wstring& text, const wchar_t* caption,
                          uint32_t style) {
    return ::MessageBoxW(H(owner), text.c_str(), caption != nullptr ? caption : AppTitle().c_str(),
                         style);
}

std::uintptr_t Win32Platform::StartTimer(WindowId hwnd, std::uintptr_t id, uint32_t ms) {
    return ::SetTimer(H(hwnd), id, ms, nullptr);
}

int Win32Platform::StopTimer(WindowId hwnd, std::uintptr_t id) {
    return ::KillTimer(H(hwnd), id) ? 1 : 0;
}

void Win32Platform::MakeTopmost(WindowId hwnd) {
    ::SetWindowPos(H(hwnd), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

void Win32Platform::HideAtOrigin(WindowId hwnd) {
    ::SetWindowPos(H(hwnd), HWND_TOP, 0, 0, 0, 0, SWP_HIDEWINDOW);
}

void Win32Platform::ShowWin(WindowId hwnd, int showCmd) { ::ShowWindow(H(hwnd), showCmd); }

void Win32Platform::SetTitle(WindowId hwnd, const std::wstring& title) {
    ::SetWindowTextW(H(hwnd), title.c_str());
}

WindowId Win32Platform::FindWindowByTitle(const std::wstring& title) {
    return W(::FindWindowW(nullptr, title.c_str()));
}

int Win32Platform::PostMsg(WindowId hwnd, uint32_t msg, std::uintptr_t wp, std::intptr_t lp) {
    return ::PostMessageW(H(hwnd), msg, wp, lp) ? 1 : 0;
}

std::intptr_t Win32Platform::SendMsg(WindowId hwnd, uint32_t msg, std::uintptr_t wp,
                                     std::intptr_t lp) {
    return ::SendMessageW(H(hwnd), msg, wp, lp);
}

WindowId Win32Platform::OwnerOf(WindowId hwnd) { return W(::GetParent(H(hwnd))); }

uint32_t Win32Platform::RegisterMessage(const std::wstring& name) {
    return ::RegisterWindowMessageW(name.c_str());
}

int Win32Platform::AllowForegroundTo(WindowId hwnd) {
    DWORD pid = 0;
    ::GetWindowThreadProcessId(H(hwnd), &pid);
    if (pid == 0) return 0;
    return ::AllowSetForegroundWindow(pid) ? 1 : 0;
}

int Win32Platform::AllowMessageFromBelow(WindowId hwnd, uint32_t msg) {
    // Windows 7 and later; looked up so that an older system still starts.
    using FilterFn = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
    HMODULE user = ::GetModuleHandleW(L"user32.dll");
    auto filter = user != nullptr ? reinterpret_cast<FilterFn>(reinterpret_cast<void*>(
                                        ::GetProcAddress(user, "ChangeWindowMessageFilterEx")))
                                  : nullptr;
    if (filter == nullptr) return 0;
    return filter(H(hwnd), msg, 1 /* MSGFLT_ALLOW */, nullptr) ? 1 : 0;
}

// --- shell -------------------------------------------------------------------------------

int Win32Platform::NotifyIcon(uint32_t operation, const NotifyIconRecord& record) {
    NOTIFYICONDATAW nid = {};
    // The logic names the version 3 record by its 32-bit size; a 64-bit build passes its own.
    nid.cbSize = record.cbSize == kNotifyIconDataV3Size ? NOTIFYICONDATAW_V3_SIZE : record.cbSize;
    nid.hWnd = H(record.hWnd);
    nid.uID = record.uID;
    nid.uFlags = record.uFlags;
    nid.uCallbackMessage = record.uCallbackMessage;
    nid.hIcon = record.iconId != 0 ? static_cast<HICON>(LoadedIcon(record.iconId)) : nullptr;
    std::wcsncpy(nid.szTip, record.tip.c_str(), ARRAYSIZE(nid.szTip) - 1);
    if (record.uFlags & NIF_INFO) {
        std::wcsncpy(nid.szInfo, record.info.c_str(), ARRAYSIZE(nid.szInfo) - 1);
        std::wcsncpy(nid.szInfoTitle, record.infoTitle.c_str(), ARRAYSIZE(nid.szInfoTitle) - 1);
        nid.dwInfoFlags = record.infoFlags;
    }
    return ::Shell_NotifyIconW(operation, &nid) ? 1 : 0;
}

void Win32Platform::CursorPos(int* x, int* y) {
    POINT pt = {};
    ::GetCursorPos(&pt);
    if (x != nullptr) *x = pt.x;
    if (y != nullptr) *y = pt.y;
}

void Win32Platform::BringToForeground(WindowId hwnd) { ::SetForegroundWindow(H(hwnd)); }

int Win32Platform::TrackMenu(int menuId, int subMenu, uint32_t flags, int x, int y,
                             WindowId owner) {
    ScopedHMenu menu(::LoadMenuW(Module(), MAKEINTRESOURCEW(menuId)));
    if (!menu) return 0;
    HMENU popup = ::GetSubMenu(menu.Get(), subMenu);
    if (popup == nullptr) return 0;
    return ::TrackPopupMenu(popup, flags, x, y, 0, H(owner), nullptr);
}

int Win32Platform::OpenUrl(const std::wstring& url) {
    HINSTANCE r = ::ShellExecuteW(nullptr, L"open", url.c_str(), nullptr, L"", SW_SHOW);
    return reinterpret_cast<INT_PTR>(r) > 32 ? 1 : 0;
}

IconRef Win32Platform::ShellSmallIcon(const std::wstring& path) {
    std::wstring clean = CollapseRepeatedSeparators(path);
    SHFILEINFOW sfi = {};
    if (!::SHGetFileInfoW(clean.c_str(), 0, &sfi, sizeof sfi, SHGFI_ICON | SHGFI_SMALLICON))
        return 0;
    return reinterpret_cast<IconRef>(sfi.hIcon);
}

void Win32Platform::DestroyIconRef(IconRef icon) {
    if (icon != 0) ::DestroyIcon(reinterpret_cast<HICON>(icon));
}

// --- host window details -----------------------------------------------------------------

int Win32Platform::AppendSystemMenuItem(WindowId hwnd, uint32_t id, const std::wstring& text) {
    HMENU menu = ::GetSystemMenu(H(hwnd), FALSE);
    if (menu == nullptr) return 0;
    ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    ::AppendMenuW(menu, MF_STRING, id, text.c_str());
    return 1;
}

std::wstring Win32Platform::LoadStringResource(uint32_t id) {
    // With a zero buffer size LoadStringW hands out the resource's own text, which is not
    // terminated; the result is its length.
    const wchar_t* text = nullptr;
    int n = ::LoadStringW(Module(), id, reinterpret_cast<LPWSTR>(&text), 0);
    if (n <= 0 || text == nullptr) return std::wstring();
    return std::wstring(text, static_cast<std::size_t>(n));
}

void Win32Platform::SetWindowIcons(WindowId hwnd, int iconId) {
    LPARAM icon = reinterpret_cast<LPARAM>(LoadedIcon(iconId));
    ::SendMessageW(H(hwnd), WM_SETICON, ICON_BIG, icon);
    ::SendMessageW(H(hwnd), WM_SETICON, ICON_SMALL, icon);
}

void Win32Platform::RemoveAppWindowStyle(WindowId hwnd) {
    LONG ex = ::GetWindowLongW(H(hwnd), GWL_EXSTYLE);
    if (ex & WS_EX_APPWINDOW) ::SetWindowLongW(H(hwnd), GWL_EXSTYLE, ex & ~WS_EX_APPWINDOW);
}

int Win32Platform::IsMinimized(WindowId hwnd) { return ::IsIconic(H(hwnd)) ? 1 : 0; }

void Win32Platform::PaintCentredIcon(WindowId hwnd, int iconId) {
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(H(hwnd), &ps);
    ::SendMessageW(H(hwnd), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT rc;
    ::GetClientRect(H(hwnd), &rc);
    int x = (rc.right - rc.left - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
    int y = (rc.bottom - rc.top - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
    ::DrawIcon(dc, x, y, static_cast<HICON>(LoadedIcon(iconId)));
    ::EndPaint(H(hwnd), &ps);
}

std::intptr_t Win32Platform::IconHandle(int iconId) {
    return reinterpret_cast<std::intptr_t>(LoadedIcon(iconId));
}

WindowId Win32Platform::DialogItem(WindowId dialog, int id) {
    return W(::GetDlgItem(H(dialog), id));
}

// --- list view and image list ------------------------------------------------------------

ImageListRef Win32Platform::ImageListCreate(int cx, int cy, uint32_t flags, int initial,
                                            int grow) {
    return reinterpret_cast<ImageListRef>(::ImageList_Create(cx, cy, flags, initial, grow));
}

void Win32Platform::ImageListDestroy(ImageListRef list) {
    if (list != 0) ::ImageList_Destroy(reinterpret_cast<HIMAGELIST>(list));
}

int Win32Platform::ImageListAddIcon(ImageListRef list, IconRef icon) {
    return ::ImageList_ReplaceIcon(reinterpret_cast<HIMAGELIST>(list), -1,
                                   reinterpret_cast<HICON>(icon));
}

int Win32Platform::ImageListCount(ImageListRef list) {
    return ::ImageList_GetImageCount(reinterpret_cast<HIMAGELIST>(list));
}

int Win32Platform::ListSetSmallImages(WindowId list, ImageListRef images) {
    ::SendMessageW(H(list), LVM_SETIMAGELIST, LVSIL_SMALL, static_cast<LPARAM>(images));
    // The previous list is the result, so ask whether the control took this one.
    LRESULT held = ::SendMessageW(H(list), LVM_GETIMAGELIST, LVSIL_SMALL, 0);
    return images != 0 && static_cast<ImageListRef>(held) == images ? 1 : 0;
}

int Win32Platform::ListInsertColumn(WindowId list, int column, const std::wstring& title,
                                    int width) {
    LVCOLUMNW col = {};
    col.mask = LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    col.cx = width;
    col.pszText = const_cast<wchar_t*>(title.c_str());
    col.iSubItem = 0;
    return static_cast<int>(
        ::SendMessageW(H(list), LVM_INSERTCOLUMNW, column, reinterpret_cast<LPARAM>(&col)));
}

int Win32Platform::ListInsertItem(WindowId list, int index, const std::wstring& text,
                                  int image) {
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
    item.iItem = index;
    item.iSubItem = 0;
    item.pszText = const_cast<wchar_t*>(text.c_str());
    item.iImage = image;
    item.lParam = 0;
    return static_cast<int>(
        ::SendMessageW(H(list), LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
}

std::vector<int> Win32Platform::SelectedRows(WindowId list) {
    std::vector<int> rows;
    for (int row = -1;;) {
        row = static_cast<int>(::SendMessageW(H(list), LVM_GETNEXTITEM, static_cast<WPARAM>(row),
                                              MAKELPARAM(LVNI_SELECTED, 0)));
        if (row == -1) return rows;
        rows.push_back(row);
    }
}

std::wstring Win32Platform::ListItemText(WindowId list, int index) {
    // The control does not tell the length: grow the buffer while the text fills it.
    for (std::size_t size = 256;; size *= 2) {
        std::vector<wchar_t> buf(size);
        LVITEMW item = {};
        item.iSubItem = 0;
        item.pszText = buf.data();
        item.cchTextMax = static_cast<int>(size);
        LRESULT n = ::SendMessageW(H(list), LVM_GETITEMTEXTW, static_cast<WPARAM>(index),
                                   reinterpret_cast<LPARAM>(&item));
        if (n < static_cast<LRESULT>(size) - 1 || size >= 32768)
            return std::wstring(item.pszText != nullptr ? item.pszText : L"");
    }
}

int Win32Platform::ListDeleteItem(WindowId list, int index) {
    return ::SendMessageW(H(list), LVM_DELETEITEM, static_cast<WPARAM>(index), 0) ? 1 : 0;
}

}  // namespace win
}  // namespace nb
