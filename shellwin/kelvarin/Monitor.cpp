// The monitor thread: the hidden ghost window through which a running
// instance is found and reached, the tray icon, and the thread's message loop.
// Once the Java application is up the tray is bound to it, and every call the
// tray makes into Java runs here.

#include <windows.h>
#include <shellapi.h>

#include <string.h>

#include "kelvarin.h"
#include "resource.h"

// cbSize names the record's first layout, whose tooltip holds 64 bytes,
// however many this header's declaration has room for.
int const kTipSize = 64;
#if defined(__i386__)
// The size every 32-bit Windows accepts; only the 32-bit build can check it.
static_assert(NOTIFYICONDATAA_V1_SIZE == 88, "the first NOTIFYICONDATAA layout");
#endif

// Explorer may not be ready at logon, and then refuses the icon: it is
// offered again every 2 seconds for 2 minutes.
UINT_PTR const kAddIconTimer = 1;
UINT const kAddIconRetryMs = 2000;
int const kAddIconRetries = 60;

// How long the main thread waits for this thread to take the tray down once
// Java is gone. It only waits when this thread is busy, which it should not
// be then; the process must end all the same.
UINT const kTakeDownWaitMs = 1000;

// Entries of later Windows, looked up at run time: the program still starts
// on the versions that lack them, which then need none of them.
typedef BOOL(WINAPI *ChangeWindowMessageFilterEntry)(UINT message, DWORD flag);  // Vista
typedef HANDLE(WINAPI *SetThreadDpiAwarenessContextEntry)(HANDLE context);     // Windows 10 1607
typedef HRESULT(WINAPI *ShellNotifyIconGetRectEntry)(NOTIFYICONIDENTIFIER const *identifier,
                                                     RECT *iconLocation);        // Windows 7
DWORD const kMessageFilterAdd = 1;              // MSGFLT_ADD
INT_PTR const kDpiAwarenessSystemAware = -2;    // DPI_AWARENESS_CONTEXT_SYSTEM_AWARE

HWND sg_monitorHwnd;
JavaVM *sg_jvm;
JNIEnv *sg_pEnvThread;
char gMenuItemTitle[kMenuItemTitleSize];
int gQuitLoop;

// Set once the bind message has shown that this thread can attach to the VM;
// cleared when Java has gone.
bool sg_trayBound;
// Attaches under way on this thread: a tray action stays attached for its
// whole menu, and a second start's message can come while the menu is open.
static int sg_javaAttachDepth;
// Java methods running on this thread, and how many have been called. A
// Java method may wait in SendMessage (AWT hands window work to its toolkit
// thread that way), and the messages sent to the ghost window meanwhile are
// served inside it.
static int sg_javaMethodDepth;
static unsigned long sg_javaMethodsCalled;
// The DPI awareness this thread had before it was made system aware: the
// process's own, in which Java runs. NULL where Windows has no such entry.
static SetThreadDpiAwarenessContextEntry sg_setThreadDpiAwareness;
static HANDLE sg_processDpiContext;
// A tray click is being handled: its menu or its Exit question is open.
static bool sg_trayBusy;
// Java hears quit once, however Exit, a close from outside and the end of
// the session meet, and nothing after it.
bool sg_javaQuit;
// Explorer broadcasts this when the notification area has been recreated;
// every icon it showed is gone and must be added again.
static UINT sg_taskbarCreatedMessage;
static int sg_addIconRetriesLeft;

// The icon's removal for good (the exit hook on the VM's thread, the main
// thread once Java has gone, the end of the monitor loop) and every add are
// each one step against this mark, the window whose icon is gone, so that no
// add can land after it: Windows would show such an icon until the mouse
// passes over it. The lock is held only around one Shell_NotifyIconA call;
// it is made before WinMain runs, when there is no other thread yet.
static CRITICAL_SECTION sg_trayIconLock;
[[maybe_unused]] static bool const sg_trayIconLockMade = (InitializeCriticalSection(&sg_trayIconLock), true);
static HWND sg_trayIconGoneFor;

void RegisterOurWindowClass()
{
    WNDCLASSA wc;

    memset(&wc, 0, sizeof wc);
    wc.style = 0;
    wc.lpfnWndProc = WndProc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.hIcon = LoadIconA(NULL, IDI_APPLICATION);
    wc.hCursor = LoadCursorA(NULL, IDC_ARROW);
    wc.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
    wc.lpszMenuName = NULL;
    wc.lpszClassName = szProgName;
    RegisterClassA(&wc);
}

// The record that names our icon to the shell: window and identifier.
static void InitNotifyIconData(NOTIFYICONDATAA *tnd, HWND hwnd, UINT uID)
{
    memset(tnd, 0, sizeof *tnd);
    tnd->cbSize = NOTIFYICONDATAA_V1_SIZE;
    tnd->hWnd = hwnd;
    tnd->uID = uID;
}

// Shell_NotifyIconA as one step against the mark: nothing for a window
// whose icon has been taken down for good, unless takeDown makes this that
// step.
static BOOL NotifyIconUnlessTakenDown(DWORD message, NOTIFYICONDATAA *tnd, bool takeDown)
{
    BOOL done = FALSE;
    EnterCriticalSection(&sg_trayIconLock);
    if (takeDown)
        sg_trayIconGoneFor = tnd->hWnd;
    if (takeDown || sg_trayIconGoneFor != tnd->hWnd)
        done = Shell_NotifyIconA(message, tnd);
    LeaveCriticalSection(&sg_trayIconLock);
    return done;
}

BOOL AddTaskBarIcon(HWND hwnd, UINT uID, HICON hicon, char const *lpszTip)
{
    NOTIFYICONDATAA tnd;

    InitNotifyIconData(&tnd, hwnd, uID);
    tnd.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    tnd.uCallbackMessage = WM_NOTIFY_ICON;
    tnd.hIcon = hicon;
    if (lpszTip)
        lstrcpynA(tnd.szTip, lpszTip, kTipSize);

    BOOL added = NotifyIconUnlessTakenDown(NIM_ADD, &tnd, false);
    // Explorer, busy at logon, may add the icon and still report failure
    // when its answer comes too late; every later add would then fail as a
    // duplicate. An icon that is there takes a modification.
    if (!added)
        added = NotifyIconUnlessTakenDown(NIM_MODIFY, &tnd, false);
    // The shell keeps its own copy of the image.
    if (hicon)
        DestroyIcon(hicon);
    return added;
}

BOOL TakeTaskBarIconDown(HWND hwnd, UINT uID)
{
    NOTIFYICONDATAA tnd;

    InitNotifyIconData(&tnd, hwnd, uID);
    return NotifyIconUnlessTakenDown(NIM_DELETE, &tnd, true);
}

bool GetTaskBarIconRect(HWND hwnd, UINT uID, RECT *outRect)
{
    HMODULE shell32 = GetModuleHandleA("shell32.dll");
    ShellNotifyIconGetRectEntry getRect =
        shell32 ? (ShellNotifyIconGetRectEntry)(void *)GetProcAddress(shell32, "Shell_NotifyIconGetRect") : NULL;
    if (!getRect)
        return false;
    NOTIFYICONIDENTIFIER icon;
    memset(&icon, 0, sizeof icon);
    icon.cbSize = sizeof icon;
    icon.hWnd = hwnd;
    icon.uID = uID;
    return SUCCEEDED(getRect(&icon, outRect));
}

// The bell at the size the tray shows: 16x16 at 96 DPI, more on a denser
// screen, where a scaled-up 16x16 would be blurred.
static BOOL AddOurIcon(HWND hwnd)
{
    LoadProgramString(IDS_PRODUCT_NAME, gMenuItemTitle, kMenuTextLoadLimit);
    HICON icon = (HICON)LoadImageA(GetModuleHandleA(NULL), IDI_TRAY_ICON_NAME, IMAGE_ICON,
                                   GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR);
    return AddTaskBarIcon(hwnd, kNotifyIconId, icon, gMenuItemTitle);
}

static void AddOurIconUntilShown(HWND hwnd)
{
    if (AddOurIcon(hwnd)) {
        KillTimer(hwnd, kAddIconTimer);
        return;
    }
    sg_addIconRetriesLeft = kAddIconRetries;
    SetTimer(hwnd, kAddIconTimer, kAddIconRetryMs, NULL);
}

static void RetryAddingOurIcon(HWND hwnd)
{
    if (AddOurIcon(hwnd) || --sg_addIconRetriesLeft <= 0)
        KillTimer(hwnd, kAddIconTimer);
}

// This thread is attached to the VM only while it calls Java, as a normal
// thread. Between calls it is not: DestroyJavaVM waits for every attached
// thread that is no daemon, and runtimes before 1.4 cannot attach one as a
// daemon, so a thread that stayed attached would keep a Java application
// that ends by itself from ending the process. An attach that succeeds while
// DestroyJavaVM still waits for threads is waited for, so the calls after it
// cannot run into a VM being destroyed; one that comes after DestroyJavaVM
// has stopped waiting is not, and then the main thread's bounded wait for
// this thread is what lets the process end. The attach can also fail when
// Java is ending, and then nothing is called. The process may end inside a
// call, when Java ends it (System.exit).
static bool AttachForJava()
{
    if (!sg_trayBound)
        return false;
    if (sg_javaAttachDepth > 0) {
        ++sg_javaAttachDepth;
        return true;
    }
    JNIEnv *env = NULL;
    if (sg_jvm->AttachCurrentThread((void **)&env, NULL) < 0)
        return false;
    sg_pEnvThread = env;
    sg_javaAttachDepth = 1;
    return true;
}

// Detaching also frees every local reference the calls left.
static void DetachFromJava()
{
    if (--sg_javaAttachDepth > 0)
        return;
    sg_pEnvThread = NULL;
    sg_jvm->DetachCurrentThread();
}

HANDLE EnterJavaMethod()
{
    ++sg_javaMethodDepth;
    ++sg_javaMethodsCalled;
    return sg_processDpiContext ? sg_setThreadDpiAwareness(sg_processDpiContext) : NULL;
}

void LeaveJavaMethod(HANDLE dpiContext)
{
    if (dpiContext)
        sg_setThreadDpiAwareness(dpiContext);
    --sg_javaMethodDepth;
}

bool InsideJavaMethod()
{
    return sg_javaMethodDepth > 0;
}

unsigned long JavaMethodsCalled()
{
    return sg_javaMethodsCalled;
}

// The bind message proves that this thread can attach: the tray is bound
// only once an attach has succeeded.
static void BindToJava(HWND hWnd)
{
    // The launch posts this once, after sg_jvm is set. The window is
    // reachable from any process, so a stray copy is ignored.
    if (sg_trayBound || !sg_jvm)
        return;

    sg_trayBound = true;
    if (!AttachForJava()) {
        // The Java application runs on without a tray.
        sg_trayBound = false;
        PostMessageA(hWnd, WM_QUIT, 0, 0);
        return;
    }
    DetachFromJava();
}

// Unbinding the tray after quit is what makes quit the last call: no attach
// and no call begins after it, and sg_javaQuit (set by DoQuit before it
// calls) stops the commands of one under way.
static void QuitJavaOnce()
{
    if (!AttachForJava())
        return;
    DoQuit();
    sg_trayBound = false;
    DetachFromJava();
}

// One tray action at a time: a click while the menu or the Exit question is
// open would open a menu inside the menu, or ask twice; one inside a Java
// method would build the menu inside that call, which may hold locks of the
// Java application that the build's calls wait for. Mouse moves come all the
// time and never attach.
static void OnNotifyIcon(HWND hWnd, WPARAM wParam, LPARAM lParam)
{
    if (sg_trayBusy || InsideJavaMethod() || !IsMenuButtonPress(lParam))
        return;
    if (!AttachForJava())
        return;
    sg_trayBusy = true;
    MouseDownOnNotifyIcon(hWnd, wParam, lParam);
    sg_trayBusy = false;
    DetachFromJava();
}

// Inside a Java method the reminder list would be asked for inside that
// call (a second start during the first one's list, say), where the outer
// call may hold the locks it waits for. The later start is answered at once
// and its list opens once the outer call has returned.
static void OnShowReminders(HWND hWnd)
{
    if (InsideJavaMethod()) {
        PostMessageA(hWnd, WM_SHOW_REMINDERS, 0, 0);
        return;
    }
    if (!AttachForJava())
        return;
    ShowReminderList();
    DetachFromJava();
}

// The launch has returned: the VM is gone, or never came. The tray goes
// without a word to Java. The message is sent, and GetMessageA serves a sent
// message without returning: the loop learns of its end from WM_QUIT.
static void OnJavaEnded(HWND hWnd)
{
    sg_trayBound = false;
    DestroyWindow(hWnd);
    PostQuitMessage(0);
}

// Ends the loop once the current message has been handled, and removes the
// icon here and now: the user sees the tray go before Java is told to quit
// (CreateOurWindow relies on it when it destroys the window).
static void EndMonitorLoop(HWND hWnd)
{
    gQuitLoop = 1;
    TakeTaskBarIconDown(hWnd, kNotifyIconId);
}

// Windows ends the process soon after every top-level window has answered
// WM_ENDSESSION, the hidden ones included: Java hears quit now or never,
// whatever is open on this thread. The message may come inside the menu's
// or the Exit question's modal loop, and even inside a Java method that
// waits in SendMessage: quit is called inside that call then, whatever it
// holds, since the session ends either way. A cancelled logoff changes
// nothing.
static void OnEndSession(HWND hWnd, WPARAM ending)
{
    if (!ending)
        return;
    EndMonitorLoop(hWnd);
    QuitJavaOnce();
    // The message is sent: the loop, waiting in GetMessageA, learns of its
    // end from WM_QUIT.
    PostQuitMessage(0);
}

// Alt+F4 reaches the ghost window whenever it is still the active window
// after the menu (Esc, a row chosen, No to the Exit question), and people
// press it on an empty desktop to reach the shut-down dialog. It must not
// end Chimelet without a question; a WM_CLOSE sent by another program (the
// installer) still does.
static LRESULT OnSysCommand(HWND hWnd, WPARAM command, LPARAM lParam)
{
    if ((command & 0xFFF0) == SC_CLOSE)
        return 0;
    return DefWindowProcA(hWnd, WM_SYSCOMMAND, command, lParam);
}

LRESULT CALLBACK WndProc(HWND hWnd, UINT messg, WPARAM wParam, LPARAM lParam)
{
    if (sg_taskbarCreatedMessage != 0 && messg == sg_taskbarCreatedMessage) {
        AddOurIconUntilShown(hWnd);
        return 0;
    }

    switch (messg) {
    case WM_CREATE:
        return 0;
    case WM_DESTROY:
    case WM_QUIT:  // only when sent directly: the loop never dispatches a queued one
        EndMonitorLoop(hWnd);
        return 0;
    case WM_TIMER:
        if (wParam == kAddIconTimer)
            RetryAddingOurIcon(hWnd);
        return 0;
    case WM_BIND_TO_JAVA:
        BindToJava(hWnd);
        return 0;
    case WM_NOTIFY_ICON:
        OnNotifyIcon(hWnd, wParam, lParam);
        return 0;
    case WM_SHOW_REMINDERS:
        OnShowReminders(hWnd);
        return 0;
    case WM_JAVA_ENDED:
        OnJavaEnded(hWnd);
        return 0;
    case WM_QUERYENDSESSION:
        return TRUE;  // never stands in the way of a logoff
    case WM_ENDSESSION:
        OnEndSession(hWnd, wParam);
        return 0;
    case WM_SYSCOMMAND:
        return OnSysCommand(hWnd, wParam, lParam);
    default:
        return DefWindowProcA(hWnd, messg, wParam, lParam);
    }
}

static void RunMessageLoop()
{
    MSG msg;

    // A handler that sets gQuitLoop (WM_DESTROY) ends the loop as soon as
    // its dispatch returns.
    while (!gQuitLoop) {
        BOOL got = GetMessageA(&msg, NULL, 0, 0);
        if (got == 0 || got == -1)
            break;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

static FARPROC FindUser32Entry(char const *name)
{
    HMODULE user32 = GetModuleHandleA("user32.dll");
    return user32 ? GetProcAddress(user32, name) : NULL;
}

// The process stays DPI-unaware, so that Windows scales the Java
// application's windows, which runtimes of 1.3 and 1.4 would draw tiny. This
// thread alone, whose are the ghost window, the icon, the menus and the Exit
// question, takes the screen's real DPI: the bell is then loaded at the
// tray's real size, and the menu's text is drawn sharp instead of stretched.
// Must come before the thread makes any window: Windows fixes a window's
// awareness when it is made, and runs its window procedure in it, the menus
// and message boxes that procedure opens included. The awareness it had, the
// process's own, is kept for Java (EnterJavaMethod): under Wine it is not
// the unaware one.
static void UseTheScreensDpiOnThisThread()
{
    sg_setThreadDpiAwareness =
        (SetThreadDpiAwarenessContextEntry)(void *)FindUser32Entry("SetThreadDpiAwarenessContext");
    sg_processDpiContext =
        sg_setThreadDpiAwareness ? sg_setThreadDpiAwareness((HANDLE)kDpiAwarenessSystemAware) : NULL;
}

// An instance run as administrator would not hear, from programs of lower
// integrity, Explorer's TaskbarCreated and a later start's show-reminders
// message: User Interface Privilege Isolation drops them.
static void HearLowerIntegrityProcesses()
{
    ChangeWindowMessageFilterEntry allow =
        (ChangeWindowMessageFilterEntry)(void *)FindUser32Entry("ChangeWindowMessageFilter");
    if (!allow)
        return;
    allow(sg_taskbarCreatedMessage, kMessageFilterAdd);
    allow(WM_SHOW_REMINDERS, kMessageFilterAdd);
}

DWORD WINAPI CreateOurWindow(void *pParam)
{
    HANDLE windowMade = (HANDLE)pParam;
    HINSTANCE self = GetModuleHandleA(NULL);

    // This thread's own state, as a monitor thread starts: unbound, idle.
    sg_trayBound = false;
    sg_javaAttachDepth = 0;
    sg_javaMethodDepth = 0;
    sg_trayBusy = false;
    sg_javaQuit = false;

    UseTheScreensDpiOnThisThread();
    // Registered before the window exists: until then the number is 0, which
    // is WM_NULL, a message this window does get.
    sg_taskbarCreatedMessage = RegisterWindowMessageA("TaskbarCreated");
    HearLowerIntegrityProcesses();
    RegisterOurWindowClass();
    sg_monitorHwnd = CreateWindowExA(0, szProgName, szProgName, WS_OVERLAPPEDWINDOW,
                                     CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                     NULL, NULL, self, NULL);
    if (!sg_monitorHwnd) {
        // Start-up waits for the handshake, so it goes on only once the user
        // has read this.
        MessageBoxA(NULL, "Unable to make monitor window", "Rozazu", MB_OK);
        SetEvent(windowMade);
        return 0;
    }
    SetEvent(windowMade);

    AddOurIconUntilShown(sg_monitorHwnd);
    RunMessageLoop();

    // Destroying the window removes the icon first: the user sees the tray
    // go before Java is told to quit.
    DestroyWindow(sg_monitorHwnd);
    QuitJavaOnce();
    return 0;
}

void JNICALL TakeTrayDownOnJavaExit(jint code)
{
    (void)code;
    // HotSpot runs this on its own VM thread at the very end of System.exit,
    // after the shutdown hooks, while the thread that called exit waits and
    // the monitor thread may be inside a Java call: nothing here may call
    // Java or wait for that thread, and the removal waits at most for one add
    // to finish. Windows would show the icon of an ended process until the
    // mouse passes over it; the shell takes its removal from any thread.
    if (sg_monitorHwnd)
        TakeTaskBarIconDown(sg_monitorHwnd, kNotifyIconId);
}

void EndTrayAfterJava()
{
    if (!sg_monitorHwnd)
        return;
    DWORD_PTR answer;
    SendMessageTimeoutA(sg_monitorHwnd, WM_JAVA_ENDED, 0, 0, SMTO_BLOCK | SMTO_ABORTIFHUNG, kTakeDownWaitMs,
                        &answer);
    TakeTaskBarIconDown(sg_monitorHwnd, kNotifyIconId);
}
