// The settings file's keys with their defaults, the home directory and the server path.
#pragma once

#include <cstdint>
#include <string>

#include "base/home_path.h"  // HomeFromModulePath

namespace nb {

class CWinApp;

namespace settings {

constexpr const wchar_t* kHttpd = L"httpd";
constexpr const wchar_t* kNbmonitor = L"nbmonitor";

struct IntKey {
    const wchar_t* section;
    const wchar_t* key;
    int defaultValue;
};

constexpr IntKey kDefaultPort{kHttpd, L"default_port", 27142};
constexpr IntKey kHttpdDebug{kHttpd, L"debug", 0};
constexpr IntKey kRestartWait{kHttpd, L"restart_wait", 2000};
// How long a server that offers a graceful stop is given for it; 0: ended at once.
constexpr IntKey kStopTimeout{kHttpd, L"stop_timeout", 5000};
constexpr IntKey kMonitorInterval{kNbmonitor, L"monitor_interval", 5000};
constexpr IntKey kBackupInterval{kNbmonitor, L"backup_interval", 86400000};
constexpr IntKey kMonitorDebug{kNbmonitor, L"debug", 0};
constexpr IntKey kWaitTime{kNbmonitor, L"wait_time", 2000};
// Additions, each off (or silent) at its default.
constexpr IntKey kHealthInterval{kNbmonitor, L"health_interval", 0};
constexpr IntKey kHealthTimeout{kNbmonitor, L"health_timeout", 3000};
constexpr IntKey kHealthFailures{kNbmonitor, L"health_failures", 3};
// After a launch, failed checks count only from this long on, or from the first answer.
constexpr IntKey kHealthStartPeriod{kNbmonitor, L"health_start_period", 30000};
constexpr IntKey kCrashBalloon{kNbmonitor, L"crash_balloon", 0};
// Runs the server's configuration test when a server fails quickly without a word.
constexpr IntKey kConfigTest{kHttpd, L"config_test", 0};
// The server's error log, relative to the home unless a full path (Apache's default).
constexpr const wchar_t* kErrorLogKey = L"error_log";
constexpr const wchar_t* kErrorLogDefault = L"logs\\error.log";
constexpr std::size_t kErrorLogChars = 1024;  // buffer, terminator included

constexpr const wchar_t* kDefaultAddressKey = L"default_address";
constexpr const wchar_t* kDefaultAddress = L"127.0.0.1";
constexpr std::size_t kAddressChars = 256;  // buffer, terminator included

// Reads an integer from the program's settings file (unsigned, as the system returns it).
uint32_t ReadInt(const CWinApp& app, const IntKey& key);
std::wstring ReadAddress(const CWinApp& app);
std::wstring ReadErrorLog(const CWinApp& app);
// Whether the settings file begins with a UTF-8 byte-order mark. Windows' profile functions
// take it for part of the first line, so the first section's keys are not found there.
bool HasUtf8Mark(const CWinApp& app);

}  // namespace settings

// The drive-less, forward-slash form of a folder's directory part, without leading or
// trailing slash: C:\nimbara\ gives nimbara, D:\apps\nimbara\ gives apps/nimbara, C:\ "".
std::wstring ServerPathOfDir(const std::wstring& dirPart);
std::wstring ServerPathOf(const std::wstring& home);

// Settings file path from the current directory: its parent + \conf\nbmonitor.ini.
// Returns false when the result would not fit bufChars characters with its terminator.
bool SettingsPathFromCurrentDir(const std::wstring& currentDir, std::size_t bufChars,
                                std::wstring* out);

}  // namespace nb
