// nbctl's log tail across a rotation point. The input drives a model of the log's writer:
// its first bytes give the rotation bound, the size of the window a reader reads from each
// file's end, the number of lines asked for, a torn last append and where a follow reader
// looked in; the rest, split at 0x00, gives the lines. The writer appends each line with
// CR LF and moves the file aside to .1 before a line that would take it past the bound.
//   tail: the last n lines read from both files are the last n lines written whose start
//         lies in the window read (a line the window cuts is never shown in part), the torn
//         one never;
//   follow: a reader that looked at the rotated file while it was still the log, at any byte,
//         and looks again after the rotation prints every line from the one it was in the
//         middle of, each whole and once, the torn one excepted.
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "nbctl/text.h"

namespace {

struct Written {
    std::string text;  // without CR LF
    int file;          // 0, 1, ...: each rotation begins a new one
    std::size_t start; // offset in that file
};

// The lines of one file whose start lies in its last `window` bytes (after the window's
// first byte when the window does not reach the file's start).
std::vector<std::string> Visible(const std::vector<Written>& lines, int file, std::size_t size, std::size_t window) {
    std::vector<std::string> out;
    const std::size_t from = size > window ? size - window : 0;
    for (const Written& w : lines)
        if (w.file == file && (from == 0 || w.start > from)) out.push_back(w.text);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 5) return 0;
    const std::size_t bound = 16 + data[0];
    const std::size_t window = 4 + data[1];
    const std::size_t n = 1 + data[2] % 40;
    const std::size_t torn = data[3];  // bytes of a last, torn line (0: none)
    const std::size_t lookAt = data[4];

    std::vector<std::string> texts(1);
    for (std::size_t i = 5; i < size; ++i) {
        if (data[i] == 0x00) texts.emplace_back();
        else if (data[i] != '\r' && data[i] != '\n') texts.back() += static_cast<char>(data[i]);
    }

    std::vector<std::string> files(1);
    std::vector<Written> lines;
    for (std::size_t k = 0; k < texts.size(); ++k) {
        const std::string line = texts[k] + "\r\n";
        if (!files.back().empty() && files.back().size() + line.size() > bound) files.emplace_back();
        lines.push_back({texts[k], static_cast<int>(files.size() - 1), files.back().size()});
        files.back() += line;
    }
    if (torn > 0) files.back() += texts.back().substr(0, torn % (texts.back().size() + 1));

    const int cur = static_cast<int>(files.size() - 1);
    const std::string& current = files[cur];
    const std::string older = cur > 0 ? files[cur - 1] : std::string();
    auto tail = [&](const std::string& f) { return f.size() > window ? f.substr(f.size() - window) : f; };

    // tail: as nbctl's Tail reads them.
    std::string rest;
    std::vector<std::string> now = nbctl::LogLinesOf(tail(current), current.size() > window, false, &rest);
    std::vector<std::string> before;
    if (now.size() < n && cur > 0) before = nbctl::LogLinesOf(tail(older), older.size() > window, true, nullptr);
    const std::vector<std::string> got = nbctl::LastLines(before, now, n);

    std::vector<std::string> visible = cur > 0 ? Visible(lines, cur - 1, older.size(), window) : std::vector<std::string>();
    for (const std::string& s : Visible(lines, cur, current.size(), window)) visible.push_back(s);
    if (visible.size() > n) visible.erase(visible.begin(), visible.end() - static_cast<std::ptrdiff_t>(n));
    FUZZ_REQUIRE(got == visible);
    FUZZ_REQUIRE(rest.size() <= current.size());

    // follow: the look saw the first seenEnd bytes of the rotated file and kept its unfinished
    // line; after the rotation it reads the rest of that file, then the new one.
    if (cur > 0) {
        const std::size_t seenEnd = lookAt % (older.size() + 1);
        std::string seenRest;
        nbctl::LogLinesOf(older.substr(0, seenEnd), false, false, &seenRest);
        std::vector<std::string> printed = nbctl::LogLinesOf(seenRest + older.substr(seenEnd), false, true, nullptr);
        for (const std::string& s : nbctl::LogLinesOf(current, false, false, nullptr)) printed.push_back(s);
        std::vector<std::string> expected;
        for (const Written& w : lines)
            if ((w.file == cur - 1 && w.start + w.text.size() + 2 > seenEnd) || w.file == cur) expected.push_back(w.text);
        FUZZ_REQUIRE(printed == expected);
    }
    return 0;
}
