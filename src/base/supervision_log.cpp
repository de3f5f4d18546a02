// Formatting and appending of the supervision log's lines.
#include "base/supervision_log.h"

#include <cstdio>

#include "base/layout.h"
#include "platform/files.h"
#include "platform/processes.h"

namespace nb {

namespace slog {
namespace {

std::wstring g_path;

void AppendUtf8(std::string& out, const std::wstring& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        uint32_t c = static_cast<uint32_t>(text[i]);
        // UTF-16 surrogate pairs, where wchar_t is 16 bits wide.
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size()) {
            uint32_t low = static_cast<uint32_t>(text[i + 1]);
            if (low >= 0xDC00 && low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (c >= 0xD800 && c < 0xE000) c = 0xFFFD;  // a lone half
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
}

void AppendValue(std::string& out, const std::wstring& raw) {
    std::wstring v = OneLine(raw);
    if (!v.empty() && v.find_first_of(L" \"") == std::wstring::npos) {
        AppendUtf8(out, v);
        return;
    }
    // Encoded as a whole, so that a surrogate pair inside quotes stays one character.
    std::wstring quoted;
    for (wchar_t c : v) {
        if (c == L'"') quoted += L'"';
        quoted += c;
    }
    out += '"';
    AppendUtf8(out, quoted);
    out += '"';
}

}  // namespace

std::wstring OneLine(const std::wstring& text) {
    std::wstring s = text;
    for (wchar_t& c : s)
        if (c == L'\r' || c == L'\n' || c == L'\t') c = L' ';
    return s;
}

void Open(const std::wstring& home) { g_path = home + layout::kLogFile; }

const std::wstring& Path() { return g_path; }

std::string FormatLine(const nb::LocalTime& t, uint32_t pid, const char* event,
                       const std::vector<Field>& fields) {
    char stamp[48];
    int offset = t.utcOffsetMinutes;
    char sign = offset < 0 ? '-' : '+';
    if (offset < 0) offset = -offset;
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d %lu ", t.year,
                  t.month, t.day, t.hour, t.minute, t.second, t.millisecond, sign, offset / 60,
                  offset % 60, static_cast<unsigned long>(pid));
    std::string line = stamp;
    line += event;
    for (const Field& f : fields) {
        line += ' ';
        line += f.key;
        line += '=';
        AppendValue(line, f.value);
    }
    line += "\r\n";
    return line;
}

void Write(const char* event, const std::vector<Field>& fields) {
    if (g_path.empty()) return;
    std::string line = FormatLine(nb::Processes().Now(), nb::Processes().CurrentProcessId(), event,
                                  fields);
    int64_t size = nb::Files().FileSize(g_path);
    if (size > 0 && static_cast<uint64_t>(size) + line.size() > kRotateBytes) {
        const std::wstring older = g_path + L".1";
        // A line is rather lost than the bound passed: when the file cannot be moved aside
        // (the older one held by a reader, say), nothing is written.
        if (!nb::Files().RenameReplacing(g_path, older) &&
            !(nb::Files().RemoveFile(older) && nb::Files().RenameReplacing(g_path, older)))
            return;
    }
    if (nb::Files().AppendToFile(g_path, line)) return;
    // The folder may be missing (first run, or removed meanwhile): make it and try once more.
    nb::Files().MakeFolder(g_path.substr(0, g_path.rfind(L'\\')));
    nb::Files().AppendToFile(g_path, line);
}

}  // namespace slog

}  // namespace nb
