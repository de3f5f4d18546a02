// nbctl log: the last lines of the supervision log, and with -f the lines that follow, across
// the log's rotation. The file is opened afresh at every look, with every sharing, so that
// the writer can always append to it and rename it.
#include "platform/win32/windows_support.h"

#include <cstdio>
#include <string>
#include <vector>

#include "base/layout.h"
#include "nbctl.h"
#include "text.h"

namespace nbctl {
namespace {

using nb::win::ScopedKernelHandle;

constexpr DWORD kFollowIntervalMs = 250;
// More than the log ever holds (it is rotated at 1 MiB); a foreign file is read from this far
// before its end.
constexpr unsigned long long kMaxTailBytes = 4ull << 20;

struct FileId {
    DWORD volume = 0, high = 0, low = 0;
    bool operator==(const FileId& o) const {
        return volume == o.volume && high == o.high && low == o.low;
    }
};

ScopedKernelHandle OpenShared(const std::wstring& path) {
    return ScopedKernelHandle(::CreateFileW(
        path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

FileId IdOf(HANDLE h) {
    FileId id;
    BY_HANDLE_FILE_INFORMATION info;
    if (::GetFileInformationByHandle(h, &info)) {
        id.volume = info.dwVolumeSerialNumber;
        id.high = info.nFileIndexHigh;
        id.low = info.nFileIndexLow;
    }
    return id;
}

unsigned long long SizeOf(HANDLE h) {
    LARGE_INTEGER size;
    return ::GetFileSizeEx(h, &size) ? static_cast<unsigned long long>(size.QuadPart) : 0;
}

// Appends the bytes from offset to the end; returns the offset reached.
unsigned long long ReadFrom(HANDLE h, unsigned long long offset, std::string* bytes) {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    if (!::SetFilePointerEx(h, at, nullptr, FILE_BEGIN)) return offset;
    char buffer[65536];
    DWORD got = 0;
    while (::ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        bytes->append(buffer, got);
        offset += got;
    }
    return offset;
}

// The lines of a file's last kMaxTailBytes; *end is where its reading stopped and *rest
// holds the unfinished line before that (none in a finished file).
bool ReadTail(const std::wstring& path, bool finished, std::vector<std::string>* lines, FileId* id,
              unsigned long long* end, std::string* rest) {
    ScopedKernelHandle h = OpenShared(path);
    if (!h) return false;
    const unsigned long long size = SizeOf(h.Get());
    const unsigned long long start = size > kMaxTailBytes ? size - kMaxTailBytes : 0;
    std::string bytes;
    *end = ReadFrom(h.Get(), start, &bytes);
    *id = IdOf(h.Get());
    *lines = LogLinesOf(bytes, start > 0, finished, rest);
    return true;
}

struct Current {
    bool found = false;
    FileId id;
    unsigned long long end = 0;
    std::string rest;
};

bool Tail(const std::wstring& home, std::size_t n, std::vector<std::string>* out,
          Current* current) {
    const std::wstring path = LogPath(home);
    std::vector<std::string> lines, older;
    Current now;
    now.found = ReadTail(path, false, &lines, &now.id, &now.end, &now.rest);
    FileId id;
    unsigned long long end = 0;
    const bool haveOlder = lines.size() < n &&
                           ReadTail(path + L".1", true, &older, &id, &end, nullptr);
    if (!now.found && !haveOlder) return false;
    *out = LastLines(std::move(older), lines, n);
    if (current) *current = now;
    return true;
}

bool PrintLines(const std::vector<std::string>& lines) {
    for (const std::string& line : lines)
        if (!Print(line + "\n")) return false;
    return std::fflush(stdout) == 0;
}

// Prints what is appended to the log from `current` on, until the output goes away or the
// process is ended (Ctrl-C). The writer renames the file to .1 and begins a new one: a file
// of another identity under the log's name means the rest of the old one is to be read
// under the new name first.
int Follow(const std::wstring& path, Current current) {
    for (;;) {
        ::Sleep(kFollowIntervalMs);
        ScopedKernelHandle h = OpenShared(path);
        if (!h) continue;  // between the rename and the first line of the new file
        const FileId id = IdOf(h.Get());
        std::vector<std::string> lines;
        if (!current.found || !(id == current.id)) {
            if (current.found) {
                ScopedKernelHandle old = OpenShared(path + L".1");
                std::string bytes = current.rest;
                if (old && IdOf(old.Get()) == current.id) ReadFrom(old.Get(), current.end, &bytes);
                lines = LogLinesOf(bytes, false, true, nullptr);
            }
            current = Current();
            current.found = true;
            current.id = id;
        }
        if (SizeOf(h.Get()) < current.end) {  // emptied in place
            current.end = 0;
            current.rest.clear();
        }
        std::string bytes = current.rest;
        current.end = ReadFrom(h.Get(), current.end, &bytes);
        for (std::string& line : CompleteLines(bytes, &current.rest))
            lines.push_back(std::move(line));
        if (!lines.empty() && !PrintLines(lines)) return kExitOk;
    }
}

}  // namespace

std::wstring LogPath(const std::wstring& home) { return home + (nb::layout::kLogFile + 1); }

bool LastLogLines(const std::wstring& home, std::size_t n, std::vector<std::string>* lines) {
    return Tail(home, n, lines, nullptr);
}

int LogCommand(std::size_t n, bool follow) {
    const std::wstring home = LogHome();
    const std::wstring path = LogPath(home);
    std::vector<std::string> lines;
    Current current;
    const bool found = Tail(home, n, &lines, &current);
    if (!found) {
        std::fprintf(stderr, "nbctl: no log at %s%s\n", Utf8(path).c_str(),
                     follow ? " yet; waiting for it" : "");
        if (!follow) return kExitNoLog;
    }
    if (!PrintLines(lines)) return kExitOk;
    return follow ? Follow(path, current) : kExitOk;
}

}  // namespace nbctl
