// The floor of Chimelet's start-up: the least a program does to have an icon
// in the tray. It registers a class, makes a hidden window, adds the icon
// (Chimelet's own image and tooltip, so the tray does the same work), and
// waits to be closed; closing removes the icon.

#include "FloorWindow.h"

int WINAPI WinMain(HINSTANCE hInst, HINSTANCE hPreInst, LPSTR lpszCmdLine, int nCmdShow)
{
    (void)hInst;
    (void)hPreInst;
    (void)lpszCmdLine;
    (void)nCmdShow;

    WNDCLASSA wc;
    memset(&wc, 0, sizeof wc);
    HWND hwnd = MakeFloorWindow(wc);
    if (!hwnd)
        return 1;
    AddIconAndRun(hwnd, "ICON_1", "Chimelet");
    return 0;
}
