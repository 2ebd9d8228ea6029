// The floor of a refused second start: find the running instance's ghost
// window and ask it to show the reminder list, as the second start does,
// and nothing else.

#include <windows.h>

static char const kGhostClass[] = "ChimeletGhostWindow";
UINT const WM_SHOW_REMINDERS = WM_USER + 102;

int WINAPI WinMain(HINSTANCE hInst, HINSTANCE hPreInst, LPSTR lpszCmdLine, int nCmdShow)
{
    (void)hInst;
    (void)hPreInst;
    (void)lpszCmdLine;
    (void)nCmdShow;

    HWND running = FindWindowA(kGhostClass, NULL);
    if (running)
        SendMessageA(running, WM_SHOW_REMINDERS, 0, 0);
    return 0;
}
