// Win32 message, style and id values for the portable code, which never sees windows.h.
// When windows.h is already in the translation unit its own macros are used instead, so the
// Win32 layer and the logic always agree on every number.
#pragma once

#include <cstdint>

#if !defined(_WINDOWS_) && !defined(_WINDEF_)

constexpr uint32_t WM_NULL = 0x0000;
constexpr uint32_t WM_CREATE = 0x0001;
constexpr uint32_t WM_DESTROY = 0x0002;
constexpr uint32_t WM_PAINT = 0x000F;
constexpr uint32_t WM_CLOSE = 0x0010;
constexpr uint32_t WM_QUERYENDSESSION = 0x0011;
constexpr uint32_t WM_ENDSESSION = 0x0016;
constexpr uint32_t WM_QUERYDRAGICON = 0x0037;
constexpr uint32_t WM_KEYDOWN = 0x0100;
constexpr uint32_t WM_INITDIALOG = 0x0110;
constexpr uint32_t WM_COMMAND = 0x0111;
constexpr uint32_t WM_SYSCOMMAND = 0x0112;
constexpr uint32_t WM_TIMER = 0x0113;
constexpr uint32_t WM_MOUSEMOVE = 0x0200;
constexpr uint32_t WM_LBUTTONDOWN = 0x0201;
constexpr uint32_t WM_LBUTTONUP = 0x0202;
constexpr uint32_t WM_LBUTTONDBLCLK = 0x0203;
constexpr uint32_t WM_RBUTTONDOWN = 0x0204;
constexpr uint32_t WM_RBUTTONUP = 0x0205;
constexpr uint32_t WM_RBUTTONDBLCLK = 0x0206;
constexpr uint32_t WM_USER = 0x0400;

constexpr int VK_RETURN = 0x0D;
constexpr int VK_ESCAPE = 0x1B;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

constexpr uint32_t MB_OK = 0x00000000;
constexpr uint32_t MB_YESNO = 0x00000004;
constexpr uint32_t MB_ICONERROR = 0x00000010;
constexpr uint32_t MB_ICONQUESTION = 0x00000020;
constexpr uint32_t MB_ICONWARNING = 0x00000030;
constexpr uint32_t MB_ICONINFORMATION = 0x00000040;

constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_SHOW = 5;

constexpr uint32_t NIM_ADD = 0;
constexpr uint32_t NIM_MODIFY = 1;
constexpr uint32_t NIM_DELETE = 2;
constexpr uint32_t NIF_MESSAGE = 0x1;
constexpr uint32_t NIF_ICON = 0x2;
constexpr uint32_t NIF_TIP = 0x4;
constexpr uint32_t NIF_INFO = 0x10;
constexpr uint32_t NIIF_INFO = 0x1;
constexpr uint32_t NIIF_WARNING = 0x2;

constexpr uint32_t FD_READ = 0x01;
constexpr uint32_t FD_CONNECT = 0x10;
constexpr uint32_t FD_CLOSE = 0x20;

constexpr uint32_t TPM_RIGHTBUTTON = 0x0002;

constexpr uint32_t ICC_WIN95_CLASSES = 0x000000FF;
constexpr uint32_t ILC_COLOR24 = 0x00000018;

constexpr uint32_t STILL_ACTIVE = 259;

constexpr uint32_t SEM_FAILCRITICALERRORS = 0x0001;
constexpr uint32_t SEM_NOGPFAULTERRORBOX = 0x0002;
constexpr uint32_t SEM_NOOPENFILEERRORBOX = 0x8000;

#endif

// Values the Windows headers do not name (or name only in newer SDKs).
constexpr uint32_t kNotifyIconDataV3Size = 952;  // NOTIFYICONDATAW_V3_SIZE on 32-bit
