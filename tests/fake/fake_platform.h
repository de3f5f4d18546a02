// A scripted stand-in for the operating system. Every call is recorded, in order, as one
// line of text ("Sleep 2000", "MsgBox owner=0x101 style=0x10 caption=Nimbara text=..."),
// so a test can assert a whole sequence; answers come from the public fields below.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace nb {
class CDialog;
}
using namespace nb;

std::string U8(const std::wstring& w);
std::wstring W(const std::string& utf8);
std::string Hex(std::uintptr_t v);

class FakePlatform : public nb::IFiles,
                     public nb::IProcesses,
                     public nb::ISockets,
                     public nb::IWindows,
                     public nb::IDialogs,
                     public nb::IShell {
public:
    FakePlatform();   // installs itself as the platform
    ~FakePlatform();

    // --- what happened ---------------------------------------------------------------------
    std::vector<std::string> calls;
    // Only the calls whose first word is one of these.
    std::vector<std::string> Only(std::initializer_list<const char*> kinds) const;
    std::vector<std::string> Boxes() const { return Only({"MsgBox"}); }
    void Clear() { calls.clear(); }
    static std::string Box(nb::WindowId owner, const std::wstring& text, const wchar_t* caption,
                           uint32_t style);

    // --- the scripted world ----------------------------------------------------------------
    std::wstring modulePath = L"C:\\nimbara\\bin\\nbmonitor.exe";
    bool moduleFails = false;
    std::wstring currentDir = L"C:\\nimbara\\bin";
    bool currentDirFails = false;
    bool socketsFail = false;
    uint16_t grantedVersion = 0;  // 0: grant what is asked
    bool mutexExists = false;
    bool ansiFails = false;
    std::map<uint32_t, std::wstring> strings;

    // Settings: key "section/key" -> text. The file name of the last read is kept.
    std::map<std::wstring, std::wstring> profile;
    std::wstring lastProfileFile;

    // Files, keyed by path with repeated separators folded and case ignored.
    std::map<std::wstring, std::string> files;
    std::set<std::wstring> unwritable;      // paths whose replacement (or append) fails
    // A reader holds the file open until this monotonic time: as on NTFS, it cannot be
    // replaced meanwhile (TargetBusy).
    std::map<std::wstring, uint64_t> heldUntil;
    nb::WriteError writeError = nb::WriteError::CannotOpen;  // what a failed replacement says
    std::set<std::wstring> undeletable;
    std::set<std::wstring> locked;  // paths that cannot be opened for reading
    std::map<std::wstring, std::vector<nb::FindEntry>> folders;  // pattern -> entries
    bool HasFile(const std::wstring& path) const;
    std::string& File(const std::wstring& path);
    static std::wstring Key(const std::wstring& path);

    // Sockets.
    std::set<uint16_t> takenPorts;        // bind fails
    std::set<uint16_t> listenFailPorts;   // bind works, listen fails
    int probes = 0;
    // Other programs' listeners, as Windows' bind table ("Using SO_REUSEADDR and
    // SO_EXCLUSIVEADDRUSE") treats a bind without options beside them: to a specific address
    // it fails beside one on that address or an exclusive wildcard one, not beside a plain
    // wildcard one; to the wildcard address it fails beside any wildcard one. Connections in
    // TIME_WAIT (a restarted server's) stop neither, so they are not modelled.
    struct Listener {
        std::string address;  // "0.0.0.0", "::" or a specific one
        bool exclusive = false;
    };
    std::multimap<uint16_t, Listener> listeners;
    std::function<bool(uint16_t port)> connectAnswers = [](uint16_t) { return true; };
    // Connections begun without waiting: whether they begin, and what each receive gives in
    // turn (an empty string: the peer has closed; none left: nothing there now).
    bool beginConnectFails = false;
    std::deque<std::string> received;
    int liveSockets = 0;

    // Processes.
    std::deque<bool> createResults;       // next CreateProcess outcomes; empty: succeed
    std::map<nb::ProcessRef, uint32_t> exitCodes;  // default STILL_ACTIVE
    std::set<nb::ProcessRef> queryFails;
    std::set<nb::ProcessRef> openProcesses;
    std::vector<nb::ProcessEntry> processes;
    nb::ProcessRef lastProcess = 0;
    // Programs run for their output: what each gives in turn (none left: exit 0, no output)
    // and how long it runs (the monotonic clock moves by the smaller of that and the bound).
    struct OutputAnswer {
        std::string output;
        uint32_t exitCode = 0;
        uint64_t runsMs = 10;
    };
    std::deque<OutputAnswer> outputRuns;
    void KillLastProcess(uint32_t code = 1) { exitCodes[lastProcess] = code; }
    // Graceful stops: a pid listed here has the event ap<pid>_shutdown and ends that many ms
    // after it is set (kNever: it never does); its children (parentPid) end with it. Other
    // processes never end by themselves.
    static constexpr uint64_t kNever = ~0ull;
    std::map<uint32_t, uint64_t> shutdownEvents;
    std::map<uint32_t, uint64_t> endsAt;  // monotonic time of a signalled process's end
    std::set<uint32_t> waitDenied;        // running, but cannot be opened to wait (access denied)
    std::map<uint32_t, std::wstring> imagePaths;  // pid -> full executable path; none: cannot ask

    // Boxes: answers in order; empty gives IDOK (MB_OK) or IDYES (MB_YESNO).
    std::deque<int> answers;
    std::function<void(const std::wstring& text)> onMsgBox;
    std::function<void(uint32_t ms)> onSleep;
    std::function<void(uint32_t op)> onNotifyIcon;  // sent messages arrive inside Shell_NotifyIconW
    bool timersFail = false;
    // The clock: fixed wall time; the monotonic one moves with every Sleep.
    nb::LocalTime now{2026, 12, 8, 23, 55, 1, 123, 9 * 60};
    uint64_t monotonicMs = 1000000;
    // Lines appended to files (the supervision log), as "Log <line without CR LF>" calls too.
    std::vector<std::string> LogLines() const;
    bool exited = false;
    uint32_t errorMode = 0;
    uint32_t exitCode = 0;

    // Windows and dialogs.
    std::map<nb::WindowId, nb::IMessageTarget*> dialogs;
    std::map<nb::WindowId, nb::WindowId> owners;
    std::map<std::wstring, nb::WindowId> titles;
    std::map<nb::WindowId, std::intptr_t> modalResults;
    std::function<void(int templateId, CDialog* dlg)> onModal;
    std::function<void()> onMenu;
    std::set<int> failingTemplates;  // CreateDialogWindow fails for these
    nb::NotifyIconRecord lastNid;
    // The taskbar refuses this many NIM_ADD (NIM_MODIFY) calls before it takes one.
    int trayAddFailures = 0;
    int trayModifyFailures = 0;
    std::map<nb::WindowId, uint32_t> windowPids;  // the process owning a window; default 4242
    uint32_t taskbarCreatedId = 0xC0DE;

    // Shell icons, image lists and list views.
    std::set<std::wstring> iconFails;
    int liveIcons = 0;
    bool imageListFails = false;
    int imageCount = 0;
    struct Row {
        std::wstring text;
        int image = 0;
        bool selected = false;
    };
    std::map<nb::WindowId, std::vector<Row>> lists;
    std::map<nb::WindowId, nb::ImageListRef> listImages;  // a list view owns these
    std::vector<std::wstring> ListTexts(nb::WindowId list) const;
    void Select(nb::WindowId list, std::initializer_list<int> rows);

    // --- the door's roles -----------------------------------------------------------------------
    int ModulePath(std::wstring& out, std::size_t maxChars) override;
    int CurrentDirectory(std::wstring& out, std::size_t bufChars) override;
    int InitCommonControls(uint32_t icc) override;
    int SocketsStartup(uint16_t version, uint16_t* granted) override;
    void SocketsCleanup() override;
    int CreateInstanceMutex(const std::wstring& name, bool* alreadyExisted) override;
    void EndProcess(uint32_t code) override;
    void SleepMs(uint32_t ms) override;
    uint32_t CurrentProcessId() override { return 4242; }
    uint32_t AddErrorMode(uint32_t bits) override;
    uint64_t MonotonicMs() override { return monotonicMs; }
    nb::LocalTime Now() override { return now; }
    uint32_t ProfileInt(const wchar_t* section, const wchar_t* key, int def,
                        const wchar_t* file) override;
    std::wstring ProfileString(const wchar_t* section, const wchar_t* key, const wchar_t* def,
                               const wchar_t* file, std::size_t bufChars) override;
    int ReadWholeFile(const std::wstring& path, std::string& bytes) override;
    int ReplaceFileContent(const std::wstring& path, const std::string& bytes,
                           nb::WriteError* error) override;
    int AppendToFile(const std::wstring& path, const std::string& bytes) override;
    int ReadFileFrom(const std::wstring& path, int64_t offset, std::size_t maxBytes,
                     std::string& bytes) override;
    int64_t FileSize(const std::wstring& path) override;
    int RenameReplacing(const std::wstring& from, const std::wstring& to) override;
    int MakeFolder(const std::wstring& path) override;
    int RemoveFile(const std::wstring& path) override;
    int ListFolder(const std::wstring& pattern, std::vector<nb::FindEntry>& out) override;
    int WideToAnsi(const std::wstring& text, std::string& out, std::size_t bufBytes) override;
    nb::ProbeResult ProbeListen(const std::string& address, uint16_t port, int backlog) override;
    int WildcardBindFree(uint16_t port) override;
    int TryConnect(const char* address, uint16_t port) override;
    int BeginConnect(nb::WindowId hwnd, uint32_t msg, const char* address, uint16_t port,
                     nb::SocketRef* socket) override;
    int SocketSend(nb::SocketRef socket, const std::string& bytes) override;
    int SocketReceive(nb::SocketRef socket, std::string& bytes, std::size_t maxBytes) override;
    void CloseSocket(nb::SocketRef socket) override;
    int CreateHiddenProcess(std::wstring& cmdLine, const std::wstring& dir,
                            nb::ProcessRef* process, uint32_t* pid) override;
    int RunForOutput(std::wstring& cmdLine, const std::wstring& dir, uint32_t ms, std::size_t maxOutput,
                     nb::OutputRun* run) override;
    int QueryExitCode(nb::ProcessRef process, uint32_t* code) override;
    void CloseProcess(nb::ProcessRef process) override;
    int SnapshotProcesses(std::vector<nb::ProcessEntry>& out) override;
    int TerminateProcessById(uint32_t pid, uint32_t code) override;
    int SetNamedEvent(const std::wstring& name) override;
    nb::ProcessRef OpenProcessToWait(uint32_t pid, bool* gone) override;
    int ProcessImagePath(uint32_t pid, std::wstring& out) override;
    int WaitAnyProcessEnd(const std::vector<nb::ProcessRef>& processes, uint32_t ms) override;
    int MsgBox(nb::WindowId owner, const std::wstring& text, const wchar_t* caption,
               uint32_t style) override;
    std::uintptr_t StartTimer(nb::WindowId hwnd, std::uintptr_t id, uint32_t ms) override;
    int StopTimer(nb::WindowId hwnd, std::uintptr_t id) override;
    void MakeTopmost(nb::WindowId hwnd) override;
    void HideAtOrigin(nb::WindowId hwnd) override;
    void ShowWin(nb::WindowId hwnd, int cmd) override;
    void SetTitle(nb::WindowId hwnd, const std::wstring& title) override;
    nb::WindowId FindWindowByTitle(const std::wstring& title) override;
    int PostMsg(nb::WindowId hwnd, uint32_t msg, std::uintptr_t wp, std::intptr_t lp) override;
    std::intptr_t SendMsg(nb::WindowId hwnd, uint32_t msg, std::uintptr_t wp,
                          std::intptr_t lp) override;
    nb::WindowId OwnerOf(nb::WindowId hwnd) override;
    uint32_t RegisterMessage(const std::wstring& name) override;
    int AllowForegroundTo(nb::WindowId hwnd) override;
    int AllowMessageFromBelow(nb::WindowId hwnd, uint32_t msg) override;
    int NotifyIcon(uint32_t op, const nb::NotifyIconRecord& record) override;
    int TrackTrayMenu(int menuId, nb::WindowId owner) override;
    int OpenUrl(const std::wstring& url) override;
    nb::IconRef ShellSmallIcon(const std::wstring& path) override;
    void DestroyIconRef(nb::IconRef icon) override;
    int AppendSystemMenuItem(nb::WindowId hwnd, uint32_t id, const std::wstring& text) override;
    std::wstring LoadStringResource(uint32_t id) override;
    void SetWindowIcons(nb::WindowId hwnd, int iconId) override;
    void RemoveAppWindowStyle(nb::WindowId hwnd) override;
    int PaintIconIfMinimized(nb::WindowId hwnd, int iconId) override;
    std::intptr_t IconHandle(int iconId) override;
    nb::WindowId CreateDialogWindow(int templateId, nb::WindowId owner, nb::IMessageTarget* self) override;
    std::intptr_t RunModalDialog(int templateId, nb::WindowId owner, nb::IMessageTarget* self) override;
    void EndModal(nb::WindowId hwnd, std::intptr_t result) override;
    void DestroyWin(nb::WindowId hwnd) override;
    std::intptr_t DefaultProc(nb::WindowId hwnd, uint32_t msg, std::uintptr_t wp,
                              std::intptr_t lp) override;
    nb::WindowId DialogItem(nb::WindowId dialog, int id) override;
    nb::ImageListRef ImageListCreate(int cx, int cy, uint32_t flags, int initial,
                                     int grow) override;
    void ImageListDestroy(nb::ImageListRef list) override;
    int ImageListAddIcon(nb::ImageListRef list, nb::IconRef icon) override;
    int ImageListCount(nb::ImageListRef list) override;
    int ListSetSmallImages(nb::WindowId list, nb::ImageListRef images) override;
    int ListInsertColumn(nb::WindowId list, int column, const std::wstring& title,
                         int width) override;
    int ListInsertItem(nb::WindowId list, int index, const std::wstring& text,
                       int image) override;
    std::vector<int> SelectedRows(nb::WindowId list) override;
    std::wstring ListItemText(nb::WindowId list, int index) override;
    int ListDeleteItem(nb::WindowId list, int index) override;

private:
    void Log(const std::string& line) { calls.push_back(line); }
    const std::wstring* ProfileValue(const wchar_t* section, const wchar_t* key, const wchar_t* file);
    std::wstring profileRead;
    nb::WindowId NewWindow(int templateId, nb::WindowId owner, nb::IMessageTarget* self);

    nb::WindowId nextWindow_ = 0x101;
    nb::ProcessRef nextProcess_ = 0x1000;
    nb::SocketRef nextSocket_ = 0x6000;
    std::map<nb::ProcessRef, uint32_t> waitHandles_;  // handle -> pid
};
