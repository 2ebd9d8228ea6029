#include "HostWindowSystem.h"

#include <windows.h>

#include "fakejvm_control.h"
#include "winstub_control.h"

static int ServeSentMessages(unsigned long waitMs)
{
    return WinStub_ServeSentMessages((DWORD)waitMs);
}

// The stand-in's pseudo-handle values, as GetAwarenessFromDpiAwarenessContext
// numbers the awareness.
static int ThreadDpiAwareness()
{
    switch (WinStub_ThreadDpiAwareness(GetCurrentThreadId())) {
    case -1: return 0;
    case -2: return 1;
    case -3:
    case -4: return 2;
    default: return -1;
    }
}

static int SystemMetrics(int index)
{
    return GetSystemMetrics(index);
}

void HandJavaTheHostWindowSystem()
{
    static FakeJvmWindowSystem const windowSystem = {ServeSentMessages, ThreadDpiAwareness, SystemMetrics};
    FakeJvm_SetWindowSystem(&windowSystem);
}
