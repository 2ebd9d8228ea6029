// The tray menu, driven as a user drives it: a click on the icon, keys in the
// menu, and the Java method that runs (or none). The keys come from the menu
// the row's script makes Java show; the unit tests check that menu in-process.

#include "BlackBox.h"

using namespace winrig;

namespace blackbox {
namespace {

class TrayMenu : public BlackBoxTest {};

struct MenuChoice {
    std::string name;
    char const *script;
    std::vector<MenuRow> menu;  // what the script makes the menu show
    UINT command;               // chosen by keys; 0: into Schedule, then Escape out of both menus
    std::string call;           // what reaches Java, "<method><sig>[ args]"; "": nothing
    bool rightButton = true;
};

std::string TemplateCall(int index)
{
    return std::string(kTemplateMethod) + "(I)V " + std::to_string(index);
}

// Each row is one opening of the menu in a fresh instance: the menu is built
// from Java's answers (asked once each), the chosen row runs its method once
// and nothing else, and the instance still ends cleanly afterwards. The menu
// is drawn system aware (OpenMenu), while every call into Java runs in the
// process's own awareness, where the Java application's windows live.
TEST_F(TrayMenu, EachRowRunsItsCommand)
{
    std::vector<MenuRow> const plain = FullMenu(Schedule({}), NoEvents());
    std::vector<MenuChoice> rows;
    for (PlainCommand const &c : kPlainCommands)
        rows.push_back({c.name, "", plain, c.command, std::string(c.method) + "()V"});
    std::vector<MenuChoice> const more = {
        {"LeftButtonOpensTheSameMenu", "", plain, IDS_REMINDERS, "showReminderList()V", false},
        {"ThirdTemplate", "templates \"A\" \"B\" \"C\"\n", FullMenu(Schedule({"A", "B", "C"}), NoEvents()),
         kFirstTemplateItem + 2, TemplateCall(2)},
        // A null element makes no item and takes no index.
        {"TemplateAfterANullOne", "templates null \"A\" \"B\"\n", FullMenu(Schedule({"A", "B"}, false), NoEvents()),
         kFirstTemplateItem + 1, TemplateCall(1)},
        {"EventsAreForReadingOnly", "events \"09:30\" \"Dentist\"\n", FullMenu(Schedule({}), Events({"09:30    Dentist"})),
         kFirstEventItem, ""},
        {"NoEventsShowsNoneThatDoesNothing", "events\n", plain, IDS_NO_EVENTS, ""},
        {"ResumeReminders", "donotdisturb 1\n", FullMenu(Schedule({}), NoEvents(), true), IDS_DO_NOT_DISTURB,
         "showDoNotDisturb()V"},
        {"EscapeRunsNothing", "", plain, 0, ""},
    };
    rows.insert(rows.end(), more.begin(), more.end());

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
            std::vector<WPARAM> keys = KeysToChoose(row.menu, IDS_NEW_REMINDER);
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
        if (!row.call.empty())
            expected.push_back(row.call);
        EXPECT_EQ(CommandsRun(), expected);

        CloseAndExpectCleanExit(chimelet);
        ExpectNoViolations();
        ExpectJavaInTheProcessesDpi();
    }
}

// Exit asks first. No leaves everything as it was: the icon, the process,
// a tray that works, and nothing said to Java. Yes then removes the icon,
// tells Java to quit once, and the process ends with 0.
TEST_F(TrayMenu, ExitAnsweredNoChangesNothingAndYesQuitsOnce)
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

    OpenMenu(*chimelet);
    ChooseInMenu(*chimelet, IDS_REMINDERS);
    EXPECT_TRUE(WaitLog(std::string(kInvokeInterface) + "showReminderList()V"));

    box = ChooseExit(*chimelet);
    ASSERT_TRUE(box != NULL);
    ASSERT_TRUE(AnswerMessageBox(box, IDYES));
    EXPECT_TRUE(WaitTrayIconGone()) << "the icon stayed";
    EXPECT_EQ(ExpectExit(chimelet), 0u);
    EXPECT_EQ(CommandsRun(), (std::vector<std::string>{"showReminderList()V", "quit()V"}));
    EXPECT_EQ(LogCount("application end"), 1);
    ExpectNoViolations();
}

}  // namespace
}  // namespace blackbox
