// What the start-up floors do alike: a window of their own class that, once
// closed, removes their tray icon and ends the program; the icon added with
// Chimelet's image and a tooltip; the message loop that waits for the close.
// Each floor program is its WinMain around these.
#ifndef CHIMELET_BENCH_FLOOR_WINDOW_H
#define CHIMELET_BENCH_FLOOR_WINDOW_H

#include <windows.h>
#include <shellapi.h>

#include <string.h>

// The floors' window class: the benchmark waits for a window of it.
char const kFloorClassName[] = "ChimeletBenchFloor";

UINT const WM_FLOOR_TRAY_CALLBACK = WM_USER + 101;
UINT const kFloorIconId = 1;

inline void FillFloorIconData(NOTIFYICONDATAA *nid, HWND hwnd)
{
    memset(nid, 0, sizeof *nid);
    nid->cbSize = NOTIFYICONDATAA_V1_SIZE;
    nid->hWnd = hwnd;
    nid->uID = kFloorIconId;
}

inline LRESULT CALLBACK FloorWndProc(HWND hWnd, UINT messg, WPARAM wParam, LPARAM lParam)
{
    if (messg == WM_DESTROY) {
        NOTIFYICONDATAA nid;
        FillFloorIconData(&nid, hWnd);
        Shell_NotifyIconA(NIM_DELETE, &nid);
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hWnd, messg, wParam, lParam);
}

// Registers the floor's class from `wc` (its icon, cursor and brush, if
// any; the rest is filled here) and makes the hidden window. NULL on failure.
inline HWND MakeFloorWindow(WNDCLASSA wc)
{
    HINSTANCE self = GetModuleHandleA(NULL);
    wc.lpfnWndProc = FloorWndProc;
    wc.hInstance = self;
    wc.lpszClassName = kFloorClassName;
    RegisterClassA(&wc);
    return CreateWindowExA(0, kFloorClassName, kFloorClassName, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                           CW_USEDEFAULT, CW_USEDEFAULT, NULL, NULL, self, NULL);
}

// Adds the icon (the program's icon resource `iconName`, tooltip `tip`) and
// runs the message loop until the window is closed.
inline void AddIconAndRun(HWND hwnd, char const *iconName, char const *tip)
{
    NOTIFYICONDATAA nid;
    FillFloorIconData(&nid, hwnd);
    nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    nid.uCallbackMessage = WM_FLOOR_TRAY_CALLBACK;
    nid.hIcon = (HICON)LoadImageA(GetModuleHandleA(NULL), iconName, IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR);
    lstrcpynA(nid.szTip, tip, sizeof nid.szTip);
    Shell_NotifyIconA(NIM_ADD, &nid);
    if (nid.hIcon)
        DestroyIcon(nid.hIcon);

    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0)
        DispatchMessageA(&msg);
}

#endif
