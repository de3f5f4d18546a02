// The text nbctl reads and writes: the listen file, the supervision log's lines, the status
// line of an HTTP answer, JSON strings. Plain C++ free of windows.h, checked natively too.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace nbctl {

// Splits bytes into lines at LF, each without its CR. What follows the last LF (a line the
// writer has not finished) goes to *rest.
inline std::vector<std::string> CompleteLines(const std::string& bytes, std::string* rest) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t lf; (lf = bytes.find('\n', start)) != std::string::npos; start = lf + 1) {
        std::size_t end = lf;
        if (end > start && bytes[end - 1] == '\r') --end;
        lines.emplace_back(bytes, start, end - start);
    }
    if (rest) rest->assign(bytes, start, std::string::npos);
    return lines;
}

// The lines of bytes read from a log file. A read that began after the file's start
// (`fromMiddle`) drops what comes before its first LF, a line it cannot have whole. In a
// finished file (the rotated one) a last line without LF counts; otherwise it is the
// writer's unfinished line and goes to *rest.
inline std::vector<std::string> LogLinesOf(const std::string& bytes, bool fromMiddle, bool finished,
                                           std::string* rest) {
    std::size_t start = 0;
    if (fromMiddle) {
        const std::size_t lf = bytes.find('\n');
        start = lf == std::string::npos ? bytes.size() : lf + 1;
    }
    std::string unfinished;
    std::vector<std::string> lines = CompleteLines(bytes.substr(start), &unfinished);
    if (finished && !unfinished.empty()) lines.push_back(unfinished);
    if (rest) *rest = finished ? std::string() : unfinished;
    return lines;
}

// The last n of the rotated file's lines followed by the current file's.
inline std::vector<std::string> LastLines(std::vector<std::string> older,
                                          const std::vector<std::string>& current, std::size_t n) {
    older.insert(older.end(), current.begin(), current.end());
    if (older.size() > n) older.erase(older.begin(), older.end() - static_cast<std::ptrdiff_t>(n));
    return older;
}

namespace detail {
inline bool IsBlank(char c) { return c == ' ' || c == '\t'; }
inline bool AllDigits(const std::string& s, std::size_t maxLength) {
    if (s.empty() || s.size() > maxLength) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}
}  // namespace detail

// The port of the listen file's first "Listen [address:]port" line (the directive in any
// case, as the server reads it); false when there is no such line or its port is no number
// from 1 to 65535.
inline bool ParseListenPort(const std::string& text, unsigned* port) {
    for (const std::string& line : CompleteLines(text + "\n", nullptr)) {
        std::size_t i = 0;
        while (i < line.size() && detail::IsBlank(line[i])) ++i;
        static const char kWord[] = "listen";
        std::size_t k = 0;
        while (k < 6 && i + k < line.size() && (line[i + k] | 0x20) == kWord[k]) ++k;
        if (k < 6 || i + 6 >= line.size() || !detail::IsBlank(line[i + 6])) continue;
        i += 6;
        while (i < line.size() && detail::IsBlank(line[i])) ++i;
        std::size_t end = i;
        while (end < line.size() && !detail::IsBlank(line[end])) ++end;
        const std::string address = line.substr(i, end - i);
        const std::size_t colon = address.rfind(':');
        const std::string digits = colon == std::string::npos ? address : address.substr(colon + 1);
        if (!detail::AllDigits(digits, 5)) return false;
        const unsigned long value = std::stoul(digits);
        if (value < 1 || value > 65535) return false;
        *port = static_cast<unsigned>(value);
        return true;
    }
    return false;
}

// The status code of an HTTP answer's first line ("HTTP/1.0 200 OK"); false when the text
// does not begin with one.
inline bool ParseHttpStatus(const std::string& answer, int* status) {
    if (answer.compare(0, 5, "HTTP/") != 0) return false;
    const std::size_t blank = answer.find(' ');
    if (blank == std::string::npos || blank + 4 > answer.size()) return false;
    const std::string digits = answer.substr(blank + 1, 3);
    if (!detail::AllDigits(digits, 3)) return false;
    if (blank + 4 < answer.size() && !detail::IsBlank(answer[blank + 4]) &&
        answer[blank + 4] != '\r')
        return false;
    *status = std::stoi(digits);
    return true;
}

// One line of the supervision log:
//   <time> <pid> <event> key=value ...
// where a value holding a blank, a tab or a double quote, or an empty one, stands in double
// quotes, a double quote inside them doubled.
struct LogLine {
    std::string time;
    unsigned long pid = 0;
    std::string event;
    std::vector<std::pair<std::string, std::string>> fields;
};

// False, leaving *out as it was, for a line of another shape (a torn line, a foreign file).
inline bool ParseLogLine(const std::string& line, LogLine* out) {
    LogLine parsed;
    std::size_t i = 0;
    auto word = [&]() {
        while (i < line.size() && detail::IsBlank(line[i])) ++i;
        const std::size_t start = i;
        while (i < line.size() && !detail::IsBlank(line[i])) ++i;
        return line.substr(start, i - start);
    };
    parsed.time = word();
    // 2026-12-08T23:55:01.123+09:00: checked only as far as telling it from other text.
    const std::string& t = parsed.time;
    if (t.size() < 19 || t[4] != '-' || t[7] != '-' || t[10] != 'T' || t[13] != ':') return false;
    const std::string pid = word();
    if (!detail::AllDigits(pid, 10)) return false;
    parsed.pid = std::stoul(pid);
    parsed.event = word();
    if (parsed.event.empty()) return false;
    for (char c : parsed.event)
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-')) return false;
    for (;;) {
        while (i < line.size() && detail::IsBlank(line[i])) ++i;
        if (i == line.size()) break;
        const std::size_t eq = line.find('=', i);
        if (eq == std::string::npos || eq == i) return false;
        std::string key = line.substr(i, eq - i);
        for (char c : key)
            if (detail::IsBlank(c) || c == '"') return false;
        i = eq + 1;
        std::string value;
        if (i < line.size() && line[i] == '"') {
            for (++i;; ++i) {
                if (i == line.size()) return false;  // no closing quote
                if (line[i] != '"') {
                    value += line[i];
                } else if (i + 1 < line.size() && line[i + 1] == '"') {
                    value += '"';
                    ++i;
                } else {
                    ++i;
                    break;
                }
            }
            if (i < line.size() && !detail::IsBlank(line[i])) return false;
        } else {
            const std::size_t start = i;
            while (i < line.size() && !detail::IsBlank(line[i])) ++i;
            value = line.substr(start, i - start);
        }
        parsed.fields.emplace_back(std::move(key), std::move(value));
    }
    *out = std::move(parsed);
    return true;
}

// One row of nbctl status's text: the name in a column of 11, then the value.
inline std::string StatusRow(const char* name, const std::string& value) {
    std::string row = name;
    if (row.size() < 11) row.resize(11, ' ');
    return row + value + "\n";
}

// A JSON string literal of UTF-8 text. Bytes that are no UTF-8 (a file of another encoding)
// become U+FFFD, so that the output stays valid UTF-8 and valid JSON whatever was read.
inline std::string JsonString(const std::string& text) {
    static const char kHex[] = "0123456789abcdef";
    std::string out = "\"";
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n;) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20) {
                    out += "\\u00";
                    out += kHex[c >> 4];
                    out += kHex[c & 15];
                } else {
                    out += static_cast<char>(c);
                }
            }
            ++i;
            continue;
        }
        // The length of the sequence, and the range its second byte must lie in (which rules
        // out overlong forms, surrogates and code points beyond U+10FFFF).
        std::size_t length = 0;
        unsigned char low = 0x80, high = 0xBF;
        if (c >= 0xC2 && c <= 0xDF)
            length = 2;
        else if (c == 0xE0)
            length = 3, low = 0xA0;
        else if (c >= 0xE1 && c <= 0xEC)
            length = 3;
        else if (c == 0xED)
            length = 3, high = 0x9F;
        else if (c >= 0xEE && c <= 0xEF)
            length = 3;
        else if (c == 0xF0)
            length = 4, low = 0x90;
        else if (c >= 0xF1 && c <= 0xF3)
            length = 4;
        else if (c == 0xF4)
            length = 4, high = 0x8F;
        bool valid = length != 0 && i + length <= n;
        for (std::size_t k = 1; valid && k < length; ++k) {
            const unsigned char b = static_cast<unsigned char>(text[i + k]);
            valid = k == 1 ? (b >= low && b <= high) : (b >= 0x80 && b <= 0xBF);
        }
        if (valid) {
            out.append(text, i, length);
            i += length;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out + "\"";
}

}  // namespace nbctl
