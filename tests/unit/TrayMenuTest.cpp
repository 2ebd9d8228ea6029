// The tray popup menu: what it shows for what Java answers, and what each
// choice runs. The menu is built and read back without a mouse; the
// end-to-end cases choose from the open menu as a user does.

#include <gtest/gtest.h>

#include <string>

#include "BoundJava.h"
#include "JavaScript.h"
#include "TestSupport.h"
#include "fakejvm_control.h"
#include "kelvarin.h"

#ifndef _WIN32
#include "winstub_control.h"
#endif

namespace {

class TrayMenu : public ::testing::Test {
protected:
    void SetUp() override { ResetTestProcess(); }
};

struct MenuCase {
    char const *name;
    JavaScript java;
    std::vector<MenuRow> expected;
};

TEST_F(TrayMenu, ShowsWhatJavaAnswers)
{
    std::string const longText(5000, 'T');
    std::vector<std::string> evenPairs;
    for (int i = 0; i < 400; ++i)
        evenPairs.push_back("e" + std::to_string(2 * i) + "    e" + std::to_string(2 * i + 1));

    MenuCase const cases[] = {
        {"null arrays", JavaScript().NullTemplates().NullEvents(), FullMenu(Schedule({}), {})},
        {"empty arrays", JavaScript().Templates({}).Events({}), FullMenu(Schedule({}), NoEvents())},
        {"two templates, two events", JavaScript().Templates({"A", "B"}).Events({"x", "y", "z", "w"}),
         FullMenu(Schedule({"A", "B"}), Events({"x    y", "z    w"}))},
        {"element 0 null: no separator, next takes 4000", JavaScript().Templates({std::nullopt, "A", std::nullopt, "B"}).Events({}),
         FullMenu(Schedule({"A", "B"}, false), NoEvents())},
        {"ampersand and empty texts pass unchanged", JavaScript().Templates({"Tom & Jerry", ""}).Events({"&x", ""}),
         FullMenu(Schedule({"Tom & Jerry", ""}), Events({"&x    "}))},
        {"odd element count: last one ignored", JavaScript().Templates({}).Events({"x", "y", "z"}),
         FullMenu(Schedule({}), Events({"x    y"}))},
        {"pair with a null member skipped", JavaScript().NullTemplates().Events({"x", std::nullopt, "z", "w"}),
         FullMenu(Schedule({}), Events({"z    w"}))},
        {"all pairs incomplete: empty, not None", JavaScript().NullTemplates().Events({std::nullopt, "y"}),
         FullMenu(Schedule({}), {})},
        {"1200 templates: the first 999", JavaScript().GeneratedTemplates(1200, "T").NullEvents(),
         FullMenu(Schedule(Numbered("T", 999)), {})},
        {"1000 event elements: the first 400 pairs", JavaScript().NullTemplates().GeneratedEvents(1000, "e"),
         FullMenu(Schedule({}), Events(evenPairs))},
        {"texts cut to 1023 bytes", JavaScript().Templates({longText}).Events({std::string(600, 'a'), std::string(600, 'b')}),
         FullMenu(Schedule({longText.substr(0, 1023)}),
                  Events({std::string(600, 'a') + "    " + std::string(1023 - 604, 'b')}))},
        {"unreadable element skipped", JavaScript().Templates({"A", "B", "C"}).Events({"x", "y", "z", "w"})
                                           .UnreadableElement("getTemplateList", 1)
                                           .UnreadableElement("getEventsForToday", 0),
         FullMenu(Schedule({"A", "C"}), Events({"z    w"}))},
        {"unreadable element 0 takes its separator along", JavaScript().Templates({"A", "B"}).Events({})
                                                               .UnreadableElement("getTemplateList", 0),
         FullMenu(Schedule({"B"}, false), NoEvents())},
        {"interface class missing", JavaScript().WithoutInterfaceClass(), FullMenu(Schedule({}), {})},
        {"list methods missing", JavaScript().Without("getTemplateList").Without("getEventsForToday"),
         FullMenu(Schedule({}), {})},
        {"list methods throw", JavaScript().Throwing("getTemplateList").Throwing("getEventsForToday").DoNotDisturb(1),
         FullMenu(Schedule({}), {}, true)},
        {"Do Not Disturb on", JavaScript().Templates({"A"}).Events({}).DoNotDisturb(1),
         FullMenu(Schedule({"A"}), NoEvents(), true)},
        {"Do Not Disturb 255", JavaScript().NullTemplates().NullEvents().DoNotDisturb(255),
         FullMenu(Schedule({}), {}, true)},
    };

    for (MenuCase const &c : cases) {
        SCOPED_TRACE(c.name);
        ResetTestProcess();
        BoundJava java(c.java.Text());
        ASSERT_TRUE(java.Started());
        int const refsBefore = FakeJvm_LiveLocalRefs(0);

        HMENU menu = BuildNotifyIconMenu();
        ASSERT_TRUE(menu);
        EXPECT_EQ(Describe(ReadMenu(menu)), Describe(c.expected));
        DestroyMenu(menu);

        EXPECT_EQ(FakeJvm_LiveLocalRefs(0), refsBefore) << "the build left local references behind";
        EXPECT_EQ(BoundJava::Violations(), "");
    }
}

TEST_F(TrayMenu, AsksJavaOnceEachInOrderAndFetchesNothingBeyondTheLimits)
{
    BoundJava java(JavaScript().GeneratedTemplates(1200, "T").GeneratedEvents(1001, "e").Text());
    ASSERT_TRUE(java.Started());
    HMENU menu = BuildNotifyIconMenu();
    DestroyMenu(menu);

    std::string const log = BoundJava::Log();
    size_t templates = log.find(InvokeLine("getTemplateList", "()[Ljava/lang/String;"));
    size_t events = log.find(InvokeLine("getEventsForToday", "()[Ljava/lang/String;"));
    size_t dnd = log.find(InvokeLine("isDoNotDisturbOn", "()Z"));
    ASSERT_NE(templates, std::string::npos);
    ASSERT_NE(events, std::string::npos);
    ASSERT_NE(dnd, std::string::npos);
    EXPECT_LT(templates, events);
    EXPECT_LT(events, dnd);
    EXPECT_EQ(BoundJava::Count("invoke "), 3);

    EXPECT_EQ(BoundJava::Count("element getTemplateList 998"), 1);
    EXPECT_EQ(BoundJava::Count("element getTemplateList 999"), 0);
    EXPECT_EQ(BoundJava::Count("element getEventsForToday 799"), 1);
    EXPECT_EQ(BoundJava::Count("element getEventsForToday 800"), 0);
}

TEST_F(TrayMenu, AMissingInterfaceClassIsReportedByEachBuild)
{
    BoundJava java(JavaScript().WithoutInterfaceClass().Text());
    ASSERT_TRUE(java.Started());
    DestroyMenu(GetTemplateSubMenu());
    EXPECT_EQ(BoundJava::Count("describe "), 1);
    DestroyMenu(GetTodayEventsSubMenu());
    EXPECT_EQ(BoundJava::Count("describe "), 2);
    EXPECT_EQ(BoundJava::Violations(), "");
}

struct DispatchCase {
    ULONG_PTR data;
    std::string line;  // "" runs nothing in Java
};

TEST_F(TrayMenu, EachItemDataRunsItsCommand)
{
    BoundJava java;
    ASSERT_TRUE(java.Started());
    HWND const owner = (HWND)0;  // SetForegroundWindow on no window is harmless

    DispatchCase const cases[] = {
        {995, InvokeLine("showHelpWindow", "()V")},
        {999, InvokeLine("showAboutWindow", "()V")},
        {1001, InvokeLine("showReminderList", "()V")},
        {1002, InvokeLine("showTemplateList", "()V")},
        {1003, InvokeLine("showCategoryList", "()V")},
        {1004, InvokeLine("showSoundList", "()V")},
        {2001, InvokeLine("showDoNotDisturb", "()V")},
        {3001, InvokeLine("showQuickReminder", "()V")},
        {8002, InvokeLine("showNewReminderDialog", "()V")},
        {4000, InvokeLine("showEditReminderWithTemplate", "(I)V", "0")},
        {4001, InvokeLine("showEditReminderWithTemplate", "(I)V", "1")},
        {4999, InvokeLine("showEditReminderWithTemplate", "(I)V", "999")},
        {5000, ""},
        {3999, ""},
        {8004, ""},
        {8005, ""},
        {8404, ""},
        {9000, ""},
        {1, ""},
        {2, ""},
        {0, ""},
        {(ULONG_PTR)-1, ""},
    };
    for (DispatchCase const &c : cases) {
        SCOPED_TRACE(c.data);
        int const before = BoundJava::Count("invoke ");
        RunMenuCommand(owner, c.data);
        EXPECT_EQ(BoundJava::Count("invoke "), before + (c.line.empty() ? 0 : 1));
        if (!c.line.empty())
            EXPECT_EQ(BoundJava::Count(c.line), 1);
    }

    // Exit asks first; No leaves everything as it was.
    AnswerMessageBoxes(IDNO);
    RunMenuCommand(owner, 9990);
    ASSERT_EQ(ShownMessageBoxes().size(), 1u);
    EXPECT_EQ(ShownMessageBoxes()[0].caption, "Exit Chimelet?");
    EXPECT_EQ(BoundJava::Count(InvokeLine("quit", "()V")), 0);
}

TEST_F(TrayMenu, LocatesItemsAnywhereInTheTree)
{
    BoundJava java(JavaScript().Templates({"A", "B"}).Events({"x", "y"}).Text());
    ASSERT_TRUE(java.Started());
    HMENU menu = BuildNotifyIconMenu();

    struct {
        UINT id;
        int found;
        ULONG_PTR data;
    } const cases[] = {{9990, 1, 9990}, {3001, 1, 3001}, {4001, 1, 4001}, {8005, 1, 8005},
                       {8002, 1, 8002}, {4002, 0, 0}, {0, 0, 0}, {7777, 0, 0}};
    for (auto const &c : cases) {
        SCOPED_TRACE(c.id);
        MENUITEMINFOA info;
        memset(&info, 0x81, sizeof info);
        info.cbSize = offsetof(MENUITEMINFOA, hbmpItem);
        info.fMask = MIIM_ID | MIIM_SUBMENU | MIIM_DATA;
        int found = LocateMenuItemWithIDInMenu(menu, c.id, &info);
        EXPECT_EQ(found != 0, c.found != 0);
        if (found) {
            EXPECT_EQ(info.wID, c.id);
            EXPECT_EQ(info.dwItemData, c.data);
            EXPECT_EQ(info.hSubMenu, (HMENU)NULL);
        }
    }
    DestroyMenu(menu);
}

void DrainMessages()
{
    MSG msg;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);
}

// A click opens the menu at the cursor; the choice runs after it closed.
TEST_F(TrayMenu, AClickOpensTheMenuAndRunsTheChoice)
{
    BoundJava java(JavaScript().Templates({"A", "B"}).Events({"x", "y"}).DoNotDisturbSwitchedByJava().Text());
    ASSERT_TRUE(java.Started());
    HWND owner = MakeTestWindow();
    ASSERT_TRUE(owner);

    // Java toggles Do Not Disturb when it is chosen: the next menu offers to resume.
    struct {
        char const *name;
        LPARAM mouse;
        UINT choose;
        std::string line;  // "" runs nothing
        bool suspended;  // what the menu offers for row 15
    } const cases[] = {
        {"right button, template B", WM_RBUTTONDOWN, 4001, InvokeLine("showEditReminderWithTemplate", "(I)V", "1"),
         false},
        {"New Reminder", WM_RBUTTONDOWN, 8002, InvokeLine("showNewReminderDialog", "()V"), false},
        {"Quick Reminder, the last row", WM_RBUTTONDOWN, 3001, InvokeLine("showQuickReminder", "()V"),
         false},
        {"an event runs nothing", WM_RBUTTONDOWN, 8005, "", false},
        {"left button, Do Not Disturb", WM_LBUTTONDOWN, 2001, InvokeLine("showDoNotDisturb", "()V"), false},
        {"Resume Reminders runs the same", WM_RBUTTONDOWN, 2001, InvokeLine("showDoNotDisturb", "()V"),
         true},
        {"dismissed", WM_RBUTTONDOWN, 0, "", false},
    };
    int opened = 0;
    for (auto const &c : cases) {
        SCOPED_TRACE(c.name);
        int const before = BoundJava::Count("invoke ");
        ChooseInNextMenu(owner, c.choose);
        MouseDownOnNotifyIcon(owner, kNotifyIconId, c.mouse);
        DrainMessages();

        EXPECT_EQ(TrackedMenuCount(), ++opened);
        EXPECT_EQ(Describe(LastTrackedMenu()),
                  Describe(FullMenu(Schedule({"A", "B"}), Events({"x    y"}), c.suspended)));
        // Three questions to build the menu, then the command if any.
        EXPECT_EQ(BoundJava::Count("invoke "), before + 3 + (c.line.empty() ? 0 : 1));
        if (!c.line.empty())
            EXPECT_GE(BoundJava::Count(c.line), 1);
    }
    EXPECT_EQ(BoundJava::Violations(), "");
    DestroyWindow(owner);
}

TEST_F(TrayMenu, OnlyAButtonPressOpensIt)
{
    BoundJava java;
    ASSERT_TRUE(java.Started());
    HWND owner = MakeTestWindow();
    LPARAM const others[] = {WM_LBUTTONUP, WM_RBUTTONUP, WM_LBUTTONDBLCLK, WM_RBUTTONDBLCLK, WM_MBUTTONDOWN,
                             WM_MOUSEMOVE, 0};
    for (LPARAM mouse : others) {
        SCOPED_TRACE(mouse);
        MouseDownOnNotifyIcon(owner, kNotifyIconId, mouse);
    }
    EXPECT_EQ(TrackedMenuCount(), 0);
    EXPECT_EQ(BoundJava::Count("invoke "), 0);
    DestroyWindow(owner);
}

TEST_F(TrayMenu, ExitAsksAfterTheMenuHasClosed)
{
    BoundJava java;
    ASSERT_TRUE(java.Started());
    HWND owner = MakeTestWindow();
    sg_monitorHwnd = owner;
    AnswerMessageBoxes(IDNO);
    ChooseInNextMenu(owner, 9990);
    MouseDownOnNotifyIcon(owner, kNotifyIconId, WM_RBUTTONDOWN);
    ASSERT_EQ(ShownMessageBoxes().size(), 1u);
    EXPECT_EQ(ShownMessageBoxes()[0].text,
              "Are you sure you wish to exit Chimelet? You will stop receiving any reminders!");
    EXPECT_EQ(BoundJava::Count(InvokeLine("quit", "()V")), 0);
    DrainMessages();
    DestroyWindow(owner);
}

#ifndef _WIN32
// What only the stand-in can show: where the menu opens, that it is gone
// afterwards, and that nothing opens without a cursor position.
TEST_F(TrayMenu, OpensAtTheCursorAndLeavesNoMenuBehind)
{
    BoundJava java(JavaScript().GeneratedTemplates(999, "T").GeneratedEvents(800, "e").Text());
    ASSERT_TRUE(java.Started());
    HWND owner = MakeTestWindow();
    int const menusBefore = WinStub_LiveHandles().menus;
    WinStub_SetCursorPos(POINT{640, 480});

    ChooseInNextMenu(owner, 0);
    MouseDownOnNotifyIcon(owner, kNotifyIconId, WM_RBUTTONDOWN);
    std::vector<WinStubTrackCall> calls = WinStub_TrackCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].flags, (UINT)(TPM_RIGHTALIGN | TPM_BOTTOMALIGN | TPM_NONOTIFY | TPM_RETURNCMD));
    EXPECT_EQ(calls[0].x, 640);
    EXPECT_EQ(calls[0].y, 480);
    EXPECT_EQ(calls[0].owner, owner);
    ASSERT_FALSE(WinStub_ForegroundCalls().empty());
    EXPECT_EQ(WinStub_ForegroundCalls().back(), owner);
    EXPECT_EQ(WinStub_LiveHandles().menus, menusBefore);

    WinStub_FailNext(WinStubFault::GetCursorPos);
    MouseDownOnNotifyIcon(owner, kNotifyIconId, WM_RBUTTONDOWN);
    EXPECT_EQ(WinStub_TrackCalls().size(), 1u);
    EXPECT_EQ(WinStub_LiveHandles().menus, menusBefore);
    DestroyWindow(owner);
}

TEST_F(TrayMenu, NoMenuNoJava)
{
    BoundJava java;
    ASSERT_TRUE(java.Started());
    WinStub_FailNext(WinStubFault::CreatePopupMenu);
    EXPECT_EQ(GetTemplateSubMenu(), (HMENU)NULL);
    WinStub_FailNext(WinStubFault::CreatePopupMenu);
    EXPECT_EQ(GetTodayEventsSubMenu(), (HMENU)NULL);
    EXPECT_EQ(BoundJava::Count("invoke "), 0);
}
#endif

} // namespace
