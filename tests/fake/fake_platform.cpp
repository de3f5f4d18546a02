// The scripted operating system of the unit tests.
#include "fake_platform.h"

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <cwctype>

#include "base/framework.h"

using namespace nb;

std::string U8(const std::wstring& w) {
    std::string out;
    for (wchar_t wc : w) {
        uint32_t c = static_cast<uint32_t>(wc);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::wstring W(const std::string& s) {
    std::wstring out;
    for (std::size_t i = 0; i < s.size();) {
        unsigned char b = static_cast<unsigned char>(s[i]);
        uint32_t c;
        if (b < 0x80) {
            c = b;
            i += 1;
        } else if ((b & 0xE0) == 0xC0) {
            c = ((b & 0x1F) << 6) | (s[i + 1] & 0x3F);
            i += 2;
        } else {
            c = ((b & 0x0F) << 12) | ((s[i + 1] & 0x3F) << 6) | (s[i + 2] & 0x3F);
            i += 3;
        }
        out += static_cast<wchar_t>(c);
    }
    return out;
}

std::string Hex(std::uintptr_t v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%lx", static_cast<unsigned long>(v));
    return buf;
}

FakePlatform::FakePlatform() {
    strings[101] = L"情報(&A)...";
    strings[103] = L"Windows ソケットの初期化に失敗しました。";
    nb::SetPlatform(this);
}

FakePlatform::~FakePlatform() { nb::SetPlatform(nullptr); }

std::vector<std::string> FakePlatform::Only(std::initializer_list<const char*> kinds) const {
    std::vector<std::string> out;
    for (const std::string& c : calls) {
        std::string first = c.substr(0, c.find(' '));
        for (const char* k : kinds)
            if (first == k) out.push_back(c);
    }
    return out;
}

std::string FakePlatform::Box(nb::WindowId owner, const std::wstring& text,
                              const wchar_t* caption, uint32_t style) {
    return "MsgBox owner=" + Hex(owner) + " style=" + Hex(style) +
           " caption=" + (caption ? U8(caption) : std::string("(null)")) + " text=" + U8(text);
}

std::wstring FakePlatform::Key(const std::wstring& path) {
    std::wstring k;
    for (wchar_t c : path) {
        if (c == L'/') c = L'\\';
        if (c == L'\\' && !k.empty() && k.back() == L'\\') continue;
        k += static_cast<wchar_t>(std::towlower(c));
    }
    return k;
}

bool FakePlatform::HasFile(const std::wstring& path) const { return files.count(Key(path)) != 0; }
std::string& FakePlatform::File(const std::wstring& path) { return files[Key(path)]; }

std::vector<std::wstring> FakePlatform::ListTexts(nb::WindowId list) const {
    std::vector<std::wstring> out;
    auto it = lists.find(list);
    if (it != lists.end())
        for (const Row& r : it->second) out.push_back(r.text);
    return out;
}

void FakePlatform::Select(nb::WindowId list, std::initializer_list<int> rows) {
    for (Row& r : lists[list]) r.selected = false;
    for (int i : rows) lists[list].at(static_cast<std::size_t>(i)).selected = true;
}

int FakePlatform::ModulePath(std::wstring& out, std::size_t maxChars) {
    if (moduleFails) return 0;
    out = modulePath.substr(0, maxChars);
    return 1;
}

int FakePlatform::CurrentDirectory(std::wstring& out, std::size_t bufChars) {
    if (currentDirFails || currentDir.size() + 1 > bufChars) return 0;
    out = currentDir;
    return 1;
}

int FakePlatform::InitCommonControls(uint32_t icc) {
    Log("InitCommonControls " + Hex(icc));
    return 1;
}

int FakePlatform::SocketsStartup(uint16_t version, uint16_t* granted) {
    Log("WSAStartup " + Hex(version));
    if (socketsFail) return 0;
    *granted = grantedVersion ? grantedVersion : version;
    return 1;
}

void FakePlatform::SocketsCleanup() { Log("WSACleanup"); }

int FakePlatform::CreateInstanceMutex(const std::wstring& name, bool* alreadyExisted) {
    Log("CreateMutex " + U8(name));
    *alreadyExisted = mutexExists;
    return 1;
}

void FakePlatform::EndProcess(uint32_t code) {
    Log("ExitProcess " + std::to_string(static_cast<int32_t>(code)));
    exited = true;
    exitCode = code;
}

void FakePlatform::SleepMs(uint32_t ms) {
    Log("Sleep " + std::to_string(ms));
    monotonicMs += ms;
    if (onSleep) onSleep(ms);
}

namespace {
std::wstring Lower(std::wstring s) {
    for (wchar_t& c : s) c = static_cast<wchar_t>(std::towlower(c));
    return s;
}
std::wstring Trim(const std::wstring& s) {
    std::size_t b = s.find_first_not_of(L" \t\r"), e = s.find_last_not_of(L" \t\r");
    return b == std::wstring::npos ? std::wstring() : s.substr(b, e - b + 1);
}
}  // namespace

// A settings file among the fake's files is read as Windows' profile functions read an ANSI
// one: byte by byte, a line "[name]" (blanks around it allowed) opening a section. A UTF-8
// byte-order mark is no blank: it belongs to the first line, which then opens no section.
// Without the file, the profile map answers.
const std::wstring* FakePlatform::ProfileValue(const wchar_t* section, const wchar_t* key,
                                               const wchar_t* file) {
    lastProfileFile = file;
    auto f = files.find(Key(file));
    if (f == files.end()) {
        auto it = profile.find(std::wstring(section) + L"/" + key);
        return it == profile.end() ? nullptr : &it->second;
    }
    std::wstring current;
    std::istringstream text(f->second);
    for (std::string raw; std::getline(text, raw);) {
        std::wstring line = Trim(std::wstring(raw.begin(), raw.end()));
        if (!line.empty() && line[0] == L'[') {
            current = Lower(line.substr(1, line.find(L']') - 1));
            continue;
        }
        std::size_t eq = line.find(L'=');
        if (eq == std::wstring::npos || current != Lower(section) || Lower(Trim(line.substr(0, eq))) != Lower(key))
            continue;
        profileRead = Trim(line.substr(eq + 1));
        return &profileRead;
    }
    return nullptr;
}

uint32_t FakePlatform::ProfileInt(const wchar_t* section, const wchar_t* key, int def,
                                  const wchar_t* file) {
    const std::wstring* found = ProfileValue(section, key, file);
    if (found == nullptr || found->empty()) return static_cast<uint32_t>(def);
    // Like the system: optional sign, decimal digits, anything after them ignored.
    const std::wstring& v = *found;
    std::size_t i = 0;
    while (i < v.size() && (v[i] == L' ' || v[i] == L'\t')) ++i;
    bool negative = false;
    if (i < v.size() && (v[i] == L'-' || v[i] == L'+')) negative = v[i++] == L'-';
    uint32_t n = 0;
    for (; i < v.size() && v[i] >= L'0' && v[i] <= L'9'; ++i) n = n * 10 + (v[i] - L'0');
    return negative ? 0u - n : n;
}

std::wstring FakePlatform::ProfileString(const wchar_t* section, const wchar_t* key,
                                         const wchar_t* def, const wchar_t* file,
                                         std::size_t bufChars) {
    const std::wstring* found = ProfileValue(section, key, file);
    std::wstring v = found == nullptr ? std::wstring(def) : *found;
    return v.substr(0, bufChars - 1);
}

int FakePlatform::ReadWholeFile(const std::wstring& path, std::string& bytes) {
    auto it = files.find(Key(path));
    if (it == files.end()) return 0;
    bytes = it->second;
    return 1;
}

int FakePlatform::ReplaceFileContent(const std::wstring& path, const std::string& bytes,
                                     nb::WriteError* error) {
    Log("WriteFile " + U8(path));
    if (unwritable.count(Key(path))) {
        if (error != nullptr) *error = writeError;
        return 0;
    }
    auto held = heldUntil.find(Key(path));
    if (held != heldUntil.end() && monotonicMs < held->second) {
        if (error != nullptr) *error = nb::WriteError::TargetBusy;
        return 0;
    }
    files[Key(path)] = bytes;
    if (error != nullptr) *error = nb::WriteError::None;
    return 1;
}

int FakePlatform::AppendToFile(const std::wstring& path, const std::string& bytes) {
    std::string line = bytes;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    Log("Log " + line);
    if (unwritable.count(Key(path))) return 0;
    files[Key(path)] += bytes;
    return 1;
}

int FakePlatform::ReadFileFrom(const std::wstring& path, int64_t offset, std::size_t maxBytes,
                               std::string& bytes) {
    Log("ReadFrom " + U8(path) + " " + std::to_string(offset));
    auto it = files.find(Key(path));
    if (it == files.end() || locked.count(Key(path))) return 0;
    const std::size_t at = std::min<std::size_t>(static_cast<std::size_t>(offset), it->second.size());
    bytes = it->second.substr(at, maxBytes);
    return 1;
}

int64_t FakePlatform::FileSize(const std::wstring& path) {
    auto it = files.find(Key(path));
    return it == files.end() ? -1 : static_cast<int64_t>(it->second.size());
}

int FakePlatform::RenameReplacing(const std::wstring& from, const std::wstring& to) {
    Log("Rename " + U8(from) + " -> " + U8(to));
    auto it = files.find(Key(from));
    if (it == files.end() || unwritable.count(Key(to))) return 0;
    files[Key(to)] = it->second;
    files.erase(Key(from));
    return 1;
}

int FakePlatform::MakeFolder(const std::wstring&) { return 1; }

std::vector<std::string> FakePlatform::LogLines() const {
    std::vector<std::string> out;
    for (const std::string& c : calls)
        if (c.compare(0, 4, "Log ") == 0) out.push_back(c.substr(4));
    return out;
}

int FakePlatform::RemoveFile(const std::wstring& path) {
    Log("DeleteFile " + U8(path));
    if (undeletable.count(Key(path))) return 0;
    return files.erase(Key(path)) ? 1 : 0;
}

int FakePlatform::ListFolder(const std::wstring& pattern, std::vector<nb::FindEntry>& out) {
    Log("FindFiles " + U8(pattern));
    auto it = folders.find(Key(pattern));
    if (it == folders.end()) return 0;
    out = it->second;
    return 1;
}

int FakePlatform::WideToAnsi(const std::wstring& text, std::string& out, std::size_t bufBytes) {
    if (ansiFails || text.size() + 1 > bufBytes) return 0;
    out.clear();
    for (wchar_t c : text) out += c < 0x100 ? static_cast<char>(c) : '?';
    return 1;
}

namespace {
bool Wildcard(const std::string& address) { return address == "0.0.0.0" || address == "::"; }
}  // namespace

nb::ProbeResult FakePlatform::ProbeListen(const std::string& address, uint16_t port, int) {
    ++probes;
    unsigned a, b, c, d;
    char tail;
    if (std::sscanf(address.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &tail) != 4)
        return nb::ProbeResult::BindFailed;
    if (takenPorts.count(port)) return nb::ProbeResult::BindFailed;
    auto range = listeners.equal_range(port);
    for (auto it = range.first; it != range.second; ++it) {
        const Listener& l = it->second;
        if (l.address == address || (Wildcard(l.address) && (l.exclusive || Wildcard(address))))
            return nb::ProbeResult::BindFailed;
    }
    if (listenFailPorts.count(port)) return nb::ProbeResult::ListenFailed;
    return nb::ProbeResult::Listening;
}

int FakePlatform::WildcardBindFree(uint16_t port) {
    Log("BindWildcard " + std::to_string(port));
    auto range = listeners.equal_range(port);
    for (auto it = range.first; it != range.second; ++it)
        if (Wildcard(it->second.address)) return 0;
    return 1;
}

uint32_t FakePlatform::AddErrorMode(uint32_t bits) {
    errorMode |= bits;
    Log("ErrorMode " + Hex(errorMode));
    return errorMode;
}

int FakePlatform::TryConnect(const char* address, uint16_t port) {
    Log(std::string("Connect ") + address + ":" + std::to_string(port));
    return connectAnswers(port) ? 1 : 0;
}

int FakePlatform::BeginConnect(nb::WindowId hwnd, uint32_t msg, const char* address, uint16_t port,
                               nb::SocketRef* socket) {
    Log("BeginConnect " + Hex(hwnd) + " " + std::to_string(msg) + " " + address + ":" +
        std::to_string(port));
    if (beginConnectFails) return 0;
    ++liveSockets;
    *socket = nextSocket_++;
    return 1;
}

int FakePlatform::SocketSend(nb::SocketRef socket, const std::string& bytes) {
    Log("SocketSend " + Hex(socket) + " " + bytes);
    return static_cast<int>(bytes.size());
}

int FakePlatform::SocketReceive(nb::SocketRef, std::string& bytes, std::size_t maxBytes) {
    if (received.empty()) return -1;
    std::string next = received.front().substr(0, maxBytes);
    if (next.size() == received.front().size())
        received.pop_front();
    else
        received.front().erase(0, maxBytes);
    bytes += next;
    return static_cast<int>(next.size());
}

void FakePlatform::CloseSocket(nb::SocketRef socket) {
    Log("CloseSocket " + Hex(socket));
    --liveSockets;
}

int FakePlatform::RunForOutput(std::wstring& cmdLine, const std::wstring& dir, uint32_t ms,
                               std::size_t maxOutput, nb::OutputRun* run) {
    Log("RunForOutput " + U8(cmdLine) + " dir=" + U8(dir) + " bound=" + std::to_string(ms));
    const OutputAnswer answer = outputRuns.empty() ? OutputAnswer{} : outputRuns.front();
    if (!outputRuns.empty()) outputRuns.pop_front();
    const bool ended = answer.runsMs > ms;
    *run = nb::OutputRun{900, ended ? 1 : answer.exitCode, ended, answer.output.substr(0, maxOutput)};
    monotonicMs += std::min<uint64_t>(answer.runsMs, ms);
    return 1;
}

int FakePlatform::CreateHiddenProcess(std::wstring& cmdLine, const std::wstring& dir,
                                      nb::ProcessRef* process, uint32_t* pid) {
    Log("CreateProcess " + U8(cmdLine) + " dir=" + U8(dir));
    bool ok = true;
    if (!createResults.empty()) {
        ok = createResults.front();
        createResults.pop_front();
    }
    if (!ok) return 0;
    nb::ProcessRef h = nextProcess_++;
    openProcesses.insert(h);
    lastProcess = h;
    *process = h;
    *pid = static_cast<uint32_t>(h - 0x1000 + 500);
    return 1;
}

int FakePlatform::QueryExitCode(nb::ProcessRef process, uint32_t* code) {
    if (queryFails.count(process) || !openProcesses.count(process)) return 0;
    auto it = exitCodes.find(process);
    *code = it == exitCodes.end() ? STILL_ACTIVE : it->second;
    return 1;
}

void FakePlatform::CloseProcess(nb::ProcessRef process) { openProcesses.erase(process); }

int FakePlatform::SnapshotProcesses(std::vector<nb::ProcessEntry>& out) {
    Log("Snapshot");
    out = processes;
    return 1;
}

int FakePlatform::TerminateProcessById(uint32_t pid, uint32_t code) {
    Log("Terminate " + std::to_string(pid) + " " + std::to_string(code));
    return 1;
}

int FakePlatform::SetNamedEvent(const std::wstring& name) {
    Log("SetEvent " + U8(name));
    for (const auto& e : shutdownEvents) {
        if (name != L"ap" + std::to_wstring(e.first) + L"_shutdown") continue;
        uint64_t end = e.second == kNever ? kNever : monotonicMs + e.second;
        endsAt[e.first] = end;
        for (const nb::ProcessEntry& p : processes)
            if (p.parentPid == e.first) endsAt[p.pid] = end;
        return 1;
    }
    return 0;
}

nb::ProcessRef FakePlatform::OpenProcessToWait(uint32_t pid, bool* gone) {
    Log("OpenToWait " + std::to_string(pid));
    auto end = endsAt.find(pid);
    const bool ended = end != endsAt.end() && end->second <= monotonicMs;
    if (ended || waitDenied.count(pid)) {
        if (gone != nullptr) *gone = ended;
        return 0;
    }
    nb::ProcessRef h = nextProcess_++;
    openProcesses.insert(h);
    waitHandles_[h] = pid;
    return h;
}

int FakePlatform::ProcessImagePath(uint32_t pid, std::wstring& out) {
    auto it = imagePaths.find(pid);
    if (it == imagePaths.end()) return 0;
    out = it->second;
    return 1;
}

int FakePlatform::WaitAnyProcessEnd(const std::vector<nb::ProcessRef>& handles, uint32_t ms) {
    Log("WaitAny " + std::to_string(handles.size()) + " " + std::to_string(ms));
    int first = -1;
    uint64_t firstEnd = kNever;
    for (std::size_t i = 0; i < handles.size(); ++i) {
        auto end = endsAt.find(waitHandles_[handles[i]]);
        if (end != endsAt.end() && end->second < firstEnd) {
            first = static_cast<int>(i);
            firstEnd = end->second;
        }
    }
    if (first >= 0 && firstEnd <= monotonicMs + ms) {
        monotonicMs = std::max(monotonicMs, firstEnd);
        return first;
    }
    monotonicMs += ms;
    return -1;
}

int FakePlatform::MsgBox(nb::WindowId owner, const std::wstring& text, const wchar_t* caption,
                         uint32_t style) {
    Log(Box(owner, text, caption, style));
    if (onMsgBox) onMsgBox(text);
    if (!answers.empty()) {
        int a = answers.front();
        answers.pop_front();
        return a;
    }
    return (style & 0xF) == MB_YESNO ? IDYES : IDOK;
}

std::uintptr_t FakePlatform::StartTimer(nb::WindowId hwnd, std::uintptr_t id, uint32_t ms) {
    Log("SetTimer " + Hex(hwnd) + " " + std::to_string(id) + " " + std::to_string(ms));
    return timersFail ? 0 : id;
}

int FakePlatform::StopTimer(nb::WindowId hwnd, std::uintptr_t id) {
    Log("KillTimer " + Hex(hwnd) + " " + std::to_string(id));
    return 1;
}

void FakePlatform::MakeTopmost(nb::WindowId hwnd) { Log("Topmost " + Hex(hwnd)); }
void FakePlatform::HideAtOrigin(nb::WindowId hwnd) { Log("HideAtOrigin " + Hex(hwnd)); }
void FakePlatform::ShowWin(nb::WindowId hwnd, int cmd) {
    Log("ShowWindow " + Hex(hwnd) + " " + std::to_string(cmd));
}

void FakePlatform::SetTitle(nb::WindowId hwnd, const std::wstring& title) {
    Log("SetTitle " + Hex(hwnd) + " " + U8(title));
    titles[title] = hwnd;
}

nb::WindowId FakePlatform::FindWindowByTitle(const std::wstring& title) {
    auto it = titles.find(title);
    return it == titles.end() ? 0 : it->second;
}

int FakePlatform::PostMsg(nb::WindowId hwnd, uint32_t msg, std::uintptr_t wp, std::intptr_t lp) {
    Log("Post " + Hex(hwnd) + " " + std::to_string(msg) + " " + std::to_string(wp) + " " +
        std::to_string(lp));
    return 1;
}

std::intptr_t FakePlatform::SendMsg(nb::WindowId hwnd, uint32_t msg, std::uintptr_t wp,
                                    std::intptr_t lp) {
    Log("Send " + Hex(hwnd) + " " + std::to_string(msg) + " " + std::to_string(wp));
    auto it = dialogs.find(hwnd);
    return it == dialogs.end() ? 0 : it->second->WindowProc(msg, wp, lp);
}

nb::WindowId FakePlatform::OwnerOf(nb::WindowId hwnd) {
    auto it = owners.find(hwnd);
    return it == owners.end() ? 0 : it->second;
}

uint32_t FakePlatform::RegisterMessage(const std::wstring& name) {
    Log("RegisterMessage " + U8(name));
    return taskbarCreatedId;
}

int FakePlatform::NotifyIcon(uint32_t op, const nb::NotifyIconRecord& r) {
    static const char* ops[] = {"ADD", "MODIFY", "DELETE"};
    std::string balloon;
    if (r.uFlags & NIF_INFO)
        balloon = " info=" + Hex(r.infoFlags) + " " + U8(r.infoTitle) + ": " + U8(r.info);
    int none = 0;
    int& failures = op == NIM_ADD ? trayAddFailures : op == NIM_MODIFY ? trayModifyFailures : none;
    const bool fails = op != NIM_DELETE && failures > 0;
    Log(std::string("NotifyIcon ") + (op < 3 ? ops[op] : "?") + " " + std::to_string(r.iconId) +
        balloon + (fails ? " failed" : ""));
    if (fails) {
        --failures;
        return 0;
    }
    lastNid = r;
    if (onNotifyIcon) onNotifyIcon(op);
    return 1;
}

int FakePlatform::AllowForegroundTo(nb::WindowId hwnd) {
    auto it = windowPids.find(hwnd);
    Log("AllowForeground " + std::to_string(it == windowPids.end() ? 4242 : it->second));
    return 1;
}

int FakePlatform::AllowMessageFromBelow(nb::WindowId hwnd, uint32_t msg) {
    Log("AllowMessage " + Hex(hwnd) + " " + Hex(msg));
    return 1;
}

// As the system does it: the owner to the foreground, then the first submenu tracked with the
// right button at the cursor, which stands at 10,20.
int FakePlatform::TrackTrayMenu(int menuId, nb::WindowId owner) {
    Log("SetForeground " + Hex(owner));
    Log("TrackMenu " + std::to_string(menuId) + " 0 " + Hex(TPM_RIGHTBUTTON) + " 10,20 " +
        Hex(owner));
    if (onMenu) onMenu();
    return 1;
}

int FakePlatform::OpenUrl(const std::wstring& url) {
    Log("OpenUrl " + U8(url));
    return 1;
}

nb::IconRef FakePlatform::ShellSmallIcon(const std::wstring& path) {
    if (iconFails.count(Key(path))) return 0;
    ++liveIcons;
    return 0x7000 + static_cast<nb::IconRef>(liveIcons);
}

void FakePlatform::DestroyIconRef(nb::IconRef) { --liveIcons; }

int FakePlatform::AppendSystemMenuItem(nb::WindowId hwnd, uint32_t id, const std::wstring& text) {
    Log("SystemMenuItem " + Hex(hwnd) + " " + std::to_string(id) + " " + U8(text));
    return 1;
}

std::wstring FakePlatform::LoadStringResource(uint32_t id) {
    auto it = strings.find(id);
    return it == strings.end() ? std::wstring() : it->second;
}

void FakePlatform::SetWindowIcons(nb::WindowId hwnd, int iconId) {
    Log("SetIcons " + Hex(hwnd) + " " + std::to_string(iconId));
}

void FakePlatform::RemoveAppWindowStyle(nb::WindowId hwnd) { Log("NoAppWindow " + Hex(hwnd)); }
int FakePlatform::PaintIconIfMinimized(nb::WindowId, int) { return 0; }
std::intptr_t FakePlatform::IconHandle(int iconId) { return 0x9000 + iconId; }

nb::WindowId FakePlatform::NewWindow(int templateId, nb::WindowId owner, nb::IMessageTarget* self) {
    nb::WindowId hwnd = nextWindow_++;
    Log("CreateDialog " + std::to_string(templateId) + " owner=" + Hex(owner) + " -> " +
        Hex(hwnd));
    dialogs[hwnd] = self;
    owners[hwnd] = owner;
    self->Attach(hwnd);
    self->WindowProc(WM_CREATE, 0, 0);
    self->WindowProc(WM_INITDIALOG, 0, 0);
    return hwnd;
}

nb::WindowId FakePlatform::CreateDialogWindow(int templateId, nb::WindowId owner, nb::IMessageTarget* self) {
    if (failingTemplates.count(templateId)) {
        Log("CreateDialog " + std::to_string(templateId) + " owner=" + Hex(owner) + " failed");
        return 0;
    }
    return NewWindow(templateId, owner, self);
}

std::intptr_t FakePlatform::RunModalDialog(int templateId, nb::WindowId owner, nb::IMessageTarget* self) {
    nb::WindowId hwnd = NewWindow(templateId, owner, self);
    if (exited) return -1;
    // Every message target of the program is one of the framework's dialogs.
    if (onModal) onModal(templateId, static_cast<CDialog*>(self));
    std::intptr_t result = modalResults.count(hwnd) ? modalResults[hwnd] : -1;
    DestroyWin(hwnd);
    return result;
}

void FakePlatform::EndModal(nb::WindowId hwnd, std::intptr_t result) {
    Log("EndModal " + Hex(hwnd) + " " + std::to_string(result));
    modalResults[hwnd] = result;
}

void FakePlatform::DestroyWin(nb::WindowId hwnd) {
    auto it = dialogs.find(hwnd);
    if (it == dialogs.end()) return;
    Log("DestroyWindow " + Hex(hwnd));
    nb::IMessageTarget* self = it->second;
    // Owned windows go first, as the system does.
    for (auto& [child, owner] : owners)
        if (owner == hwnd && dialogs.count(child)) DestroyWin(child);
    self->WindowProc(WM_DESTROY, 0, 0);
    // Its list views go with it, and with each the image list it holds.
    for (auto it2 = listImages.begin(); it2 != listImages.end();) {
        if (it2->first / 0x10000 == hwnd) {
            ImageListDestroy(it2->second);
            it2 = listImages.erase(it2);
        } else {
            ++it2;
        }
    }
    self->Detach();
    dialogs.erase(hwnd);
}

std::intptr_t FakePlatform::DefaultProc(nb::WindowId, uint32_t, std::uintptr_t, std::intptr_t) {
    return 0;
}

nb::WindowId FakePlatform::DialogItem(nb::WindowId dialog, int id) {
    return dialog * 0x10000 + static_cast<nb::WindowId>(id);
}

nb::ImageListRef FakePlatform::ImageListCreate(int cx, int cy, uint32_t flags, int initial,
                                               int grow) {
    Log("ImageListCreate " + std::to_string(cx) + "x" + std::to_string(cy) + " " + Hex(flags) +
        " " + std::to_string(initial) + " " + std::to_string(grow));
    if (imageListFails) return 0;
    imageCount = 0;
    return 0x5000;
}

void FakePlatform::ImageListDestroy(nb::ImageListRef list) { Log("ImageListDestroy " + Hex(list)); }

int FakePlatform::ImageListAddIcon(nb::ImageListRef list, nb::IconRef) {
    if (list == 0) return -1;
    return imageCount++;
}

int FakePlatform::ImageListCount(nb::ImageListRef list) { return list == 0 ? 0 : imageCount; }

int FakePlatform::ListSetSmallImages(nb::WindowId list, nb::ImageListRef images) {
    Log("ListSetImageList " + Hex(list) + " " + Hex(images));
    if (list == 0 || images == 0) return 0;
    listImages[list] = images;
    return 1;
}

int FakePlatform::ListInsertColumn(nb::WindowId list, int column, const std::wstring& title,
                                   int width) {
    Log("ListInsertColumn " + Hex(list) + " " + std::to_string(column) + " " + U8(title) + " " +
        std::to_string(width));
    return column;
}

int FakePlatform::ListInsertItem(nb::WindowId list, int index, const std::wstring& text,
                                 int image) {
    Log("ListInsertItem " + std::to_string(index) + " " + U8(text) + " " + std::to_string(image));
    auto& rows = lists[list];
    std::size_t at = std::min(rows.size(), static_cast<std::size_t>(std::max(index, 0)));
    rows.insert(rows.begin() + static_cast<std::ptrdiff_t>(at), Row{text, image, false});
    return static_cast<int>(at);
}

std::vector<int> FakePlatform::SelectedRows(nb::WindowId list) {
    std::vector<int> selected;
    const auto& rows = lists[list];
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (rows[i].selected) selected.push_back(static_cast<int>(i));
    return selected;
}

std::wstring FakePlatform::ListItemText(nb::WindowId list, int index) {
    return lists[list].at(static_cast<std::size_t>(index)).text;
}

int FakePlatform::ListDeleteItem(nb::WindowId list, int index) {
    Log("ListDeleteItem " + std::to_string(index));
    auto& rows = lists[list];
    rows.erase(rows.begin() + index);
    return 1;
}
