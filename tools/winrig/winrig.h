// winrig: drives a running Chimelet.exe from another process in the same Wine
// prefix, the way a user would: its ghost window, its tray icon, the popup
// menu, its message boxes; and starts processes under a watchdog.
//
// Everything here works across processes, and so only through what Wine lets
// one process see of another's windows: classes, titles, styles, positions,
// posted keys and mouse messages. Menu contents cannot be read from outside
// (Wine refuses with error 1456); check them in-process.
//
// What Wine 8 does, measured with probes under Xvfb (the code relies on it):
// - With no desktop tray, each icon is a child window of class
//   "__winex11_tray_icon" of a visible top-level "__winex11_standalone_tray"
//   window belonging to explorer.exe. The icon window has no title. A mouse
//   message posted to it reaches the icon's owner as its callback message.
//   When the last icon goes, the standalone tray window goes too.
// - The tooltip is a separate top-level "tooltips_class32" window owned by
//   the standalone tray, not by the icon. GetWindowTextA of it is empty; a
//   WM_GETTEXT sent to it answers its current text, and that text is only
//   there once the tip has been shown, which takes real pointer motion onto
//   the icon (SetCursorPos from elsewhere), not a posted WM_MOUSEMOVE.
// - An icon whose owner process has ended disappears with it.
// - A message box is a "#32770" top-level window titled with its caption;
//   the text is its control 0xFFFF; Wine creates only the buttons the box
//   has, with their command IDs (IDOK, IDYES, IDNO, ...).
// - With no window manager (bare Xvfb), hiding a window that winex11
//   "manages" (message boxes, the standalone tray when its last icon goes)
//   waits 2 s for a WM that never answers; Shell_NotifyIconA(NIM_DELETE)
//   then takes 2 s. With HKCU\Software\Wine\X11 Driver "Managed"="N" set
//   before the processes start (scripts/wine-session does), they hide at once.
//
// All functions are for one thread of a test or tool process; none throws.
#ifndef CHIMELET_WINRIG_H
#define CHIMELET_WINRIG_H

#include <windows.h>

#include <string>
#include <vector>

namespace winrig {

char const kGhostWindowClass[] = "ChimeletGhostWindow";
char const kTrayWindowClass[] = "__winex11_standalone_tray";
char const kTrayIconClass[] = "__winex11_tray_icon";
char const kTooltipClass[] = "tooltips_class32";
char const kMenuClass[] = "#32768";
char const kDialogClass[] = "#32770";
int const kMessageBoxTextId = 0xFFFF;

// The shell's private messages, as another process sends them.
UINT const kShowRemindersMessage = WM_USER + 102;

// --- Waiting ---

// Generous bounds for another Wine process: one starts in well under a
// second with the persistent server, but machines stall now and then.
DWORD const kAppearMs = 10000;  // its window, icon, menu, message box, log line
DWORD const kExitMs = 10000;    // its end, when it should end

// Where everything runs many times slower than on the machines the bounds
// here were measured on (32-bit Wine in an emulated PC, scripts/x86-vm), the
// environment variable CHIMELET_TIME_SCALE, a whole number, stretches every
// bound on a wait: WaitUntil's, WaitChild's, SendGetText's, and so every
// wait built on them. The same variable stretches CTest's time limits.
// TimeScale() reads it once per process; 1 when it is unset or not a number
// from 1 to 100.
DWORD TimeScale();
DWORD ParseTimeScale(char const *text);  // the rule above; NULL is unset

// ms stretched by TimeScale(), for a bound the caller measures itself or a
// pause that lets the other side catch up; INFINITE stays INFINITE.
DWORD Scaled(DWORD ms);

// Polls predicate every pollMs until it answers true or Scaled(timeoutMs)
// has passed; true when it did. The predicate is asked at least once.
template <typename Predicate>
bool WaitUntil(DWORD timeoutMs, Predicate predicate, DWORD pollMs = 20)
{
    DWORD const limit = Scaled(timeoutMs);
    DWORD start = GetTickCount();
    for (;;) {
        if (predicate())
            return true;
        if (GetTickCount() - start >= limit)
            return false;
        Sleep(pollMs);
    }
}

// --- Windows of any process ---

struct WindowFacts {
    HWND hwnd = NULL;
    bool exists = false;
    bool visible = false;
    DWORD pid = 0;
    LONG style = 0;
    LONG exStyle = 0;
    HWND owner = NULL;
    RECT rect = {0, 0, 0, 0};
    std::string className;
    std::string title;  // the window's own title, as the system keeps it
};

// What the system tells of hwnd; exists false when it is no window.
WindowFacts DescribeWindow(HWND hwnd);

// Top-level windows of class className (of any class when NULL; message-only
// windows excluded), of one process when pid is nonzero, in z-order.
std::vector<HWND> FindTopLevelWindows(char const *className, DWORD pid = 0);

// The visible ones among those.
std::vector<HWND> FindVisibleWindows(char const *className, DWORD pid = 0);

// Sends WM_GETTEXT (GetWindowTextA does not send it to another process's
// window, and some controls keep their text only there). "" on failure or
// when the window does not answer within timeoutMs.
std::string SendGetText(HWND hwnd, DWORD timeoutMs = 1000);

// --- The ghost window ---

// The first ghost window (of process pid when nonzero), or NULL.
HWND FindGhostWindow(DWORD pid = 0);

// Posts WM_CLOSE to the ghost window, as a task manager would. False when
// there is no ghost window.
bool CloseGhostWindow(DWORD pid = 0);

// --- The tray icon ---

// Every tray icon window in the prefix, in tray order.
std::vector<HWND> FindTrayIcons();

// The only tray icon, or NULL when there is none (or several: the caller
// cannot know which is Chimelet's, and should not guess).
HWND FindTrayIcon();

// Posts one mouse message (WM_RBUTTONDOWN, WM_LBUTTONUP, WM_MOUSEMOVE, ...)
// to the icon window, which hands it to the icon's owner as lParam of its
// callback message.
bool PostTrayMouse(HWND icon, UINT mouseMessage);

// A click with the right or left button: the pointer is moved onto the icon
// first, so that a menu opened at the cursor opens at the icon, then the
// button's down and up messages are posted.
bool ClickTrayIcon(HWND icon, bool rightButton);

// Shows the icon's tooltip by moving the pointer onto the icon from
// elsewhere, and reads its text; "" when no tip showed within timeoutMs.
// Needs the icon to be the only one (the tips are not tied to their icons).
std::string ReadTrayTooltip(HWND icon, DWORD timeoutMs);

// --- Popup menus ---

// Visible popup menu windows (a submenu that is open is a second one).
std::vector<HWND> FindVisibleMenus(DWORD pid = 0);

// Names of the keys a menu understands: down, up, left, right, return
// (enter), escape (esc), home, end. 0 for anything else.
UINT MenuKeyFromName(char const *name);

// Posts a key press and release to the menu window. The menu's modal loop
// takes every key message of its thread, whichever window it was posted to.
bool PostMenuKey(HWND menu, UINT virtualKey);

// The smallest rectangle holding every visible menu; false when none is.
bool VisibleMenusRect(RECT *outRect, DWORD pid = 0);

// The DPI awareness a window of any process was made in, as
// GetAwarenessFromDpiAwarenessContext numbers it: 0 unaware, 1 system aware,
// 2 per monitor; -1 where the system cannot tell (no such entries, no such
// window). A popup menu has the awareness of the thread that opened it.
int WindowDpiAwareness(HWND hwnd);
int const kSystemDpiAware = 1;

// --- Message boxes ---

struct MessageBoxFacts {
    HWND hwnd = NULL;
    DWORD pid = 0;
    std::string caption;
    std::string text;
    std::vector<int> buttons;  // command IDs of the visible buttons, IDOK first, then IDYES, IDNO, ...
};

// The first visible message box with that caption (any caption when NULL),
// of process pid when nonzero; NULL when there is none.
HWND FindMessageBox(char const *caption, DWORD pid = 0);

MessageBoxFacts ReadMessageBox(HWND box);

// Answers the box by posting BM_CLICK to its button buttonId (IDOK, IDYES,
// IDNO). False when the box has no such visible button.
bool AnswerMessageBox(HWND box, int buttonId);

// "ok", "yes", "no", "cancel" to IDOK..., 0 for anything else.
int ButtonFromName(char const *name);

// --- Processes under a watchdog ---

struct Child {
    HANDLE process = NULL;
    DWORD pid = 0;
};

// Starts exe (full path) with the working directory dir ("" for ours) and
// this process's environment changed by `environment`: each "NAME=value"
// sets a variable, each bare "NAME" removes one. The command line is the
// quoted exe path followed by arguments. False, with error set, on failure.
bool StartChild(std::string const &exe, std::string const &arguments, std::string const &dir,
                std::vector<std::string> const &environment, Child *out, std::string *error = NULL);

// The environment block StartChild hands on: `entries` ("NAME=value", in
// order) with `changes` applied as above; names compare without case; a
// changed variable moves to the end. Double-NUL ended.
std::string EditEnvironment(std::vector<std::string> const &entries, std::vector<std::string> const &changes);

enum class WaitResult { Exited, TimedOut, Failed };

// Waits up to Scaled(timeoutMs) for the child to end. On time-out the watchdog
// terminates it (exit code 0xDEAD) and waits for that, so that nothing is
// left running either way. exitCode gets the child's exit code.
WaitResult WaitChild(Child *child, DWORD timeoutMs, DWORD *exitCode = NULL);

// True while the child runs.
bool ChildRunning(Child const &child);

// Terminates the child if it still runs and closes its handle. Safe to call
// twice and on a child never started.
void EndChild(Child *child);

// --- Files: the stand-in runtime's log and scripts ---

// The whole file, "" when it cannot be read. Opened shared, so a file that
// another process keeps appending to can be read.
std::string ReadFileText(std::string const &path);

bool WriteFileText(std::string const &path, std::string const &text);

// The file's lines, without their line ends.
std::vector<std::string> ReadLines(std::string const &path);

// Lines of the file that start with prefix.
int CountLinesWithPrefix(std::string const &path, std::string const &prefix);

// Waits until at least count lines start with prefix; true when they do.
bool WaitForLines(std::string const &path, std::string const &prefix, int count, DWORD timeoutMs);

// The directory of this program's executable, without a trailing backslash.
std::string ProgramDirectory();

// --- The Java runtime registry entries the shell looks for ---

// Registers runtimeLib as an installed Java runtime of that version under
// HKLM\Software\JavaSoft\Java Runtime Environment: CurrentVersion, and the
// version's key with JavaHome, MicroVersion and RuntimeLib.
bool RegisterJavaRuntime(std::string const &runtimeLib, std::string const &version = "1.4");

// Removes HKLM\Software\JavaSoft and everything under it. True also when it
// was not there.
bool UnregisterJavaRuntimes();

}  // namespace winrig

#endif
