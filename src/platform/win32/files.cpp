// Files and settings over Win32: private-profile reads, whole-file reads, replacements
// that leave the old file whole on failure, appends, folders.
#include "platform/win32/windows_support.h"

#include "platform/win32/win32_platform.h"
#include "platform/win32/window_handles.h"

#include <algorithm>
#include <vector>

namespace nb {
namespace win {

namespace {

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

uint32_t Win32Files::ProfileInt(const wchar_t* section, const wchar_t* key, int defaultValue,
                                const wchar_t* file) {
    return ::GetPrivateProfileIntW(section, key, defaultValue, file);
}

std::wstring Win32Files::ProfileString(const wchar_t* section, const wchar_t* key,
                                       const wchar_t* defaultValue, const wchar_t* file,
                                       std::size_t bufChars) {
    if (bufChars == 0) return std::wstring();
    std::vector<wchar_t> buf(bufChars);
    DWORD n = ::GetPrivateProfileStringW(section, key, defaultValue, buf.data(),
                                         static_cast<DWORD>(bufChars), file);
    return std::wstring(buf.data(), n);
}

int Win32Files::ReadWholeFile(const std::wstring& path, std::string& bytes) {
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

int Win32Files::ReplaceFileContent(const std::wstring& path, const std::string& bytes,
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

int Win32Files::AppendToFile(const std::wstring& path, const std::string& bytes) {
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

int Win32Files::ReadFileFrom(const std::wstring& path, int64_t offset, std::size_t maxBytes,
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
        const DWORD want = static_cast<DWORD>(
            std::min<std::size_t>(sizeof chunk, maxBytes - content.size()));
        if (!::ReadFile(file.Get(), chunk, want, &got, nullptr)) return 0;
        if (got == 0) break;
        content.append(chunk, got);
    }
    bytes.swap(content);
    return 1;
}

int64_t Win32Files::FileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) |
                                data.nFileSizeLow);
}

int Win32Files::RenameReplacing(const std::wstring& from, const std::wstring& to) {
    return ::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) ? 1 : 0;
}

int Win32Files::MakeFolder(const std::wstring& path) {
    return ::CreateDirectoryW(path.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS
               ? 1
               : 0;
}

int Win32Files::RemoveFile(const std::wstring& path) { return ::DeleteFileW(path.c_str()) ? 1 : 0; }

int Win32Files::ListFolder(const std::wstring& pattern, std::vector<FindEntry>& out) {
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

int Win32Files::WideToAnsi(const std::wstring& text, std::string& out, std::size_t bufBytes) {
    if (bufBytes == 0) return 0;
    std::vector<char> buf(bufBytes, '\0');
    int n = ::WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, buf.data(),
                                  static_cast<int>(bufBytes), nullptr, nullptr);
    if (n == 0) return 0;
    out.assign(buf.data());
    return 1;
}

}  // namespace win
}  // namespace nb
