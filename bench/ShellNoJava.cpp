// Chimelet's start-up without the Java start, for the start-up breakdown:
// the shell's own code up to and with the tray icon (settings path, the
// single-instance guard, the monitor thread with its class, window and icon),
// and then nothing but waiting for the monitor thread. Closing the ghost
// window ends it, as it ends Chimelet.exe.
//
// main, not WinMain: the shell's objects bring Chimelet's WinMain, which the
// C runtime calls only when there is no main.

#include <windows.h>

#include "kelvarin.h"

int main()
{
    gQuitLoop = 0;
    GetIniFileName(GetModuleHandleA(NULL), sg_iniFilePath, sizeof sg_iniFilePath);
    if (FindOurWindow() || !sg_hMonitorThread)
        return 0;
    WaitForSingleObject(sg_hMonitorThread, INFINITE);
    return 0;
}
