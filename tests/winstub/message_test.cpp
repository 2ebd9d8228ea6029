// Windows, threads and messages: the cross-thread rules that the shell's single-instance and
// monitor-thread tests depend on, plus the modal calls and the tray.
#include <windows.h>
#include <shellapi.h>

#include "winstub_control.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

namespace {

UINT const WM_ECHO = WM_USER + 1;        // answers its wParam + 1 and the handling thread's id
UINT const WM_SEND_BACK = WM_USER + 2;   // sends WM_ECHO to the window in wParam, answers its result
UINT const WM_TRACE = WM_USER + 3;

std::atomic<DWORD> gHandledOn{0};
std::vector<UINT> gSeen;  // messages of the window made by MakeWindow, on the test thread only
std::atomic<bool> gRefuseCreate{false};

LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        gSeen.push_back(message);
        return gRefuseCreate ? -1 : 0;
    case WM_DESTROY:
    case WM_NCDESTROY:
    case WM_TRACE:
        gSeen.push_back(message);
        return 0;
    case WM_ECHO:
        gHandledOn = GetCurrentThreadId();
        return static_cast<LRESULT>(wParam + 1);
    case WM_SEND_BACK:
        return SendMessageA(reinterpret_cast<HWND>(wParam), WM_ECHO, 41, 0);
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
        gRefuseCreate = false;
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

// A thread that makes a window, signals `ready`, then pumps until WM_QUIT (or, with
// pump = false, waits for `release` without ever reading its queue).
struct WindowThread {
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    bool pump = true;
    HWND hwnd = nullptr;
    DWORD id = 0;
    HANDLE thread = nullptr;

    static DWORD WINAPI Run(LPVOID param) {
        auto* self = static_cast<WindowThread*>(param);
        self->hwnd = MakeWindow("worker");
        SetEvent(self->ready);
        if (self->pump) {
            MSG msg;
            while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
            DestroyWindow(self->hwnd);
        } else {
            WaitForSingleObject(self->release, INFINITE);
        }
        return 0;
    }
    void Start() {
        thread = CreateThread(nullptr, 0, Run, this, 0, &id);
        WaitForSingleObject(ready, INFINITE);
    }
    void Finish() {
        if (pump) PostMessageA(hwnd, WM_QUIT, 0, 0);
        SetEvent(release);
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 5000));
        CloseHandle(thread);
        CloseHandle(ready);
        CloseHandle(release);
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

TEST_F(MessageTest, SenderIsReleasedWhenTheTargetThreadEnds) {
    WindowThread worker;
    worker.pump = false;
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
    EXPECT_EQ((std::vector<UINT>{WM_CREATE, WM_DESTROY, WM_NCDESTROY}), gSeen);
    EXPECT_FALSE(IsWindow(hwnd));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(PostMessageA(hwnd, WM_USER, 0, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE), GetLastError());

    PostMessageA(nullptr, WM_QUIT, 3, 0);
    EXPECT_FALSE(GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(3u, msg.wParam);
}

TEST_F(MessageTest, ModalCallsServeSentMessages) {
    HWND mine = MakeWindow("mine");
    struct Sender {
        HWND target;
        LRESULT result = 0;
        static DWORD WINAPI Run(LPVOID param) {
            auto* self = static_cast<Sender*>(param);
            self->result = SendMessageA(self->target, WM_ECHO, 9, 0);
            return 0;
        }
    } sender{mine};
    HANDLE thread = nullptr;
    WinStub_SetMessageBoxHandler([&](const WinStubMessageBox& box) {
        EXPECT_EQ("Error", box.caption);
        EXPECT_EQ(GetCurrentThreadId(), box.threadId);
        thread = CreateThread(nullptr, 0, Sender::Run, &sender, 0, nullptr);
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

}  // namespace
