// What nbctl status tells from the supervision log beyond its last lines: the health check's
// state, the last server-exited and what the server said of its failure, the restarts of the
// last hour and the crash loop's state.
// Plain C++ free of windows.h, checked natively too.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/exit_codes.h"
#include "text.h"

namespace nbctl {

// Seconds since 1970-01-01 UTC of a log line's time (2026-12-08T23:55:01.123+09:00).
inline bool LogTimeToUnix(const std::string& t, long long* out) {
    if (t.size() < 29 || t[4] != '-' || t[7] != '-' || t[10] != 'T' || t[13] != ':' ||
        t[16] != ':' || t[19] != '.' || (t[23] != '+' && t[23] != '-') || t[26] != ':')
        return false;
    auto num = [&t](std::size_t at, std::size_t n) { return std::atoi(t.substr(at, n).c_str()); };
    long long y = num(0, 4), m = num(5, 2), d = num(8, 2);
    // Days from the civil date (Howard Hinnant's algorithm).
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yoe = y - era * 400;
    const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long long days = era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
    const long long offset = (num(24, 2) * 60 + num(27, 2)) * 60 * (t[23] == '-' ? -1 : 1);
    *out = days * 86400 + num(11, 2) * 3600 + num(14, 2) * 60 + num(17, 2) - offset;
    return true;
}

inline std::string FieldOf(const LogLine& line, const char* key) {
    for (const auto& f : line.fields)
        if (f.first == key) return f.second;
    return std::string();
}

struct History {
    // The build id of the last start ("" when its line names none: an older program).
    std::string build;
    // Settings of the last start.
    unsigned long healthInterval = 0, healthTimeout = 3000, healthFailuresAllowed = 3;
    unsigned long long backupInterval = 86400000;
    // The health check since the last start: "" (no result yet), "ok", or what failed.
    std::string healthLast, healthTime;
    unsigned long healthFailures = 0;  // failed checks in a row
    // The last server-exited line of the log.
    bool haveExit = false;
    std::string exitTime, exitPid, exitCode, exitCodeHex, exitMeaning;
    // The server-said lines after the last server-exited or server-failed, at most kSaid.
    static constexpr std::size_t kSaid = 5;
    std::vector<LogLine> said;
    unsigned restartsLastHour = 0;
    // Since the last start: "none", "looping" (told, not yet over) or "ended".
    std::string crashState = "none";
    std::string crashTime, crashCount, crashCode, crashMeaning;
};

// The log's lines, oldest first; now in seconds since 1970 UTC.
inline History Summarize(const std::vector<std::string>& lines, long long now) {
    History h;
    for (const std::string& text : lines) {
        LogLine line;
        if (!ParseLogLine(text, &line)) continue;
        const std::string& e = line.event;
        auto number = [&line](const char* key, unsigned long long fallback) {
            const std::string v = FieldOf(line, key);
            return detail::AllDigits(v, 19) ? std::stoull(v) : fallback;
        };
        if (e == "start") {
            const History fresh;
            h.build = FieldOf(line, "build");
            h.healthInterval = static_cast<unsigned long>(number("nbmonitor.health_interval", 0));
            h.healthTimeout = static_cast<unsigned long>(number("nbmonitor.health_timeout", 3000));
            h.healthFailuresAllowed = static_cast<unsigned long>(
                number("nbmonitor.health_failures", 3));
            h.backupInterval = number("nbmonitor.backup_interval", 86400000);
            h.healthLast = fresh.healthLast;
            h.healthTime = fresh.healthTime;
            h.healthFailures = 0;
            h.crashState = fresh.crashState;
            h.crashTime = h.crashCount = h.crashCode = h.crashMeaning = std::string();
            h.said.clear();
        } else if (e == "server-failed") {
            h.said.clear();
        } else if (e == "server-said") {
            if (h.said.size() == History::kSaid) h.said.erase(h.said.begin());
            h.said.push_back(line);
        } else if (e == "health-ok") {
            h.healthLast = "ok";
            h.healthTime = line.time;
            h.healthFailures = 0;
        } else if (e == "health-failed") {
            h.healthLast = FieldOf(line, "reason");
            h.healthTime = line.time;
            h.healthFailures = static_cast<unsigned long>(number("failures", 0));
        } else if (e == "restart") {
            h.healthFailures = 0;
            long long when = 0;
            if (LogTimeToUnix(line.time, &when) && when <= now && now - when < 3600)
                ++h.restartsLastHour;
        } else if (e == "server-exited") {
            h.said.clear();
            h.haveExit = true;
            h.exitTime = line.time;
            h.exitPid = FieldOf(line, "pid");
            h.exitCode = FieldOf(line, "code");
            h.exitCodeHex = FieldOf(line, "code_hex");
            h.exitMeaning = FieldOf(line, "meaning");
            // A line written before the table was there: named here.
            if (h.exitCodeHex.empty() && detail::AllDigits(h.exitCode, 10) &&
                std::stoull(h.exitCode) <= 0xFFFFFFFFull) {
                const uint32_t code = static_cast<uint32_t>(std::stoull(h.exitCode));
                h.exitCodeHex = nb::exit_codes::Hex(code);
                if (const char* m = nb::exit_codes::MeaningOf(code)) h.exitMeaning = m;
            }
        } else if (e == "crash-loop") {
            h.crashState = "looping";
            h.crashTime = line.time;
            h.crashCount = FieldOf(line, "count");
            h.crashCode = FieldOf(line, "code");
            h.crashMeaning = FieldOf(line, "meaning");
        } else if (e == "crash-loop-over") {
            h.crashState = "ended";
            h.crashTime = line.time;
        }
    }
    return h;
}

}  // namespace nbctl
