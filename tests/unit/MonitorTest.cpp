// The monitor thread as a first start makes it: the hidden ghost window, the
// tray icon, binding to Java, and the ways its loop ends.

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
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

    // A second start now opens the reminder list, before its guard returns,
    // and hands the running instance the right to come to the front.
    EXPECT_TRUE(FindOurWindow());
    EXPECT_EQ(BoundJava::Count(InvokeLine("showReminderList", "()V")), 1);
#ifndef _WIN32
    EXPECT_EQ(WinStub_ForegroundAllowCalls(), std::vector<DWORD>{GetCurrentProcessId()});
#endif

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

// WM_CLOSE posted by someone else (the installer): DefWindowProc destroys
// the window, WM_DESTROY stops the loop, and the closing steps run once.
// Alt+F4 on the ghost window, still active after its menu, closes nothing.
TEST_F(Monitor, ACloseFromOutsideEndsTheLoop)
{
    struct {
        char const *name;
        bool bound;
        UINT message;
        WPARAM wParam;
        bool ends;
    } const cases[] = {
        {"unbound", false, WM_CLOSE, 0, true},
        {"bound", true, WM_CLOSE, 0, true},
        {"Alt+F4", true, WM_SYSCOMMAND, SC_CLOSE, false},
        {"Alt+F4, low bits set", true, WM_SYSCOMMAND, SC_CLOSE | 2, false},
    };
    for (auto const &c : cases) {
        SCOPED_TRACE(c.name);
        ResetTestProcess();
        StartMonitor();
        if (c.bound) {
            Bind();
            ASSERT_TRUE(WaitForLog("attach "));
        }
        PostMessageA(sg_monitorHwnd, c.message, c.wParam, 0);
        EXPECT_EQ(MonitorEnded(c.ends ? 10000 : 300), c.ends);
        EXPECT_EQ(IsWindow(sg_monitorHwnd), !c.ends);
        EXPECT_EQ(BoundJava::Count(InvokeLine("quit", "()V")), c.bound && c.ends ? 1 : 0);
        EndMonitor();
        EXPECT_EQ(FakeJvm_AttachedThreadCount(), 0);
        java_.reset();
    }
}

// An earlier start that died inside the guard leaves its mutex abandoned:
// the next start takes it over and comes up as the first instance.
TEST_F(Monitor, AGuardAbandonedByADeadStartIsTakenOver)
{
    std::thread died([] { CreateMutexA(NULL, TRUE, "ChimeletLoadMutex"); });
    died.join();
    StartMonitor();
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

// A Java method may wait in SendMessage (AWT hands its window work to its
// toolkit thread so), and what is sent to the ghost window meanwhile is
// served inside it. Nothing but quit at the end of the session begins
// inside the call: a press on the bell does nothing, and a later start is
// answered at once, its reminder list opened after the call.
TEST_F(Monitor, WhatIsSentDuringAJavaCallBeginsNothingInsideIt)
{
    enum Sent { kPress, kLaterStart, kEndOfSession };
    struct {
        char const *name;
        Sent sent;
        int reminderLists;  // in all
        int nested;         // Java calls begun inside the long one
    } const cases[] = {
        {"a press on the bell", kPress, 1, 0},
        {"a later start", kLaterStart, 2, 0},
        {"the end of the session", kEndOfSession, 1, 1},
    };
    int const kCallMs = 3000;
    for (auto const &c : cases) {
        SCOPED_TRACE(c.name);
        ResetTestProcess();
        StartMonitor();
        Bind(JavaScript().Serving("showReminderList", kCallMs));
        ASSERT_TRUE(WaitForLog("attach "));
        ChooseInNextMenu(sg_monitorHwnd, 0);
        // A first start's message, posted: a start that sent it would hold
        // the guard that the later start needs.
        PostMessageA(sg_monitorHwnd, WM_SHOW_REMINDERS, 0, 0);
        ASSERT_TRUE(WaitForLog(InvokeLine("showReminderList", "()V")));

        DWORD const began = GetTickCount();
        if (c.sent == kPress)
            SendMessageA(sg_monitorHwnd, WM_NOTIFY_ICON, kNotifyIconId, WM_RBUTTONDOWN);
        else if (c.sent == kLaterStart)
            EXPECT_TRUE(FindOurWindow());
        else
            SendMessageA(sg_monitorHwnd, WM_ENDSESSION, TRUE, 0);
        EXPECT_LT(GetTickCount() - began, (DWORD)kCallMs / 2) << "answered only after a call inside the call";
        EXPECT_EQ(BoundJava::Count(InvokeLine("quit", "()V")), c.sent == kEndOfSession ? 1 : 0);

        EXPECT_TRUE(WaitForLog(InvokeLine("showReminderList", "()V"), c.reminderLists));
        if (c.sent == kEndOfSession)
            EXPECT_TRUE(MonitorEnded());
        else
            SendMessageA(sg_monitorHwnd, WM_NULL, 0, 0);  // every call has returned
        EXPECT_EQ(BoundJava::Count(InvokeLine("showReminderList", "()V")), c.reminderLists);
        EXPECT_EQ(BoundJava::Count("nested "), c.nested);
        EXPECT_EQ(TrackedMenuCount(), 0);
        EXPECT_EQ(BoundJava::Count(InvokeLine("getTemplateList", "()[Ljava/lang/String;")), 0);
        EXPECT_EQ(BoundJava::Violations(), "");
        EndMonitor();
        EXPECT_EQ(FakeJvm_AttachedThreadCount(), 0);
        java_.reset();
    }
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
    EXPECT_EQ(added->cbSize, (DWORD)(offsetof(NOTIFYICONDATAA, szTip) + 64)) << "not the first layout";
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

// The interval of the monitor's timer that offers the icon again; 0 when
// none is set.
UINT IconRetryInterval()
{
    for (WinStubTimer const &timer : WinStub_Timers()) {
        if (timer.hwnd == sg_monitorHwnd)
            return timer.elapse;
    }
    return 0;
}

// At logon Explorer may refuse the icon for a while, or add it and answer
// too late: it is offered again until it shows, and then no more. Once Java
// has ended the process (the exit hook), no retry brings it back.
TEST_F(Monitor, AnIconTheShellRefusesIsOfferedAgainUntilItShows)
{
    struct {
        char const *name;
        WinStubFault fault;
        bool javaExits;
    } const cases[] = {
        {"refused", WinStubFault::NotifyIconAdd, false},
        {"added, but the answer timed out", WinStubFault::NotifyIconAddTimesOut, false},
        {"refused, then Java ended the process", WinStubFault::NotifyIconAdd, true},
    };
    for (auto const &c : cases) {
        SCOPED_TRACE(c.name);
        ResetTestProcess();
        WinStub_FailNext(c.fault);
        StartMonitor();
        if (c.javaExits) {
            TakeTrayDownOnJavaExit(0);
            SendMessageA(sg_monitorHwnd, WM_TIMER, WinStub_Timers()[0].id, 0);
            EXPECT_EQ(WinStub_TrayIconCount(), 0u) << "an icon came back after the end";
            EndMonitor();
            continue;
        }
        for (int i = 0; i < 500 && WinStub_TrayIconCount() == 0; ++i)
            Sleep(10);
        SendMessageA(sg_monitorHwnd, WM_NULL, 0, 0);  // the retry that showed it has returned
        EXPECT_EQ(WinStub_TrayIconCount(), 1u);
        EXPECT_EQ(IconRetryInterval(), 0u) << "the icon is still offered once it is there";
        EndMonitor();
    }
}

// Explorer can take long to come up at logon: the icon is offered every two
// seconds for the whole two minutes, and then no more.
TEST_F(Monitor, TheIconIsOfferedForTwoMinutes)
{
    WinStub_FailNext(WinStubFault::NotifyIconAdd, 1000);
    StartMonitor();
    ASSERT_EQ(IconRetryInterval(), 2000u);
    UINT_PTR const timer = WinStub_Timers()[0].id;
    for (int tick = 1; tick < 60; ++tick)
        SendMessageA(sg_monitorHwnd, WM_TIMER, timer, 0);
    EXPECT_EQ(IconRetryInterval(), 2000u) << "given up before two minutes";
    SendMessageA(sg_monitorHwnd, WM_TIMER, timer, 0);
    EXPECT_EQ(IconRetryInterval(), 0u) << "still offered after two minutes";
    EXPECT_EQ(WinStub_TrayIconCount(), 0u);
}

// Explorer restarted: the icon comes back, also to an instance run as
// administrator, which hears Explorer only where it let its message through.
TEST_F(Monitor, ARestartedExplorerGetsTheIconBack)
{
    struct {
        char const *name;
        WinStubWindowsVersion windows;
        bool elevated;
        size_t filtered;  // messages let through from lower integrity
    } const cases[] = {
        {"as administrator", WinStubWindowsVersion::Win10, true, 2},
        {"as administrator on Vista", WinStubWindowsVersion::Vista, true, 2},
        {"on XP, which has no such filter", WinStubWindowsVersion::Xp, false, 0},
    };
    for (auto const &c : cases) {
        SCOPED_TRACE(c.name);
        ResetTestProcess();
        WinStub_SetWindowsVersion(c.windows);
        WinStub_SetElevated(c.elevated);
        StartMonitor();
        std::vector<WinStubMessageFilterCall> const filters = WinStub_MessageFilterCalls();
        ASSERT_EQ(filters.size(), c.filtered);
        for (WinStubMessageFilterCall const &filter : filters)
            EXPECT_EQ(filter.flag, 1u) << "not MSGFLT_ADD";
        if (c.filtered)
            EXPECT_EQ(filters[1].message, WM_SHOW_REMINDERS) << "later starts would not be heard";

        WinStub_RecreateTaskbar();
        for (int i = 0; i < 500 && WinStub_TrayIconCount() == 0; ++i)
            Sleep(10);
        EXPECT_EQ(WinStub_TrayIconCount(), 1u);
        EndMonitor();
    }
}

// The bell at the tray's own size, which high-DPI screens make larger, and
// its menu and the Exit question drawn sharp: only the monitor thread sees
// the real DPI, on the Windows that let one thread do so. The process stays
// DPI-unaware, so that Windows scales the Java application's windows, and
// every Java method runs in that awareness, the one AWT's windows live in:
// at 150 % on a 1920x1080 screen the application measures 1280x720.
TEST_F(Monitor, TheTraySeesTheScreensDpiAndJavaTheProcesses)
{
    struct {
        int screen;
        WinStubWindowsVersion windows;
        int loaded;
        int trayAwareness;  // the menu's and the question's
        int javaWidth;      // of the 1920 pixels across
    } const cases[] = {
        {16, WinStubWindowsVersion::Win10, 16, -2, 1920},
        {20, WinStubWindowsVersion::Win10, 20, -2, 1536},
        {24, WinStubWindowsVersion::Win10, 24, -2, 1280},
        {32, WinStubWindowsVersion::Win10, 32, -2, 960},
        {24, WinStubWindowsVersion::Vista, 16, -1, 1280},  // Windows stretches it there
    };
    for (auto const &c : cases) {
        SCOPED_TRACE(c.screen);
        ResetTestProcess();
        WinStub_SetWindowsVersion(c.windows);
        WinStub_SetSmallIconSize(c.screen, c.screen);
        StartMonitor();
        std::vector<WinStubLoadImageCall> const loads = WinStub_LoadImageCalls();
        ASSERT_FALSE(loads.empty());
        EXPECT_EQ(loads.back().name, "ICON_1");
        EXPECT_EQ(loads.back().cx, c.loaded);
        EXPECT_EQ(loads.back().cy, c.loaded);
        EXPECT_EQ(GetSystemMetrics(SM_CXSMICON), 16) << "the process is no longer DPI-unaware";

        Bind();
        ASSERT_TRUE(WaitForLog("attach "));
        AnswerMessageBoxes(IDNO);
        ChooseInNextMenu(sg_monitorHwnd, IDS_EXIT);
        SendMessageA(sg_monitorHwnd, WM_NOTIFY_ICON, kNotifyIconId, WM_RBUTTONDOWN);
        std::string const java = "dpi unaware " + std::to_string(c.javaWidth) + "x" + std::to_string(c.javaWidth * 9 / 16);
        EXPECT_EQ(BoundJava::Count(java), 3) << BoundJava::Log();
        ASSERT_EQ(WinStub_TrackCalls().size(), 1u);
        EXPECT_EQ(WinStub_TrackCalls()[0].dpiAwareness, c.trayAwareness);
        ASSERT_EQ(WinStub_MessageBoxes().size(), 1u);
        EXPECT_EQ(WinStub_MessageBoxes()[0].dpiAwareness, c.trayAwareness);
        EndMonitor();
        java_.reset();
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
// up on it instead of waiting with it, at once when Windows counts it hung,
// and after their own bound before it does.
TEST_F(Monitor, StartsGiveUpOnAnInstanceThatDoesNotAnswer)
{
    struct {
        char const *name;
        DWORD hungMs;
        int callMs;
        int starts;
        DWORD withinMs;
    } const cases[] = {
        {"hung", 100, 2000, 2, 1500},
        {"busy, not yet hung", 60000, 8000, 1, 6500},
    };
    for (auto const &c : cases) {
        SCOPED_TRACE(c.name);
        ResetTestProcess();
        WinStub_SetHungTimeout(c.hungMs);
        StartMonitor();
        Bind(JavaScript().Taking("showAboutWindow", c.callMs));
        ASSERT_TRUE(WaitForLog("attach "));
        ChooseInNextMenu(sg_monitorHwnd, IDS_ABOUT);
        PostMessageA(sg_monitorHwnd, WM_NOTIFY_ICON, kNotifyIconId, WM_RBUTTONDOWN);
        ASSERT_TRUE(WaitForLog(InvokeLine("showAboutWindow", "()V")));
        Sleep(200);

        DWORD const began = GetTickCount();
        for (int start = 0; start < c.starts; ++start)
            EXPECT_TRUE(FindOurWindow());
        EXPECT_LT(GetTickCount() - began, c.withinMs) << "a start waited for the busy instance";
        SendMessageA(sg_monitorHwnd, WM_NULL, 0, 0);  // the call has ended
        EXPECT_EQ(BoundJava::Violations(), "");
        EndMonitor();
        java_.reset();
    }
}

// Java has gone while the monitor thread is stuck (here in a menu that
// pumps nothing): the launch does not wait for it, and removes the icon
// itself.
TEST_F(Monitor, TheIconGoesAfterJavaAlsoWhenTheMonitorDoesNotAnswer)
{
    StartMonitor();
    Bind();
    ASSERT_TRUE(WaitForLog("attach "));
    std::atomic<bool> inMenu{false};
    WinStub_SetTrackPopupMenuHandler([&](HMENU, UINT, int, int, HWND) -> UINT {
        inMenu = true;
        Sleep(2500);
        return 0;
    });
    PostMessageA(sg_monitorHwnd, WM_NOTIFY_ICON, kNotifyIconId, WM_RBUTTONDOWN);
    for (int i = 0; i < 500 && !inMenu; ++i)
        Sleep(10);
    ASSERT_TRUE(inMenu);

    DWORD const began = GetTickCount();
    EndTrayAfterJava();
    EXPECT_LT(GetTickCount() - began, 2000u) << "the launch waited for the monitor thread";
    EXPECT_EQ(WinStub_TrayIconCount(), 0u);
}

// A second start while the menu is open: its reminder list is called inside
// the menu's own call into Java, and the row then chosen still reaches Java.
TEST_F(Monitor, ASecondStartWhileTheMenuIsOpen)
{
    StartMonitor();
    Bind();
    ASSERT_TRUE(WaitForLog("attach "));
    WinStub_SetTrackPopupMenuHandler([&](HMENU, UINT, int, int, HWND) -> UINT {
        std::atomic<bool> answered{false};
        std::thread second([&] {
            EXPECT_TRUE(FindOurWindow());
            answered = true;
        });
        while (!answered)
            WinStub_ServeSentMessages(50);
        second.join();
        return IDS_ABOUT;
    });
    SendMessageA(sg_monitorHwnd, WM_NOTIFY_ICON, kNotifyIconId, WM_RBUTTONDOWN);
    EXPECT_EQ(BoundJava::Count(InvokeLine("showReminderList", "()V")), 1);
    EXPECT_EQ(BoundJava::Count(InvokeLine("showAboutWindow", "()V")), 1);
    EXPECT_EQ(FakeJvm_AttachedThreadCount(), 0);
    EXPECT_EQ(BoundJava::Violations(), "");
}

// At logoff Windows ends the process soon after WM_ENDSESSION: Java hears
// quit before the handler returns, once, whatever is open on the monitor
// thread, and nothing after it. A cancelled logoff changes nothing.
TEST_F(Monitor, TheEndOfTheSessionTellsJavaOnce)
{
    enum Open { kNothing, kMenu, kExitQuestion };
    struct {
        char const *name;
        Open open;
        BOOL ending;
    } const cases[] = {
        {"logoff", kNothing, TRUE},
        {"logoff cancelled", kNothing, FALSE},
        {"logoff while the menu is open, a row chosen after it", kMenu, TRUE},
        {"logoff while Exit is asked, then Yes", kExitQuestion, TRUE},
    };
    for (auto const &c : cases) {
        SCOPED_TRACE(c.name);
        ResetTestProcess();
        StartMonitor();
        Bind();
        ASSERT_TRUE(WaitForLog("attach "));
        EXPECT_EQ(SendMessageA(sg_monitorHwnd, WM_QUERYENDSESSION, 0, 0), TRUE);

        int const quits = c.ending ? 1 : 0;
        auto endSession = [&] {
            SendMessageA(sg_monitorHwnd, WM_ENDSESSION, c.ending, 0);
            EXPECT_EQ(BoundJava::Count(InvokeLine("quit", "()V")), quits) << "quit came after the handler";
            EXPECT_EQ(WinStub_TrayIconCount(), 1u - quits);
        };
        WinStub_SetTrackPopupMenuHandler([&](HMENU, UINT, int, int, HWND) -> UINT {
            if (c.open == kMenu)
                endSession();
            return c.open == kMenu ? IDS_REMINDERS : IDS_EXIT;
        });
        WinStub_SetMessageBoxHandler([&](WinStubMessageBox const &) {
            endSession();
            return IDYES;
        });
        if (c.open == kNothing)
            endSession();
        else
            SendMessageA(sg_monitorHwnd, WM_NOTIFY_ICON, kNotifyIconId, WM_RBUTTONDOWN);

        EXPECT_EQ(MonitorEnded(c.ending ? 10000 : 300), (bool)c.ending);
        EXPECT_EQ(BoundJava::Count(InvokeLine("quit", "()V")), quits);
        std::string const log = BoundJava::Log();
        EXPECT_EQ(log.find("\nattach ", log.find(InvokeLine("quit", "()V"))), std::string::npos) << "attached after quit";
        EXPECT_EQ(BoundJava::Count(InvokeLine("showReminderList", "()V")), 0);
        EXPECT_EQ(BoundJava::Violations(), "");
        EndMonitor();
        EXPECT_EQ(FakeJvm_AttachedThreadCount(), 0);
        java_.reset();
    }
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
