// The parts of the test support that are the same on both platforms.

#include "SupportInternal.h"

#include "fakejvm_control.h"
#include "kelvarin.h"

int DefaultButton(UINT type)
{
    switch (type & MB_TYPEMASK) {
    case MB_YESNO:
    case MB_YESNOCANCEL:
        return IDYES;
    case MB_RETRYCANCEL:
        return IDRETRY;
    case MB_ABORTRETRYIGNORE:
        return IDABORT;
    default:
        return IDOK;
    }
}

static LRESULT CALLBACK PlainWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

HWND MakeTestWindow()
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = PlainWindowProc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.lpszClassName = "ChimeletTestWindow";
    RegisterClassA(&wc);  // fails, harmlessly, from the second window on
    return CreateWindowExA(0, wc.lpszClassName, "", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, NULL, NULL,
                           wc.hInstance, NULL);
}

void ResetShellGlobals()
{
    sg_iniFilePath[0] = '\0';
    sg_hMonitorThread = NULL;
    sg_monitorHwnd = NULL;
    sg_jvm = NULL;
    sg_pEnvThread = NULL;
    gQuitLoop = 0;
    FakeJvm_Reset();
}
