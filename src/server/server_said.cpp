// The server's own words on a failure: its error log's new error lines and its -t output.
#include "server/server_said.h"

#include "base/supervision_log.h"
#include "platform/files.h"
#include "platform/processes.h"
#include "server/server_stop.h"

namespace nb {

namespace {

constexpr std::size_t kOutputBytes = 64 * 1024;

// The server writes UTF-8 or its ANSI code page: a byte that does not begin a valid UTF-8
// sequence is taken as the character of the same number, so that nothing is lost.
std::wstring Decode(const std::string& bytes) {
    std::wstring out;
    for (std::size_t i = 0; i < bytes.size();) {
        const unsigned char b = static_cast<unsigned char>(bytes[i]);
        const std::size_t n = b >= 0xF0 && b < 0xF5   ? 4
                              : b >= 0xE0             ? 3
                              : b >= 0xC2 && b < 0xE0 ? 2
                                                      : 1;
        uint32_t cp = n == 4 ? b & 0x07u : n == 3 ? b & 0x0Fu : n == 2 ? b & 0x1Fu : b;
        bool valid = b < 0x80 || n > 1;
        for (std::size_t k = 1; valid && k < n; ++k) {
            const unsigned char c = i + k < bytes.size() ? static_cast<unsigned char>(bytes[i + k])
                                                         : 0;
            valid = (c & 0xC0) == 0x80;
            cp = cp << 6 | (c & 0x3Fu);
        }
        if (!valid) {
            out += static_cast<wchar_t>(b);
            ++i;
            continue;
        }
        out += cp > 0xFFFF ? static_cast<wchar_t>(0xFFFD) : static_cast<wchar_t>(cp);
        i += n;
    }
    return out;
}

std::string TrimRight(std::string s) {
    while (!s.empty() && (s.back() == '\r' || s.back() == ' ' || s.back() == '\t')) s.pop_back();
    return s;
}

std::vector<std::string> SplitLines(const std::string& bytes, bool partialFirst) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    if (partialFirst) {
        at = bytes.find('\n');
        if (at == std::string::npos) return lines;
        ++at;
    }
    while (at < bytes.size()) {
        std::size_t end = bytes.find('\n', at);
        if (end == std::string::npos) end = bytes.size();
        lines.push_back(TrimRight(bytes.substr(at, end - at)));
        at = end + 1;
    }
    return lines;
}

std::size_t SkipBlanks(const std::string& s, std::size_t at) {
    while (at < s.size() && s[at] == ' ') ++at;
    return at;
}

bool IsErrorLevel(const std::string& level) {
    return level == "emerg" || level == "alert" || level == "crit" || level == "error";
}

bool ParseErrorLine(const std::string& line, SaidLine* out) {
    if (line.empty() || line[0] != '[') return false;
    std::size_t at = line.find(']');
    if (at == std::string::npos) return false;
    at = SkipBlanks(line, at + 1);
    const std::size_t levelEnd = at < line.size() && line[at] == '[' ? line.find(']', at)
                                                                     : std::string::npos;
    if (levelEnd == std::string::npos) return false;
    std::string level = line.substr(at + 1, levelEnd - at - 1);
    const std::size_t colon = level.rfind(':');
    if (colon != std::string::npos) level.erase(0, colon + 1);
    if (!IsErrorLevel(level)) return false;
    at = SkipBlanks(line, levelEnd + 1);
    uint32_t pid = 0;
    const std::size_t pidEnd = line.compare(at, 5, "[pid ") == 0 ? line.find(']', at)
                                                                 : std::string::npos;
    if (pidEnd != std::string::npos) {
        for (std::size_t d = at + 5; d < pidEnd && line[d] >= '0' && line[d] <= '9'; ++d)
            pid = pid * 10 + static_cast<uint32_t>(line[d] - '0');
        at = SkipBlanks(line, pidEnd + 1);
    }
    out->pid = pid;
    out->level = level;
    out->text = Decode(line.substr(at));
    return true;
}

template <typename T>
void KeepLast(std::vector<T>& v, std::size_t n) {
    if (v.size() > n) v.erase(v.begin(), v.end() - static_cast<std::ptrdiff_t>(n));
}

void LogSaid(const std::vector<SaidLine>& lines, const wchar_t* source) {
    for (const SaidLine& l : lines) {
        std::vector<slog::Field> fields;
        if (l.pid != 0) fields.emplace_back("pid", l.pid);
        if (!l.level.empty())
            fields.emplace_back("level", std::wstring(l.level.begin(), l.level.end()));
        fields.emplace_back("text", l.text);
        if (source != nullptr) fields.emplace_back("source", source);
        slog::Write("server-said", fields);
    }
}

}  // namespace

std::vector<SaidLine> ErrorLines(const std::string& bytes, bool partialFirst) {
    std::vector<SaidLine> said;
    for (const std::string& line : SplitLines(bytes, partialFirst)) {
        SaidLine l;
        if (ParseErrorLine(line, &l)) said.push_back(std::move(l));
    }
    KeepLast(said, kSaidLines);
    return said;
}

std::vector<SaidLine> ConfigTestLines(const std::string& output, uint32_t pid) {
    std::vector<std::string> joined;
    bool continues = false;
    for (const std::string& raw : SplitLines(output, false)) {
        const std::size_t first = raw.find_first_not_of(" \t");
        if (first == std::string::npos) continue;
        const std::string line = raw.substr(first);
        if (continues)
            joined.back() += " " + line;
        else
            joined.push_back(line);
        continues = line.back() == ':';
    }
    KeepLast(joined, kSaidLines);
    std::vector<SaidLine> said;
    for (const std::string& line : joined)
        said.push_back(SaidLine{pid, std::string(), Decode(line)});
    return said;
}

std::wstring ErrorLogPath(const std::wstring& home, const std::wstring& setting) {
    const bool full = (setting.size() >= 2 && setting[1] == L':') ||
                      (!setting.empty() && (setting[0] == L'\\' || setting[0] == L'/'));
    return full ? setting : home + setting;
}

void CServerSaid::Configure(std::wstring errorLog, bool configTest) {
    m_setting = std::move(errorLog);
    m_configTest = configTest;
}

void CServerSaid::Launching(const std::wstring& home) {
    m_path = ErrorLogPath(home, m_setting);
    // Missing now: whatever it holds later was written by this launch.
    m_mark = nb::Files().FileSize(m_path);
    if (m_mark < 0) m_mark = 0;
}

std::wstring CServerSaid::Explain(uint64_t ranMs, const std::wstring& serverCmd,
                                  const std::wstring& launchDir) {
    std::vector<SaidLine> said;
    const int64_t size = m_path.empty() ? -1 : nb::Files().FileSize(m_path);
    // Smaller than at the launch: rotated or replaced, and what this launch wrote is unknown.
    if (size > m_mark) {
        const int64_t from = size - m_mark > static_cast<int64_t>(kSaidReadBytes)
                                 ? size - static_cast<int64_t>(kSaidReadBytes)
                                 : m_mark;
        std::string bytes;
        if (nb::Files().ReadFileFrom(m_path, from, kSaidReadBytes, bytes))
            said = ErrorLines(bytes, from > m_mark);
    }
    // Told once: while restarts fail, every tick finds the same dead server again.
    if (size >= 0) m_mark = size;
    LogSaid(said, nullptr);
    if (said.empty() && m_configTest && !m_tested && ranMs < kConfigTestWithinMs)
        said = RunConfigTest(serverCmd, launchDir);
    return said.empty() ? std::wstring() : said.front().text;
}

std::vector<SaidLine> CServerSaid::RunConfigTest(const std::wstring& serverCmd,
                                                 const std::wstring& launchDir) {
    // It reads the same files as the server, whose restart may be on its way: never beside
    // one. The next quick failure tries again.
    if (AnyServerRunning()) {
        slog::Write("config-test", {{"skipped", L"server-running"}});
        return {};
    }
    m_tested = true;
    std::wstring cmd = serverCmd + L" -t";
    nb::OutputRun run;
    const uint64_t began = nb::Processes().MonotonicMs();
    if (!nb::Processes().RunForOutput(cmd, launchDir, kConfigTestMs, kOutputBytes, &run)) {
        slog::Write("config-test", {{"cmd", cmd}, {"started", 0}});
        return {};
    }
    std::vector<slog::Field> fields{{"cmd", cmd},
                                    {"pid", run.pid},
                                    {"code", run.exitCode},
                                    {"ran_ms", nb::Processes().MonotonicMs() - began}};
    if (run.ended) fields.emplace_back("ended", 1);
    slog::Write("config-test", fields);
    std::vector<SaidLine> said = ConfigTestLines(run.output, run.pid);
    LogSaid(said, L"config-test");
    return said;
}

}  // namespace nb
