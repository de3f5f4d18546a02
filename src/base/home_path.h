// The home folder from the program file's path, shared by nbmonitor and nbctl (which
// compiles it without the platform layer): no system calls here.
#pragma once

#include <string>

namespace nb {

// The home directory from the executable's path: two folder levels up, trailing backslash
// kept (C:\nimbara\bin\nbmonitor.exe gives C:\nimbara\).
inline std::wstring HomeFromModulePath(std::wstring path) {
    std::size_t slash = path.rfind(L'\\');
    if (slash == std::wstring::npos) return path;
    path.erase(slash);
    slash = path.rfind(L'\\');
    if (slash == std::wstring::npos) return path;
    path.erase(slash + 1);
    return path;
}

}  // namespace nb
