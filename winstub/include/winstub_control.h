// Test control of the Win32 stand-in: handlers for the modal calls, records of what the program
// did, injected faults and live-handle counts. Host tests only; every call is thread-safe.
#ifndef WINSTUB_CONTROL_H
#define WINSTUB_CONTROL_H

#include <windows.h>
#include <shellapi.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// Back to a clean state between tests: registry emptied, handlers, records, faults and delays
// cleared, module path override dropped, tray icons and timers forgotten, icon sizes, code page,
// hang timeout, Windows version, elevation, message filter, error mode and every thread's DPI
// awareness back to their defaults, every environment variable changed through
// SetEnvironmentVariableA given back its value from before, and the working directory from
// before the first SetCurrentDirectoryA. Also forgets window classes, every
// open kernel handle, registry handle, menu, icon and loaded library (which stays mapped: code in
// it may still run), and (silently, without messages) any window still alive, so that one test's
// leftovers cannot leak into the next: check WinStub_LiveHandles before calling it. Threads are
// never stopped; a test must have ended its own.
void WinStub_Reset();

// ---- Message boxes ----
struct WinStubMessageBox {
    HWND owner;
    std::string text, caption;  // a NULL caption is recorded as "Error", as Windows shows it
    UINT type;
    DWORD threadId;
    int dpiAwareness;  // the thread's when the box was made, which Windows fixes for the box (below)
};
// The handler runs on the thread that called MessageBoxA and its answer is returned; with no
// handler the box answers its default button (MB_DEFBUTTON2/3 honoured).
void WinStub_SetMessageBoxHandler(std::function<int(const WinStubMessageBox&)> handler);
std::vector<WinStubMessageBox> WinStub_MessageBoxes();

// ---- Popup menus ----
struct WinStubTrackCall {
    HMENU menu;
    UINT flags;
    int x, y;
    HWND owner;
    DWORD threadId;
    int dpiAwareness;  // the thread's when the menu opened, which Windows fixes for the menu
};
// The handler runs on the thread that called TrackPopupMenu, with the menu still alive, and
// returns the chosen command (0 = dismissed). Without TPM_RETURNCMD a nonzero choice is posted
// to the owner as WM_COMMAND (unless TPM_NONOTIFY) and TrackPopupMenu returns TRUE.
void WinStub_SetTrackPopupMenuHandler(std::function<UINT(HMENU, UINT flags, int x, int y, HWND owner)> handler);
std::vector<WinStubTrackCall> WinStub_TrackCalls();

// ---- Modal loops ----
// Serves the messages other threads have sent (SendMessageA) to the calling thread, as a modal
// loop would. Waits up to waitMs (INFINITE allowed) for the first one when none is pending.
// Returns how many were served. For message box and menu handlers that stay open a while.
// A thread inside a message box or menu handler counts as pumping, as a real modal loop does,
// but the stand-in's modal calls dispatch neither posted messages nor timers.
int WinStub_ServeSentMessages(DWORD waitMs = 0);

// ---- Hung threads ----
// A thread counts as hung (SendMessageTimeoutA with SMTO_ABORTIFHUNG) when it has not pumped its
// queue (GetMessageA, PeekMessageA, a modal call, WinStub_ServeSentMessages) for this long and is
// not waiting for messages right now. 5000 ms as on Windows after Reset; tests set it short.
void WinStub_SetHungTimeout(DWORD ms);

// ---- Tray ----
struct WinStubTrayCall {
    DWORD message;          // NIM_ADD, NIM_MODIFY, NIM_DELETE, ...
    NOTIFYICONDATAA data;   // copy of the caller's record up to szTip[64] (or cbSize, if larger)
    BOOL result;
};
std::vector<WinStubTrayCall> WinStub_TrayCalls();
// Icons in the tray, leftovers included: as on Windows (not Wine), an icon whose window is gone
// stays until NIM_DELETE (hWnd and uID still name it) or until the pointer passes over it.
size_t WinStub_TrayIconCount();
// The pointer passes over the tray: the icons whose window is gone vanish, as Windows removes
// them then. Returns how many went.
size_t WinStub_MouseOverTray();
// Posts the icon's callback message (wParam uID, lParam mouseMessage) to its window, as the
// shell does for a click; false when there is no such icon. An icon whose window is gone
// vanishes under the pointer before it can be clicked: it is removed and the answer is false.
bool WinStub_ClickTrayIcon(HWND hwnd, UINT uID, UINT mouseMessage);
// Forgets every icon and posts the registered "TaskbarCreated" message to every live top-level
// window, as a restarted Explorer does. Explorer runs at medium integrity: to an elevated
// process (WinStub_SetElevated) the message is dropped unless let through by
// ChangeWindowMessageFilter.
void WinStub_RecreateTaskbar();

// ---- Foreground and cursor ----
// GetForegroundWindow answers the live window last given to SetForegroundWindow (any thread, no
// foreground lock), NULL after Reset or once that window is gone.
std::vector<HWND> WinStub_ForegroundCalls();  // every SetForegroundWindow argument, in order
std::vector<DWORD> WinStub_ForegroundAllowCalls();  // every AllowSetForegroundWindow argument, in order
void WinStub_SetCursorPos(POINT pt);          // what GetCursorPos reports; {100, 100} after Reset
// What Shell_NotifyIconGetRect (shell32, looked up at run time; Windows 7 and later, so the Win10
// of WinStub_SetWindowsVersion only) answers for any icon in the tray: S_OK and this rectangle;
// E_FAIL for an icon that is not there, E_INVALIDARG for a wrong cbSize. {92, 92, 108, 108}
// after Reset, under the pointer.
void WinStub_SetTrayIconRect(RECT rect);

// ---- Faults ----
enum class WinStubFault {
    CreateMutex,        // NULL, ERROR_ACCESS_DENIED
    CreateEvent,        // NULL, ERROR_NOT_ENOUGH_MEMORY
    CreateThread,       // NULL, ERROR_NOT_ENOUGH_MEMORY
    CreateWindow,       // NULL, ERROR_NOT_ENOUGH_MEMORY; no message reaches the window procedure
    CreatePopupMenu,    // NULL, ERROR_NOT_ENOUGH_MEMORY
    GetCursorPos,       // FALSE, ERROR_ACCESS_DENIED (as on a locked desktop)
    GetModuleFileName,  // 0, ERROR_NOT_ENOUGH_MEMORY; nothing written
    LoadImage,          // NULL, ERROR_NOT_ENOUGH_MEMORY
    NotifyIconAdd,      // Shell_NotifyIconA(NIM_ADD) only: FALSE, ERROR_TIMEOUT, nothing added
                        // (Explorer still starting at logon gives up on the call)
    NotifyIconAddTimesOut,  // Shell_NotifyIconA(NIM_ADD) only: FALSE, ERROR_TIMEOUT, yet the icon
                            // WAS added (Explorer answered too late): adding it again fails as a
                            // duplicate, NIM_MODIFY and NIM_DELETE reach it
};
// The next `times` calls of that kind fail as Windows would (see above).
void WinStub_FailNext(WinStubFault fault, int times = 1);

// ---- Slow calls, for races ----
enum class WinStubDelay {
    FindWindow,  // waits before it looks: a window made meanwhile is found
};
// The next `times` calls of that kind wait `ms` first, with the stand-in unlocked, so that
// other threads run meanwhile.
void WinStub_DelayNext(WinStubDelay call, DWORD ms, int times = 1);

// ---- Display ----
// The screen's real small-icon size; the large one is twice that, as at each standard DPI step.
// 16x16 after Reset (96 DPI); 20, 24, 32 for 120, 144, 192 DPI. What GetSystemMetrics answers
// (SM_CXSMICON, SM_CYSMICON; SM_CXICON, SM_CYICON) depends on the calling thread, as on Windows
// 8.1 and later: a DPI-unaware thread (every thread's default; the process has no manifest) sees
// 16x16 and 32x32, a thread made system- or per-monitor-aware with SetThreadDpiAwarenessContext
// the real sizes. On Vista an unaware thread sees 16x16 only from 144 DPI (24) up; on XP every
// thread sees the real sizes.
void WinStub_SetSmallIconSize(int cx, int cy);
// The screen's real size in pixels, 1920x1080 after Reset: GetSystemMetrics(SM_CXSCREEN,
// SM_CYSCREEN) answers it to an aware thread, and to a thread that sees 96 DPI sizes (above) the
// same in 96 DPI pixels (cx * 16 / the small icon's cx), as Windows does.
void WinStub_SetScreenSize(int cx, int cy);
// The thread's DPI awareness as the DPI_AWARENESS_CONTEXT pseudo-handle's value: -1 unaware,
// -2 system aware, -3 per-monitor, -4 per-monitor v2; 0 for a thread the stand-in does not know
// (never used it, or ended). -1 for every thread after Reset.
// Windows fixes a window's awareness when it is made, from its thread's then, and runs every
// call of its window procedure in it, giving the thread its own back afterwards; a popup menu's
// and a message box's are fixed the same way when they open (WinStubTrackCall, WinStubMessageBox).
int WinStub_ThreadDpiAwareness(DWORD threadId);
int WinStub_WindowDpiAwareness(HWND hwnd);  // 0 for no window
struct WinStubLoadImageCall {
    HINSTANCE module;
    std::string name;  // "" for a numeric id
    UINT id;           // 0 for a named resource
    UINT type;
    int cx, cy;
    UINT flags;
    HANDLE result;
};
// Every LoadImageA call, in order, failed ones too; LoadIconA on a module goes through it
// (0, 0, LR_SHARED | LR_DEFAULTSIZE) as in Wine.
std::vector<WinStubLoadImageCall> WinStub_LoadImageCalls();

// ---- Code page ----
// The ANSI code page that GetACP, IsDBCSLeadByte, CharNextA and CharPrevA follow: 1252 after
// Reset. Double-byte: 932 (Shift-JIS), 936, 949, 950; single-byte: 874, 1250-1258. False (and
// no change) for any other.
bool WinStub_SetAnsiCodePage(UINT codePage);

// ---- Module path ----
// What GetModuleFileNameA reports for the program, in Windows form ("Z:\\dir\\Chimelet.exe");
// nullptr goes back to the real one ("Z:" + /proc/self/exe with '/' turned into '\\').
void WinStub_SetModuleFileName(const char* windowsPath);

// ---- The Windows being run on ----
// Which user32 exports GetProcAddress finds on GetModuleHandleA("user32.dll"):
// Win10 (1607 and later, after Reset) ChangeWindowMessageFilter and SetThreadDpiAwarenessContext;
// Vista ChangeWindowMessageFilter only; Xp neither (NULL, ERROR_PROC_NOT_FOUND). Xp has no
// integrity levels, so elevation drops nothing there.
enum class WinStubWindowsVersion { Xp, Vista, Win10 };
void WinStub_SetWindowsVersion(WinStubWindowsVersion version);

// ---- Elevation and the message filter (UIPI) ----
// Runs the process as administrator (false after Reset): messages from a process of lower
// integrity (the TaskbarCreated of WinStub_RecreateTaskbar) are dropped unless the program let
// them through with ChangeWindowMessageFilter(message, MSGFLT_ADD); MSGFLT_REMOVE takes that
// back. The filter is the process's, as ChangeWindowMessageFilter sets it.
void WinStub_SetElevated(bool elevated);
struct WinStubMessageFilterCall {
    UINT message;
    DWORD flag;
    BOOL result;
};
std::vector<WinStubMessageFilterCall> WinStub_MessageFilterCalls();  // every call, in order

// ---- Error mode ----
// The process's error mode (SetErrorMode) at each LoadLibraryA call, in order, failed ones too.
std::vector<UINT> WinStub_LoadLibraryErrorModes();

// ---- Timers ----
struct WinStubTimer {
    HWND hwnd;      // nullptr for a thread timer
    UINT_PTR id;
    UINT elapse;    // the period in use: below USER_TIMER_MINIMUM raised to it, as Windows does
};
// The timers set now (by SetTimer, not killed, their window alive), in the order first set.
std::vector<WinStubTimer> WinStub_Timers();

// ---- Live handles, for leak checks ----
struct WinStubLive {
    int menus, windows, icons, trayIcons, regKeys, kernelHandles;
    int modules;  // libraries loaded with LoadLibraryA and not yet freed as often
};
WinStubLive WinStub_LiveHandles();

// ---- Resources (called by the code that winstub_add_resources generates) ----
struct WinStubResourceString {
    UINT id;
    const char* text;
};
struct WinStubResourceIcon {
    const char* name;  // nullptr when the icon has a numeric id
    UINT id;
};
// Adds the strings and icon names of the main module; arrays end with a {.., nullptr} string
// entry and a {nullptr, 0} icon entry. Later registrations add to (or replace) earlier ones.
void WinStub_RegisterResources(const WinStubResourceString* strings, const WinStubResourceIcon* icons);

#endif
