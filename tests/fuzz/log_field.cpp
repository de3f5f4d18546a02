// The supervision log's fields from any value. The input gives two values (split at the
// first 0x00 byte) as UTF-16 text. The line FormatLine makes holds each as the documented
// format has it (unquoted when it is not empty and has no blank or double quote, else in
// double quotes with a double quote inside doubled; line breaks and tabs written as blanks;
// UTF-8, a lone surrogate half as U+FFFD), ends with its one CR LF, and nbctl's reader gives
// back exactly those values.
#include <string>

#include "base/supervision_log.h"
#include "fuzz_check.h"
#include "nbctl/text.h"

using namespace nb;

namespace {

std::string Utf8(const std::wstring& units) {
    std::string out;
    for (std::size_t i = 0; i < units.size(); ++i) {
        uint32_t c = static_cast<uint32_t>(units[i]) & 0xFFFF;
        if (c == L'\r' || c == L'\n' || c == L'\t') c = L' ';
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() && (units[i + 1] & 0xFC00) == 0xDC00) {
            c = 0x10000 + ((c - 0xD800) << 10) + ((units[i + 1] & 0xFFFF) - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
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
    return out;
}

std::string Field(const std::string& value) {
    if (!value.empty() && value.find_first_of(" \"") == std::string::npos) return value;
    std::string out = "\"";
    for (char c : value) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    std::string a, b;
    SplitAt(data, size, 0x00, &a, &b);
    const std::wstring first = WideOf(a), second = WideOf(b);
    const nb::LocalTime t{2026, 12, 9, 7, 5, 3, 9, -150};
    const std::string line = slog::FormatLine(t, 4242, "restore", {{"name", first}, {"cmd", second}});

    const std::string v1 = Utf8(first), v2 = Utf8(second);
    const std::string expected =
        "2026-12-09T07:05:03.009-02:30 4242 restore name=" + Field(v1) + " cmd=" + Field(v2) + "\r\n";
    FUZZ_REQUIRE(line == expected);
    FUZZ_REQUIRE(line.find_first_of("\r\n") == line.size() - 2);

    nbctl::LogLine parsed;
    FUZZ_REQUIRE(nbctl::ParseLogLine(line.substr(0, line.size() - 2), &parsed));
    FUZZ_REQUIRE(parsed.pid == 4242 && parsed.event == "restore" && parsed.fields.size() == 2);
    FUZZ_REQUIRE(parsed.fields[0].first == "name" && parsed.fields[0].second == v1);
    FUZZ_REQUIRE(parsed.fields[1].first == "cmd" && parsed.fields[1].second == v2);
    return 0;
}
