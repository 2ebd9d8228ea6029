// The parts of the test support that are the same on both platforms.

#include "SupportInternal.h"

#include <mutex>

#include "fakejvm_control.h"
#include "kelvarin.h"

static std::mutex sLock;
static std::vector<ShownBox> sShownBoxes;
static int sBoxAnswer;  // 0: the box's default button
static std::vector<MenuRow> sLastMenu;
static int sTrackedMenus;

static int DefaultButton(UINT type)
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

void AnswerMessageBoxes(int answer)
{
    std::lock_guard<std::mutex> hold(sLock);
    sBoxAnswer = answer;
    sShownBoxes.clear();
}

std::vector<ShownBox> ShownMessageBoxes()
{
    std::lock_guard<std::mutex> hold(sLock);
    return sShownBoxes;
}

int RecordShownBox(ShownBox const &box)
{
    std::lock_guard<std::mutex> hold(sLock);
    sShownBoxes.push_back(box);
    return sBoxAnswer ? sBoxAnswer : DefaultButton(box.type);
}

void RecordTrackedMenu(std::vector<MenuRow> const &rows)
{
    std::lock_guard<std::mutex> hold(sLock);
    sLastMenu = rows;
    ++sTrackedMenus;
}

std::vector<MenuRow> LastTrackedMenu()
{
    std::lock_guard<std::mutex> hold(sLock);
    return sLastMenu;
}

int TrackedMenuCount()
{
    std::lock_guard<std::mutex> hold(sLock);
    return sTrackedMenus;
}

void ResetTestProcess()
{
    ResetPlatform();
    {
        std::lock_guard<std::mutex> hold(sLock);
        sShownBoxes.clear();
        sBoxAnswer = 0;
        sLastMenu.clear();
        sTrackedMenus = 0;
    }
    sg_iniFilePath[0] = '\0';
    sg_jarFilePath[0] = '\0';
    sg_hMonitorThread = NULL;
    sg_monitorHwnd = NULL;
    sg_jvm = NULL;
    sg_pEnvThread = NULL;
    sg_trayBound = false;
    sg_javaQuit = false;
    gQuitLoop = 0;
    FakeJvm_Reset();
}
