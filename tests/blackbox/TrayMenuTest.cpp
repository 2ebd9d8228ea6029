// The tray menu, driven as a user drives it: a click on the icon, keys in the
// menu, and the Java method that runs (or none).
//
// The menu from the top, as the keyboard walks it (separators are skipped):
// 1 Exit, 2 Chimelet 1.0, 3 Help, 4 Reminders, 5 Templates, 6 Categories,
// 7 Sounds, 8 Schedule >, 9 Events For Today >, 10 Do Not Disturb,
// 11 Quick Reminder. The first Down selects row 1.

#include "BlackBox.h"

using namespace winrig;

namespace blackbox {
namespace {

class TrayMenu : public BlackBoxTest {
protected:
    // A bound instance's menu, Exit chosen (the first row): its confirmation.
    HWND ChooseExit(Child &chimelet)
    {
        WaitBound();
        OpenMenu(chimelet);
        PressMenuKeys(chimelet, {"down", "return"});
        return WaitMessageBox(chimelet, kCaptionExit);
    }
};

struct MenuRow {
    char const *name;
    char const *script;
    bool rightButton;
    std::vector<char const *> keys;
    char const *command;  // what reaches Java, "<method><sig>[ args]"; NULL: nothing
};

// Each row is one opening of the menu in a fresh instance: the menu is built
// from Java's answers (asked once each), the chosen row runs its method once
// and nothing else, and the instance still ends cleanly afterwards.
TEST_F(TrayMenu, EachRowRunsItsCommand)
{
    MenuRow const rows[] = {
        {"About", "", true, Keys(Downs(2), {"return"}), "showAboutWindow()V"},
        {"Help", "", true, Keys(Downs(3), {"return"}), "showHelpWindow()V"},
        {"Reminders", "", true, Keys(Downs(4), {"return"}), "showReminderList()V"},
        {"Templates", "", true, Keys(Downs(5), {"return"}), "showTemplateList()V"},
        {"Categories", "", true, Keys(Downs(6), {"return"}), "showCategoryList()V"},
        {"Sounds", "", true, Keys(Downs(7), {"return"}), "showSoundList()V"},
        {"LeftButtonOpensTheSameMenu", "", false, Keys(Downs(4), {"return"}), "showReminderList()V"},
        // Schedule: New Reminder, a separator, then one item per template.
        {"ScheduleNewReminder", "templates \"A\" \"B\" \"C\"\n", true, Keys(Downs(8), {"right", "return"}),
         "showNewReminderDialog()V"},
        {"ScheduleThirdTemplate", "templates \"A\" \"B\" \"C\"\n", true,
         Keys(Downs(8), {"right", "down", "down", "down", "return"}), "showEditReminderWithTemplate(I)V 2"},
        // A null element makes no item and takes no index.
        {"TemplateAfterANullOne", "templates null \"A\" \"B\"\n", true,
         Keys(Downs(8), {"right", "down", "down", "return"}), "showEditReminderWithTemplate(I)V 1"},
        {"EventsAreForReadingOnly", "events \"09:30\" \"Dentist\"\n", true,
         Keys(Downs(9), {"right", "return"}), NULL},
        {"NoEventsShowsNoneThatDoesNothing", "events\n", true, Keys(Downs(9), {"right", "return"}), NULL},
        {"DoNotDisturb", "donotdisturb 0\n", true, Keys(Downs(10), {"return"}), "showDoNotDisturb()V"},
        {"ResumeReminders", "donotdisturb 1\n", true, Keys(Downs(10), {"return"}), "showDoNotDisturb()V"},
        {"QuickReminder", "", true, Keys(Downs(11), {"return"}), "showQuickReminder()V"},
        {"EscapeRunsNothing", "", true, Keys(Downs(8), {"right", "escape", "escape"}), NULL},
    };

    for (MenuRow const &row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_NO_FATAL_FAILURE(BeginCase(row.name));
        WriteScript(row.script);
        Child *chimelet = StartChimelet();
        WaitBound();

        OpenMenu(*chimelet, row.rightButton);
        PressMenuKeys(*chimelet, row.keys);
        EXPECT_TRUE(WaitUntil(kAppearMs, [&] { return FindVisibleMenus(chimelet->pid).empty(); }))
            << "the menu stayed open";
        SyncWithMonitor(*chimelet);

        // Built afresh for this opening, asking Java once each.
        for (char const *query : {"getTemplateList()", "getEventsForToday()", "isDoNotDisturbOn()Z"})
            EXPECT_EQ(LogCount(std::string(kInvokeInterface) + query), 1) << query;
        std::vector<std::string> expected;
        if (row.command)
            expected.push_back(row.command);
        EXPECT_EQ(CommandsRun(), expected);

        CloseAndExpectCleanExit(chimelet);
        ExpectNoViolations();
    }
}

// Exit asks first. No leaves everything as it was: the icon, the process,
// and nothing said to Java.
TEST_F(TrayMenu, ExitAnsweredNoChangesNothing)
{
    Child *chimelet = StartChimelet();
    HWND box = ChooseExit(*chimelet);
    ASSERT_TRUE(box != NULL);
    MessageBoxFacts facts = ReadMessageBox(box);
    EXPECT_EQ(facts.text, kTextExit);
    EXPECT_EQ(facts.buttons, (std::vector<int>{IDYES, IDNO}));
    ASSERT_TRUE(AnswerMessageBox(box, IDNO));
    EXPECT_TRUE(WaitUntil(kAppearMs, [&] { return FindMessageBox(kCaptionExit, chimelet->pid) == NULL; }));
    SyncWithMonitor(*chimelet);

    Sleep(kQuietMs);
    EXPECT_TRUE(ChildRunning(*chimelet));
    EXPECT_EQ(FindTrayIcons().size(), 1u);
    EXPECT_TRUE(CommandsRun().empty());

    // The tray still works after a No.
    OpenMenu(*chimelet);
    PressMenuKeys(*chimelet, Keys(Downs(4), {"return"}));
    EXPECT_TRUE(WaitLog(std::string(kInvokeInterface) + "showReminderList()V"));

    CloseAndExpectCleanExit(chimelet);
    ExpectNoViolations();
}

// Exit answered Yes: the icon goes, Java is told to quit once, and the
// process ends with 0.
TEST_F(TrayMenu, ExitAnsweredYesQuitsOnce)
{
    Child *chimelet = StartChimelet();
    HWND box = ChooseExit(*chimelet);
    ASSERT_TRUE(box != NULL);
    ASSERT_TRUE(AnswerMessageBox(box, IDYES));
    EXPECT_TRUE(WaitTrayIconGone()) << "the icon stayed";
    EXPECT_EQ(ExpectExit(chimelet), 0u);
    EXPECT_EQ(CommandsRun(), std::vector<std::string>{"quit()V"});
    EXPECT_EQ(LogCount("application end"), 1);
    ExpectNoViolations();
}

}  // namespace
}  // namespace blackbox
