// The monitor thread as a first start makes it: the hidden ghost window, the
// tray icon, binding to Java, and the ways its loop ends.

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "BoundJava.h"
#include "JavaScript.h"
#include "TestSupport.h"
#include "fakejvm_control.h"
#include "kelvarin.h"
#include "resource.h"

#ifndef _WIN32
#include "winstub_control.h"
#endif

namespace {

class Monitor : public ::testing::Test {
protected:
    void SetUp() override { ResetTestProcess(); }

    void TearDown() override
    {
        EndMonitor();
        java_.reset();
    }

    // First start in this process: the guard starts the monitor thread.
    void StartMonitor()
    {
        ASSERT_FALSE(FindOurWindow());
        ASSERT_TRUE(sg_hMonitorThread);
        ASSERT_TRUE(sg_monitorHwnd);
        // The handshake comes before the icon; once the loop answers, the
        // icon has been added.
        SendMessageA(sg_monitorHwnd, WM_NULL, 0, 0);
    }

    // The VM the launch would have made, and the bind message it posts.
    void Bind(JavaScript const &script = JavaScript())
    {
        java_.reset(new BoundJava(script.Text(), false));
        ASSERT_TRUE(java_->Started());
        PostMessageA(sg_monitorHwnd, WM_BIND_TO_JAVA, 0, 0);
    }

    bool MonitorEnded(DWORD ms = 10000)
    {
        return !sg_hMonitorThread || WaitForSingleObject(sg_hMonitorThread, ms) == WAIT_OBJECT_0;
    }

    void EndMonitor()
    {
        if (sg_hMonitorThread && !MonitorEnded(0)) {
            PostMessageA(sg_monitorHwnd, WM_CLOSE, 0, 0);
            EXPECT_TRUE(MonitorEnded());
        }
        if (sg_hMonitorThread)
            CloseHandle(sg_hMonitorThread);
        sg_hMonitorThread = NULL;
    }

    std::unique_ptr<BoundJava> java_;
};

TEST_F(Monitor, FirstStartMakesAHiddenGhostWindow)
{
    StartMonitor();
    char name[64] = "";
    GetClassNameA(sg_monitorHwnd, name, sizeof name);
    EXPECT_STREQ(name, "ChimeletGhostWindow");
    GetWindowTextA(sg_monitorHwnd, name, sizeof name);
    EXPECT_STREQ(name, "ChimeletGhostWindow");
    EXPECT_FALSE(IsWindowVisible(sg_monitorHwnd));
    EXPECT_EQ(GetWindowLongA(sg_monitorHwnd, GWL_STYLE) & WS_VISIBLE, 0);
    // Nothing would put a hidden window without this style on the taskbar.
    EXPECT_EQ(GetWindowLongA(sg_monitorHwnd, GWL_EXSTYLE) & WS_EX_APPWINDOW, 0);
    EXPECT_EQ(FindWindowA("ChimeletGhostWindow", NULL), sg_monitorHwnd);
}

TEST_F(Monitor, ASecondStartWhileUnboundIsAnsweredAndOpensNothing)
{
    StartMonitor();
    HWND const first = sg_monitorHwnd;
    EXPECT_TRUE(FindOurWindow());
    EXPECT_EQ(sg_monitorHwnd, first);
    // Unbound: the tray ignores clicks as well.
    ChooseInNextMenu(sg_monitorHwnd, 0);
    SendMessageA(sg_monitorHwnd, WM_NOTIFY_ICON, kNotifyIconId, WM_RBUTTONDOWN);
    EXPECT_EQ(TrackedMenuCount(), 0);
}

TEST_F(Monitor, BindingMakesTheTrayReachJava)
{
    StartMonitor();
    Bind();
    ASSERT_TRUE(WaitForLog("attach "));

    // A second start now opens the reminder list, before its guard returns.
    EXPECT_TRUE(FindOurWindow());
    EXPECT_EQ(BoundJava::Count(InvokeLine("showReminderList", "()V")), 1);

    // A stray second bind message changes nothing.
    PostMessageA(sg_monitorHwnd, WM_BIND_TO_JAVA, 0, 0);
    ChooseInNextMenu(sg_monitorHwnd, 1001);
    SendMessageA(sg_monitorHwnd, WM_NOTIFY_ICON, kNotifyIconId, WM_RBUTTONDOWN);
    EXPECT_EQ(TrackedMenuCount(), 1);
    EXPECT_EQ(BoundJava::Count(InvokeLine("showReminderList", "()V")), 2);
    // Attached only while it calls Java, and never as a daemon, which a
    // runtime before 1.4 cannot do.
    EXPECT_EQ(BoundJava::Count("attach daemon=1"), 0);
    EXPECT_EQ(FakeJvm_AttachedThreadCount(), 0);
    EXPECT_EQ(BoundJava::Violations(), "");
}

TEST_F(Monitor, ExitConfirmedEndsTheLoopQuitsJavaOnceAndDetaches)
{
    StartMonitor();
    Bind();
    ASSERT_TRUE(WaitForLog("attach "));

    AnswerMessageBoxes(IDNO);
    ChooseInNextMenu(sg_monitorHwnd, 9990);
    SendMessageA(sg_monitorHwnd, WM_NOTIFY_ICON, kNotifyIconId, WM_LBUTTONDOWN);
    EXPECT_EQ(ShownMessageBoxes().size(), 1u);
    EXPECT_FALSE(MonitorEnded(200));

    AnswerMessageBoxes(IDYES);
    ChooseInNextMenu(sg_monitorHwnd, 9990);
    SendMessageA(sg_monitorHwnd, WM_NOTIFY_ICON, kNotifyIconId, WM_RBUTTONDOWN);
    EXPECT_EQ(ShownMessageBoxes().size(), 1u);
    ASSERT_TRUE(MonitorEnded());
    EXPECT_FALSE(IsWindow(sg_monitorHwnd));
    EXPECT_EQ(BoundJava::Count(InvokeLine("quit", "()V")), 1);
    EXPECT_EQ(FakeJvm_AttachedThreadCount(), 0) << "the monitor thread ended attached";
    EXPECT_EQ(BoundJava::Violations(), "");
}

// Posted by someone else: DefWindowProc destroys the window, WM_DESTROY
// stops the loop, and the closing steps run once.
TEST_F(Monitor, ACloseFromOutsideEndsTheLoop)
{
    struct {
        char const *name;
        bool bound;
    } const cases[] = {{"unbound", false}, {"bound", true}};
    for (auto const &c : cases) {
        SCOPED_TRACE(c.name);
        ResetTestProcess();
        StartMonitor();
        if (c.bound) {
            Bind();
            ASSERT_TRUE(WaitForLog("attach "));
        }
        PostMessageA(sg_monitorHwnd, WM_CLOSE, 0, 0);
        ASSERT_TRUE(MonitorEnded());
        EXPECT_FALSE(IsWindow(sg_monitorHwnd));
        EXPECT_EQ(BoundJava::Count(InvokeLine("quit", "()V")), c.bound ? 1 : 0);
        EXPECT_EQ(FakeJvm_AttachedThreadCount(), 0);
        EndMonitor();
        java_.reset();
    }
}

TEST_F(Monitor, AFailedAttachEndsTheTrayButNotJava)
{
    StartMonitor();
    Bind(JavaScript().AttachFails());
    ASSERT_TRUE(MonitorEnded());
    EXPECT_FALSE(IsWindow(sg_monitorHwnd));
    EXPECT_EQ(BoundJava::Count(InvokeLine("quit", "()V")), 0);
    EXPECT_TRUE(FakeJvm_VmExists());
}

TEST_F(Monitor, ABindMessageBeforeTheVMExistsIsIgnored)
{
    StartMonitor();
    SendMessageA(sg_monitorHwnd, WM_BIND_TO_JAVA, 0, 0);
    EXPECT_FALSE(MonitorEnded(100));
    EXPECT_EQ(sg_pEnvThread, (JNIEnv *)NULL);
}

#ifndef _WIN32
NOTIFYICONDATAA const *LastTrayCall(DWORD message)
{
    static std::vector<WinStubTrayCall> calls;
    calls = WinStub_TrayCalls();
    for (auto call = calls.rbegin(); call != calls.rend(); ++call) {
        if (call->message == message)
            return &call->data;
    }
    return nullptr;
}

TEST_F(Monitor, TheIconIsAddedWithItsTooltipAndRemovedAtTheEnd)
{
    StartMonitor();
    NOTIFYICONDATAA const *added = LastTrayCall(NIM_ADD);
    ASSERT_TRUE(added);
    EXPECT_EQ(added->cbSize, (DWORD)NOTIFYICONDATAA_V1_SIZE);
    EXPECT_EQ(added->hWnd, sg_monitorHwnd);
    EXPECT_EQ(added->uID, 1u);
    EXPECT_EQ(added->uFlags, (UINT)(NIF_MESSAGE | NIF_ICON | NIF_TIP));
    EXPECT_EQ(added->uCallbackMessage, 1125u);
    EXPECT_STREQ(added->szTip, "Chimelet");
    EXPECT_TRUE(added->hIcon);
    EXPECT_EQ(WinStub_TrayIconCount(), 1u);
    EXPECT_EQ(WinStub_LiveHandles().icons, 0) << "the icon's image is the shell's to keep, not ours";

    // Explorer restarted: the icon comes back.
    WinStub_RecreateTaskbar();
    for (int i = 0; i < 500 && WinStub_TrayIconCount() == 0; ++i)
        Sleep(10);
    EXPECT_EQ(WinStub_TrayIconCount(), 1u);

    EndMonitor();
    NOTIFYICONDATAA const *deleted = LastTrayCall(NIM_DELETE);
    ASSERT_TRUE(deleted);
    EXPECT_EQ(deleted->uID, 1u);
    EXPECT_EQ(WinStub_TrayIconCount(), 0u);
    EXPECT_EQ(WinStub_LiveHandles().windows, 0);
}

// The record names the first layout: 63 characters of tooltip at most.
TEST_F(Monitor, TheTooltipIsCutTo63Characters)
{
    struct {
        char const *name;
        char const *tip;
        std::string shown;
    } const cases[] = {
        {"fits", "Chimelet", "Chimelet"},
        {"too long", "0123456789012345678901234567890123456789012345678901234567890123456789",
         "012345678901234567890123456789012345678901234567890123456789012"},
        {"none", nullptr, ""},
    };
    UINT id = 10;
    for (auto const &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(AddTaskBarIcon((HWND)this, ++id, NULL, c.tip));
        NOTIFYICONDATAA const *added = LastTrayCall(NIM_ADD);
        ASSERT_TRUE(added);
        EXPECT_EQ(std::string(added->szTip), c.shown);
        EXPECT_TRUE(DeleteTaskBarIcon((HWND)this, id));
    }
}

TEST_F(Monitor, AClickBeforeBindingOpensNothing)
{
    StartMonitor();
    ChooseInNextMenu(sg_monitorHwnd, 0);
    EXPECT_TRUE(WinStub_ClickTrayIcon(sg_monitorHwnd, 1, WM_RBUTTONDOWN));
    SendMessageA(sg_monitorHwnd, WM_NULL, 0, 0);  // the click has been handled once this returns
    EXPECT_TRUE(WinStub_TrackCalls().empty());
}

// Start-up must never wait for a handshake that cannot come.
TEST_F(Monitor, WithoutEventThreadOrWindowStartUpGoesOnWithoutATray)
{
    struct {
        char const *name;
        WinStubFault fault;
        bool thread;
        bool box;
    } const cases[] = {
        {"no event", WinStubFault::CreateEvent, false, false},
        {"no thread", WinStubFault::CreateThread, false, false},
        {"no window", WinStubFault::CreateWindow, true, true},
        {"no mutex", WinStubFault::CreateMutex, true, false},
    };
    for (auto const &c : cases) {
        SCOPED_TRACE(c.name);
        ResetTestProcess();
        WinStub_FailNext(c.fault);
        EXPECT_FALSE(FindOurWindow());
        EXPECT_EQ(sg_hMonitorThread != NULL, c.thread);
        EXPECT_EQ(sg_monitorHwnd != NULL, c.fault == WinStubFault::CreateMutex);
        std::vector<ShownBox> boxes = ShownMessageBoxes();
        ASSERT_EQ(boxes.size(), c.box ? 1u : 0u);
        if (c.box) {
            EXPECT_EQ(boxes[0].text, "Unable to make monitor window");
            EXPECT_EQ(boxes[0].caption, "Rozazu");
            EXPECT_EQ(boxes[0].type, (UINT)MB_OK);
            EXPECT_TRUE(MonitorEnded());
        }
        EndMonitor();
    }
}

size_t TrayCallCount(DWORD message)
{
    size_t count = 0;
    for (WinStubTrayCall const &call : WinStub_TrayCalls())
        count += call.message == message;
    return count;
}

// At logon Explorer may refuse the icon for a while: it is offered again
// until it shows, and then no more.
TEST_F(Monitor, AnIconTheShellRefusesIsOfferedAgainUntilItShows)
{
    WinStub_FailNext(WinStubFault::NotifyIconAdd);
    StartMonitor();
    EXPECT_EQ(WinStub_TrayIconCount(), 0u);
    for (int i = 0; i < 500 && WinStub_TrayIconCount() == 0; ++i)
        Sleep(10);
    EXPECT_EQ(WinStub_TrayIconCount(), 1u);
    size_t const adds = TrayCallCount(NIM_ADD);
    Sleep(2500);
    EXPECT_EQ(TrayCallCount(NIM_ADD), adds) << "the icon was offered again once it was there";
}

// The bell at the tray's own size, which high-DPI screens make larger.
TEST_F(Monitor, TheIconIsLoadedAtTheSmallIconSize)
{
    for (int size : {16, 20, 24, 32}) {
        SCOPED_TRACE(size);
        ResetTestProcess();
        WinStub_SetSmallIconSize(size, size);
        StartMonitor();
        std::vector<WinStubLoadImageCall> const loads = WinStub_LoadImageCalls();
        ASSERT_FALSE(loads.empty());
        EXPECT_EQ(loads.back().name, "ICON_1");
        EXPECT_EQ(loads.back().cx, size);
        EXPECT_EQ(loads.back().cy, size);
        EndMonitor();
    }
}

// Two starts at once: the guard's mutex lets one look for the window (and
// make it) before the other looks.
TEST_F(Monitor, TheGuardLetsOneStartInAtATime)
{
    WinStub_DelayNext(WinStubDelay::FindWindow, 300, 2);
    std::atomic<int> firsts{0};
    auto start = [&] {
        if (!FindOurWindow())
            ++firsts;
    };
    std::thread one(start);
    std::thread other(start);
    one.join();
    other.join();
    EXPECT_EQ(firsts.load(), 1);
}

// An instance busy in a long Java call does not answer: later starts give
// up on it instead of waiting with it.
TEST_F(Monitor, StartsGiveUpOnAnInstanceThatDoesNotAnswer)
{
    WinStub_SetHungTimeout(100);
    StartMonitor();
    Bind(JavaScript().Taking("showAboutWindow", 2000));
    ASSERT_TRUE(WaitForLog("attach "));
    ChooseInNextMenu(sg_monitorHwnd, IDS_ABOUT);
    PostMessageA(sg_monitorHwnd, WM_NOTIFY_ICON, kNotifyIconId, WM_RBUTTONDOWN);
    ASSERT_TRUE(WaitForLog(InvokeLine("showAboutWindow", "()V")));
    Sleep(200);

    DWORD const began = GetTickCount();
    EXPECT_TRUE(FindOurWindow());
    EXPECT_TRUE(FindOurWindow());
    EXPECT_LT(GetTickCount() - began, 1500u) << "a start waited for the busy instance";
    SendMessageA(sg_monitorHwnd, WM_NULL, 0, 0);  // the call has ended
    EXPECT_EQ(BoundJava::Violations(), "");
}

// While the menu or the Exit question is open, a click on the tray opens
// nothing and asks Java nothing; afterwards the tray works as before.
TEST_F(Monitor, OneTrayActionAtATime)
{
    StartMonitor();
    Bind();
    ASSERT_TRUE(WaitForLog("attach "));
    SendMessageA(sg_monitorHwnd, WM_NULL, 0, 0);

    int tracked = 0;
    WinStub_SetTrackPopupMenuHandler([&](HMENU, UINT, int, int, HWND owner) -> UINT {
        if (tracked++ == 0)
            SendMessageA(owner, WM_NOTIFY_ICON, kNotifyIconId, WM_RBUTTONDOWN);
        return IDS_EXIT;
    });
    int asked = 0;
    WinStub_SetMessageBoxHandler([&](WinStubMessageBox const &) {
        if (asked++ == 0)
            SendMessageA(sg_monitorHwnd, WM_NOTIFY_ICON, kNotifyIconId, WM_LBUTTONDOWN);
        return IDNO;
    });
    SendMessageA(sg_monitorHwnd, WM_NOTIFY_ICON, kNotifyIconId, WM_RBUTTONDOWN);
    EXPECT_EQ(tracked, 1) << "a menu opened inside the menu or over the question";
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(BoundJava::Count(InvokeLine("getTemplateList", "()[Ljava/lang/String;")), 1);

    SendMessageA(sg_monitorHwnd, WM_NOTIFY_ICON, kNotifyIconId, WM_RBUTTONDOWN);
    EXPECT_EQ(tracked, 2);
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(BoundJava::Violations(), "");
}
#endif

} // namespace
