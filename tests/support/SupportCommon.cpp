// The parts of the test support that are the same on both platforms.

#include "SupportInternal.h"

#include "fakejvm_control.h"
#include "kelvarin.h"

// Which command a user would reach in `rows`, and how: the keys a user
// presses from a freshly opened menu. Nothing is selected when a popup
// opens; Down selects the next item that is not a separator, Right opens a
// submenu with its first item selected, Return chooses.
std::vector<WPARAM> KeysToChoose(std::vector<MenuRow> const &rows, UINT command)
{
    int downs = 0;
    for (MenuRow const &row : rows) {
        if (row.type & MFT_SEPARATOR)
            continue;
        ++downs;
        if (!row.hasSubMenu && row.id == command) {
            std::vector<WPARAM> keys(downs, VK_DOWN);
            keys.push_back(VK_RETURN);
            return keys;
        }
        if (!row.hasSubMenu)
            continue;
        int subDowns = -1;  // Right already selects the first item
        for (MenuRow const &item : row.sub) {
            if (item.type & MFT_SEPARATOR)
                continue;
            ++subDowns;
            if (!item.hasSubMenu && item.id == command) {
                std::vector<WPARAM> keys(downs, VK_DOWN);
                keys.push_back(VK_RIGHT);
                keys.insert(keys.end(), subDowns, VK_DOWN);
                keys.push_back(VK_RETURN);
                return keys;
            }
        }
    }
    return {};
}

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
