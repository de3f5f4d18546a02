// Resource and command identifiers, shared by the resource script and the code.
// Plain #defines only: windres reads this file too.
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
