// Shared pieces of the platform tests: the platform under test, a scratch folder, and the
// test program's own path (it re-launches itself as the child process of the process tests).
#pragma once

#include <string>

#include "platform/win32/windows_support.h"
#include "platform/win32/win32_platform.h"
#include "platform/win32/window_handles.h"

using namespace nb;

namespace fx {

// The Win32 platform, installed in every role for the framework code the tests drive.
nb::win::Win32Platform& Os();

std::wstring SelfPath();
// A fresh folder for this run under the system's temporary folder; removed at exit.
const std::wstring& ScratchDir();
// A new empty folder inside the scratch folder.
std::wstring NewFolder(const wchar_t* name);

void WriteBytes(const std::wstring& path, const std::string& bytes);
std::string ReadBytes(const std::wstring& path, bool* found = nullptr);
// Names in the folder other than "." and "..".
std::wstring ListNames(const std::wstring& folder);

// Pumps the thread's queue for about ms milliseconds, or until done() turns true.
void Pump(unsigned ms, bool (*done)() = nullptr);

}  // namespace fx
