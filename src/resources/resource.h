// Resource, command, message and timer identifiers of the program's windows and the sockets
// versions it asks for, in one place for the resource script, the code, nbctl and the tests. Plain #defines that include nothing:
// windres reads this file too, and nbctl builds without windows.h.
#pragma once

#define IDD_ABOUTBOX            100
#define IDS_ABOUTBOX            101
#define IDD_HOSTDLG             102
#define IDS_SOCKETS_INIT_FAILED 103
#define IDD_MAINDLG             104
#define IDI_PROGRAM             128
#define IDI_RUNNING             129
#define IDI_STOPPED             130
#define IDR_TRAYMENU            131
#define IDD_RESTOREDLG          132

#define IDC_BACKUP_LIST         1004
#define IDC_DELETE              3

#define IDM_ABOUTBOX            0x0010

#define ID_SHOW                 32771
#define ID_TRAY_EXIT            32773
#define ID_BACKUP               32776
#define ID_TRAY_ABOUT           32777
#define ID_RESTORE              32778
#define ID_INITIALIZE           32779

// Icon callback message of the supervisor window (WM_USER + 100).
#define WM_TRAY_CALLBACK        (0x0400 + 100)

// Socket events of the server's health check (WSAAsyncSelect), to the supervisor window.
#define WM_HEALTH_SOCKET        (0x0400 + 200)

// Timers of the supervisor window.
#define TIMER_MONITOR           1
#define TIMER_BACKUP            2
#define TIMER_HEALTH            0x48    // every health_interval
#define TIMER_HEALTH_TIMEOUT    0x49    // the waiting check's health_timeout
#define TIMER_TRAY_RETRY        0x4A    // adds the icon again while the taskbar refuses it

// The Windows Sockets versions asked for: 1.1 at start-up, which must be granted exactly,
// and 2.0 before each port probe and readiness wait (MAKEWORD(1, 1), MAKEWORD(2, 0)).
#define SOCKETS_VERSION_1_1     0x0101
#define SOCKETS_VERSION_2_0     0x0002
