// The monitor thread: the hidden ghost window through which a running
// instance is found and reached, the tray icon, and the thread's message loop.
// Once the Java application is up the thread attaches itself to the VM, and
// every call the tray makes into Java runs here.

#include <windows.h>
#include <shellapi.h>

#include <string.h>

#include "kelvarin.h"
#include "resource.h"

HWND sg_monitorHwnd;
JavaVM *sg_jvm;
JNIEnv *sg_pEnvThread;
char gMenuItemTitle[256];
int gQuitLoop;

// cbSize names the record's first layout, whose tooltip holds 64 bytes,
// however many this header's declaration has room for.
int const kTipSize = 64;

// Explorer broadcasts this when the notification area has been recreated;
// every icon it showed is gone and must be added again.
static UINT sg_taskbarCreatedMessage;

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

BOOL AddTaskBarIcon(HWND hwnd, UINT uID, HICON hicon, char const *lpszTip)
{
    NOTIFYICONDATAA tnd;

    memset(&tnd, 0, sizeof tnd);
    tnd.cbSize = NOTIFYICONDATAA_V1_SIZE;
    tnd.hWnd = hwnd;
    tnd.uID = uID;
    tnd.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    tnd.uCallbackMessage = WM_NOTIFY_ICON;
    tnd.hIcon = hicon;
    if (lpszTip)
        lstrcpynA(tnd.szTip, lpszTip, kTipSize);
    else
        tnd.szTip[0] = '\0';

    BOOL added = Shell_NotifyIconA(NIM_ADD, &tnd);
    // The shell keeps its own copy of the image.
    if (hicon)
        DestroyIcon(hicon);
    return added;
}

BOOL DeleteTaskBarIcon(HWND hwnd, UINT uID)
{
    NOTIFYICONDATAA tnd;

    memset(&tnd, 0, sizeof tnd);
    tnd.cbSize = NOTIFYICONDATAA_V1_SIZE;
    tnd.hWnd = hwnd;
    tnd.uID = uID;
    return Shell_NotifyIconA(NIM_DELETE, &tnd);
}

static void AddOurIcon(HWND hwnd)
{
    HINSTANCE self = GetModuleHandleA(NULL);

    LoadStringA(self, IDS_PRODUCT_NAME, gMenuItemTitle, kMenuTextLoadLimit);
    HICON icon = (HICON)LoadImageA(self, IDI_TRAY_ICON_NAME, IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR);
    AddTaskBarIcon(hwnd, kNotifyIconId, icon, gMenuItemTitle);
}

// Whether the monitor thread is attached as a daemon (see AttachToJava).
static bool sg_attachedAsDaemon;

// Attaches this thread to the VM. While it only waits for clicks, a runtime
// from 1.4 on takes it as a daemon: DestroyJavaVM on the main thread waits
// for every non-daemon thread, so a Java application that ends by itself
// would leave the process running, with a tray into an application that is
// gone.
static jint AttachToJava(JNIEnv **outEnv)
{
    sg_attachedAsDaemon = false;
    jint result = sg_jvm->AttachCurrentThread((void **)outEnv, NULL);
    if (result < 0 || (*outEnv)->GetVersion() < JNI_VERSION_1_4)
        return result;
    sg_jvm->DetachCurrentThread();
    result = sg_jvm->AttachCurrentThreadAsDaemon((void **)outEnv, NULL);
    sg_attachedAsDaemon = result >= 0;
    return result;
}

static void BindToJava(HWND hWnd)
{
    // The launch posts this once, after sg_jvm is set. The window is
    // reachable from any process, so a stray copy is ignored.
    if (sg_pEnvThread || !sg_jvm)
        return;

    JNIEnv *env = NULL;
    if (AttachToJava(&env) < 0) {
        // The Java application runs on without a tray.
        PostMessageA(hWnd, WM_QUIT, 0, 0);
        return;
    }
    sg_pEnvThread = env;
}

// Before the last call into Java the thread stops being a daemon: quit ends
// the application, and the VM must not be destroyed under the calls that
// still follow (the exception check, the detach).
static void HoldJavaUntilDetached()
{
    if (!sg_pEnvThread || !sg_attachedAsDaemon)
        return;
    sg_jvm->DetachCurrentThread();
    sg_attachedAsDaemon = false;
    JNIEnv *env = NULL;
    sg_pEnvThread = sg_jvm->AttachCurrentThread((void **)&env, NULL) < 0 ? NULL : env;
}

// An attached thread must detach before it ends: a real VM otherwise waits
// for it in DestroyJavaVM for ever.
static void DetachFromJava()
{
    if (!sg_pEnvThread)
        return;
    sg_pEnvThread = NULL;
    sg_jvm->DetachCurrentThread();
}

static void EndMonitorLoop(HWND hWnd)
{
    gQuitLoop = 1;
    DeleteTaskBarIcon(hWnd, kNotifyIconId);
}

LRESULT CALLBACK WndProc(HWND hWnd, UINT messg, WPARAM wParam, LPARAM lParam)
{
    if (sg_taskbarCreatedMessage != 0 && messg == sg_taskbarCreatedMessage) {
        AddOurIcon(hWnd);
        return 0;
    }

    switch (messg) {
    case WM_CREATE:
        return 0;
    case WM_DESTROY:
    case WM_QUIT:  // only when sent directly: the loop never dispatches a queued one
        EndMonitorLoop(hWnd);
        return 0;
    case WM_BIND_TO_JAVA:
        BindToJava(hWnd);
        return 0;
    case WM_NOTIFY_ICON:
        if (sg_pEnvThread)
            MouseDownOnNotifyIcon(hWnd, wParam, lParam);
        return 0;
    case WM_SHOW_REMINDERS:
        ShowReminderList();
        return 0;
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

DWORD WINAPI CreateOurWindow(void *pParam)
{
    HANDLE windowMade = (HANDLE)pParam;
    HINSTANCE self = GetModuleHandleA(NULL);

    // Registered before the window exists: until then the number is 0, which
    // is WM_NULL, a message this window does get.
    sg_taskbarCreatedMessage = RegisterWindowMessageA("TaskbarCreated");
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

    AddOurIcon(sg_monitorHwnd);
    RunMessageLoop();

    // Destroying the window removes the icon first: the user sees the tray
    // go before Java is told to quit.
    DestroyWindow(sg_monitorHwnd);
    HoldJavaUntilDetached();
    DoQuit();
    DetachFromJava();
    return 0;
}
