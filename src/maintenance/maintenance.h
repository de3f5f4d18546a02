// The data maintenance commands: backup, initialization and the restore dialog, each given the
// home directory and the window that owns its boxes. debug shows each command's target in a box
// before it acts.
#pragma once

#include <string>

#include "platform/handles.h"

namespace nb {

// The backup script's command line: its full path, quoted.
std::wstring BackupCommandLine(const std::wstring& home);

// Starts the installation's backup script and does not wait for it. With notify 1 a box says
// that it was started.
void RunBackup(const std::wstring& home, nb::WindowId owner, int notify, bool debug);

// Deletes the application's database after the user confirms.
void RunInitialize(const std::wstring& home, nb::WindowId owner, bool debug);

// The restore dialog, modal to the application's main window.
void RunRestoreDialog(const std::wstring& home);

}  // namespace nb
