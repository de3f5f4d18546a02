// The door (platform.h) over the real Win32 API, one class per role: what nbmonitor.exe
// installs at start, and what the Wine tests exercise.
#pragma once

#include <map>
#include <string>

#include "platform/file_paths.h"
#include "platform/platform.h"

namespace nb {
namespace win {

class Win32Files : public IFiles {
public:
    // settings
    uint32_t ProfileInt(const wchar_t* section, const wchar_t* key, int defaultValue,
                        const wchar_t* file) override;
    std::wstring ProfileString(const wchar_t* section, const wchar_t* key,
                               const wchar_t* defaultValue, const wchar_t* file,
                               std::size_t bufChars) override;
    // files
    int ReadWholeFile(const std::wstring& path, std::string& bytes) override;
    int ReplaceFileContent(const std::wstring& path, const std::string& bytes,
                           WriteError* error = nullptr) override;
    int AppendToFile(const std::wstring& path, const std::string& bytes) override;
    int ReadFileFrom(const std::wstring& path, int64_t offset, std::size_t maxBytes,
                     std::string& bytes) override;
    int64_t FileSize(const std::wstring& path) override;
    int RenameReplacing(const std::wstring& from, const std::wstring& to) override;
    int MakeFolder(const std::wstring& path) override;
    int RemoveFile(const std::wstring& path) override;
    int ListFolder(const std::wstring& pattern, std::vector<FindEntry>& out) override;
    int WideToAnsi(const std::wstring& text, std::string& out, std::size_t bufBytes) override;
};

class Win32Processes : public IProcesses {
public:
    // process and environment
    int ModulePath(std::wstring& out, std::size_t maxChars) override;
    int CurrentDirectory(std::wstring& out, std::size_t bufChars) override;
    int CreateInstanceMutex(const std::wstring& name, bool* alreadyExisted) override;
    void EndProcess(uint32_t exitCode) override;
    void SleepMs(uint32_t ms) override;
    uint32_t CurrentProcessId() override;
    uint32_t AddErrorMode(uint32_t bits) override;
    uint64_t MonotonicMs() override;
    LocalTime Now() override;
    // processes
    int CreateHiddenProcess(std::wstring& cmdLine, const std::wstring& currentDir,
                            ProcessRef* process, uint32_t* pid) override;
    int RunForOutput(std::wstring& cmdLine, const std::wstring& currentDir, uint32_t ms,
                     std::size_t maxOutput, OutputRun* run) override;
    int QueryExitCode(ProcessRef process, uint32_t* code) override;
    void CloseProcess(ProcessRef process) override;
    int SnapshotProcesses(std::vector<ProcessEntry>& out) override;
    int TerminateProcessById(uint32_t pid, uint32_t exitCode) override;
    int SetNamedEvent(const std::wstring& name) override;
    ProcessRef OpenProcessToWait(uint32_t pid, bool* gone = nullptr) override;
    int ProcessImagePath(uint32_t pid, std::wstring& out) override;
    int WaitAnyProcessEnd(const std::vector<ProcessRef>& processes, uint32_t ms) override;
};

class Win32Sockets : public ISockets {
public:
    int SocketsStartup(uint16_t version, uint16_t* granted) override;
    void SocketsCleanup() override;
    // sockets
    ProbeResult ProbeListen(const std::string& ansiAddress, uint16_t port, int backlog) override;
    int WildcardBindFree(uint16_t port) override;
    int TryConnect(const char* ipv4Address, uint16_t port) override;
    int BeginConnect(WindowId hwnd, uint32_t msg, const char* ipv4Address, uint16_t port,
                     SocketRef* socket) override;
    int SocketSend(SocketRef socket, const std::string& bytes) override;
    int SocketReceive(SocketRef socket, std::string& bytes, std::size_t maxBytes) override;
    void CloseSocket(SocketRef socket) override;
};

class Win32Windows : public IWindows {
public:
    // windows, boxes, timers
    int MsgBox(WindowId owner, const std::wstring& text, const wchar_t* caption,
               uint32_t style) override;
    std::uintptr_t StartTimer(WindowId hwnd, std::uintptr_t id, uint32_t ms) override;
    int StopTimer(WindowId hwnd, std::uintptr_t id) override;
    void MakeTopmost(WindowId hwnd) override;
    void HideAtOrigin(WindowId hwnd) override;
    void ShowWin(WindowId hwnd, int showCmd) override;
    void SetTitle(WindowId hwnd, const std::wstring& title) override;
    WindowId FindWindowByTitle(const std::wstring& title) override;
    int PostMsg(WindowId hwnd, uint32_t msg, std::uintptr_t wp, std::intptr_t lp) override;
    std::intptr_t SendMsg(WindowId hwnd, uint32_t msg, std::uintptr_t wp,
                          std::intptr_t lp) override;
    WindowId OwnerOf(WindowId hwnd) override;
    uint32_t RegisterMessage(const std::wstring& name) override;
    int AllowForegroundTo(WindowId hwnd) override;
    int AllowMessageFromBelow(WindowId hwnd, uint32_t msg) override;
    // shell
    int NotifyIcon(uint32_t operation, const NotifyIconRecord& record) override;
    int TrackTrayMenu(int menuId, WindowId owner) override;
    // host window details
    int AppendSystemMenuItem(WindowId hwnd, uint32_t id, const std::wstring& text) override;
    std::wstring LoadStringResource(uint32_t id) override;
    void SetWindowIcons(WindowId hwnd, int iconId) override;
    void RemoveAppWindowStyle(WindowId hwnd) override;
    int PaintIconIfMinimized(WindowId hwnd, int iconId) override;
    std::intptr_t IconHandle(int iconId) override;

private:
    const std::wstring& AppTitle();
    void* LoadedIcon(int iconId);  // HICON, shared, loaded once

    std::wstring m_appTitle;
    std::map<int, void*> m_icons;
};

class Win32Dialogs : public IDialogs {
public:
    int InitCommonControls(uint32_t iccClasses) override;
    // dialogs
    WindowId CreateDialogWindow(int templateId, WindowId owner, IMessageTarget* self) override;
    std::intptr_t RunModalDialog(int templateId, WindowId owner, IMessageTarget* self) override;
    void EndModal(WindowId hwnd, std::intptr_t result) override;
    void DestroyWin(WindowId hwnd) override;
    std::intptr_t DefaultProc(WindowId hwnd, uint32_t msg, std::uintptr_t wp,
                              std::intptr_t lp) override;
    WindowId DialogItem(WindowId dialog, int id) override;
    // list view and image list
    ImageListRef ImageListCreate(int cx, int cy, uint32_t flags, int initial, int grow) override;
    void ImageListDestroy(ImageListRef list) override;
    int ImageListAddIcon(ImageListRef list, IconRef icon) override;
    int ImageListCount(ImageListRef list) override;
    int ListSetSmallImages(WindowId list, ImageListRef images) override;
    int ListInsertColumn(WindowId list, int column, const std::wstring& title, int width) override;
    int ListInsertItem(WindowId list, int index, const std::wstring& text, int image) override;
    std::vector<int> SelectedRows(WindowId list) override;
    std::wstring ListItemText(WindowId list, int index) override;
    int ListDeleteItem(WindowId list, int index) override;
};

class Win32Shell : public IShell {
public:
    int OpenUrl(const std::wstring& url) override;
    IconRef ShellSmallIcon(const std::wstring& path) override;
    void DestroyIconRef(IconRef icon) override;
};

// Every role in one object, for the Wine tests (the entry point installs one object per role:
// this class would bring the run-time type support of multiple inheritance into the exe).
class Win32Platform final : public Win32Files,
                            public Win32Processes,
                            public Win32Sockets,
                            public Win32Windows,
                            public Win32Dialogs,
                            public Win32Shell {};

// SIO_TCP_INITIAL_RTO with TCP_INITIAL_RTO_NO_SYN_RETRANSMISSIONS on a socket before its
// connect (Windows 8 and later): a connect to a loopback port where nothing listens then
// fails at the first reset instead of after the stack's retries (about a second or two).
// Returns WSAIoctl's result; a system without it refuses, which changes nothing else.
int NoSynRetransmissions(std::uintptr_t socket);

#ifdef NB_TEST_HOOKS
// Test hook: how often NoSynRetransmissions was asked for, so that a test sees it on every
// socket that connects.
extern int noSynRetransmissionCalls;

// Test hook, compiled only into the test builds of this layer (never into the program as
// shipped), read from the environment at every ReplaceFileContent: when
// NBMONITOR_FAULT_SHORT_WRITE holds a text found in the target's file name, the write stops
// after half of the bytes, as a full disk would make it, so that the recovery path can be
// seen on a real file system.
constexpr const wchar_t* kShortWriteFaultVariable = L"NBMONITOR_FAULT_SHORT_WRITE";
#endif

}  // namespace win
}  // namespace nb
