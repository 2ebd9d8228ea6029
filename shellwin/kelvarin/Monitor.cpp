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

// User32 entries of later Windows, looked up at run time: the program still
// starts on the versions that lack them, which then need neither.
typedef BOOL(WINAPI *ChangeWindowMessageFilterEntry)(UINT message, DWORD flag);  // Vista
typedef HANDLE(WINAPI *SetThreadDpiAwarenessContextEntry)(HANDLE context);     // Windows 10 1607
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
// Calls into Java under way on this thread. A second start's message can
// come while the menu is open, within the call that opened it.
static int sg_javaCallDepth;
// A tray click is being handled: its menu or its Exit question is open.
static bool sg_trayBusy;
// Java hears quit once, however Exit, a close from outside and the end of
// the session meet, and nothing after it.
bool sg_javaQuit;
// Explorer broadcasts this when the notification area has been recreated;
// every icon it showed is gone and must be added again.
static UINT sg_taskbarCreatedMessage;
static int sg_addIconRetriesLeft;

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

BOOL AddTaskBarIcon(HWND hwnd, UINT uID, HICON hicon, char const *lpszTip)
{
    NOTIFYICONDATAA tnd;

    InitNotifyIconData(&tnd, hwnd, uID);
    tnd.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    tnd.uCallbackMessage = WM_NOTIFY_ICON;
    tnd.hIcon = hicon;
    if (lpszTip)
        lstrcpynA(tnd.szTip, lpszTip, kTipSize);

    BOOL added = Shell_NotifyIconA(NIM_ADD, &tnd);
    // Explorer, busy at logon, may add the icon and still report failure
    // when its answer comes too late; every later add would then fail as a
    // duplicate. An icon that is there takes a modification.
    if (!added)
        added = Shell_NotifyIconA(NIM_MODIFY, &tnd);
    // The shell keeps its own copy of the image.
    if (hicon)
        DestroyIcon(hicon);
    return added;
}

BOOL DeleteTaskBarIcon(HWND hwnd, UINT uID)
{
    NOTIFYICONDATAA tnd;

    InitNotifyIconData(&tnd, hwnd, uID);
    return Shell_NotifyIconA(NIM_DELETE, &tnd);
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
// that ends by itself from ending the process. Once the attach has
// succeeded the VM waits for this thread, so the call cannot run into a VM
// being destroyed; the attach itself can fail when Java is ending, and then
// nothing is called. The process may still end inside a call, when Java
// ends it (System.exit).
static bool BeginJavaCall()
{
    if (!sg_trayBound)
        return false;
    if (sg_javaCallDepth > 0) {
        ++sg_javaCallDepth;
        return true;
    }
    JNIEnv *env = NULL;
    if (sg_jvm->AttachCurrentThread((void **)&env, NULL) < 0)
        return false;
    sg_pEnvThread = env;
    sg_javaCallDepth = 1;
    return true;
}

// Detaching also frees every local reference the call left.
static void EndJavaCall()
{
    if (--sg_javaCallDepth > 0)
        return;
    sg_pEnvThread = NULL;
    sg_jvm->DetachCurrentThread();
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
    if (!BeginJavaCall()) {
        // The Java application runs on without a tray.
        sg_trayBound = false;
        PostMessageA(hWnd, WM_QUIT, 0, 0);
        return;
    }
    EndJavaCall();
}

// Unbinding the tray after quit is what makes quit the last call: no call
// begins after it, and sg_javaQuit stops the commands of one under way.
static void QuitJavaOnce()
{
    if (!BeginJavaCall())
        return;
    DoQuit();
    sg_javaQuit = true;
    sg_trayBound = false;
    EndJavaCall();
}

// One tray action at a time: a click while the menu or the Exit question is
// open would open a menu inside the menu, or ask twice. Mouse moves come all
// the time and never attach.
static void OnNotifyIcon(HWND hWnd, WPARAM wParam, LPARAM lParam)
{
    if (sg_trayBusy || !IsMenuButtonPress(lParam))
        return;
    if (!BeginJavaCall())
        return;
    sg_trayBusy = true;
    MouseDownOnNotifyIcon(hWnd, wParam, lParam);
    sg_trayBusy = false;
    EndJavaCall();
}

static void OnShowReminders()
{
    if (!BeginJavaCall())
        return;
    ShowReminderList();
    EndJavaCall();
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
    DeleteTaskBarIcon(hWnd, kNotifyIconId);
}

// Windows ends the process soon after every top-level window has answered
// WM_ENDSESSION, the hidden ones included: Java hears quit now or never,
// whatever is open on this thread (the message may come inside the menu's
// or the Exit question's modal loop). A cancelled logoff changes nothing.
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
        OnShowReminders();
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
// Must come before the thread makes any window.
static void UseTheScreensDpiOnThisThread()
{
    SetThreadDpiAwarenessContextEntry setAwareness =
        (SetThreadDpiAwarenessContextEntry)(void *)FindUser32Entry("SetThreadDpiAwarenessContext");
    if (setAwareness)
        setAwareness((HANDLE)kDpiAwarenessSystemAware);
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
    sg_javaCallDepth = 0;
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
    // The VM is stopping its other threads, this program's monitor thread
    // perhaps inside a Java call: nothing here may call Java or wait for
    // that thread. Windows would show the icon of an ended process until the
    // mouse passes over it; the shell takes its removal from any thread.
    if (sg_monitorHwnd)
        DeleteTaskBarIcon(sg_monitorHwnd, kNotifyIconId);
}

void EndTrayAfterJava()
{
    if (!sg_monitorHwnd)
        return;
    DWORD_PTR answer;
    SendMessageTimeoutA(sg_monitorHwnd, WM_JAVA_ENDED, 0, 0, SMTO_BLOCK | SMTO_ABORTIFHUNG, kTakeDownWaitMs,
                        &answer);
    DeleteTaskBarIcon(sg_monitorHwnd, kNotifyIconId);
}
