// Where things are inside the installation's home folder. Every suffix starts with a
// backslash and is appended to the home path, which ends with one: the doubled separator
// is accepted by the system.
#pragma once

#include <cstddef>

namespace nb {

namespace layout {

// The home directory is derived from the executable's path, read into a buffer of 256
// characters: at most this many, less the terminator.
constexpr std::size_t kHomeChars = 255;

constexpr const wchar_t* kSettingsSuffix = L"\\conf\\nbmonitor.ini";
constexpr const wchar_t* kConfExtra = L"\\conf\\extra\\";
constexpr const wchar_t* kPortConf = L"httpd-port.conf";
constexpr const wchar_t* kServerConf = L"httpd-nb.conf";
constexpr const wchar_t* kPhpTemplate = L"\\php\\php.ini.ORG";
constexpr const wchar_t* kPhpIni = L"\\php\\php.ini";
constexpr const wchar_t* kBinFolder = L"\\bin\\";
constexpr const wchar_t* kServerExe = L"httpd.exe";
constexpr const wchar_t* kBackupScript = L"\\bin\\nbbackup.bat";
constexpr const wchar_t* kRestoreScript = L"\\bin\\nbrestore.bat";
constexpr const wchar_t* kBackupFolder = L"\\backup";
constexpr const wchar_t* kDatabase = L"\\htdocs\\data\\app.db";
constexpr const wchar_t* kStartPage = L"/index.php";
constexpr const wchar_t* kLogFile = L"\\logs\\nbmonitor.log";  // the supervision log

// The loader library that php.ini loads from php\ext (kept there by the installation).
constexpr const wchar_t* kPhpLoaderLibrary = L"php_nbloader.dll";

}  // namespace layout

// Names and texts that other programs and the user see.
namespace names {
constexpr const wchar_t* kSupervisorTitle = L"nbmonitorDlg";
constexpr const wchar_t* kProduct = L"Nimbara";
constexpr const wchar_t* kTaskbarCreated = L"TaskbarCreated";
}  // namespace names

}  // namespace nb
