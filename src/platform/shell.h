// The shell: opening a URL, a file's small icon.
// Part of the door between the logic and the system (platform.h); the logic calls these
// through Shell(), which the entry point or a test has installed.
#pragma once

#include <string>

#include "platform/handles.h"
#include "platform/scoped_handle.h"

namespace nb {

class IShell {
public:
    // ShellExecuteW(NULL, "open", url, NULL, "", SW_SHOW).
    virtual int OpenUrl(const std::wstring& url) = 0;
    // SHGetFileInfoW small icon; the caller owns the icon (DestroyIconRef). 0 on failure.
    virtual IconRef ShellSmallIcon(const std::wstring& path) = 0;
    virtual void DestroyIconRef(IconRef icon) = 0;

protected:
    ~IShell() = default;
};

IShell& Shell();

inline void ReleaseIconRef(IconRef h) { Shell().DestroyIconRef(h); }
using ScopedIcon = ScopedHandle<OpaqueTraits<IconRef, &ReleaseIconRef>>;

}  // namespace nb
