// The floor of Chimelet's start-up: the least a program does to have an icon
// in the tray. It registers a class, makes a hidden window, adds the icon
// (Chimelet's own image and tooltip, so the tray does the same work), and
// waits to be closed; closing removes the icon.

#include <windows.h>
#include <shellapi.h>

#include <string.h>

static char const kClassName[] = "ChimeletBenchFloor";
static char const kTip[] = "Chimelet";
UINT const WM_TRAY_CALLBACK = WM_USER + 101;
UINT const kIconId = 1;

static void FillIconData(NOTIFYICONDATAA *nid, HWND hwnd)
{
    memset(nid, 0, sizeof *nid);
    nid->cbSize = NOTIFYICONDATAA_V1_SIZE;
    nid->hWnd = hwnd;
    nid->uID = kIconId;
}

static LRESULT CALLBACK FloorWndProc(HWND hWnd, UINT messg, WPARAM wParam, LPARAM lParam)
{
    if (messg == WM_DESTROY) {
        NOTIFYICONDATAA nid;
        FillIconData(&nid, hWnd);
        Shell_NotifyIconA(NIM_DELETE, &nid);
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hWnd, messg, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE hInst, HINSTANCE hPreInst, LPSTR lpszCmdLine, int nCmdShow)
{
    (void)hPreInst;
    (void)lpszCmdLine;
    (void)nCmdShow;

    WNDCLASSA wc;
    memset(&wc, 0, sizeof wc);
    wc.lpfnWndProc = FloorWndProc;
    wc.hInstance = hInst;
    wc.lpszClassName = kClassName;
    RegisterClassA(&wc);
    HWND hwnd = CreateWindowExA(0, kClassName, kClassName, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                CW_USEDEFAULT, CW_USEDEFAULT, NULL, NULL, hInst, NULL);
    if (!hwnd)
        return 1;

    NOTIFYICONDATAA nid;
    FillIconData(&nid, hwnd);
    nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    nid.uCallbackMessage = WM_TRAY_CALLBACK;
    nid.hIcon = (HICON)LoadImageA(hInst, "ICON_1", IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR);
    lstrcpynA(nid.szTip, kTip, sizeof nid.szTip);
    Shell_NotifyIconA(NIM_ADD, &nid);
    if (nid.hIcon)
        DestroyIcon(nid.hIcon);

    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0)
        DispatchMessageA(&msg);
    return 0;
}
