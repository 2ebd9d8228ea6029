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

#include "FloorWindow.h"
#include "resource.h"

static char const kMutexName[] = "ChimeletBenchFloorMutex";

static bool sShellClass;

// Chimelet reads the registry (ADVAPI32) only once its icon is up; the import
// alone is loaded with the program. Kept by being a global the linker cannot
// drop.
void *gChimeletImports[] = {(void *)&RegCloseKey, (void *)&GetStockObject};

static HWND MakeWindow()
{
    WNDCLASSA wc;
    memset(&wc, 0, sizeof wc);
    if (sShellClass) {
        RegisterWindowMessageA("TaskbarCreated");
        wc.hIcon = LoadIconA(NULL, IDI_APPLICATION);
        wc.hCursor = LoadCursorA(NULL, IDC_ARROW);
        wc.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
    }
    return MakeFloorWindow(wc);
}

static void AddChimeletIconAndRun(HWND hwnd)
{
    char tip[64];
    LoadStringA(GetModuleHandleA(NULL), IDS_PRODUCT_NAME, tip, sizeof tip);
    AddIconAndRun(hwnd, IDI_TRAY_ICON_NAME, tip);
}

static DWORD WINAPI WindowThread(void *param)
{
    HWND hwnd = MakeWindow();
    SetEvent((HANDLE)param);
    if (hwnd)
        AddChimeletIconAndRun(hwnd);
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
        if (FindWindowA(kFloorClassName, NULL))
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
        AddChimeletIconAndRun(hwnd);
    return 0;
}
