// Start-up of Chimelet.exe: where the settings file lies, the single-instance
// guard, and the hand-over of the main thread to the Java launch.

#include <windows.h>

#include "kelvarin.h"
#include "JavaInterface.h"

static char const kLoadMutexName[] = "ChimeletLoadMutex";
static char const kIniFileTail[] = "\\Chimelet.ini";

char const szProgName[20] = "ChimeletGhostWindow";
char const jarFileName[13] = "chimelet.jar";
char const mainClassName[40] = "com/norvanta/kelvarin/main/TApplication";

char sg_iniFilePath[1024];
HANDLE sg_hMonitorThread;

bool BuildIniFileName(char const *modulePath, char *outFilePath, unsigned long outFilePathSize)
{
    if (outFilePathSize == 0)
        return false;
    outFilePath[0] = '\0';

    // The directory is everything before the last backslash; a path without
    // one is taken whole.
    int dirLen = lstrlenA(modulePath);
    for (int i = dirLen - 1; i >= 0; --i) {
        if (modulePath[i] == '\\') {
            dirLen = i;
            break;
        }
    }
    if ((unsigned long)dirLen + sizeof kIniFileTail > outFilePathSize)
        return false;

    lstrcpynA(outFilePath, modulePath, dirLen + 1);
    lstrcatA(outFilePath, kIniFileTail);
    return true;
}

void GetIniFileName(HINSTANCE hInst, char *outFilePath, unsigned long outFilePathSize)
{
    char path[1024];

    if (outFilePathSize == 0)
        return;
    outFilePath[0] = '\0';

    // A path that fills the buffer may have been cut: its directory would be
    // some other directory.
    DWORD length = GetModuleFileNameA(hInst, path, sizeof path - 1);
    if (length == 0 || length >= sizeof path - 1)
        return;
    path[length] = '\0';
    BuildIniFileName(path, outFilePath, outFilePathSize);
}

// Starts the monitor thread and waits until it has made the ghost window, or
// given up on it. Without the handshake event or the thread there is nothing
// to wait for: start-up then goes on without a window.
static void StartMonitorThread()
{
    HANDLE windowMade = CreateEventA(NULL, FALSE, FALSE, NULL);
    if (!windowMade)
        return;

    DWORD threadId;
    sg_hMonitorThread = CreateThread(NULL, 0, CreateOurWindow, windowMade, 0, &threadId);
    if (!sg_hMonitorThread) {
        CloseHandle(windowMade);
        return;
    }
    // The event stays open: the monitor thread holds it from now on.
    WaitForSingleObject(windowMade, INFINITE);
}

bool FindOurWindow()
{
    // The mutex makes "look for the ghost window, else make one" a single
    // step across processes; the running instance is known by its window.
    HANDLE mutex = CreateMutexA(NULL, FALSE, kLoadMutexName);
    if (mutex)
        WaitForSingleObject(mutex, INFINITE);

    HWND running = FindWindowA(szProgName, NULL);
    if (running)
        SendMessageA(running, WM_SHOW_REMINDERS, 0, 0);
    else
        StartMonitorThread();

    if (mutex) {
        ReleaseMutex(mutex);
        CloseHandle(mutex);
    }
    return running != NULL;
}

int WINAPI WinMain(HINSTANCE hInst, HINSTANCE hPreInst, LPSTR lpszCmdLine, int nCmdShow)
{
    (void)hPreInst;
    (void)lpszCmdLine;
    (void)nCmdShow;

    gQuitLoop = 0;
    GetIniFileName(hInst, sg_iniFilePath, sizeof sg_iniFilePath);
    if (!FindOurWindow()) {
        // Returns only when the Java application has ended or failed to start.
        StartupJava(sg_iniFilePath, jarFileName, mainClassName, sg_monitorHwnd, WM_BIND_TO_JAVA, &sg_jvm);
    }
    return 0;
}
