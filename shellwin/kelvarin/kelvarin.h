// Chimelet's shell: the globals its files share and the functions they call
// across files. Every function here runs on the thread its comment names;
// none of them may be called from a thread of the Java VM.
#ifndef CHIMELET_KELVARIN_H
#define CHIMELET_KELVARIN_H

#include <windows.h>

#include <jni.h>

#include "JavaInterface.h"

// Private messages of the ghost window (all answered with 0).
UINT const WM_BIND_TO_JAVA = WM_USER + 100;    // posted once by the launch after main() returned
UINT const WM_NOTIFY_ICON = WM_USER + 101;     // the tray icon's callback: wParam icon, lParam mouse message
UINT const WM_SHOW_REMINDERS = WM_USER + 102;  // sent by a refused second start
UINT const WM_JAVA_ENDED = WM_USER + 103;      // sent by the main thread once the launch has returned

UINT const kNotifyIconId = 1;

// gMenuItemTitle's size. Menu texts are loaded with the smaller limit.
int const kMenuItemTitleSize = 256;
int const kMenuTextLoadLimit = 128;
// An item text made of Java strings.
int const kMenuItemTextSize = 1024;

// The names the shell is known by: the ghost window's class and title, and
// the Java side's jar and classes.
extern char const szProgName[20];
extern char const jarFileName[13];
extern char const mainClassName[40];
extern char const interfaceClassName[50];

extern char sg_iniFilePath[kPathSize];      // written once by WinMain, then read only
extern char sg_jarFilePath[kPathSize];      // likewise: the jar beside the program
extern HANDLE sg_hMonitorThread;            // kept for the life of the process
extern HWND sg_monitorHwnd;                 // final once the guard's handshake is over; NULL if never made
extern JavaVM *sg_jvm;                      // set by the launch before it posts WM_BIND_TO_JAVA
extern JNIEnv *sg_pEnvThread;               // the monitor thread's env while it calls Java, else NULL
extern bool sg_trayBound;                   // monitor thread: the tray may call Java (bound, and Java not gone)
extern bool sg_javaQuit;                    // monitor thread: quit is called (set before); nothing may follow it
extern char gMenuItemTitle[kMenuItemTitleSize]; // monitor thread: tooltip, then menu item texts
extern int gQuitLoop;                       // nonzero ends the monitor's message loop

// --- Start-up (main thread) ---

// Write the full path of the settings file ("Chimelet.ini") or of the jar
// ("chimelet.jar") beside the module hInst into outFilePath. Write an empty
// string when the module path cannot be read or the result would not fit:
// a path cut short would name some other file.
void GetIniFileName(HINSTANCE hInst, char *outFilePath, unsigned long outFilePathSize);
void GetJarFileName(HINSTANCE hInst, char *outFilePath, unsigned long outFilePathSize);

// What those two do once the module path is read: the directory of
// modulePath (all of it when it has no backslash), a backslash, fileName.
// Returns false, with outFilePath empty, when the result does not fit.
bool BuildPathBesideModule(char const *modulePath, char const *fileName, char *outFilePath,
                           unsigned long outFilePathSize);

// The single-instance guard. True when this start is to end at once:
// another instance runs and has been asked to show its reminder list (it may
// not have answered in time), or, without looking for it at all, when
// another start held the guard too long (that start is still at it).
// False when this process is the first: the monitor thread then runs and
// sg_monitorHwnd is final (NULL when no window could be made, in which case
// start-up goes on without a tray).
bool FindOurWindow();

// --- Monitor thread: ghost window and tray icon ---

// The monitor thread. pParam is the handshake event, signalled as soon as
// sg_monitorHwnd is final. Returns once the message loop has ended and the
// Java application, when it still runs, has been told to quit.
DWORD WINAPI CreateOurWindow(void *pParam);
void RegisterOurWindowClass();
LRESULT CALLBACK WndProc(HWND hWnd, UINT messg, WPARAM wParam, LPARAM lParam);

// Add the tray icon, or take it down for good; the Shell_NotifyIconA result.
// Any thread. Once hwnd's icon has been taken down, every add of it does
// nothing and fails: the removals at the end of a run race the monitor
// thread's adds (its retries while Explorer starts, a restarted Explorer).
// AddTaskBarIcon destroys hicon once the shell has taken its copy.
BOOL AddTaskBarIcon(HWND hwnd, UINT uID, HICON hicon, char const *lpszTip);
BOOL TakeTaskBarIconDown(HWND hwnd, UINT uID);

// The icon's rectangle on the screen, in the calling thread's DPI awareness.
// False where Windows cannot tell (before Windows 7, or no such icon).
bool GetTaskBarIconRect(HWND hwnd, UINT uID, RECT *outRect);

// The VM's exit hook: the Java application ends the process itself. Runs on
// a thread of the VM's own, at the very end, while the thread that called
// exit waits; removes the icon and returns at once.
void JNICALL TakeTrayDownOnJavaExit(jint code);

// Around every call of a Java method on the monitor thread. The method runs
// in the process's own DPI awareness, the one AWT's windows live in (the
// thread is system aware otherwise): EnterJavaMethod switches to it and
// answers what LeaveJavaMethod gives back, NULL where there is nothing to
// switch. Meanwhile InsideJavaMethod is true: a Java method may wait in
// SendMessage, and the messages sent to the ghost window are then served
// inside it. JavaMethodsCalled counts the calls so far.
HANDLE EnterJavaMethod();
void LeaveJavaMethod(HANDLE dpiContext);
bool InsideJavaMethod();
unsigned long JavaMethodsCalled();

// Main thread, once the launch has returned: the Java application has ended
// or never started. Asks the monitor thread to take the ghost window down
// without calling Java, waiting for it only a moment, and removes the icon
// itself in case it did not.
void EndTrayAfterJava();

// --- Tray popup menu (monitor thread, while it calls Java) ---

// Whether the tray callback's mouse message opens the menu: a left or right
// button press.
bool IsMenuButtonPress(LPARAM mouseMessage);

// Opens the popup menu on a left or right button press and runs the chosen
// command after the menu has closed. Other mouse messages do nothing.
void MouseDownOnNotifyIcon(HWND hWnd, WPARAM wParam, LPARAM lParam);

// Builds the whole popup menu, asking Java for the templates, today's events
// and the Do Not Disturb state, in that order (nothing while sg_pEnvThread is
// NULL: the submenus then hold their fixed items only). The caller owns the
// menu (DestroyMenu also frees its submenus). NULL when no menu could be made.
HMENU BuildNotifyIconMenu();

// Runs the command whose item data is inCommand; unknown values do nothing.
void RunMenuCommand(HWND hWnd, ULONG_PTR inCommand);

// Depth-first search of the menu tree for the item with command inID.
// outInfo's cbSize and fMask are the caller's; fMask must hold MIIM_SUBMENU.
// Nonzero when found, with outInfo filled as its mask asks.
int LocateMenuItemWithIDInMenu(HMENU inMenu, UINT inID, MENUITEMINFOA *outInfo);

// The Schedule and Events For Today submenus, from Java's current answers.
// The caller owns the menu; NULL only when no menu could be made.
HMENU GetTemplateSubMenu();
HMENU GetTodayEventsSubMenu();

// --- Application commands (monitor thread; do nothing while sg_pEnvThread is
// NULL, and once sg_javaQuit is set: a command chosen in a menu that was
// open when the session ended must not follow quit) ---

// When a Java exception is pending, reports it on the VM's error stream and
// clears it, so that the next JNI call is legal. True if there was one.
bool DescribeJavaException(JNIEnv *env);

// A new local reference to the Java interface class, or NULL (a pending
// exception has then been described and cleared; or no env, or Java has
// been told to quit). The caller deletes it.
jclass GetApplicationInterfaceClass();

// Calls the interface class's static method `name` with `signature`, whose
// result type (void, boolean or an object) picks the call, and args. True
// when it ran without an exception (one is described and cleared), with
// its answer in *outResult when that is not NULL. An object answered is a
// new local reference that the caller deletes, or leaves to a local frame it
// pops; nothing else is left behind.
bool CallInterfaceMethod(char const *name, char const *signature, jvalue const *args, jvalue *outResult);

// Nonzero while Java reports Do Not Disturb on; 0 also on any failure.
int AreRemindersSuspended();

void ShowAboutWindow();
void ShowHelpWindow();
void ShowDoNotDisturb();
void ShowQuickReminder();
void ShowReminderList();
void ShowTemplateList();
void ShowCategoryList();
void ShowSoundList();
void ShowNewReminderDialog();
void EditReminderWithTemplate(unsigned long inTemplateIndex);

// Asks the user; on Yes posts WM_QUIT to the ghost window, which ends the
// monitor loop and so leads to DoQuit.
void ConfirmQuit();

// Tells the Java application to quit, once: sg_javaQuit is set before the
// call, so that nothing arriving meanwhile (a later start's message served
// inside quit) reaches Java. The last call into Java of a run.
void DoQuit();

#endif
