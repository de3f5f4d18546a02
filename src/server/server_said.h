// Why a server failed, in its own words: the error lines its error log gained since its
// launch, and, when asked for, what its configuration test (httpd.exe -t) prints. Both are
// written to the supervision log as server-said lines; nothing here shows anything.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace nb {

struct SaidLine {
    uint32_t pid = 0;   // 0: the line names none
    std::string level;  // emerg, alert, crit, error; empty for the configuration test
    std::wstring text;
};

constexpr std::size_t kSaidReadBytes = 64 * 1024;  // read from the end of what was added
constexpr std::size_t kSaidLines = 5;              // the last ones kept
constexpr uint32_t kConfigTestMs = 10000;
constexpr uint64_t kConfigTestWithinMs = 60 * 1000;  // only for a server that failed this soon

// The last kSaidLines lines of an error log piece whose level is emerg, alert, crit or error
// (Apache 2.4's "[time] [module:level] [pid N:tid M] text" and 2.2's "[time] [level] text").
// partialFirst: the piece begins inside a line, which is skipped.
std::vector<SaidLine> ErrorLines(const std::string& bytes, bool partialFirst);
// The last kSaidLines non-empty lines of a configuration test's output; a line ending in a
// colon is joined with the next (Apache's "Syntax error on line N of FILE:" then the reason).
std::vector<SaidLine> ConfigTestLines(const std::string& output, uint32_t pid);
// The error log's path: the setting under the home unless it is a full path.
std::wstring ErrorLogPath(const std::wstring& home, const std::wstring& setting);

class CServerSaid {
public:
    // errorLog: the "error_log" setting; configTest: whether -t may run.
    void Configure(std::wstring errorLog, bool configTest);
    // A server of this home is about to be launched: remembers how long its error log is.
    void Launching(const std::wstring& home);
    // The server launched last ended ranMs after its launch, or never got ready: logs what it
    // said, and runs the configuration test when that is on, the failure came within
    // kConfigTestWithinMs, the log said nothing, the test has not run in this run of quick
    // failures and no httpd.exe runs (else it waits for the next quick failure). serverCmd: the server's command line, run from launchDir. Returns the first
    // text logged, empty when none.
    std::wstring Explain(uint64_t ranMs, const std::wstring& serverCmd,
                         const std::wstring& launchDir);
    // A server has run longer than kConfigTestWithinMs: the next quick failure may test again.
    void Settled() { m_tested = false; }

    // The "error_log" setting, and whether the configuration test may run.
    const std::wstring& Setting() const { return m_setting; }
    bool ConfigTest() const { return m_configTest; }

private:
    std::wstring m_setting;
    std::wstring m_path;  // the error log of the last launch
    bool m_configTest = false;
    int64_t m_mark = 0;  // its size then
    bool m_tested = false;

    std::vector<SaidLine> RunConfigTest(const std::wstring& serverCmd,
                                        const std::wstring& launchDir);
};

}  // namespace nb
