// How a run ends when something else than the user's Exit ends it: Java by
// itself, a failed attach, a second start during the Exit question; and that
// no end makes JNI calls into a VM that is gone.

#include "BlackBox.h"

using namespace winrig;

namespace blackbox {
namespace {

class Lifecycle : public BlackBoxTest {};

// The Java application ends by itself: the process follows with 0, and the
// tray goes with it; Java is not told to quit what has ended. A runtime
// before 1.4 ("classic") cannot attach the tray's thread as a daemon: its
// DestroyJavaVM waits for every attached thread.
TEST_F(Lifecycle, JavaEndingByItselfEndsTheProcess)
{
    for (char const *mode : {"hotspot", "classic"}) {
        SCOPED_TRACE(mode);
        ASSERT_NO_FATAL_FAILURE(BeginCase(mode));
        WriteScript(std::string("mode ") + mode + "\nmain end-after " + std::to_string(Scaled(1500)) + "\n");
        PutJar();
        Child *chimelet = StartChimelet();
        WaitTrayIcon();
        WaitBound();
        EXPECT_EQ(ExpectExit(chimelet), 0u);
        EXPECT_EQ(LogCount("application end"), 1);
        EXPECT_EQ(LogCount("destroy end -> 0"), 1);
        EXPECT_TRUE(WaitTrayIconGone()) << "the icon outlived its process";
        EXPECT_TRUE(CommandsRun().empty());
        ExpectNoViolations();
    }
}

// When the monitor thread cannot attach, the tray goes (icon and ghost
// window) while Java runs on; the process ends when Java ends, with 0, and
// quit is never called through a thread that is not attached.
TEST_F(Lifecycle, FailedAttachRemovesTheTrayWhileJavaRunsOn)
{
    WriteScript("attach -1\nmain end-after " + std::to_string(Scaled(4000)) + "\n");
    Child *chimelet = StartChimelet();
    ASSERT_TRUE(WaitLog("attach daemon=0 -> -1"));
    EXPECT_TRUE(WaitTrayIconGone(3000)) << "the icon stayed";
    EXPECT_TRUE(WaitUntil(3000, [&] { return FindGhostWindow(chimelet->pid) == NULL; }))
        << "the ghost window stayed";
    EXPECT_TRUE(ChildRunning(*chimelet));
    EXPECT_EQ(LogCount("application end"), 0) << "Java ended too early: the checks above prove nothing";

    EXPECT_EQ(ExpectExit(chimelet), 0u);
    EXPECT_EQ(LogCount("application end"), 1);
    EXPECT_TRUE(CommandsRun().empty());
    ExpectNoViolations();
}

// Exit is being asked when a second start comes: the second start still
// gets the reminder list shown and ends with 0; then Yes ends the first.
TEST_F(Lifecycle, SecondStartDuringTheExitQuestion)
{
    Child *first = StartChimelet();
    HWND box = ChooseExit(*first);
    ASSERT_TRUE(box != NULL);

    Child *second = StartChimelet(Dir() + "\\second.log");
    EXPECT_EQ(ExpectExit(second, 5000), 0u);
    EXPECT_EQ(CommandsRun(), std::vector<std::string>{"showReminderList()V"});
    EXPECT_EQ(ReadFileText(Dir() + "\\second.log"), "");

    ASSERT_TRUE(AnswerMessageBox(box, IDYES));
    EXPECT_TRUE(WaitTrayIconGone());
    EXPECT_EQ(ExpectExit(first), 0u);
    EXPECT_EQ(CommandsRun(), (std::vector<std::string>{"showReminderList()V", "quit()V"}));
    ExpectNoViolations();
}

// A first instance busy in a long Java call answers nothing. A second and a
// third start, side by side, give up on it within about ten seconds each and
// end with 0, instead of waiting for it (and for each other) without end.
TEST_F(Lifecycle, StartsDoNotWaitForABusyFirstInstance)
{
    WriteScript("delay showReminderList " + std::to_string(Scaled(60000)) + "\n");
    Child *first = StartChimelet();
    WaitBound();
    OpenMenu(*first);
    ChooseInMenu(*first, IDS_REMINDERS);
    ASSERT_TRUE(WaitLog(std::string(kInvokeInterface) + "showReminderList()V"));

    DWORD const began = GetTickCount();
    Child *second = StartChimelet(Dir() + "\\second.log");
    Child *third = StartChimelet(Dir() + "\\third.log");
    EXPECT_EQ(ExpectExit(second, 15000), 0u);
    EXPECT_EQ(ExpectExit(third, 15000), 0u);
    EXPECT_LT(GetTickCount() - began, Scaled(13000)) << "a start waited for the busy instance";
    EXPECT_TRUE(ChildRunning(*first));
    EXPECT_EQ(ReadFileText(Dir() + "\\second.log") + ReadFileText(Dir() + "\\third.log"), "");
}

// While the Exit question is open, a click on the tray opens no menu and
// asks Java nothing; and the question is asked once.
TEST_F(Lifecycle, ATrayClickDuringTheExitQuestionDoesNothing)
{
    Child *first = StartChimelet();
    HWND box = ChooseExit(*first);
    ASSERT_TRUE(box != NULL);
    int const built = LogCount(std::string(kInvokeInterface) + "getTemplateList");

    HWND icon = WaitTrayIcon();
    ASSERT_TRUE(ClickTrayIcon(icon, true));
    ASSERT_TRUE(ClickTrayIcon(icon, false));
    Sleep(kQuietMs);
    EXPECT_TRUE(FindVisibleMenus(first->pid).empty()) << "a menu opened over the question";
    EXPECT_EQ(LogCount(std::string(kInvokeInterface) + "getTemplateList"), built);

    ASSERT_TRUE(AnswerMessageBox(box, IDNO));
    EXPECT_TRUE(WaitUntil(kAppearMs, [&] { return FindMessageBox(kCaptionExit, first->pid) == NULL; }));
    Sleep(kQuietMs);
    EXPECT_EQ(FindMessageBox(kCaptionExit, first->pid), (HWND)NULL) << "Exit was asked a second time";
    CloseAndExpectCleanExit(first);
    ExpectNoViolations();
}

// Once quit has ended the Java application, the main thread's DestroyJavaVM
// may return at any moment; a monitor thread that goes on calling JNI (to
// look for an exception, free a reference, detach) then uses a VM that is
// gone. Both ways out are run several times each, since it is a race.
TEST_F(Lifecycle, NoJniCallReachesADestroyedVm)
{
    int const kRuns = 10;
    for (int run = 0; run < kRuns; ++run) {
        bool byMenu = run % 2 == 0;  // Exit answered Yes; else WM_CLOSE from outside
        std::string name = (byMenu ? "ExitYes" : "WmClose") + std::to_string(run);
        SCOPED_TRACE(name);
        ASSERT_NO_FATAL_FAILURE(BeginCase(name));
        Child *chimelet = StartChimelet();
        WaitBound();
        if (byMenu) {
            HWND box = ChooseExit(*chimelet);
            ASSERT_TRUE(box != NULL);
            ASSERT_TRUE(AnswerMessageBox(box, IDYES));
        } else {
            ASSERT_TRUE(CloseGhostWindow(chimelet->pid));
        }
        EXPECT_EQ(ExpectExit(chimelet), 0u);
        for (std::string const &line : LogLines()) {
            if (IsExitRaceViolation(line))
                ADD_FAILURE() << line;
        }
    }
}

// At logoff Windows sends the session's end to every top-level window, the
// hidden ghost window too, and ends the process soon after: Java hears quit
// before the answer, once, also when the menu is open then, and a row chosen
// after it runs nothing. A cancelled logoff changes nothing.
TEST_F(Lifecycle, TheEndOfTheSessionTellsJavaOnce)
{
    struct {
        char const *name;
        bool menuOpen;
        WPARAM ending;
    } const cases[] = {
        {"MenuClosed", false, TRUE},
        {"MenuOpen", true, TRUE},
        {"Cancelled", false, FALSE},
    };
    std::string const quit = std::string(kInvokeInterface) + "quit()V";
    for (auto const &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(BeginCase(c.name));
        // Java that stays after quit keeps the menu there to choose from.
        WriteScript(c.menuOpen ? "quit stay\n" : "");
        Child *chimelet = StartChimelet();
        WaitBound();
        if (c.menuOpen)
            OpenMenu(*chimelet);
        HWND ghost = FindGhostWindow(chimelet->pid);
        ASSERT_TRUE(ghost != NULL);
        DWORD_PTR answer = 0;
        ASSERT_TRUE(SendMessageTimeoutA(ghost, WM_QUERYENDSESSION, 0, 0, SMTO_NORMAL, Scaled(kAppearMs), &answer));
        EXPECT_EQ(answer, (DWORD_PTR)TRUE) << "Chimelet stood in the logoff's way";
        ASSERT_TRUE(SendMessageTimeoutA(ghost, WM_ENDSESSION, c.ending, 0, SMTO_NORMAL, Scaled(kAppearMs), &answer));
        EXPECT_EQ(LogCount(quit), c.ending ? 1 : 0) << "quit came after the answer";

        if (c.menuOpen) {
            ChooseInMenu(*chimelet, IDS_REMINDERS);
            EXPECT_TRUE(WaitUntil(kAppearMs, [&] { return FindGhostWindow(chimelet->pid) == NULL; }))
                << "the tray stayed";
            EXPECT_EQ(CommandsRun(), std::vector<std::string>{"quit()V"});
        } else if (c.ending) {
            EXPECT_EQ(ExpectExit(chimelet), 0u);
            EXPECT_EQ(CommandsRun(), std::vector<std::string>{"quit()V"});
        } else {
            Sleep(kQuietMs);
            EXPECT_TRUE(ChildRunning(*chimelet));
            CloseAndExpectCleanExit(chimelet);
        }
        ExpectNoViolations();
    }
}

// After Escape the keyboard is back with the window that had it before the
// click (Notepad here, the taskbar on Windows). Alt+F4 on the ghost window,
// should it be active all the same, reaches it as SC_CLOSE: Chimelet stays,
// and Java hears nothing.
TEST_F(Lifecycle, AltF4AfterTheMenuLeavesChimeletRunning)
{
    char notepad[MAX_PATH];
    ASSERT_GT(GetWindowsDirectoryA(notepad, sizeof notepad), 0u);
    Child *editor = StartProgram(std::string(notepad) + "\\notepad.exe", "", "");
    HWND typing = NULL;
    ASSERT_TRUE(WaitUntil(kAppearMs, [&] {
        std::vector<HWND> windows = FindVisibleWindows("Notepad", editor->pid);
        typing = windows.empty() ? NULL : windows.front();
        return typing && GetForegroundWindow() == typing;
    })) << "Notepad did not come to the front";

    Child *chimelet = StartChimelet();
    WaitBound();
    OpenMenu(*chimelet);
    PressMenuKeys(*chimelet, {VK_ESCAPE});
    SyncWithMonitor(*chimelet);
    EXPECT_TRUE(WaitUntil(kAppearMs, [&] { return GetForegroundWindow() == typing; }))
        << "the keyboard stayed with the hidden ghost window";
    HWND ghost = FindGhostWindow(chimelet->pid);
    ASSERT_TRUE(ghost != NULL);
    DWORD_PTR answer = 0;
    ASSERT_TRUE(SendMessageTimeoutA(ghost, WM_SYSCOMMAND, SC_CLOSE, 0, SMTO_NORMAL, Scaled(kAppearMs), &answer));
    Sleep(kQuietMs);
    EXPECT_TRUE(ChildRunning(*chimelet));
    EXPECT_EQ(FindGhostWindow(chimelet->pid), ghost);
    EXPECT_TRUE(CommandsRun().empty());
    CloseAndExpectCleanExit(chimelet);
    ExpectNoViolations();
}

// A Java method may wait in SendMessage (AWT's natives do, handing window
// work to their toolkit thread), and what is sent to the ghost window then
// is served inside the call. A press on the bell (the tray relays it as a
// sent message) and a later start arrive during a long reminder list: no
// menu is built and no second list begins inside it, the later start is
// answered at once and ends, and its list opens once the first has returned.
TEST_F(Lifecycle, APressAndALaterStartDuringALongJavaCall)
{
    DWORD const kCallMs = 6000;
    WriteScript("delay showReminderList " + std::to_string(Scaled(kCallMs)) + " serving\n");
    Child *first = StartChimelet();
    WaitBound();
    HWND ghost = FindGhostWindow(first->pid);
    ASSERT_TRUE(ghost != NULL);
    // As a start would send it, but without holding the guard meanwhile.
    ASSERT_TRUE(PostMessageA(ghost, kShowRemindersMessage, 0, 0));
    std::string const list = std::string(kInvokeInterface) + "showReminderList()V";
    ASSERT_TRUE(WaitLog(list));
    DWORD const began = GetTickCount();

    ASSERT_TRUE(ClickTrayIcon(WaitTrayIcon(), true));
    Child *later = StartChimelet(Dir() + "\\later.log");
    EXPECT_EQ(ExpectExit(later, kCallMs / 2), 0u) << "the later start waited for the call";
    EXPECT_LT(GetTickCount() - began, Scaled(kCallMs)) << "answered only after the call";
    EXPECT_TRUE(FindVisibleMenus(first->pid).empty()) << "a menu opened inside the call";

    EXPECT_TRUE(WaitLog(list, 2, kCallMs + kAppearMs)) << "the later start's list never opened";
    EXPECT_EQ(LogCount("nested "), 0);
    EXPECT_EQ(LogCount(std::string(kInvokeInterface) + "getTemplateList"), 0);
    EXPECT_EQ(ReadFileText(Dir() + "\\later.log"), "");
    CloseAndExpectCleanExit(first);
    ExpectNoViolations();
}

// The Java application ends the process itself (System.exit), also while
// the tray's thread waits in a long Java call: the exit hook takes the icon
// down, and the process ends with the application's code, quit unheard.
TEST_F(Lifecycle, JavaEndingTheProcessItself)
{
    for (bool busy : {false, true}) {
        SCOPED_TRACE(busy ? "tray busy in Java" : "tray idle");
        ASSERT_NO_FATAL_FAILURE(BeginCase(busy ? "Busy" : "Idle"));
        WriteScript("exit after " + std::to_string(Scaled(4000)) + " 7\ndelay showReminderList 60000\n");
        Child *chimelet = StartChimelet();
        WaitTrayIcon();
        WaitBound();
        if (busy) {
            OpenMenu(*chimelet);
            ChooseInMenu(*chimelet, IDS_REMINDERS);
            ASSERT_TRUE(WaitLog(std::string(kInvokeInterface) + "showReminderList()V"));
        }
        EXPECT_EQ(ExpectExit(chimelet), 7u);
        EXPECT_EQ(LogCount("exit hook returned"), 1);
        EXPECT_TRUE(WaitTrayIconGone());
        EXPECT_EQ(LogCount(std::string(kInvokeInterface) + "quit()V"), 0);
        ExpectNoViolations();
    }
}

}  // namespace
}  // namespace blackbox
