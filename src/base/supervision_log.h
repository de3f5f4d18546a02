// The supervision log: logs\nbmonitor.log under the home directory, one line per event
//   2026-12-08T23:55:01.123+09:00 1234 server-exited code=1 ran_ms=5021
// (local time with milliseconds and UTC offset, nbmonitor's process id, the event, then
// key=value fields; line breaks and tabs in a value become blanks, and a value with a blank
// or a double quote, or an empty one, is put in double quotes, a double quote inside doubled). UTF-8 without BOM, CR LF. When a line would
// take the file past 1 MiB, the file is renamed to nbmonitor.log.1 (replacing it) and a new
// one begun; when that cannot be done the line is dropped, so the two files never pass
// 2 MiB. It never gets in the way: nothing here shows a box, and a failure to make the
// folder, write or rename is simply passed over.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/processes.h"

namespace nb {

namespace slog {

constexpr uint64_t kRotateBytes = 1024 * 1024;

struct Field {
    Field(const char* k, const std::wstring& v) : key(k), value(v) {}
    Field(const char* k, const wchar_t* v) : key(k), value(v != nullptr ? v : L"") {}
    Field(const char* k, uint64_t v) : key(k), value(std::to_wstring(v)) {}
    Field(const char* k, uint32_t v) : key(k), value(std::to_wstring(v)) {}
    Field(const char* k, int v) : key(k), value(std::to_wstring(v)) {}
    const char* key;
    std::wstring value;
};

// From here on the log lives under this home directory (it ends with a backslash). Until
// then nothing is written.
void Open(const std::wstring& home);
const std::wstring& Path();

// The fields in their order; a line whose optional fields are known only at run time builds
// the vector and leaves out what does not apply.
void Write(const char* event, const std::vector<Field>& fields);

// One line, CR LF included, in UTF-8.
std::string FormatLine(const nb::LocalTime& t, uint32_t pid, const char* event,
                       const std::vector<Field>& fields);

// A text as the log writes it in a field: line breaks and tabs become blanks.
std::wstring OneLine(const std::wstring& text);

}  // namespace slog

}  // namespace nb
