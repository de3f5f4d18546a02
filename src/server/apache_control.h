// The web server controller: home path, port probe, listen and server configuration,
// start and restart of httpd.exe.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "server/process_control.h"
#include "server/server_said.h"

namespace nb {

class CWinApp;

class CApacheControl : public CProcessControl {
public:
    // Reads section "httpd" of the settings file that app names.
    explicit CApacheControl(const CWinApp& app);

    void SetPath(std::wstring path);
    int PortCheck();
    int CreatePortConf();
    int CreateConf();
    int Start();
    // Stops the servers, waits restart_wait, then starts again unless wanted (when given) now
    // says no. 1 when a server was launched.
    int Restart(const std::function<bool()>& wanted = nullptr);
    // Ends every server process (TerminateHttpd) with a graceful stop of stop_timeout, read
    // now, or of atMostMs when that is shorter; returns how many ended.
    int StopServers(uint32_t atMostMs = UINT32_MAX);
    // The same stop for the servers of this home that a supervisor ended from outside has left
    // running (server_stop.h).
    int StopOrphans();
    // The "httpd" "stop_timeout" setting, read at each call: the graceful stop's bound.
    uint32_t StopTimeout() const;
    // The server launched last ended ranMs after its launch, or never got ready: what it said
    // goes to the supervision log. Returns the first text, empty when it said nothing.
    std::wstring ExplainFailure(uint64_t ranMs);

    // The server's full path, in double quotes when it holds a blank or a tab.
    std::wstring ServerCommandLine() const;

    // The home directory and its server path (SetPath); the port the server listens on (the
    // next probe starts there); the listen address; the "httpd" "debug" setting.
    const std::wstring& Home() const { return m_path; }
    const std::wstring& ServerPath() const { return m_dir; }
    uint32_t Port() const { return m_port; }
    void SetPort(uint32_t port) { m_port = port; }
    const std::wstring& Address() const { return m_address; }
    int Debug() const { return m_debug; }
    // Whether the next start failure shows its box (after one, until a start succeeds, not).
    bool ReportsErrors() const { return m_reportErrors; }
    // When the server now in m_hProcess was launched (the platform's monotonic clock, ms).
    uint64_t LaunchMs() const { return m_launchMs; }
    CServerSaid& Said() { return m_said; }

private:
    std::wstring m_path;
    std::wstring m_dir;
    uint32_t m_port = 0;
    const CWinApp& m_app;
    int m_debug = 0;
    bool m_reportErrors = true;
    std::wstring m_address;
    uint64_t m_launchMs = 0;
    CServerSaid m_said;

    int ReportStartFailure(const wchar_t* userText, const wchar_t* debugText,
                           const wchar_t* debugCaption);
    void DebugBox(const std::wstring& text, const wchar_t* caption) const;
};

// Contents of the two configuration files for a server path and a listen address.
std::wstring PortConfText(const std::wstring& address, uint32_t port);
std::wstring ServerConfText(const std::wstring& serverPath);

namespace server_text {
constexpr const wchar_t* kCaption = L"Nimbara";
constexpr const wchar_t* kPortFailed = L"Nimbaraの起動に失敗しました。(Port)";
constexpr const wchar_t* kConfFailed =
    L"Nimbaraの起動に失敗しました。\nフォルダに書き込み権限があることを確認してください。";
constexpr const wchar_t* kExecFailed = L"Nimbaraの起動に失敗しました。(Exec)";
constexpr const wchar_t* kConversionFailed = L"文字の変換に失敗しました";
constexpr const wchar_t* kConversionCaption = L"エラー";
}  // namespace server_text

}  // namespace nb
