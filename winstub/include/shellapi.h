/* Host stand-in for the Shell_NotifyIconA part of <shellapi.h>. */
#ifndef WINSTUB_SHELLAPI_H
#define WINSTUB_SHELLAPI_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The full layout; the first version of the record ends after szTip[64]. */
typedef struct _NOTIFYICONDATAA {
    DWORD cbSize;
    HWND hWnd;
    UINT uID;
    UINT uFlags;
    UINT uCallbackMessage;
    HICON hIcon;
    CHAR szTip[128];
    DWORD dwState;
    DWORD dwStateMask;
    CHAR szInfo[256];
    union {
        UINT uTimeout;
        UINT uVersion;
    };
    CHAR szInfoTitle[64];
    DWORD dwInfoFlags;
    GUID guidItem;
    HICON hBalloonIcon;
} NOTIFYICONDATAA, *PNOTIFYICONDATAA;

#define NOTIFYICONDATAA_V1_SIZE (__builtin_offsetof(NOTIFYICONDATAA, szTip) + 64)

#define NIM_ADD 0x00000000
#define NIM_MODIFY 0x00000001
#define NIM_DELETE 0x00000002
#define NIM_SETFOCUS 0x00000003
#define NIM_SETVERSION 0x00000004

#define NIF_MESSAGE 0x00000001
#define NIF_ICON 0x00000002
#define NIF_TIP 0x00000004
#define NIF_STATE 0x00000008
#define NIF_INFO 0x00000010
#define NIF_GUID 0x00000020

/* What Shell_NotifyIconGetRect (Windows 7 and later) is asked about. The stand-in does not
 * declare that function: a program must look it up at run time, as one that also runs on older
 * Windows does (GetProcAddress on shell32). */
typedef struct _NOTIFYICONIDENTIFIER {
    DWORD cbSize;
    HWND hWnd;
    UINT uID;
    GUID guidItem;
} NOTIFYICONIDENTIFIER, *PNOTIFYICONIDENTIFIER;

BOOL WINAPI Shell_NotifyIconA(DWORD dwMessage, PNOTIFYICONDATAA lpData);

#ifdef __cplusplus
}
#endif

#endif
