// Windows, threads and messages: the cross-thread rules that the shell's single-instance and
// monitor-thread tests depend on, timers, plus the modal calls and the tray.
#include <windows.h>
#include <shellapi.h>

#include "winstub_control.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

namespace {

UINT const WM_ECHO = WM_USER + 1;        // answers its wParam + 1 and the handling thread's id
UINT const WM_SEND_BACK = WM_USER + 2;   // sends WM_ECHO to the window in wParam, answers its result
UINT const WM_TRACE = WM_USER + 3;
UINT const WM_SLOW_ECHO = WM_USER + 4;   // WM_ECHO after gSlowMs
UINT const WM_AWARENESS = WM_USER + 5;   // answers the handling thread's DPI awareness

std::atomic<DWORD> gHandledOn{0};
std::atomic<int> gEchoes{0};             // WM_ECHO and WM_SLOW_ECHO handled to the end
std::atomic<DWORD> gSlowMs{0};
std::atomic<int> gTimers{0};             // WM_TIMER reaching a window procedure
std::atomic<DWORD> gTimerOn{0};
std::vector<UINT> gSeen;  // messages of the window made by MakeWindow, on the test thread only
DWORD gTestThread = 0;
std::atomic<bool> gRefuseCreate{false};

void See(UINT message) {
    if (GetCurrentThreadId() == gTestThread) gSeen.push_back(message);
}

LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        See(message);
        return gRefuseCreate ? -1 : 0;
    case WM_DESTROY:
    case WM_NCDESTROY:
    case WM_TRACE:
        See(message);
        return 0;
    case WM_CLOSE:
        See(message);
        return DefWindowProcA(hwnd, message, wParam, lParam);
    case WM_TIMER:
        gTimerOn = GetCurrentThreadId();
        ++gTimers;
        return 0;
    case WM_SLOW_ECHO:
        Sleep(gSlowMs);
        [[fallthrough]];
    case WM_ECHO:
        gHandledOn = GetCurrentThreadId();
        ++gEchoes;
        return static_cast<LRESULT>(wParam + 1);
    case WM_SEND_BACK:
        return SendMessageA(reinterpret_cast<HWND>(wParam), WM_ECHO, 41, 0);
    case WM_AWARENESS:
        return WinStub_ThreadDpiAwareness(GetCurrentThreadId());
    default:
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }
}

class MessageTest : public ::testing::Test {
protected:
    void SetUp() override {
        WinStub_Reset();
        WNDCLASSA wc{};
        wc.lpfnWndProc = Proc;
        wc.lpszClassName = "StubTestClass";
        ASSERT_NE(0, RegisterClassA(&wc));
        gSeen.clear();
        gTestThread = GetCurrentThreadId();
        gRefuseCreate = false;
        gEchoes = 0;
        gSlowMs = 0;
        gTimers = 0;
    }
    void TearDown() override {
        WinStubLive live = WinStub_LiveHandles();
        EXPECT_EQ(0, live.windows);
        EXPECT_EQ(0, live.kernelHandles);
        WinStub_Reset();
    }
};

HWND MakeWindow(const char* title = "Stub") {
    return CreateWindowExA(0, "StubTestClass", title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                           CW_USEDEFAULT, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
}

// A thread that makes a window, signals `ready`, then pumps until WM_QUIT; or (Busy) waits for
// `release` without ever reading its queue; or (BusyThenPump) waits for `release`, then pumps.
struct WindowThread {
    enum Mode { Pump, Busy, BusyThenPump };
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    Mode mode = Pump;
    HWND hwnd = nullptr;
    DWORD id = 0;
    HANDLE thread = nullptr;

    static DWORD WINAPI Run(LPVOID param) {
        auto* self = static_cast<WindowThread*>(param);
        self->hwnd = MakeWindow("worker");
        SetEvent(self->ready);
        if (self->mode != Pump) WaitForSingleObject(self->release, INFINITE);
        if (self->mode != Busy) {
            MSG msg;
            while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
            DestroyWindow(self->hwnd);
        }
        return 0;
    }
    void Start() {
        thread = CreateThread(nullptr, 0, Run, this, 0, &id);
        WaitForSingleObject(ready, INFINITE);
    }
    // Lets a busy thread go on; everything sent to it before is handled before it ends.
    void Finish() {
        if (mode != Busy) PostMessageA(hwnd, WM_QUIT, 0, 0);
        SetEvent(release);
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 5000));
        CloseHandle(thread);
        CloseHandle(ready);
        CloseHandle(release);
    }
};

// Runs `action` on a thread of its own after `ms`, unless cancelled first: a way out of a wait
// that a fault in the stand-in would make endless.
struct Later {
    DWORD ms;
    std::function<void()> action;
    HANDLE cancel = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = nullptr;
    static DWORD WINAPI Run(LPVOID param) {
        auto* self = static_cast<Later*>(param);
        if (WaitForSingleObject(self->cancel, self->ms) == WAIT_TIMEOUT) self->action();
        return 0;
    }
    Later(DWORD delay, std::function<void()> what) : ms(delay), action(std::move(what)) {
        thread = CreateThread(nullptr, 0, Run, this, 0, nullptr);
    }
    ~Later() {
        SetEvent(cancel);
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        CloseHandle(cancel);
    }
};

TEST_F(MessageTest, SendMessageAcrossThreads) {
    HWND mine = MakeWindow("mine");
    WindowThread worker;
    worker.Start();

    EXPECT_EQ(8, SendMessageA(worker.hwnd, WM_ECHO, 7, 0));
    EXPECT_EQ(worker.id, gHandledOn.load()) << "handled on the window's own thread";

    // The worker's procedure sends back to us while we wait in our own SendMessageA: we serve it.
    EXPECT_EQ(42, SendMessageA(worker.hwnd, WM_SEND_BACK, reinterpret_cast<WPARAM>(mine), 0));
    EXPECT_EQ(GetCurrentThreadId(), gHandledOn.load());

    // To our own window SendMessageA calls the procedure at once, past what is queued.
    gSeen.clear();
    PostMessageA(mine, WM_TRACE, 0, 0);
    EXPECT_EQ(8, SendMessageA(mine, WM_ECHO, 7, 0));
    EXPECT_TRUE(gSeen.empty());

    worker.Finish();
    SetLastError(0xdeadbeef);
    EXPECT_EQ(0, SendMessageA(worker.hwnd, WM_ECHO, 7, 0)) << "its thread has ended: window gone";
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE), GetLastError());
    MSG msg;
    EXPECT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(WM_TRACE, msg.message);
    EXPECT_TRUE(DestroyWindow(mine));
}

// A handler of a sent message cannot end its thread's loop by a flag alone:
// GetMessageA serves sent messages without returning.
TEST_F(MessageTest, PostQuitMessageEndsTheLoopOfTheCallingThread) {
    PostQuitMessage(3);
    MSG msg;
    EXPECT_EQ(0, GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(static_cast<UINT>(WM_QUIT), msg.message);
    EXPECT_EQ(3u, msg.wParam);
    EXPECT_EQ(nullptr, msg.hwnd);
}

TEST_F(MessageTest, SenderIsReleasedWhenTheTargetThreadEnds) {
    WindowThread worker;
    worker.mode = WindowThread::Busy;
    worker.Start();
    struct Sender {
        HWND target;
        LRESULT result = -1;
        DWORD error = 0;
        static DWORD WINAPI Run(LPVOID param) {
            auto* self = static_cast<Sender*>(param);
            SetLastError(0xdeadbeef);
            self->result = SendMessageA(self->target, WM_ECHO, 1, 0);
            self->error = GetLastError();
            return 0;
        }
    } sender{worker.hwnd};
    HANDLE thread = CreateThread(nullptr, 0, Sender::Run, &sender, 0, nullptr);
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(thread, 100)) << "blocked: nobody reads the queue";
    worker.Finish();
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 5000));
    CloseHandle(thread);
    EXPECT_EQ(0, sender.result);
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), sender.error) << "probed: what Wine reports";
    EXPECT_FALSE(IsWindow(worker.hwnd)) << "an ending thread's windows go with it";
}

TEST_F(MessageTest, WindowLifecycleFollowsWine) {
    gRefuseCreate = true;
    SetLastError(0xdeadbeef);
    EXPECT_EQ(nullptr, MakeWindow());
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE), GetLastError());
    EXPECT_EQ((std::vector<UINT>{WM_CREATE, WM_NCDESTROY}), gSeen) << "probed: no WM_DESTROY";
    gRefuseCreate = false;
    gSeen.clear();

    HWND hwnd = MakeWindow("Ghost");
    ASSERT_NE(nullptr, hwnd);
    EXPECT_EQ(static_cast<LONG>(WS_OVERLAPPEDWINDOW | WS_CLIPSIBLINGS), GetWindowLongA(hwnd, GWL_STYLE));
    EXPECT_EQ(static_cast<LONG>(WS_EX_WINDOWEDGE), GetWindowLongA(hwnd, GWL_EXSTYLE));
    EXPECT_FALSE(IsWindowVisible(hwnd));
    EXPECT_EQ(hwnd, FindWindowA("stubtestclass", nullptr));
    EXPECT_EQ(hwnd, FindWindowA("StubTestClass", "ghost")) << "probed: Wine compares titles without case";
    EXPECT_EQ(nullptr, FindWindowA("StubTestClass", "Other"));

    WNDCLASSA again{};
    again.lpfnWndProc = DefWindowProcA;
    again.lpszClassName = "STUBTESTCLASS";
    SetLastError(0xdeadbeef);
    EXPECT_EQ(0, RegisterClassA(&again));
    EXPECT_EQ(static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS), GetLastError());

    struct Destroyer {
        HWND hwnd;
        BOOL result = TRUE;
        DWORD error = 0;
        static DWORD WINAPI Run(LPVOID param) {
            auto* self = static_cast<Destroyer*>(param);
            self->result = DestroyWindow(self->hwnd);
            self->error = GetLastError();
            return 0;
        }
    } destroyer{hwnd};
    HANDLE thread = CreateThread(nullptr, 0, Destroyer::Run, &destroyer, 0, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    EXPECT_FALSE(destroyer.result);
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), destroyer.error);

    PostMessageA(hwnd, WM_CLOSE, 0, 0);
    MSG msg;
    ASSERT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
    DispatchMessageA(&msg);  // DefWindowProcA destroys the window on WM_CLOSE
    EXPECT_EQ((std::vector<UINT>{WM_CREATE, WM_CLOSE, WM_DESTROY, WM_NCDESTROY}), gSeen);
    EXPECT_FALSE(IsWindow(hwnd));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(PostMessageA(hwnd, WM_USER, 0, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE), GetLastError());

    PostMessageA(nullptr, WM_QUIT, 3, 0);
    EXPECT_FALSE(GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(3u, msg.wParam);
}

// Sends WM_ECHO with `value` to `target` from a thread of its own (CreateThread
// with Run and the sender).
struct EchoSender {
    HWND target;
    WPARAM value;
    LRESULT result = 0;
    static DWORD WINAPI Run(LPVOID param) {
        auto* self = static_cast<EchoSender*>(param);
        self->result = SendMessageA(self->target, WM_ECHO, self->value, 0);
        return 0;
    }
};

TEST_F(MessageTest, ModalCallsServeSentMessages) {
    HWND mine = MakeWindow("mine");
    EchoSender sender{mine, 9};
    HANDLE thread = nullptr;
    WinStub_SetMessageBoxHandler([&](const WinStubMessageBox& box) {
        EXPECT_EQ("Error", box.caption);
        EXPECT_EQ(GetCurrentThreadId(), box.threadId);
        thread = CreateThread(nullptr, 0, EchoSender::Run, &sender, 0, nullptr);
        EXPECT_EQ(1, WinStub_ServeSentMessages(5000));  // the box stays open meanwhile
        return IDNO;
    });
    EXPECT_EQ(IDNO, MessageBoxA(nullptr, "Quit?", nullptr, MB_YESNO));
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    EXPECT_EQ(10, sender.result);
    ASSERT_EQ(1u, WinStub_MessageBoxes().size());
    EXPECT_EQ("Quit?", WinStub_MessageBoxes()[0].text);

    // Without a handler the default button answers.
    WinStub_SetMessageBoxHandler(nullptr);
    struct Case {
        UINT type;
        int answer;
    };
    const Case cases[] = {{MB_OK, IDOK},
                          {MB_OKCANCEL | MB_DEFBUTTON2, IDCANCEL},
                          {MB_YESNO, IDYES},
                          {MB_YESNOCANCEL | MB_DEFBUTTON3, IDCANCEL},
                          {MB_YESNO | MB_DEFBUTTON3, IDYES},  // no third button: the first
                          {MB_ABORTRETRYIGNORE | MB_DEFBUTTON2 | MB_ICONERROR, IDRETRY}};
    for (const Case& c : cases) {
        SCOPED_TRACE("type " + std::to_string(c.type));
        EXPECT_EQ(c.answer, MessageBoxA(nullptr, "t", "c", c.type));
    }
    DestroyWindow(mine);
}

// Windows fixes a window's DPI awareness when it is made and runs its procedure in it, however
// the procedure is reached, then gives the thread its own back (probed under Wine 8 for a sent
// message served while the thread waited).
TEST_F(MessageTest, AWindowProcedureRunsInItsWindowsDpiAwareness) {
    typedef HANDLE(WINAPI * SetAwareness)(HANDLE);
    auto set = reinterpret_cast<SetAwareness>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "SetThreadDpiAwarenessContext")));
    ASSERT_NE(nullptr, set);
    HANDLE unaware = set(reinterpret_cast<HANDLE>(-2));
    HWND aware = MakeWindow("aware");
    set(unaware);
    EXPECT_EQ(-2, WinStub_WindowDpiAwareness(aware));
    EXPECT_EQ(-2, SendMessageA(aware, WM_AWARENESS, 0, 0)) << "sent on its own thread";
    PostMessageA(aware, WM_AWARENESS, 0, 0);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(-2, DispatchMessageA(&msg)) << "dispatched";
    EXPECT_EQ(-1, WinStub_ThreadDpiAwareness(GetCurrentThreadId())) << "the thread's own not given back";

    WindowThread worker;  // an unaware thread's window, reached from an aware thread
    worker.Start();
    set(reinterpret_cast<HANDLE>(-2));
    EXPECT_EQ(-1, SendMessageA(worker.hwnd, WM_AWARENESS, 0, 0));
    set(unaware);
    worker.Finish();
    EXPECT_TRUE(DestroyWindow(aware));
}

TEST_F(MessageTest, TrayIconsAndTheirClicks) {
    HWND hwnd = MakeWindow("tray");
    UINT const WM_TRAY = WM_USER + 101;
    NOTIFYICONDATAA nid{};
    nid.cbSize = NOTIFYICONDATAA_V1_SIZE;
    nid.hWnd = hwnd;
    nid.uID = 1;
    nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    nid.uCallbackMessage = WM_TRAY;
    lstrcpynA(nid.szTip, "Chimelet", 64);
    EXPECT_TRUE(Shell_NotifyIconA(NIM_ADD, &nid));
    EXPECT_FALSE(Shell_NotifyIconA(NIM_ADD, &nid)) << "a duplicate add fails";
    EXPECT_EQ(1u, WinStub_TrayIconCount());

    EXPECT_TRUE(WinStub_ClickTrayIcon(hwnd, 1, WM_RBUTTONDOWN));
    EXPECT_FALSE(WinStub_ClickTrayIcon(hwnd, 2, WM_RBUTTONDOWN));
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(WM_TRAY, msg.message);
    EXPECT_EQ(1u, msg.wParam);
    EXPECT_EQ(WM_RBUTTONDOWN, msg.lParam);

    // Where the icon is, on Windows 7 and later, which alone export the call.
    typedef HRESULT(WINAPI * GetRect)(const NOTIFYICONIDENTIFIER*, RECT*);
    auto getRect = reinterpret_cast<GetRect>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("shell32.dll"), "Shell_NotifyIconGetRect")));
    ASSERT_NE(nullptr, getRect);
    NOTIFYICONIDENTIFIER which{static_cast<DWORD>(sizeof(NOTIFYICONIDENTIFIER)), hwnd, 1, {}};
    RECT rect{};
    WinStub_SetTrayIconRect(RECT{10, 20, 34, 44});
    EXPECT_EQ(S_OK, getRect(&which, &rect));
    EXPECT_EQ(10, rect.left);
    EXPECT_EQ(44, rect.bottom);
    which.uID = 2;
    EXPECT_EQ(E_FAIL, getRect(&which, &rect)) << "no such icon";
    WinStub_SetWindowsVersion(WinStubWindowsVersion::Vista);
    EXPECT_EQ(nullptr, GetProcAddress(GetModuleHandleA("shell32.dll"), "Shell_NotifyIconGetRect"));

    WinStub_RecreateTaskbar();
    EXPECT_EQ(0u, WinStub_TrayIconCount());
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(RegisterWindowMessageA("taskbarcreated"), msg.message);

    EXPECT_FALSE(Shell_NotifyIconA(NIM_DELETE, &nid)) << "forgotten by the new taskbar";
    std::vector<WinStubTrayCall> calls = WinStub_TrayCalls();
    ASSERT_EQ(3u, calls.size());
    EXPECT_EQ(static_cast<DWORD>(NOTIFYICONDATAA_V1_SIZE), calls[0].data.cbSize);
    EXPECT_STREQ("Chimelet", calls[0].data.szTip);
    EXPECT_EQ(WM_TRAY, calls[0].data.uCallbackMessage);
    EXPECT_TRUE(DestroyWindow(hwnd));
}

NOTIFYICONDATAA TrayRecord(HWND hwnd, UINT id) {
    NOTIFYICONDATAA nid{};
    nid.cbSize = NOTIFYICONDATAA_V1_SIZE;
    nid.hWnd = hwnd;
    nid.uID = id;
    nid.uFlags = NIF_MESSAGE | NIF_TIP;
    nid.uCallbackMessage = WM_USER + 101;
    lstrcpynA(nid.szTip, "Chimelet", 64);
    return nid;
}

// Windows keeps an icon whose window is gone until NIM_DELETE or until the pointer passes.
TEST_F(MessageTest, LeftoverTrayIconsStayAsOnWindows) {
    HWND kept = MakeWindow("kept");
    HWND gone = MakeWindow("gone");
    for (NOTIFYICONDATAA nid : {TrayRecord(kept, 1), TrayRecord(gone, 1), TrayRecord(gone, 2)})
        EXPECT_TRUE(Shell_NotifyIconA(NIM_ADD, &nid));
    EXPECT_TRUE(DestroyWindow(gone));  // without NIM_DELETE

    // A thread that ends with its window and icon.
    struct Owner {
        HWND hwnd = nullptr;
        static DWORD WINAPI Run(LPVOID param) {
            auto* self = static_cast<Owner*>(param);
            self->hwnd = MakeWindow("ended");
            NOTIFYICONDATAA nid = TrayRecord(self->hwnd, 7);
            return Shell_NotifyIconA(NIM_ADD, &nid) ? 0 : 1;
        }
    } owner;
    HANDLE thread = CreateThread(nullptr, 0, Owner::Run, &owner, 0, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    EXPECT_FALSE(IsWindow(owner.hwnd));
    EXPECT_EQ(4u, WinStub_TrayIconCount()) << "Wine would show 1";
    EXPECT_EQ(4, WinStub_LiveHandles().trayIcons);

    NOTIFYICONDATAA nid = TrayRecord(gone, 1);
    EXPECT_TRUE(Shell_NotifyIconA(NIM_MODIFY, &nid)) << "still named by hWnd and uID";
    EXPECT_TRUE(Shell_NotifyIconA(NIM_DELETE, &nid));
    EXPECT_FALSE(WinStub_ClickTrayIcon(owner.hwnd, 7, WM_RBUTTONDOWN)) << "gone under the pointer";
    EXPECT_EQ(2u, WinStub_TrayIconCount());
    EXPECT_EQ(1u, WinStub_MouseOverTray()) << "gone/2";
    EXPECT_EQ(0u, WinStub_MouseOverTray());
    EXPECT_EQ(1u, WinStub_TrayIconCount()) << "a live window's icon stays";
    EXPECT_TRUE(WinStub_ClickTrayIcon(kept, 1, WM_RBUTTONDOWN));
    MSG msg;
    EXPECT_TRUE(PeekMessageA(&msg, kept, 0, 0, PM_REMOVE));
    nid = TrayRecord(kept, 1);
    EXPECT_TRUE(Shell_NotifyIconA(NIM_DELETE, &nid));
    EXPECT_TRUE(DestroyWindow(kept));
}

// At logon Explorer may give up on NIM_ADD, or answer it too late; the shell must try again,
// and know that a late icon may be there already.
TEST_F(MessageTest, NimAddFailsWhileExplorerStarts) {
    HWND hwnd = MakeWindow("tray");
    NOTIFYICONDATAA nid = TrayRecord(hwnd, 1);
    WinStub_FailNext(WinStubFault::NotifyIconAdd, 2);
    bool const none = false, late = true;
    struct Step {
        bool lateAdd;  // WinStubFault::NotifyIconAddTimesOut for this call
        DWORD message;
        BOOL result;
        size_t icons;
        DWORD error;  // 0xdeadbeef: left alone
    };
    const Step steps[] = {
        {none, NIM_ADD, FALSE, 0, ERROR_TIMEOUT},
        {none, NIM_MODIFY, FALSE, 0, static_cast<DWORD>(E_FAIL)},  // nothing to modify; the fault is for adds only
        {none, NIM_ADD, FALSE, 0, ERROR_TIMEOUT},
        {none, NIM_ADD, TRUE, 1, 0xdeadbeef},
        {none, NIM_MODIFY, TRUE, 1, 0xdeadbeef},
        {none, NIM_DELETE, TRUE, 0, 0xdeadbeef},
        {late, NIM_ADD, FALSE, 1, ERROR_TIMEOUT},                  // added, though the call failed
        {none, NIM_ADD, FALSE, 1, 0xdeadbeef},                     // so adding again is a duplicate
        {none, NIM_MODIFY, TRUE, 1, 0xdeadbeef},
        {none, NIM_DELETE, TRUE, 0, 0xdeadbeef},
        {none, NIM_MODIFY, FALSE, 0, static_cast<DWORD>(E_FAIL)},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE("message " + std::to_string(step.message) + " after " + std::to_string(WinStub_TrayCalls().size()));
        if (step.lateAdd) WinStub_FailNext(WinStubFault::NotifyIconAddTimesOut);
        SetLastError(0xdeadbeef);
        EXPECT_EQ(step.result, Shell_NotifyIconA(step.message, &nid));
        EXPECT_EQ(step.error, GetLastError());
        EXPECT_EQ(step.icons, WinStub_TrayIconCount());
    }
    std::vector<WinStubTrayCall> calls = WinStub_TrayCalls();
    ASSERT_EQ(ARRAYSIZE(steps), calls.size());
    for (size_t i = 0; i < calls.size(); ++i) EXPECT_EQ(steps[i].result, calls[i].result) << i;
    EXPECT_TRUE(DestroyWindow(hwnd));
}

TEST_F(MessageTest, ABusyThreadAnswersSendMessageOnlyWhenItPumps) {
    WindowThread worker;
    worker.mode = WindowThread::BusyThenPump;
    worker.Start();
    EchoSender sender{worker.hwnd, 7};
    HANDLE thread = CreateThread(nullptr, 0, EchoSender::Run, &sender, 0, nullptr);
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(thread, 150)) << "the window's thread is busy elsewhere";
    EXPECT_EQ(0, gEchoes.load());
    SetEvent(worker.release);  // it starts pumping
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 5000));
    CloseHandle(thread);
    EXPECT_EQ(8, sender.result);
    EXPECT_EQ(worker.id, gHandledOn.load());
    worker.Finish();
}

TEST_F(MessageTest, SendMessageTimeoutGivesUpAsWindowsAndWineDo) {
    HWND mine = MakeWindow("mine");
    DWORD_PTR result = 0xdead;
    SetLastError(0xdeadbeef);
    EXPECT_EQ(1, SendMessageTimeoutA(mine, WM_ECHO, 7, 0, SMTO_NORMAL, 100, &result)) << "own window: a plain call";
    EXPECT_EQ(8u, result);
    EXPECT_EQ(0xdeadbeefu, GetLastError()) << "probed: success leaves the last error";
    EXPECT_EQ(0, SendMessageTimeoutA(reinterpret_cast<HWND>(0x1234), WM_ECHO, 7, 0, SMTO_NORMAL, 100, &result));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE), GetLastError());

    // Another thread's window. A message withdrawn at the timeout is never handled (Wine, probed);
    // one already taken is handled to its end. The hung rules are Windows' (see the stand-in).
    struct Case {
        const char* name;
        WindowThread::Mode receiver;  // BusyThenPump: released when the call is over, or after releaseMs
        DWORD hungMs;                 // WinStub_SetHungTimeout
        DWORD settleMs;               // before the call: time to become hung, or to sit idle
        DWORD releaseMs;              // a busy receiver starts pumping after this (0: after the call)
        UINT message, flags, timeoutMs;
        LRESULT ret;
        DWORD_PTR result;
        DWORD minMs, maxMs;           // how long the call took
        int handled;                  // once the receiver has pumped everything
    };
    const Case cases[] = {
        {"answered", WindowThread::Pump, 5000, 0, 0, WM_ECHO, SMTO_NORMAL, 2000, 1, 8, 0, 1500, 1},
        {"busy receiver: withdrawn", WindowThread::BusyThenPump, 5000, 0, 0, WM_ECHO, SMTO_NORMAL, 50, 0, 0, 40, 1500, 0},
        {"slow procedure: runs on unheard", WindowThread::Pump, 5000, 0, 0, WM_SLOW_ECHO, SMTO_NORMAL, 30, 0, 0, 20, 150, 1},
        {"hung: at once", WindowThread::BusyThenPump, 30, 80, 0, WM_ECHO, SMTO_ABORTIFHUNG, 5000, 0, 0, 0, 1000, 0},
        {"hangs while we wait", WindowThread::BusyThenPump, 100, 0, 0, WM_ECHO, SMTO_ABORTIFHUNG, 5000, 0, 0, 60, 1500, 0},
        {"idle in GetMessage is not hung", WindowThread::Pump, 30, 80, 0, WM_ECHO, SMTO_ABORTIFHUNG, 2000, 1, 8, 0, 1500, 1},
        {"not hung: waits past the timeout", WindowThread::BusyThenPump, 5000, 0, 150, WM_ECHO, SMTO_NOTIMEOUTIFNOTHUNG, 20, 1, 8, 120, 1500, 1},
        {"hung: the wait ends", WindowThread::BusyThenPump, 100, 0, 0, WM_ECHO, SMTO_NOTIMEOUTIFNOTHUNG, 20, 0, 0, 60, 1500, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WinStub_SetHungTimeout(c.hungMs);
        gEchoes = 0;
        gSlowMs = 200;
        WindowThread worker;
        worker.mode = c.receiver;
        worker.Start();
        Sleep(c.settleMs);
        {
            Later release(c.releaseMs ? c.releaseMs : INFINITE, [&worker] { SetEvent(worker.release); });
            result = 0xdead;
            SetLastError(0xdeadbeef);
            DWORD start = GetTickCount();
            EXPECT_EQ(c.ret, SendMessageTimeoutA(worker.hwnd, c.message, 7, 0, c.flags, c.timeoutMs, &result));
            DWORD took = GetTickCount() - start;
            EXPECT_EQ(c.result, result) << "probed: a failure writes 0";
            EXPECT_EQ(c.ret ? 0xdeadbeefu : static_cast<DWORD>(ERROR_TIMEOUT), GetLastError());
            EXPECT_LE(c.minMs, took);
            EXPECT_GE(c.maxMs, took);
        }
        worker.Finish();
        EXPECT_EQ(c.handled, gEchoes.load());
    }
    DestroyWindow(mine);
}

TEST_F(MessageTest, SmtoBlockServesNothingWhileItWaits) {
    HWND mine = MakeWindow("mine");
    WindowThread worker;
    worker.Start();
    // The worker's procedure sends back to us. Blocked, we cannot answer it: both wait until
    // our timeout; then its send is still pending, and is served when we next pump.
    DWORD_PTR result = 0xdead;
    EXPECT_EQ(0, SendMessageTimeoutA(worker.hwnd, WM_SEND_BACK, reinterpret_cast<WPARAM>(mine), 0, SMTO_BLOCK, 100, &result));
    EXPECT_EQ(static_cast<DWORD>(ERROR_TIMEOUT), GetLastError());
    EXPECT_EQ(0, gEchoes.load());
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(1, gEchoes.load()) << "the worker's send is served by our next pump";
    EXPECT_EQ(GetCurrentThreadId(), gHandledOn.load());

    EXPECT_EQ(1, SendMessageTimeoutA(worker.hwnd, WM_SEND_BACK, reinterpret_cast<WPARAM>(mine), 0, SMTO_NORMAL, 2000, &result));
    EXPECT_EQ(42u, result) << "not blocked: we serve the worker's send while we wait";
    worker.Finish();
    DestroyWindow(mine);
}

void CALLBACK CountTimer(HWND hwnd, UINT message, UINT_PTR id, DWORD time) {
    See(message);
    See(static_cast<UINT>(id));
    EXPECT_NE(nullptr, hwnd);
    EXPECT_NE(0u, time);
}

// Waits for the next message; a WM_TRACE posted after `limitMs` ends a wait that would
// otherwise never end.
MSG NextMessage(HWND hwnd, UINT first = 0, UINT last = 0, DWORD limitMs = 3000) {
    Later limit(limitMs, [hwnd] { PostMessageA(hwnd, WM_TRACE, 0, 0); });
    MSG msg{};
    GetMessageA(&msg, nullptr, first, last);
    return msg;
}

TEST_F(MessageTest, TimersAsWindowsMakesThem) {
    HWND hwnd = MakeWindow("timer");
    MSG msg;
    // Ids, probed: a window timer's own (id 0 answers TRUE), thread timers count down from 0x7FFF.
    EXPECT_EQ(5u, SetTimer(hwnd, 5, 20, nullptr));
    EXPECT_EQ(1u, SetTimer(hwnd, 0, 20, nullptr));
    EXPECT_TRUE(KillTimer(hwnd, 0));
    EXPECT_EQ(0x7FFFu, SetTimer(nullptr, 5, 20, nullptr)) << "an id that names none of ours is not kept";
    EXPECT_EQ(0x7FFEu, SetTimer(nullptr, 5, 20, nullptr));
    EXPECT_EQ(0x7FFFu, SetTimer(nullptr, 0x7FFF, 20, nullptr)) << "replaced";
    EXPECT_EQ(0x7FFEu, SetTimer(nullptr, 0x7FFE, 0, nullptr)) << "set again, now at the least period";
    auto timers = [] {
        std::string text;
        for (const WinStubTimer& t : WinStub_Timers())
            text += (t.hwnd ? "w" : "t") + std::to_string(t.id) + "/" + std::to_string(t.elapse) + " ";
        return text;
    };
    EXPECT_EQ("w5/20 t32767/20 t32766/10 ", timers()) << "killed ones gone, in the order first set";
    EXPECT_TRUE(KillTimer(nullptr, 0x7FFF));
    EXPECT_TRUE(KillTimer(nullptr, 0x7FFE));
    EXPECT_EQ("w5/20 ", timers());
    // Braced lists run left to right: each call's last error is read right after it.
    struct Refusal {
        const char* name;
        UINT_PTR result;
        DWORD error, expected;
    };
    const Refusal refusals[] = {
        {"SetTimer on no window", SetTimer(reinterpret_cast<HWND>(0x1234), 5, 20, nullptr), GetLastError(), ERROR_INVALID_HANDLE},
        {"KillTimer of no timer", static_cast<UINT_PTR>(KillTimer(hwnd, 77)), GetLastError(), ERROR_INVALID_PARAMETER},
        {"KillTimer twice", static_cast<UINT_PTR>(KillTimer(nullptr, 0x7FFF)), GetLastError(), ERROR_INVALID_PARAMETER},
    };
    for (const Refusal& r : refusals) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(0u, r.result);
        EXPECT_EQ(r.expected, r.error);
    }

    // Low priority and coalesced: after five periods, posted messages first, then one WM_TIMER.
    gSeen.clear();
    SetTimer(hwnd, 5, 20, nullptr);
    Sleep(100);
    PostMessageA(hwnd, WM_TRACE, 0, 0);
    std::vector<UINT> order;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) && order.size() < 10) {
        order.push_back(msg.message);
        if (msg.message == WM_TIMER) {
            EXPECT_EQ(hwnd, msg.hwnd);
            EXPECT_EQ(5u, msg.wParam);
            EXPECT_EQ(0, msg.lParam);
        }
    }
    EXPECT_EQ((std::vector<UINT>{WM_TRACE, WM_TIMER}), order);

    // A peek that leaves it, a filter that excludes it.
    Sleep(30);
    EXPECT_TRUE(PeekMessageA(&msg, nullptr, WM_USER, WM_USER + 100, PM_REMOVE) == FALSE);
    EXPECT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_TRUE(PeekMessageA(&msg, hwnd, WM_TIMER, WM_TIMER, PM_REMOVE));
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));

    // Set again: counted afresh, the expiry that was due is gone.
    Sleep(30);
    SetTimer(hwnd, 5, 2000, nullptr);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));

    // GetMessageA wakes for it, and it repeats; never faster than its period, even at 0 ms
    // (raised to 10 ms).
    struct Period {
        UINT setMs, atLeastMs;
    };
    for (const Period& p : {Period{30, 4 * 30}, Period{0, 4 * USER_TIMER_MINIMUM}}) {
        SCOPED_TRACE("period " + std::to_string(p.setMs));
        SetTimer(hwnd, 5, p.setMs, nullptr);
        DWORD start = GetTickCount();
        for (int i = 0; i < 4; ++i) EXPECT_EQ(static_cast<UINT>(WM_TIMER), NextMessage(hwnd).message);
        EXPECT_LE(p.atLeastMs - 5, GetTickCount() - start);  // tick granularity
    }
    EXPECT_TRUE(KillTimer(hwnd, 5));
    Sleep(30);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) << "killed";

    // A callback: lParam names it, and DispatchMessageA calls it instead of the window procedure.
    gSeen.clear();
    gTimers = 0;
    SetTimer(hwnd, 9, 10, CountTimer);
    msg = NextMessage(hwnd, WM_TIMER, WM_TIMER);
    EXPECT_EQ(reinterpret_cast<LPARAM>(&CountTimer), msg.lParam);
    DispatchMessageA(&msg);
    EXPECT_EQ((std::vector<UINT>{WM_TIMER, 9}), gSeen);
    EXPECT_EQ(0, gTimers.load());
    EXPECT_TRUE(KillTimer(hwnd, 9));

    // The window goes, its timers with it.
    SetTimer(hwnd, 5, 10, nullptr);
    EXPECT_TRUE(DestroyWindow(hwnd));
    Sleep(30);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(KillTimer(hwnd, 5));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError()) << "probed";
    EXPECT_TRUE(WinStub_Timers().empty()) << "gone with the window";
}

TEST_F(MessageTest, ATimerOnAnotherThreadsWindowFiresOnThatThread) {
    WindowThread worker;
    worker.Start();
    gTimerOn = 0;
    EXPECT_EQ(3u, SetTimer(worker.hwnd, 3, 10, nullptr)) << "probed: Wine allows it";
    for (int i = 0; i < 300 && gTimers.load() == 0; ++i) Sleep(10);
    EXPECT_LT(0, gTimers.load()) << "the worker's GetMessageA woke for it";
    EXPECT_EQ(worker.id, gTimerOn.load());
    EXPECT_TRUE(KillTimer(worker.hwnd, 3));
    EXPECT_EQ(4u, SetTimer(worker.hwnd, 4, 1000, nullptr));
    ASSERT_EQ(1u, WinStub_Timers().size());
    worker.Finish();
    EXPECT_TRUE(WinStub_Timers().empty()) << "its thread ended: window and timer gone";
}

// With FindWindowA slowed down, two starts that look for each other at the same moment both
// miss; the guard's named mutex makes the second look only after the first has made its window.
TEST_F(MessageTest, ADelayedFindWindowOpensTheSingleInstanceRace) {
    struct Start {
        HANDLE go, done, mutex;
        std::atomic<int>* made;
        std::atomic<int>* through;  // past the guard
        HWND hwnd = nullptr;
        static DWORD WINAPI Run(LPVOID param) {
            auto* self = static_cast<Start*>(param);
            WaitForSingleObject(self->go, INFINITE);
            if (self->mutex) WaitForSingleObject(self->mutex, INFINITE);
            if (!FindWindowA("StubTestClass", "instance")) {
                Sleep(50);  // making the window takes a while: the shell makes it on another thread
                self->hwnd = MakeWindow("instance");
                ++*self->made;
            }
            if (self->mutex) ReleaseMutex(self->mutex);
            ++*self->through;
            WaitForSingleObject(self->done, INFINITE);  // our window lives as long as we do
            if (self->hwnd) DestroyWindow(self->hwnd);
            return 0;
        }
    };
    struct Case {
        bool guarded;
        int windows;
        DWORD atLeastMs;
    };
    for (const Case& c : {Case{false, 2, 150}, Case{true, 1, 2 * 150 + 50}}) {
        SCOPED_TRACE(c.guarded ? "guarded" : "unguarded");
        std::atomic<int> made{0}, through{0};
        HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        HANDLE mutex = c.guarded ? CreateMutexA(nullptr, FALSE, "StubInstanceGuard") : nullptr;
        WinStub_DelayNext(WinStubDelay::FindWindow, 150, 2);
        Start a{go, done, mutex, &made, &through}, b{go, done, mutex, &made, &through};
        HANDLE threads[] = {CreateThread(nullptr, 0, Start::Run, &a, 0, nullptr),
                            CreateThread(nullptr, 0, Start::Run, &b, 0, nullptr)};
        DWORD start = GetTickCount();
        SetEvent(go);
        for (int i = 0; i < 500 && through.load() < 2; ++i) Sleep(10);
        EXPECT_EQ(c.windows, made.load());
        EXPECT_LE(c.atLeastMs, GetTickCount() - start) << "the lookups waited";
        SetEvent(done);
        for (HANDLE t : threads) {
            EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(t, 5000));
            CloseHandle(t);
        }
        for (HANDLE h : {go, done, mutex})
            if (h) CloseHandle(h);
    }
    DWORD start = GetTickCount();
    EXPECT_EQ(nullptr, FindWindowA("StubTestClass", "instance"));
    EXPECT_GT(100u, GetTickCount() - start) << "the delays are used up";
}

TEST_F(MessageTest, DefWindowProcClosesOnSystemCloseAndLetsTheSessionEnd) {
    std::vector<UINT> const closed{WM_CLOSE, WM_DESTROY, WM_NCDESTROY}, none;
    struct Case {
        UINT message;
        WPARAM wParam;
        LRESULT result;
        std::vector<UINT> seen;  // by the window procedure, after the call
    };
    const Case cases[] = {
        {WM_SYSCOMMAND, SC_CLOSE, 0, closed},        // Alt+F4, the system menu's Close
        {WM_SYSCOMMAND, SC_CLOSE | 2, 0, closed},    // the low four bits are Windows's own
        {WM_SYSCOMMAND, 0xF020, 0, none},            // SC_MINIMIZE
        {WM_QUERYENDSESSION, 0, TRUE, none},
        {WM_ENDSESSION, TRUE, 0, none},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("message " + std::to_string(c.message) + " wParam " + std::to_string(c.wParam));
        HWND hwnd = MakeWindow("def");
        gSeen.clear();
        EXPECT_EQ(c.result, DefWindowProcA(hwnd, c.message, c.wParam, 0));
        EXPECT_EQ(c.seen, gSeen);
        if (IsWindow(hwnd)) DestroyWindow(hwnd);
    }
}

TEST_F(MessageTest, AWindowNamesItsThreadAndProcess) {
    WindowThread worker;
    worker.Start();
    struct Case {
        HWND hwnd;
        DWORD thread, process, error;  // 0x1234: the process id left as it was
    };
    const Case cases[] = {
        {worker.hwnd, worker.id, GetCurrentProcessId(), 0xdeadbeef},
        {reinterpret_cast<HWND>(0x1234), 0, 0x1234, ERROR_INVALID_WINDOW_HANDLE},
    };
    for (const Case& c : cases) {
        DWORD process = 0x1234;
        SetLastError(0xdeadbeef);
        EXPECT_EQ(c.thread, GetWindowThreadProcessId(c.hwnd, &process));
        EXPECT_EQ(c.process, process);
        EXPECT_EQ(c.error, GetLastError());
    }
    worker.Finish();
    EXPECT_EQ(0u, GetWindowThreadProcessId(worker.hwnd, nullptr)) << "its thread has ended";

    EXPECT_TRUE(AllowSetForegroundWindow(GetCurrentProcessId()));
    EXPECT_TRUE(AllowSetForegroundWindow(ASFW_ANY));
    EXPECT_EQ((std::vector<DWORD>{GetCurrentProcessId(), ASFW_ANY}), WinStub_ForegroundAllowCalls());
}

// An elevated process hears a lower-integrity Explorer's TaskbarCreated only through its filter.
TEST_F(MessageTest, AnElevatedProcessHearsExplorerOnlyThroughItsMessageFilter) {
    typedef BOOL(WINAPI * ChangeWindowMessageFilterEntry)(UINT, DWORD);
    auto allow = reinterpret_cast<ChangeWindowMessageFilterEntry>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "ChangeWindowMessageFilter")));
    ASSERT_NE(nullptr, allow);
    UINT const created = RegisterWindowMessageA("TaskbarCreated");
    DWORD const add = 1, remove = 2;  // MSGFLT_ADD, MSGFLT_REMOVE
    using V = WinStubWindowsVersion;
    struct Case {
        V version;
        bool elevated;
        std::vector<std::pair<UINT, DWORD>> filter;  // ChangeWindowMessageFilter calls
        bool heard;
    };
    const Case cases[] = {
        {V::Win10, false, {}, true},
        {V::Win10, true, {}, false},
        {V::Win10, true, {{created, add}}, true},
        {V::Win10, true, {{WM_USER + 7, add}}, false},
        {V::Win10, true, {{created, add}, {created, remove}}, false},
        {V::Vista, true, {}, false},
        {V::Xp, true, {}, true},  // no integrity levels
    };
    HWND hwnd = MakeWindow("elevated");
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(static_cast<int>(c.version)) + (c.elevated ? " elevated " : " ") +
                     std::to_string(c.filter.size()));
        WinStub_SetWindowsVersion(c.version);
        WinStub_SetElevated(c.elevated);
        size_t before = WinStub_MessageFilterCalls().size();
        for (auto& call : c.filter) EXPECT_TRUE(allow(call.first, call.second));
        WinStub_RecreateTaskbar();
        MSG msg;
        EXPECT_EQ(c.heard, PeekMessageA(&msg, hwnd, created, created, PM_REMOVE) != FALSE);
        std::vector<WinStubMessageFilterCall> calls = WinStub_MessageFilterCalls();
        ASSERT_EQ(before + c.filter.size(), calls.size());
        for (size_t i = 0; i < c.filter.size(); ++i)
            EXPECT_TRUE(calls[before + i].message == c.filter[i].first && calls[before + i].flag == c.filter[i].second &&
                        calls[before + i].result);
        if (!c.filter.empty()) allow(c.filter[0].first, remove);  // the next case starts unfiltered
    }
    EXPECT_TRUE(DestroyWindow(hwnd));
}

}  // namespace
