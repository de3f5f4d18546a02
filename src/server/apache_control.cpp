// Server controller: probing, configuration files, launching.
#include "server/apache_control.h"

#include <algorithm>

#include "base/layout.h"
#include "base/framework.h"
#include "base/settings.h"
#include "base/supervision_log.h"
#include "platform/file_paths.h"
#include "platform/files.h"
#include "platform/processes.h"
#include "platform/sockets.h"
#include "platform/windowing.h"
#include "resources/resource.h"
#include "server/generated_text.h"
#include "server/server_stop.h"

namespace nb {

namespace {
constexpr uint32_t kNoMorePorts = 65535;  // 65534 is the last port probed
constexpr std::size_t kAnsiAddressBytes = 256;

std::wstring ConfExtraPath(const std::wstring& home, const wchar_t* file) {
    return home + layout::kConfExtra + file;
}
}  // namespace

std::wstring PortConfText(const std::wstring& address, uint32_t port) {
    return L"Listen " + address + L":" + std::to_wstring(port) + L"\n";
}

std::wstring ServerConfText(const std::wstring& d) {
    const std::wstring root = L"\"/" + d;
    std::wstring s;
    s += L"ServerRoot " + root + L"\"\n";
    s += L"DocumentRoot " + root + L"/htdocs\"\n";
    s += L"<Directory " + root + L"/htdocs\">\n";
    s += L"    Options Indexes FollowSymLinks\n";
    s += L"    AllowOverride None\n";
    s += L"    Order allow,deny\n";
    s += L"    Allow from all\n";
    s += L"</Directory>\n";
    s += L"<IfModule alias_module>\n";
    s += L"    ScriptAlias /cgi-bin/ " + root + L"/cgi-bin/\"\n";
    s += L"</IfModule>\n";
    s += L"<Directory " + root + L"/cgi-bin\">\n";
    s += L"AllowOverride None\n";
    s += L"    Options None\n";
    s += L"    Order allow,deny\n";
    s += L"    Allow from all\n";
    s += L"</Directory>\n";
    s += L"PHPIniDir " + root + L"/php/\"\n";
    s += L"LoadFile " + root + L"/php/php5ts.dll\"\n";
    s += L"LoadModule php5_module " + root + L"/php/php5apache2_2.dll\"\n";
    s += L"<Directory " + root + L"/htdocs\">\n";
    s += L"    Options Indexes FollowSymLinks\n";
    s += L"    DirectoryIndex index.php\n";
    s += L"    AllowOverride None\n";
    s += L"    Order allow,deny\n";
    s += L"    Allow from 127.0.0.1\n";
    s += L"</Directory>\n";
    return s;
}

CApacheControl::CApacheControl(const CWinApp& app) : m_path(L"C:\\nimbara\\"), m_app(app) {
    m_debug = static_cast<int>(settings::ReadInt(m_app, settings::kHttpdDebug));
    SetPath(m_path);
    m_port = settings::ReadInt(m_app, settings::kDefaultPort);
    m_address = settings::ReadAddress(m_app);
    m_said.Configure(settings::ReadErrorLog(m_app),
                     settings::ReadInt(m_app, settings::kConfigTest) != 0);
}

void CApacheControl::DebugBox(const std::wstring& text, const wchar_t* caption) const {
    if (m_debug != 0) nb::Windows().MsgBox(0, text, caption, MB_OK);
}

void CApacheControl::SetPath(std::wstring path) {
    m_path = std::move(path);
    nb::PathParts parts = nb::SplitPath(m_path);
    if (!parts.dir.empty()) m_dir = ServerPathOfDir(parts.dir);
    DebugBox(m_path, L"SetPath: m_path");
    DebugBox(m_dir, L"SetPath: m_dir");
}

int CApacheControl::PortCheck() {
    std::string ansi;
    if (!nb::Files().WideToAnsi(m_address, ansi, kAnsiAddressBytes)) {
        nb::Windows().MsgBox(0, server_text::kConversionFailed, server_text::kConversionCaption,
                             MB_OK | MB_ICONERROR);
        return 0;
    }
    while (m_port < kNoMorePorts) {
        uint16_t granted = 0;
        nb::Sockets().SocketsStartup(SOCKETS_VERSION_2_0, &granted);
        nb::ProbeResult r = nb::Sockets().ProbeListen(ansi, static_cast<uint16_t>(m_port), 5);
        // Windows lets the probe (and the server) bind beside another program listening on
        // the wildcard address; clients of localhost may then reach that one. Taken, too.
        if (r == nb::ProbeResult::Listening &&
            nb::Sockets().WildcardBindFree(static_cast<uint16_t>(m_port)))
            return 1;
        if (r == nb::ProbeResult::ListenFailed)
            DebugBox(L"listen() failed", L"CApacheControl::PortCheck");
        ++m_port;
    }
    return 0;
}

int CApacheControl::CreatePortConf() {
    std::wstring path = ConfExtraPath(m_path, layout::kPortConf);
    if (!WriteGeneratedFile(path, PortConfText(m_address, m_port))) {
        DebugBox(path, L"CApacheControl::CreatePortConf");
        return 0;
    }
    return 1;
}

int CApacheControl::CreateConf() {
    std::wstring path = ConfExtraPath(m_path, layout::kServerConf);
    if (!WriteGeneratedFile(path, ServerConfText(m_dir))) {
        DebugBox(path, L"CApacheControl::CreateConf");
        return 0;
    }
    return 1;
}

std::wstring CApacheControl::ServerCommandLine() const {
    std::wstring exe = m_path + layout::kBinFolder + layout::kServerExe;
    // Unquoted, a blank would let the system try "D:\my.exe" for "D:\my apps\...": a
    // program planted there would run in the server's place. Without one, the line stays
    // exactly the path.
    if (exe.find_first_of(L" \t") != std::wstring::npos) return L"\"" + exe + L"\"";
    return exe;
}

int CApacheControl::ReportStartFailure(const wchar_t* userText, const wchar_t* debugText,
                                       const wchar_t* debugCaption) {
    slog::Write("server-failed", {{"reason", userText}, {"port", m_port}});
    if (m_reportErrors) {
        m_reportErrors = false;
        nb::Windows().MsgBox(0, userText, server_text::kCaption, MB_OK | MB_ICONERROR);
    }
    DebugBox(debugText, debugCaption);
    return 0;
}

int CApacheControl::Start() {
    if (PortCheck() != 1)
        return ReportStartFailure(server_text::kPortFailed, L"PortCheck", server_text::kCaption);
    if (CreatePortConf() != 1)
        return ReportStartFailure(server_text::kConfFailed, L"CreatePortConf",
                                  server_text::kCaption);
    std::wstring cmd = ServerCommandLine();
    DebugBox(cmd, L"httpd start cmd");
    m_said.Launching(m_path);
    if (!Execute(cmd))
        return ReportStartFailure(server_text::kExecFailed, L"Exec", L"CApacheControl::Start");
    m_launchMs = nb::Processes().MonotonicMs();
    slog::Write("server-start", {{"cmd", cmd}, {"pid", m_dwProcessId}, {"port", m_port}});
    m_reportErrors = true;
    return 1;
}

uint32_t CApacheControl::StopTimeout() const {
    return settings::ReadInt(m_app, settings::kStopTimeout);
}

int CApacheControl::StopServers(uint32_t atMostMs) {
    return TerminateHttpd(std::min(StopTimeout(), atMostMs));
}

int CApacheControl::StopOrphans() {
    return StopOrphanServers(m_path + layout::kBinFolder + layout::kServerExe, StopTimeout());
}

std::wstring CApacheControl::ExplainFailure(uint64_t ranMs) {
    return m_said.Explain(ranMs, ServerCommandLine(), LaunchFolder());
}

int CApacheControl::Restart(const std::function<bool()>& wanted) {
    int ended = StopServers();
    uint32_t wait = settings::ReadInt(m_app, settings::kRestartWait);
    nb::Processes().SleepMs(wait);
    if (wanted && !wanted()) return 0;
    if (Start() == 1) {
        slog::Write(
            "restart",
            {{"pid", m_dwProcessId}, {"port", m_port}, {"ended", ended}, {"restart_wait", wait}});
        return 1;
    }
    slog::Write("restart", {{"started", 0}, {"ended", ended}, {"restart_wait", wait}});
    return 0;
}

}  // namespace nb
