// The one door between the program's logic and the operating system. The logic calls only
// what is declared here; platform/win32 implements it over the Win32 API (the only code that
// includes windows.h) and tests/fake implements it with recorded calls and scripted answers.
//
// Conventions: operations that can fail return int 1 on success and 0 on failure, and no
// operation throws. On failure, out-parameters are left untouched.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/scoped_handle.h"
#include "platform/winapi_values.h"

namespace nb {

// Opaque handles as the logic sees them; 0 is "none" for all of them.
using WindowId = std::uintptr_t;     // HWND
using ProcessRef = std::uintptr_t;   // process HANDLE
using ImageListRef = std::uintptr_t; // HIMAGELIST
using IconRef = std::uintptr_t;      // HICON
using SocketRef = std::uintptr_t;    // SOCKET

struct FindEntry {
    std::wstring name;
    bool directory = false;
};

struct ProcessEntry {
    uint32_t pid = 0;
    std::wstring exeName;  // file name only, as the process snapshot gives it
    uint32_t parentPid = 0;  // the process that created it (it may have ended since)
};

// What the logic puts into the notification-area record; the Win32 layer turns iconId into
// a shared icon loaded from the program's own resources.
struct NotifyIconRecord {
    uint32_t cbSize = 0;
    WindowId hWnd = 0;
    uint32_t uID = 0;
    uint32_t uFlags = 0;
    uint32_t uCallbackMessage = 0;
    int iconId = 0;
    std::wstring tip;
    // A balloon, used only when uFlags holds NIF_INFO.
    std::wstring info;
    std::wstring infoTitle;
    uint32_t infoFlags = 0;
};

// Outcome of opening a listening socket on one port (socket, bind, listen, close).
enum class ProbeResult { NoSocket, BindFailed, ListenFailed, Listening };

// Local wall-clock time, and its offset from UTC in minutes (east positive).
struct LocalTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
    int utcOffsetMinutes = 0;
};

// Why a file replacement failed, for the supervision log. TargetBusy: the target could not
// be replaced because another program had it open (a sharing violation or access denied at
// the replacing step), which may pass in a moment.
enum class WriteError { None, CannotOpen, ShortWrite, CannotReplace, TargetBusy };

// What a program run for its output left behind (RunForOutput).
struct OutputRun {
    uint32_t pid = 0;
    uint32_t exitCode = 0;
    bool ended = false;  // it ran past its bound and was ended
    std::string output;  // standard output and error, in the order written, cut to the bound
};

struct QueuedMessage {  // one message as the modal loop sees it before dispatch
    WindowId hwnd = 0;
    uint32_t message = 0;
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
};

// What a dialog window's messages are delivered to: the window framework's dialog class
// implements it, so that this layer knows nothing above itself.
class IMessageTarget {
public:
    // Every message of the window, from WM_CREATE on; returns the message's result.
    virtual std::intptr_t WindowProc(uint32_t msg, std::uintptr_t wp, std::intptr_t lp) = 0;
    // Offered every message of a modal loop before dispatch; true consumes it.
    virtual bool PreTranslateMessage(const QueuedMessage& msg) = 0;
    // The window has come to be (first message) / is gone (after WM_NCDESTROY).
    virtual void Attach(WindowId hwnd) = 0;
    virtual void Detach() = 0;

protected:
    ~IMessageTarget() = default;
};

// The longest path the system gives for a module (its extended-length limit).
constexpr std::size_t kMaxModulePathChars = 32767;

class IPlatform {
public:
    virtual ~IPlatform() = default;

    // --- process and environment ---------------------------------------------------------
    // Full path of the running executable, cut to maxChars characters; 0 when unavailable.
    virtual int ModulePath(std::wstring& out, std::size_t maxChars) = 0;
    // Current directory; 0 when it fails or needs bufChars characters or more.
    virtual int CurrentDirectory(std::wstring& out, std::size_t bufChars) = 0;
    virtual int InitCommonControls(uint32_t iccClasses) = 0;
    // WSAStartup; *granted receives the version the library offers. 0 when the call fails.
    virtual int SocketsStartup(uint16_t version, uint16_t* granted) = 0;
    virtual void SocketsCleanup() = 0;
    // Creates (or opens) the named mutex, initially owned; it lives until the process ends.
    // *alreadyExisted tells whether another process had created it. 0 when creation failed.
    virtual int CreateInstanceMutex(const std::wstring& name, bool* alreadyExisted) = 0;
    virtual void EndProcess(uint32_t exitCode) = 0;
    virtual void SleepMs(uint32_t ms) = 0;
    virtual uint32_t CurrentProcessId() = 0;
    // Adds the bits to the process's error mode (SetErrorMode), keeping those already set;
    // the processes it starts inherit the mode. Returns the mode now in force.
    virtual uint32_t AddErrorMode(uint32_t bits) = 0;
    // Milliseconds on a clock that only moves forward (for durations).
    virtual uint64_t MonotonicMs() = 0;
    virtual LocalTime Now() = 0;

    // --- settings (private-profile reads) ------------------------------------------------
    virtual uint32_t ProfileInt(const wchar_t* section, const wchar_t* key, int defaultValue,
                                const wchar_t* file) = 0;
    // The text read is cut to bufChars - 1 characters, as the Win32 call does.
    virtual std::wstring ProfileString(const wchar_t* section, const wchar_t* key,
                                       const wchar_t* defaultValue, const wchar_t* file,
                                       std::size_t bufChars) = 0;

    // --- files ---------------------------------------------------------------------------
    // Reads the whole file as bytes, opened for reading without sharing.
    virtual int ReadWholeFile(const std::wstring& path, std::string& bytes) = 0;
    // Replaces the file with exactly these bytes, or leaves it as it was: the content goes to
    // a temporary file in the same folder, which then takes the target's place. On failure,
    // *error (when given) says which step failed.
    virtual int ReplaceFileContent(const std::wstring& path, const std::string& bytes,
                                   WriteError* error = nullptr) = 0;
    // Appends the bytes to the file (made when missing), opened for this one write with
    // sharing that lets others read, write, rename and delete it meanwhile.
    virtual int AppendToFile(const std::wstring& path, const std::string& bytes) = 0;
    // Reads at most maxBytes from byte offset on, the file opened with every sharing so that
    // a program writing it may keep it open. 0 when it cannot be opened or read.
    virtual int ReadFileFrom(const std::wstring& path, int64_t offset, std::size_t maxBytes,
                             std::string& bytes) = 0;
    // Size of the file in bytes; -1 when it is not there or cannot be asked.
    virtual int64_t FileSize(const std::wstring& path) = 0;
    // Renames a file, replacing the target when it exists.
    virtual int RenameReplacing(const std::wstring& from, const std::wstring& to) = 0;
    virtual int MakeFolder(const std::wstring& path) = 0;
    virtual int RemoveFile(const std::wstring& path) = 0;
    // Every entry matching the pattern, in the order the system enumerates them ("." and ".."
    // included). 0 when the first search fails.
    virtual int ListFolder(const std::wstring& pattern, std::vector<FindEntry>& out) = 0;
    // WideCharToMultiByte to the ANSI code page into a buffer of bufBytes (terminator
    // included); 0 when the conversion fails.
    virtual int WideToAnsi(const std::wstring& text, std::string& out, std::size_t bufBytes) = 0;

    // --- sockets -------------------------------------------------------------------------
    virtual ProbeResult ProbeListen(const std::string& ansiAddress, uint16_t port,
                                    int backlog) = 0;
    // Binds a fresh socket without options to the port on the wildcard address (0.0.0.0, and
    // :: where the system has IPv6) and closes it: 1 when every bind succeeds, 0 when one is
    // refused (someone listens there on every address).
    virtual int WildcardBindFree(uint16_t port) = 0;
    // One TCP connection attempt on a fresh socket, closed again at once.
    virtual int TryConnect(const char* ipv4Address, uint16_t port) = 0;
    // A TCP connection begun without waiting: a non-blocking socket whose connect, read and
    // close events arrive at hwnd as message msg (WSAAsyncSelect: wParam the socket, the low
    // word of lParam the event FD_*, its high word the error). The caller owns *socket
    // (ScopedSocketRef). 0 when the attempt could not even begin.
    virtual int BeginConnect(WindowId hwnd, uint32_t msg, const char* ipv4Address,
                             uint16_t port, SocketRef* socket) = 0;
    // Bytes sent (possibly fewer than given), -1 on failure.
    virtual int SocketSend(SocketRef socket, const std::string& bytes) = 0;
    // Appends what has arrived, at most maxBytes; returns their number, 0 when the peer has
    // closed, -1 when nothing is there now or the connection failed.
    virtual int SocketReceive(SocketRef socket, std::string& bytes, std::size_t maxBytes) = 0;
    virtual void CloseSocket(SocketRef socket) = 0;

    // --- processes -----------------------------------------------------------------------
    // CreateProcessW with a hidden window, no inherited handles and NORMAL_PRIORITY_CLASS.
    // The caller owns *process (CloseProcess). cmdLine may be changed by the system.
    virtual int CreateHiddenProcess(std::wstring& cmdLine, const std::wstring& currentDir,
                                    ProcessRef* process, uint32_t* pid) = 0;
    // Runs the command line hidden with standard output and error into one pipe, whose
    // writing end is the only handle it inherits (the one launch with redirected handles),
    // keeps at most maxOutput bytes of what it writes, and ends it when it runs longer than
    // ms. Waits for it. 0 when it could not be started.
    virtual int RunForOutput(std::wstring& cmdLine, const std::wstring& currentDir, uint32_t ms,
                             std::size_t maxOutput, OutputRun* run) = 0;
    virtual int QueryExitCode(ProcessRef process, uint32_t* code) = 0;
    virtual void CloseProcess(ProcessRef process) = 0;
    virtual int SnapshotProcesses(std::vector<ProcessEntry>& out) = 0;
    // OpenProcess(PROCESS_ALL_ACCESS) + TerminateProcess + CloseHandle.
    virtual int TerminateProcessById(uint32_t pid, uint32_t exitCode) = 0;
    // Opens an existing named event of the session (EVENT_MODIFY_STATE) and sets it; 0 when
    // there is no event of that name or it cannot be set. Never creates one.
    virtual int SetNamedEvent(const std::wstring& name) = 0;
    // A handle that only waits for the process's end (SYNCHRONIZE); the caller owns it
    // (CloseProcess). 0 when the process cannot be opened; then *gone (when given) tells
    // whether it has ended (no such process, or its exit code is known) rather than being
    // out of reach (access denied).
    virtual ProcessRef OpenProcessToWait(uint32_t pid, bool* gone = nullptr) = 0;
    // Full path of the process's executable; 0 when it cannot be asked.
    virtual int ProcessImagePath(uint32_t pid, std::wstring& out) = 0;
    // Waits until one of the processes has ended, at most ms milliseconds; returns the index
    // of one that has ended, -1 when the time ran out or the wait failed.
    virtual int WaitAnyProcessEnd(const std::vector<ProcessRef>& processes, uint32_t ms) = 0;

    // --- windows, boxes, timers ----------------------------------------------------------
    // caption may be null: the system then shows the application title.
    virtual int MsgBox(WindowId owner, const std::wstring& text, const wchar_t* caption,
                       uint32_t style) = 0;
    virtual std::uintptr_t StartTimer(WindowId hwnd, std::uintptr_t id, uint32_t ms) = 0;
    virtual int StopTimer(WindowId hwnd, std::uintptr_t id) = 0;
    virtual void MakeTopmost(WindowId hwnd) = 0;       // HWND_TOPMOST, SWP_NOMOVE|SWP_NOSIZE
    virtual void HideAtOrigin(WindowId hwnd) = 0;      // HWND_TOP, 0,0,0,0, SWP_HIDEWINDOW
    virtual void ShowWin(WindowId hwnd, int showCmd) = 0;
    virtual void SetTitle(WindowId hwnd, const std::wstring& title) = 0;
    virtual WindowId FindWindowByTitle(const std::wstring& title) = 0;
    virtual int PostMsg(WindowId hwnd, uint32_t msg, std::uintptr_t wp, std::intptr_t lp) = 0;
    virtual std::intptr_t SendMsg(WindowId hwnd, uint32_t msg, std::uintptr_t wp,
                                  std::intptr_t lp) = 0;
    // The owner of a popup window (GetParent), 0 when none.
    virtual WindowId OwnerOf(WindowId hwnd) = 0;
    virtual uint32_t RegisterMessage(const std::wstring& name) = 0;
    // Lets the process that owns the window take the foreground (AllowSetForegroundWindow
    // with that process's id), before a message asks it to show something. 0 on failure.
    virtual int AllowForegroundTo(WindowId hwnd) = 0;
    // Lets the message reach the window from processes of a lower integrity level
    // (ChangeWindowMessageFilterEx); 0 where the system has no such call or it fails.
    virtual int AllowMessageFromBelow(WindowId hwnd, uint32_t msg) = 0;

    // --- shell ---------------------------------------------------------------------------
    virtual int NotifyIcon(uint32_t operation, const NotifyIconRecord& record) = 0;
    virtual void CursorPos(int* x, int* y) = 0;
    virtual void BringToForeground(WindowId hwnd) = 0;
    // Loads the menu resource, tracks its submenu at (x, y) for owner, destroys it again.
    virtual int TrackMenu(int menuId, int subMenu, uint32_t flags, int x, int y,
                          WindowId owner) = 0;
    // ShellExecuteW(NULL, "open", url, NULL, "", SW_SHOW).
    virtual int OpenUrl(const std::wstring& url) = 0;
    // SHGetFileInfoW small icon; the caller owns the icon (DestroyIconRef). 0 on failure.
    virtual IconRef ShellSmallIcon(const std::wstring& path) = 0;
    virtual void DestroyIconRef(IconRef icon) = 0;

    // --- host window details ---------------------------------------------------------------
    // Appends a separator and the item to the system menu; 0 when there is no system menu.
    virtual int AppendSystemMenuItem(WindowId hwnd, uint32_t id, const std::wstring& text) = 0;
    virtual std::wstring LoadStringResource(uint32_t id) = 0;
    virtual void SetWindowIcons(WindowId hwnd, int iconId) = 0;  // WM_SETICON big, then small
    virtual void RemoveAppWindowStyle(WindowId hwnd) = 0;
    virtual int IsMinimized(WindowId hwnd) = 0;
    virtual void PaintCentredIcon(WindowId hwnd, int iconId) = 0;
    virtual std::intptr_t IconHandle(int iconId) = 0;

    // --- dialogs: the framework's glue -----------------------------------------------------
    // Creates a modeless dialog from the template; every message of the new window, from
    // WM_CREATE on, goes to self->WindowProc. Returns the window, 0 on failure.
    virtual WindowId CreateDialogWindow(int templateId, WindowId owner, IMessageTarget* self) = 0;
    // Runs the dialog modally: its own loop, which offers each message to
    // self->PreTranslateMessage first. Returns the value given to EndModal, -1 on failure.
    virtual std::intptr_t RunModalDialog(int templateId, WindowId owner,
                                         IMessageTarget* self) = 0;
    virtual void EndModal(WindowId hwnd, std::intptr_t result) = 0;
    virtual void DestroyWin(WindowId hwnd) = 0;
    virtual std::intptr_t DefaultProc(WindowId hwnd, uint32_t msg, std::uintptr_t wp,
                                      std::intptr_t lp) = 0;
    virtual WindowId DialogItem(WindowId dialog, int id) = 0;

    // --- list view and image list --------------------------------------------------------
    virtual ImageListRef ImageListCreate(int cx, int cy, uint32_t flags, int initial,
                                         int grow) = 0;
    virtual void ImageListDestroy(ImageListRef list) = 0;
    virtual int ImageListAddIcon(ImageListRef list, IconRef icon) = 0;  // index, or -1
    virtual int ImageListCount(ImageListRef list) = 0;
    // LVM_SETIMAGELIST (LVSIL_SMALL). 1 when the list view now holds the image list: it then
    // owns it (no LVS_SHAREIMAGELISTS) and destroys it with itself.
    virtual int ListSetSmallImages(WindowId list, ImageListRef images) = 0;
    virtual int ListInsertColumn(WindowId list, int column, const std::wstring& title,
                                 int width) = 0;
    // Inserts a row (text, image, lParam 0); returns its index or -1.
    virtual int ListInsertItem(WindowId list, int index, const std::wstring& text,
                               int image) = 0;
    // Indices of the selected rows, lowest first.
    virtual std::vector<int> SelectedRows(WindowId list) = 0;
    virtual std::wstring ListItemText(WindowId list, int index) = 0;
    virtual int ListDeleteItem(WindowId list, int index) = 0;
};

// The platform the program runs on. The Win32 entry point installs the real one; tests
// install a fake for each case.
IPlatform& Os();
void SetPlatform(IPlatform* platform);

// Owners for the opaque handles the logic keeps.
struct ProcessTraits {
    using Handle = ProcessRef;
    static Handle Invalid() { return 0; }
    static bool IsValid(Handle h) { return h != 0; }
    static void Close(Handle h) { Os().CloseProcess(h); }
};
using ScopedProcess = ScopedHandle<ProcessTraits>;

struct ImageListTraits {
    using Handle = ImageListRef;
    static Handle Invalid() { return 0; }
    static bool IsValid(Handle h) { return h != 0; }
    static void Close(Handle h) { Os().ImageListDestroy(h); }
};
using ScopedImageList = ScopedHandle<ImageListTraits>;

struct IconTraits {
    using Handle = IconRef;
    static Handle Invalid() { return 0; }
    static bool IsValid(Handle h) { return h != 0; }
    static void Close(Handle h) { Os().DestroyIconRef(h); }
};
using ScopedIcon = ScopedHandle<IconTraits>;

struct SocketRefTraits {
    using Handle = SocketRef;
    static Handle Invalid() { return 0; }
    static bool IsValid(Handle h) { return h != 0; }
    static void Close(Handle h) { Os().CloseSocket(h); }
};
using ScopedSocketRef = ScopedHandle<SocketRefTraits>;

}  // namespace nb
