// What nbctl's commands share: output, the supervisor found by its window, the installation's
// home folder and the supervision log.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace nbctl {

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitNotRunning = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNoAnswer = 3;
constexpr int kExitNoLog = 1;
constexpr int kExitStillRunning = 4;  // exit --wait: nbmonitor had not ended in time

std::string Utf8(const std::wstring& text);

// UTF-8 text to standard output: as UTF-16 to a console (whose code page may be another),
// as the bytes themselves to a file or a pipe. False once the output is gone.
bool Print(const std::string& text);

// The home folder nbctl.exe itself is installed in (it lies in the bin folder).
std::wstring OwnHome();

struct SupervisorInfo {
    unsigned long pid = 0;
    std::wstring home;  // empty when the program file of the process could not be found
};

// The supervisor, found by its window title; false when none runs.
bool FindSupervisor(SupervisorInfo* info);

// The home whose log nbctl reads: the running supervisor's, else nbctl's own.
std::wstring LogHome();

// The supervision log of a home (nb::layout::kLogFile).
std::wstring LogPath(const std::wstring& home);

// The last n complete lines of the log, older lines from the rotated file when the current
// one holds fewer; false when neither file can be read.
bool LastLogLines(const std::wstring& home, std::size_t n, std::vector<std::string>* lines);

// What status tells from the log and the backup folder: JSON members (each led by a comma)
// or text rows.
std::string StatusHistory(const std::wstring& home, bool json);

// Lets the process that owns the window take the foreground (AllowSetForegroundWindow), before
// a command asks it to open a window: Windows refuses the foreground to a background process,
// and what the user asked for would open behind the active window.
void AllowForeground(void* window);

// Posts the command to the supervisor's window, then waits at most ms for its process to
// end: 0 when it has, kExitStillRunning when the time ran out.
int PostAndWaitForEnd(void* window, std::uint32_t message, std::uintptr_t wParam,
                      std::intptr_t lParam, unsigned long ms);

int StatusCommand(bool json);
int LogCommand(std::size_t n, bool follow);

}  // namespace nbctl
