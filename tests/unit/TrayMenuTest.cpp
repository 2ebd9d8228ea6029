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
        // An unreadable template gets no item but keeps its number: Java
        // counts it when the index of a later one comes back.
        {"unreadable element skipped", JavaScript().Templates({"A", "B", "C"}).Events({"x", "y", "z", "w"})
                                           .UnreadableElement("getTemplateList", 1)
                                           .UnreadableElement("getEventsForToday", 0),
         FullMenu({Item("New Reminder", IDS_NEW_REMINDER), Separator(1), Item("A", kFirstTemplateItem),
                   Item("C", kFirstTemplateItem + 2)},
                  Events({"z    w"}))},
        {"unreadable element 0 takes its separator along", JavaScript().Templates({"A", "B"}).Events({})
                                                               .UnreadableElement("getTemplateList", 0),
         FullMenu({Item("New Reminder", IDS_NEW_REMINDER), Item("B", kFirstTemplateItem + 1)}, NoEvents())},
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

// An odd last element has no partner: nothing past the last pair is fetched.
TEST_F(TrayMenu, FetchesNoEventElementPastTheLastPair)
{
    BoundJava java(JavaScript().Events({"x", "y", "z"}).Text());
    ASSERT_TRUE(java.Started());
    DestroyMenu(GetTodayEventsSubMenu());
    EXPECT_EQ(BoundJava::Count("element getEventsForToday 1"), 1);
    EXPECT_EQ(BoundJava::Count("element getEventsForToday 2"), 0);
    EXPECT_EQ(BoundJava::Violations(), "");
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

void DrainMessages()
{
    MSG msg;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);
}

std::string TemplateLine(int index)
{
    return InvokeLine(kTemplateMethod, "(I)V", std::to_string(index));
}

struct ChoiceCase {
    std::string name;
    ULONG_PTR command;
    std::string line;  // the Java call it makes; "" none
    LPARAM mouse = WM_RBUTTONDOWN;
};

// Each row is one choice. A command the open menu holds is chosen in it by a
// click, as a user chooses it, and the menu read back while it was open must
// be the one Java's answers ask for; any other value is handed to
// RunMenuCommand as item data, the way a nonsensical answer of the platform
// would reach it. Java switches Do Not Disturb each time it is chosen: the
// next menu offers to resume. After the menu the keyboard goes back to the
// window that had it (mostly the taskbar), unless Java was called: the
// ghost window took the foreground only for the menu.
TEST_F(TrayMenu, EachChoiceRunsItsCommand)
{
    BoundJava java(JavaScript().Templates({"A", "B"}).Events({"x", "y"}).DoNotDisturbSwitchedByJava().Text());
    ASSERT_TRUE(java.Started());
    HWND owner = MakeTestWindow();
    ASSERT_TRUE(owner);
    sg_monitorHwnd = owner;
    HWND typing = MakeTestWindow();

    std::vector<ChoiceCase> cases;
    for (PlainCommand const &c : kPlainCommands)
        cases.push_back({c.name, c.command, InvokeLine(c.method, "()V")});
    std::vector<ChoiceCase> const more = {
        {"Resume Reminders runs the same", IDS_DO_NOT_DISTURB, InvokeLine("showDoNotDisturb", "()V")},
        {"left button, Reminders", IDS_REMINDERS, InvokeLine("showReminderList", "()V"), WM_LBUTTONDOWN},
        {"template A", kFirstTemplateItem, TemplateLine(0)},
        {"template B, the last row of Schedule", kFirstTemplateItem + 1, TemplateLine(1)},
        {"an event runs nothing", kFirstEventItem, ""},
        {"dismissed", 0, ""},
        // Values the menu does not hold, as item data.
        {"the last template command", 4999, TemplateLine(999)},
        {"past the templates", 5000, ""},
        {"before the templates", 3999, ""},
        {"None", IDS_NO_EVENTS, ""},
        {"the last event command", 8404, ""},
        {"a separator", 9000, ""},
        {"the Schedule entry and the template separator", 1, ""},
        {"the Events For Today entry", 2, ""},
        {"all 32 bits set", 0xFFFFFFFFu, ""},
        {"all bits set", (ULONG_PTR)-1, ""},
    };
    cases.insert(cases.end(), more.begin(), more.end());
    if (sizeof(ULONG_PTR) > 4)  // a template command in the low half only is none
        cases.push_back({"a template command above 32 bits", (ULONG_PTR)0xFFFFFFFFu + 1 + kFirstTemplateItem, ""});

    bool suspended = false;
    int opened = 0;
    for (ChoiceCase const &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<MenuRow> const menu = FullMenu(Schedule({"A", "B"}), Events({"x    y"}), suspended);
        bool const inMenu = c.command == 0 || (c.command == (UINT)c.command && HoldsCommand(menu, (UINT)c.command));
        int const before = BoundJava::Count("invoke ");
        int const linesBefore = c.line.empty() ? 0 : BoundJava::Count(c.line);
        if (inMenu) {
            SetForegroundWindow(typing);
            ChooseInNextMenu(owner, (UINT)c.command);
            MouseDownOnNotifyIcon(owner, kNotifyIconId, c.mouse);
            DrainMessages();
            EXPECT_EQ(TrackedMenuCount(), ++opened);
            EXPECT_EQ(Describe(LastTrackedMenu()), Describe(menu));
#ifndef _WIN32
            EXPECT_EQ(GetForegroundWindow(), c.line.empty() ? typing : owner);
#endif
        } else {
            RunMenuCommand(owner, c.command);
        }
        // Three questions build the menu; then the command, if any.
        EXPECT_EQ(BoundJava::Count("invoke "), before + (inMenu ? 3 : 0) + (c.line.empty() ? 0 : 1));
        if (!c.line.empty())
            EXPECT_EQ(BoundJava::Count(c.line), linesBefore + 1);
        if (c.command == IDS_DO_NOT_DISTURB)
            suspended = !suspended;
    }

    // Exit asks, once the menu has closed; No leaves everything as it was.
    AnswerMessageBoxes(IDNO);
    ChooseInNextMenu(owner, IDS_EXIT);
    SetForegroundWindow(typing);
    MouseDownOnNotifyIcon(owner, kNotifyIconId, WM_RBUTTONDOWN);
#ifndef _WIN32
    EXPECT_EQ(GetForegroundWindow(), typing);
#endif
    ASSERT_EQ(ShownMessageBoxes().size(), 1u);
    EXPECT_EQ(ShownMessageBoxes()[0].caption, "Exit Chimelet?");
    EXPECT_EQ(ShownMessageBoxes()[0].text,
              "Are you sure you wish to exit Chimelet? You will stop receiving any reminders!");
    EXPECT_EQ(BoundJava::Count(InvokeLine("quit", "()V")), 0);
    DrainMessages();

    EXPECT_EQ(BoundJava::Violations(), "");
    DestroyWindow(typing);
    DestroyWindow(owner);
}

TEST_F(TrayMenu, OnlyAButtonPressOpensIt)
{
    BoundJava java;
    ASSERT_TRUE(java.Started());
    HWND owner = MakeTestWindow();
    LPARAM const others[] = {WM_LBUTTONUP, WM_RBUTTONUP, WM_LBUTTONDBLCLK, WM_RBUTTONDBLCLK, WM_MBUTTONDOWN,
                             WM_MBUTTONUP, WM_MBUTTONDBLCLK, WM_MOUSEMOVE, 0};
    for (LPARAM mouse : others) {
        SCOPED_TRACE(mouse);
        MouseDownOnNotifyIcon(owner, kNotifyIconId, mouse);
    }
    EXPECT_EQ(TrackedMenuCount(), 0);
    EXPECT_EQ(BoundJava::Count("invoke "), 0);
    DestroyWindow(owner);
}

#ifndef _WIN32
// What only the stand-in can show: where the menu opens, that it is gone
// afterwards, and that nothing opens without a cursor position. A press
// that came from the keyboard (Win+B, then Enter) leaves the pointer
// anywhere: the menu then opens at the bell, where Windows can tell.
TEST_F(TrayMenu, OpensAtTheCursorAndLeavesNoMenuBehind)
{
    BoundJava java(JavaScript().GeneratedTemplates(999, "T").GeneratedEvents(800, "e").Text());
    ASSERT_TRUE(java.Started());
    HWND owner = MakeTestWindow();
    ASSERT_TRUE(AddTaskBarIcon(owner, kNotifyIconId, NULL, "Chimelet"));
    int const menusBefore = WinStub_LiveHandles().menus;
    WinStub_SetTrayIconRect(RECT{1800, 1040, 1824, 1064});
    struct {
        char const *name;
        POINT cursor;
        WinStubWindowsVersion windows;
        POINT at;
    } const cases[] = {
        {"a click on the bell", {1810, 1050}, WinStubWindowsVersion::Win10, {1810, 1050}},
        {"from the keyboard", {640, 480}, WinStubWindowsVersion::Win10, {1812, 1052}},
        {"from the keyboard, before Windows 7", {640, 480}, WinStubWindowsVersion::Vista, {640, 480}},
    };
    for (auto const &c : cases) {
        SCOPED_TRACE(c.name);
        WinStub_SetWindowsVersion(c.windows);
        WinStub_SetCursorPos(c.cursor);
        ChooseInNextMenu(owner, 0);
        MouseDownOnNotifyIcon(owner, kNotifyIconId, WM_RBUTTONDOWN);
        std::vector<WinStubTrackCall> calls = WinStub_TrackCalls();
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls.back().flags, (UINT)(TPM_RIGHTALIGN | TPM_BOTTOMALIGN | TPM_NONOTIFY | TPM_RETURNCMD));
        EXPECT_EQ(calls.back().x, c.at.x);
        EXPECT_EQ(calls.back().y, c.at.y);
        EXPECT_EQ(calls.back().owner, owner);
        EXPECT_EQ(WinStub_ForegroundCalls().back(), owner);
        EXPECT_EQ(WinStub_LiveHandles().menus, menusBefore);
    }

    size_t const opened = WinStub_TrackCalls().size();
    WinStub_FailNext(WinStubFault::GetCursorPos);
    MouseDownOnNotifyIcon(owner, kNotifyIconId, WM_RBUTTONDOWN);
    EXPECT_EQ(WinStub_TrackCalls().size(), opened);
    EXPECT_EQ(WinStub_LiveHandles().menus, menusBefore);
    DestroyWindow(owner);
}

// A platform that answers an ID the menu does not hold (a broken
// TrackPopupMenu; a real one cannot be made to) runs nothing: the command
// is the item data of the item found, and no item has such an ID.
TEST_F(TrayMenu, AnIdTheMenuDoesNotHoldRunsNothing)
{
    BoundJava java(JavaScript().Templates({"A", "B"}).Events({"x", "y"}).Text());
    ASSERT_TRUE(java.Started());
    HWND owner = MakeTestWindow();
    struct {
        UINT id;
        std::string line;  // "" none
    } const cases[] = {
        {kFirstTemplateItem + 1, TemplateLine(1)},  // held: the answer does reach the dispatch
        {kFirstTemplateItem + 2, ""},               // a template the menu does not show
        {1, ""},                                     // the Schedule entry and the template separator
        {7777, ""},
        {0xFFFFFFFFu, ""},
    };
    for (auto const &c : cases) {
        SCOPED_TRACE(c.id);
        WinStub_SetTrackPopupMenuHandler([&](HMENU, UINT, int, int, HWND) -> UINT { return c.id; });
        int const before = BoundJava::Count("invoke ");
        MouseDownOnNotifyIcon(owner, kNotifyIconId, WM_RBUTTONDOWN);
        EXPECT_EQ(BoundJava::Count("invoke "), before + 3 + (c.line.empty() ? 0 : 1));
        if (!c.line.empty())
            EXPECT_EQ(BoundJava::Count(c.line), 1);
    }
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
