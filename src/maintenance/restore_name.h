// Which backup names may be handed to the restore script, and how. The script runs through
// cmd.exe, which expands %VAR% and !VAR! and obeys & | < > ^ ( ) even inside quotes in
// places, so such names are refused rather than escaped.
#pragma once

#include <string>

namespace nb {

bool IsRestorableName(const std::wstring& name);

// The name as the script's one argument: quoted when it holds a blank, tab, comma, semicolon,
// equals sign or U+00FF (cmd.exe's argument separators; the last is listed among them by
// accounts of its parser, and quoting it costs nothing), as it is otherwise.
std::wstring RestoreArgument(const std::wstring& name);

}  // namespace nb
