// How a run ends when something else than the user's Exit ends it: Java by
// itself, a failed attach, a second start during the Exit question; and that
// no end makes JNI calls into a VM that is gone.

#include "BlackBox.h"

using namespace winrig;

namespace blackbox {
namespace {

class Lifecycle : public BlackBoxTest {};

// The Java application ends by itself: the process follows with 0, and the
// tray goes with it; Java is not told to quit what has ended.
TEST_F(Lifecycle, JavaEndingByItselfEndsTheProcess)
{
    WriteScript("main end-after 1500\n");
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

// When the monitor thread cannot attach, the tray goes (icon and ghost
// window) while Java runs on; the process ends when Java ends, with 0, and
// quit is never called through a thread that is not attached.
TEST_F(Lifecycle, FailedAttachRemovesTheTrayWhileJavaRunsOn)
{
    WriteScript("attach -1\nmain end-after 4000\n");
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

}  // namespace
}  // namespace blackbox
