// Start-up of Chimelet.exe: where the settings file and the jar lie, the
// single-instance guard, and the hand-over of the main thread to the Java
// launch.

#include <windows.h>

#include "kelvarin.h"
#include "JavaInterface.h"

static char const kLoadMutexName[] = "ChimeletLoadMutex";
static char const kIniFileName[] = "Chimelet.ini";

// How long a start waits for another start inside the guard, and then for a
// running instance to answer. A running instance busy in a long Java call
// answers nothing, and every later start queues behind the one that asks it:
// with these bounds none waits more than about ten seconds.
DWORD const kGuardWaitMs = 5000;
UINT const kShowRemindersWaitMs = 5000;

char const szProgName[20] = "ChimeletGhostWindow";
char const jarFileName[13] = "chimelet.jar";
char const mainClassName[40] = "com/norvanta/kelvarin/main/TApplication";
char const interfaceClassName[50] = "com/norvanta/kelvarin/data/TExternalDataInterface";

char sg_iniFilePath[kPathSize];
char sg_jarFilePath[kPathSize];
HANDLE sg_hMonitorThread;

bool BuildPathBesideModule(char const *modulePath, char const *fileName, char *outFilePath,
                           unsigned long outFilePathSize)
{
    if (outFilePathSize == 0)
        return false;
    outFilePath[0] = '\0';

    // The directory is everything before the last backslash; a path without
    // one is taken whole. The path is walked a character at a time: in a
    // double-byte code page the second byte of a character may be 0x5C.
    int dirLen = lstrlenA(modulePath);
    for (char const *p = modulePath; *p; p = CharNextA(p)) {
        if (*p == '\\')
            dirLen = (int)(p - modulePath);
    }
    if ((unsigned long)dirLen + 1 + lstrlenA(fileName) + 1 > outFilePathSize)
        return false;

    lstrcpynA(outFilePath, modulePath, dirLen + 1);
    lstrcatA(outFilePath, "\\");
    lstrcatA(outFilePath, fileName);
    return true;
}

static void GetPathBesideModule(HINSTANCE hInst, char const *fileName, char *outFilePath,
                                unsigned long outFilePathSize)
{
    char path[kPathSize];

    if (outFilePathSize == 0)
        return;
    outFilePath[0] = '\0';

    // A path that fills the buffer may have been cut: its directory would be
    // some other directory.
    DWORD length = GetModuleFileNameA(hInst, path, sizeof path - 1);
    if (length == 0 || length >= sizeof path - 1)
        return;
    path[length] = '\0';
    BuildPathBesideModule(path, fileName, outFilePath, outFilePathSize);
}

void GetIniFileName(HINSTANCE hInst, char *outFilePath, unsigned long outFilePathSize)
{
    GetPathBesideModule(hInst, kIniFileName, outFilePath, outFilePathSize);
}

// The jar is looked for beside the program, never in the current directory:
// a start from the Run key has the system folder there, a shortcut anything.
void GetJarFileName(HINSTANCE hInst, char *outFilePath, unsigned long outFilePathSize)
{
    GetPathBesideModule(hInst, jarFileName, outFilePath, outFilePathSize);
}

// The Java application finds its data, sounds and help relative to its
// working directory, which a start from the Run key (the system folder) or
// from a shortcut with another "Start in" gets wrong. The program's folder
// ends in a backslash, which SetCurrentDirectoryA takes; a folder whose path
// does not fit leaves the directory as it was.
static void WorkInTheProgramFolder(HINSTANCE hInst)
{
    char folder[kPathSize];
    GetPathBesideModule(hInst, "", folder, sizeof folder);
    if (folder[0])
        SetCurrentDirectoryA(folder);
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
    // The monitor thread touches the event no more once it has signalled it.
    if (sg_hMonitorThread)
        WaitForSingleObject(windowMade, INFINITE);
    CloseHandle(windowMade);
}

bool FindOurWindow()
{
    // The mutex makes "look for the ghost window, else make one" a single
    // step across processes; the running instance is known by its window.
    // WAIT_ABANDONED hands over a guard whose holder died inside it: this
    // start goes on as if it had been released.
    HANDLE mutex = CreateMutexA(NULL, FALSE, kLoadMutexName);
    if (mutex && WaitForSingleObject(mutex, kGuardWaitMs) == WAIT_TIMEOUT) {
        // Another start is still in there, asking an instance that does not
        // answer: this one ends without looking, and leaves it to that one.
        CloseHandle(mutex);
        return true;
    }

    HWND running = FindWindowA(szProgName, NULL);
    if (running) {
        // Windows lets only the process the user just started take the
        // foreground. The running instance got no click, so without this
        // its reminder list would open behind other windows.
        DWORD processId = 0;
        GetWindowThreadProcessId(running, &processId);
        if (processId)
            AllowSetForegroundWindow(processId);
        DWORD_PTR answer;
        SendMessageTimeoutA(running, WM_SHOW_REMINDERS, 0, 0, SMTO_BLOCK | SMTO_ABORTIFHUNG, kShowRemindersWaitMs,
                            &answer);
    } else {
        StartMonitorThread();
    }

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
    GetJarFileName(hInst, sg_jarFilePath, sizeof sg_jarFilePath);
    if (!FindOurWindow()) {
        WorkInTheProgramFolder(hInst);
        // Returns only when the Java application has ended or failed to start
        // (when it ends the process itself, TakeTrayDownOnJavaExit has run).
        StartupJava(sg_iniFilePath, sg_jarFilePath, mainClassName, sg_monitorHwnd, WM_BIND_TO_JAVA,
                    TakeTrayDownOnJavaExit, &sg_jvm);
        // Whatever the way out, no icon is left behind: Windows would show it
        // until the mouse passes over it.
        EndTrayAfterJava();
    }
    return 0;
}
