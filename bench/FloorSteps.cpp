// The start-up floor with Chimelet's own start-up steps put back one at a
// time, for the breakdown of what Chimelet's start-up costs over the floor:
//
//   bench_floor_steps.exe [guard] [thread] [class]
//
// Always, unlike the floor: Chimelet's imports (ADVAPI32 and GDI32 besides
// the floor's USER32, SHELL32, KERNEL32) and Chimelet's resources.
//   guard   the single-instance guard around making the window: a named
//           mutex taken and released, FindWindowA for the class
//   thread  window and icon made on a second thread, which the main thread
//           starts and waits for through an event, as Chimelet's monitor
//           thread
//   class   Chimelet's class record (stock icon, cursor and brush) and the
//           TaskbarCreated message registered first
// With all three it does what Chimelet does up to its icon, without the Java
// start. Its window class is the floor's; closing it ends the program.

#include <windows.h>
#include <shellapi.h>

#include <string.h>

#include "resource.h"

static char const kClassName[] = "ChimeletBenchFloor";
static char const kMutexName[] = "ChimeletBenchFloorMutex";
UINT const WM_TRAY_CALLBACK = WM_USER + 101;
UINT const kIconId = 1;

static bool sShellClass;

// Chimelet reads the registry (ADVAPI32) only once its icon is up; the import
// alone is loaded with the program. Kept by being a global the linker cannot
// drop.
void *gChimeletImports[] = {(void *)&RegCloseKey, (void *)&GetStockObject};

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

static HWND MakeWindow()
{
    HINSTANCE self = GetModuleHandleA(NULL);
    WNDCLASSA wc;
    memset(&wc, 0, sizeof wc);
    wc.lpfnWndProc = FloorWndProc;
    wc.hInstance = self;
    wc.lpszClassName = kClassName;
    if (sShellClass) {
        RegisterWindowMessageA("TaskbarCreated");
        wc.hIcon = LoadIconA(NULL, IDI_APPLICATION);
        wc.hCursor = LoadCursorA(NULL, IDC_ARROW);
        wc.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
    }
    RegisterClassA(&wc);
    return CreateWindowExA(0, kClassName, kClassName, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                           CW_USEDEFAULT, CW_USEDEFAULT, NULL, NULL, self, NULL);
}

static void AddIconAndRun(HWND hwnd)
{
    HINSTANCE self = GetModuleHandleA(NULL);
    char tip[64];
    LoadStringA(self, IDS_PRODUCT_NAME, tip, sizeof tip);

    NOTIFYICONDATAA nid;
    FillIconData(&nid, hwnd);
    nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    nid.uCallbackMessage = WM_TRAY_CALLBACK;
    nid.hIcon = (HICON)LoadImageA(self, IDI_TRAY_ICON_NAME, IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR);
    lstrcpynA(nid.szTip, tip, sizeof nid.szTip);
    Shell_NotifyIconA(NIM_ADD, &nid);
    if (nid.hIcon)
        DestroyIcon(nid.hIcon);

    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0)
        DispatchMessageA(&msg);
}

static DWORD WINAPI WindowThread(void *param)
{
    HWND hwnd = MakeWindow();
    SetEvent((HANDLE)param);
    if (hwnd)
        AddIconAndRun(hwnd);
    return 0;
}

static bool HasWord(char const *line, char const *word)
{
    size_t length = strlen(word);
    for (char const *p = line ? strstr(line, word) : NULL; p; p = strstr(p + 1, word)) {
        bool starts = p == line || p[-1] == ' ';
        bool ends = p[length] == '\0' || p[length] == ' ';
        if (starts && ends)
            return true;
    }
    return false;
}

int WINAPI WinMain(HINSTANCE hInst, HINSTANCE hPreInst, LPSTR lpszCmdLine, int nCmdShow)
{
    (void)hInst;
    (void)hPreInst;
    (void)nCmdShow;
    bool guard = HasWord(lpszCmdLine, "guard");
    bool thread = HasWord(lpszCmdLine, "thread");
    sShellClass = HasWord(lpszCmdLine, "class");

    HANDLE mutex = NULL;
    if (guard) {
        mutex = CreateMutexA(NULL, FALSE, kMutexName);
        if (mutex)
            WaitForSingleObject(mutex, INFINITE);
        if (FindWindowA(kClassName, NULL))
            return 0;
    }

    HANDLE worker = NULL;
    HWND hwnd = NULL;
    if (thread) {
        HANDLE made = CreateEventA(NULL, FALSE, FALSE, NULL);
        DWORD threadId;
        worker = made ? CreateThread(NULL, 0, WindowThread, made, 0, &threadId) : NULL;
        if (worker)
            WaitForSingleObject(made, INFINITE);
    } else {
        hwnd = MakeWindow();
    }

    if (mutex) {
        ReleaseMutex(mutex);
        CloseHandle(mutex);
    }
    if (worker)
        WaitForSingleObject(worker, INFINITE);
    else if (hwnd)
        AddIconAndRun(hwnd);
    return 0;
}
