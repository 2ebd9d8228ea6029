// The tray menu, driven as a user drives it: a click on the icon, keys in the
// menu, and the Java method that runs (or none). The keys come from the menu
// the row's script makes Java show; the unit tests check that menu in-process.

#include "BlackBox.h"

using namespace winrig;

namespace blackbox {
namespace {

class TrayMenu : public BlackBoxTest {};

struct MenuChoice {
    char const *name;
    char const *script;
    std::vector<MenuRow> menu;  // what the script makes the menu show
    UINT command;               // chosen by keys; 0: into Schedule, then Escape out of both menus
    char const *call;           // what reaches Java, "<method><sig>[ args]"; NULL: nothing
    bool rightButton = true;
};

// Each row is one opening of the menu in a fresh instance: the menu is built
// from Java's answers (asked once each), the chosen row runs its method once
// and nothing else, and the instance still ends cleanly afterwards.
TEST_F(TrayMenu, EachRowRunsItsCommand)
{
    std::vector<MenuRow> const plain = FullMenu(Schedule({}), NoEvents());
    std::vector<MenuRow> const threeTemplates = FullMenu(Schedule({"A", "B", "C"}), NoEvents());
    MenuChoice const rows[] = {
        {"About", "", plain, cmd::kAbout, "showAboutWindow()V"},
        {"Help", "", plain, cmd::kHelp, "showHelpWindow()V"},
        {"Reminders", "", plain, cmd::kReminders, "showReminderList()V"},
        {"Templates", "", plain, cmd::kTemplates, "showTemplateList()V"},
        {"Categories", "", plain, cmd::kCategories, "showCategoryList()V"},
        {"Sounds", "", plain, cmd::kSounds, "showSoundList()V"},
        {"LeftButtonOpensTheSameMenu", "", plain, cmd::kReminders, "showReminderList()V", false},
        {"ScheduleNewReminder", "templates \"A\" \"B\" \"C\"\n", threeTemplates, cmd::kNewReminder,
         "showNewReminderDialog()V"},
        {"ScheduleThirdTemplate", "templates \"A\" \"B\" \"C\"\n", threeTemplates, cmd::kFirstTemplate + 2,
         "showEditReminderWithTemplate(I)V 2"},
        // A null element makes no item and takes no index.
        {"TemplateAfterANullOne", "templates null \"A\" \"B\"\n", FullMenu(Schedule({"A", "B"}, false), NoEvents()),
         cmd::kFirstTemplate + 1, "showEditReminderWithTemplate(I)V 1"},
        {"EventsAreForReadingOnly", "events \"09:30\" \"Dentist\"\n", FullMenu(Schedule({}), Events({"09:30    Dentist"})),
         cmd::kFirstEvent, NULL},
        {"NoEventsShowsNoneThatDoesNothing", "events\n", plain, cmd::kNoEvents, NULL},
        {"DoNotDisturb", "donotdisturb 0\n", plain, cmd::kDoNotDisturb, "showDoNotDisturb()V"},
        {"ResumeReminders", "donotdisturb 1\n", FullMenu(Schedule({}), NoEvents(), true), cmd::kDoNotDisturb,
         "showDoNotDisturb()V"},
        {"QuickReminder", "", plain, cmd::kQuickReminder, "showQuickReminder()V"},
        {"EscapeRunsNothing", "", plain, 0, NULL},
    };

    for (MenuChoice const &row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_NO_FATAL_FAILURE(BeginCase(row.name));
        WriteScript(row.script);
        Child *chimelet = StartChimelet();
        WaitBound();

        OpenMenu(*chimelet, row.rightButton);
        if (row.command) {
            ChooseInMenu(*chimelet, row.command, row.menu);
        } else {
            std::vector<WPARAM> keys = KeysToChoose(row.menu, cmd::kNewReminder);
            keys.back() = VK_ESCAPE;
            keys.push_back(VK_ESCAPE);
            PressMenuKeys(*chimelet, keys);
        }
        EXPECT_TRUE(WaitUntil(kAppearMs, [&] { return FindVisibleMenus(chimelet->pid).empty(); }))
            << "the menu stayed open";
        SyncWithMonitor(*chimelet);

        // Built afresh for this opening, asking Java once each.
        for (char const *query : {"getTemplateList()", "getEventsForToday()", "isDoNotDisturbOn()Z"})
            EXPECT_EQ(LogCount(std::string(kInvokeInterface) + query), 1) << query;
        std::vector<std::string> expected;
        if (row.call)
            expected.push_back(row.call);
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
    ChooseInMenu(*chimelet, cmd::kReminders);
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
