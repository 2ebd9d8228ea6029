// Start-up as a user sees it: the hidden ghost window and the tray icon of a
// first instance, and what a second start does, before and after the tray is
// bound to Java.

#include <algorithm>

#include "BlackBox.h"

using namespace winrig;

namespace blackbox {
namespace {

class Startup : public BlackBoxTest {};

std::string const kShowReminderList = "showReminderList()V";

// One instance: a single ghost window that is never seen (not visible, not
// on the taskbar), a tray icon titled "Chimelet", bound once main() has
// returned; a WM_CLOSE from outside removes the icon and quits Java.
TEST_F(Startup, FirstInstanceHasOnlyATrayIconAndEndsOnWmClose)
{
    Child *first = StartChimelet();
    HWND ghost = WaitGhostWindow(*first);
    HWND icon = WaitTrayIcon();
    WaitBound();
    ASSERT_TRUE(ghost && icon);

    EXPECT_EQ(FindTopLevelWindows(kGhostWindowClass).size(), 1u);
    WindowFacts facts = DescribeWindow(ghost);
    EXPECT_EQ(facts.title, kGhostWindowClass);
    EXPECT_FALSE(facts.visible);
    EXPECT_EQ(facts.exStyle & WS_EX_APPWINDOW, 0) << "it would get a taskbar button once shown";
    EXPECT_EQ(facts.owner, (HWND)NULL);
    EXPECT_TRUE(FindVisibleWindows(NULL, first->pid).empty()) << "the process shows a window";
    EXPECT_EQ(ReadTrayTooltip(icon, 3000), "Chimelet");

    int mainAt = LogIndex(kInvokeMain);
    int attachAt = LogIndex("attach ");
    EXPECT_GE(mainAt, 0);
    EXPECT_GT(attachAt, mainAt) << "bound before main() returned";

    CloseAndExpectCleanExit(first);
    EXPECT_EQ(CommandsRun(), std::vector<std::string>{"quit()V"});
    ExpectNoViolations();
}

// Started from the Run key the working directory is the system folder, from
// a shortcut anything: the jar beside the program is used all the same.
TEST_F(Startup, StartedFromTheSystemFolderComesUpBound)
{
    WriteScript("jar required\n");
    PutJar();
    char system[MAX_PATH];
    ASSERT_GT(GetSystemDirectoryA(system, sizeof system), 0u);
    Child *first = StartChimelet("", system);
    WaitTrayIcon();
    WaitBound();
    CloseAndExpectCleanExit(first);
    ExpectNoViolations();
}

// A second start hands over to the bound first instance: it has the reminder
// list shown before it returns, loads no runtime, makes no window, and ends
// with 0.
TEST_F(Startup, SecondStartShowsTheFirstInstancesReminders)
{
    Child *first = StartChimelet();
    WaitTrayIcon();
    WaitBound();

    std::string secondLog = Dir() + "\\second.log";
    Child *second = StartChimelet(secondLog);
    EXPECT_EQ(ExpectExit(second, 5000), 0u);
    // The show-reminders message is sent, not posted: the list is shown
    // before the second start goes on.
    EXPECT_EQ(CommandsRun(), std::vector<std::string>{kShowReminderList});
    EXPECT_EQ(ReadFileText(secondLog), "") << "the second start loaded a runtime";
    EXPECT_EQ(FindTopLevelWindows(kGhostWindowClass).size(), 1u);
    EXPECT_EQ(FindTrayIcons().size(), 1u);

    CloseAndExpectCleanExit(first);
    ExpectNoViolations();
}

// Until main() has returned the tray is not bound: a click opens nothing and
// a second start is answered at once with nothing shown.
TEST_F(Startup, BeforeBindingClicksAndSecondStartsDoNothing)
{
    WriteScript("main delay " + std::to_string(Scaled(3000)) + "\n");
    Child *first = StartChimelet();
    HWND icon = WaitTrayIcon();
    ASSERT_TRUE(WaitLog(kInvokeMain));

    Child *second = StartChimelet(Dir() + "\\second.log");
    EXPECT_EQ(ExpectExit(second, 2500), 0u) << "a second start waited for the binding";
    ASSERT_TRUE(ClickTrayIcon(icon, true));
    Sleep(kQuietMs);
    EXPECT_TRUE(FindVisibleMenus(first->pid).empty()) << "a menu opened before binding";
    EXPECT_EQ(LogCount("attach "), 0) << "bound too early: the checks above prove nothing";

    WaitBound();
    SyncWithMonitor(*first);
    EXPECT_TRUE(CommandsRun().empty());
    CloseAndExpectCleanExit(first);
    ExpectNoViolations();
}

// Ten starts at once: exactly one becomes the first instance and loads the
// runtime; the nine others hand over and end; all ten end with 0.
TEST_F(Startup, TenSimultaneousStartsLeaveOneInstance)
{
    std::vector<Child *> starts;
    for (int i = 0; i < 10; ++i)
        starts.push_back(StartChimelet());

    auto running = [&] {
        return std::count_if(starts.begin(), starts.end(), [](Child *c) { return ChildRunning(*c); });
    };
    ASSERT_TRUE(WaitUntil(20000, [&] { return running() <= 1; })) << running() << " still run";
    ASSERT_EQ(running(), 1) << "no first instance is left";
    Child *first = *std::find_if(starts.begin(), starts.end(), [](Child *c) { return ChildRunning(*c); });

    std::vector<HWND> ghosts = FindTopLevelWindows(kGhostWindowClass);
    ASSERT_EQ(ghosts.size(), 1u);
    EXPECT_EQ(DescribeWindow(ghosts.front()).pid, first->pid);
    WaitTrayIcon();
    WaitBound();
    EXPECT_EQ(LogCount("script "), 1) << "more than one process loaded the runtime";
    EXPECT_EQ(LogCount("create version=0x00010002"), 1);

    CloseAndExpectCleanExit(first);
    for (size_t i = 0; i < starts.size(); ++i) {
        SCOPED_TRACE("start " + std::to_string(i));
        EXPECT_EQ(ExpectExit(starts[i], 0), 0u);
    }
    ExpectNoViolations();
}

// Started in another folder (the Run key starts programs in the system
// folder, a shortcut in whatever it names), the Java application still works
// in the program's folder, where its relative paths lead.
TEST_F(Startup, TheJavaApplicationWorksInTheProgramsFolder)
{
    char system[MAX_PATH];
    ASSERT_GT(GetSystemDirectoryA(system, sizeof system), 0u);
    Child *chimelet = StartChimelet(std::string(), system);
    WaitBound();
    int const at = LogIndex("workdir ");
    ASSERT_GE(at, 0);
    auto lower = [](std::string text) {
        std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return (char)tolower(c); });
        return text;
    };
    EXPECT_EQ(lower(LogLines()[at]), lower("workdir " + Dir()));
    CloseAndExpectCleanExit(chimelet);
    ExpectNoViolations();
}

}  // namespace
}  // namespace blackbox
