// Regeneration of php.ini from the installation's template for the actual home folder.
#pragma once

#include <string>

namespace nb {

// php.ini's text from the template's bytes: every line copied, the four path lines of the
// default installation rewritten for serverPath; every line ends with a line feed.
std::wstring PhpIniText(const std::string& templateBytes, const std::wstring& serverPath);

// Reads home\php\php.ini.ORG and replaces home\php\php.ini; false when the template cannot
// be read or php.ini cannot be written (it then stays as it was).
bool RegeneratePhpIni(const std::wstring& home);

}  // namespace nb
