// nbctl status, what the log and the backup folder tell beyond the last lines: the build of
// the last start (and nbctl's own), the health check, the last server-exited with its meaning
// and what the server said, the restarts of the last hour, the crash
// loop, and the newest backup (stale when older than twice backup_interval).
#include "platform/win32/windows_support.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "history.h"
#include "nbctl.h"
#include "nbmonitor_version.h"
#include "text.h"

namespace nbctl {
namespace {

using nb::win::ScopedFindHandle;

constexpr long long kUnixEpochAsFileTime = 116444736000000000LL;  // 100 ns since 1601

long long FileTimeTo100ns(const FILETIME& t) {
    return static_cast<long long>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) |
                                  t.dwLowDateTime);
}

long long NowUnix() {
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    return (FileTimeTo100ns(now) - kUnixEpochAsFileTime) / 10000000;
}

struct Backup {
    bool found = false;
    std::wstring name;
    std::string time;  // local time, as the log writes it without milliseconds and offset
    unsigned long long size = 0;
    bool stale = false;
};

// The entry of backup\ written last (a file or a folder, as the backup script makes them).
Backup NewestBackup(const std::wstring& home, unsigned long long backupIntervalMs) {
    Backup b;
    WIN32_FIND_DATAW entry;
    ScopedFindHandle find(::FindFirstFileW((home + L"backup\\*").c_str(), &entry));
    if (!find) return b;
    FILETIME newest{};
    do {
        if (std::wstring(entry.cFileName) == L"." || std::wstring(entry.cFileName) == L"..")
            continue;
        if (b.found && ::CompareFileTime(&entry.ftLastWriteTime, &newest) <= 0) continue;
        b.found = true;
        b.name = entry.cFileName;
        newest = entry.ftLastWriteTime;
        b.size = (static_cast<unsigned long long>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
    } while (::FindNextFileW(find.Get(), &entry));
    if (!b.found) return b;
    FILETIME local;
    SYSTEMTIME st;
    if (::FileTimeToLocalFileTime(&newest, &local) && ::FileTimeToSystemTime(&local, &st)) {
        char text[32];
        std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u", st.wYear, st.wMonth,
                      st.wDay, st.wHour, st.wMinute, st.wSecond);
        b.time = text;
    }
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    const long long ageMs = (FileTimeTo100ns(now) - FileTimeTo100ns(newest)) / 10000;
    b.stale = ageMs > 0 && static_cast<unsigned long long>(ageMs) > 2 * backupIntervalMs;
    return b;
}

std::string Json(const std::string& s) { return s.empty() ? std::string("null") : JsonString(s); }
std::string JsonNumber(const std::string& s) {
    return detail::AllDigits(s, 19) ? s : s.empty() ? std::string("null") : JsonString(s);
}

}  // namespace

std::string StatusHistory(const std::wstring& home, bool json) {
    std::vector<std::string> lines;
    LastLogLines(home, static_cast<std::size_t>(-1), &lines);
    const History h = Summarize(lines, NowUnix());
    const Backup b = NewestBackup(home, h.backupInterval);
    const std::string n = std::to_string(h.healthInterval),
                      timeout = std::to_string(h.healthTimeout),
                      allowed = std::to_string(h.healthFailuresAllowed);
    std::string out;
    if (json) {
        out += ",\"build\":{\"nbmonitor\":" + Json(h.build) +
               ",\"nbctl\":" + JsonString(NB_BUILD_ID) + "}";
        out += ",\"health\":{\"on\":" + std::string(h.healthInterval ? "true" : "false");
        out += ",\"interval\":" + n + ",\"timeout\":" + timeout +
               ",\"failures_allowed\":" + allowed;
        out += ",\"last\":" + Json(h.healthLast) + ",\"time\":" + Json(h.healthTime);
        out += ",\"failures\":" + std::to_string(h.healthFailures) + "}";
        out += ",\"last_exit\":";
        if (!h.haveExit)
            out += "null";
        else
            out += "{\"time\":" + Json(h.exitTime) + ",\"pid\":" + JsonNumber(h.exitPid) +
                   ",\"code\":" + JsonNumber(h.exitCode) + ",\"code_hex\":" + Json(h.exitCodeHex) +
                   ",\"meaning\":" + Json(h.exitMeaning) + "}";
        out += ",\"apache_said\":[";
        for (std::size_t i = 0; i < h.said.size(); ++i) {
            const LogLine& l = h.said[i];
            out += std::string(i ? "," : "") + "{\"time\":" + Json(l.time) +
                   ",\"pid\":" + JsonNumber(FieldOf(l, "pid")) +
                   ",\"level\":" + Json(FieldOf(l, "level")) +
                   ",\"text\":" + JsonString(FieldOf(l, "text")) + ",\"source\":" +
                   JsonString(FieldOf(l, "source").empty() ? "error-log" : FieldOf(l, "source")) +
                   "}";
        }
        out += "]";
        out += ",\"restarts_last_hour\":" + std::to_string(h.restartsLastHour);
        out += ",\"crash_loop\":{\"state\":" + JsonString(h.crashState) +
               ",\"time\":" + Json(h.crashTime) + ",\"count\":" + JsonNumber(h.crashCount) +
               ",\"code\":" + Json(h.crashCode) + ",\"meaning\":" + Json(h.crashMeaning) + "}";
        out += ",\"backup\":";
        if (!b.found)
            out += "null";
        else
            out += "{\"name\":" + JsonString(Utf8(b.name)) + ",\"time\":" + Json(b.time) +
                   ",\"size\":" + std::to_string(b.size) +
                   ",\"stale\":" + (b.stale ? "true" : "false") + "}";
        return out;
    }
    const std::string every = "every " + n + " ms, timeout " + timeout + " ms, restart after " +
                              allowed + " failures";
    out += StatusRow(
        "build", "nbmonitor " +
                     (h.build.empty() ? std::string("unknown (no build in the log's last start)")
                                      : h.build) +
                     ", nbctl " NB_BUILD_ID);
    if (h.healthInterval == 0)
        out += StatusRow("health", "off");
    else if (h.healthLast.empty())
        out += StatusRow("health", "no result yet (" + every + ")");
    else if (h.healthLast == "ok")
        out += StatusRow("health", "answers since " + h.healthTime + " (" + every + ")");
    else
        out += StatusRow("health", h.healthLast + " at " + h.healthTime + ", " +
                                       std::to_string(h.healthFailures) + " failed in a row (" +
                                       every + ")");
    if (!h.haveExit)
        out += StatusRow("last exit", "none in the log");
    else
        out += StatusRow("last exit",
                         h.exitTime + ": pid " + h.exitPid + ", code " + h.exitCode +
                             (h.exitCodeHex.empty() ? "" : " (" + h.exitCodeHex + ")") +
                             (h.exitMeaning.empty() ? "" : ": " + h.exitMeaning));
    for (const LogLine& l : h.said) {
        const std::string level = FieldOf(l, "level"), source = FieldOf(l, "source");
        out += StatusRow("  said", (level.empty() ? "" : "[" + level + "] ") + FieldOf(l, "text") +
                                       (source.empty() ? "" : " (" + source + ")"));
    }
    out += StatusRow("restarts", std::to_string(h.restartsLastHour) + " in the last hour");
    if (h.crashState == "looping")
        out += StatusRow("crash loop",
                         "since " + h.crashTime + ": " + h.crashCount +
                             " quick failures in a row, last " + h.crashCode +
                             (h.crashMeaning.empty() ? "" : " (" + h.crashMeaning + ")") +
                             "; told again once a server has run 10 minutes");
    else if (h.crashState == "ended")
        out += StatusRow("crash loop", "ended " + h.crashTime + " (a server ran 10 minutes)");
    else
        out += StatusRow("crash loop", "none");
    if (!b.found)
        out += StatusRow("backup", "none in " + Utf8(home) + "backup");
    else
        out += StatusRow("backup",
                         Utf8(b.name) + ", " + b.time + ", " + std::to_string(b.size) + " bytes" +
                             (b.stale ? " (stale: older than twice backup_interval)" : ""));
    return out;
}

}  // namespace nbctl
