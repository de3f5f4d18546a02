// The shell over Win32: opening a URL, a file's small icon.
#include "platform/win32/windows_support.h"

#include "platform/win32/win32_platform.h"
#include "platform/win32/window_handles.h"

namespace nb {
namespace win {

int Win32Shell::OpenUrl(const std::wstring& url) {
    HINSTANCE r = ::ShellExecuteW(nullptr, L"open", url.c_str(), nullptr, L"", SW_SHOW);
    return reinterpret_cast<INT_PTR>(r) > 32 ? 1 : 0;
}

IconRef Win32Shell::ShellSmallIcon(const std::wstring& path) {
    std::wstring clean = CollapseRepeatedSeparators(path);
    SHFILEINFOW sfi = {};
    if (!::SHGetFileInfoW(clean.c_str(), 0, &sfi, sizeof sfi, SHGFI_ICON | SHGFI_SMALLICON))
        return 0;
    return reinterpret_cast<IconRef>(sfi.hIcon);
}

void Win32Shell::DestroyIconRef(IconRef icon) {
    if (icon != 0) ::DestroyIcon(reinterpret_cast<HICON>(icon));
}

}  // namespace win
}  // namespace nb
