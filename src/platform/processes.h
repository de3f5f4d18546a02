// The process and its environment: its path and folder, the single-instance lock, time, and
// the processes it starts, watches and ends.
// Part of the door between the logic and the system (platform.h); the logic calls these
// through Processes(), which the entry point or a test has installed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/handles.h"
#include "platform/scoped_handle.h"

namespace nb {

struct ProcessEntry {
    uint32_t pid = 0;
    std::wstring exeName;    // file name only, as the process snapshot gives it
    uint32_t parentPid = 0;  // the process that created it (it may have ended since)
};

// Local wall-clock time, and its offset from UTC in minutes (east positive).
struct LocalTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
    int utcOffsetMinutes = 0;
};

// What a program run for its output left behind (RunForOutput).
struct OutputRun {
    uint32_t pid = 0;
    uint32_t exitCode = 0;
    bool ended = false;  // it ran past its bound and was ended
    std::string output;  // standard output and error, in the order written, cut to the bound
};

// The longest path the system gives for a module (its extended-length limit).
constexpr std::size_t kMaxModulePathChars = 32767;

class IProcesses {
public:
    // Full path of the running executable, cut to maxChars characters; 0 when unavailable.
    virtual int ModulePath(std::wstring& out, std::size_t maxChars) = 0;
    // Current directory; 0 when it fails or needs bufChars characters or more.
    virtual int CurrentDirectory(std::wstring& out, std::size_t bufChars) = 0;
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

protected:
    ~IProcesses() = default;
};

IProcesses& Processes();

inline void CloseProcessRef(ProcessRef h) { Processes().CloseProcess(h); }
using ScopedProcess = ScopedHandle<OpaqueTraits<ProcessRef, &CloseProcessRef>>;

}  // namespace nb
