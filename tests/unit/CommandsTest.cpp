// The application commands: each reaches its Java method, on the thread
// bound to the VM, and leaves Java usable for the next one.

#include <gtest/gtest.h>

#include <string>

#include "BoundJava.h"
#include "JavaScript.h"
#include "TestSupport.h"
#include "fakejvm_control.h"
#include "kelvarin.h"

namespace {

class Commands : public ::testing::Test {
protected:
    void SetUp() override { ResetTestProcess(); }
};

struct CommandCase {
    char const *name;
    void (*run)();
    std::string line;
};

std::vector<CommandCase> AllCommands()
{
    return {
        {"ShowAboutWindow", ShowAboutWindow, InvokeLine("showAboutWindow", "()V")},
        {"ShowHelpWindow", ShowHelpWindow, InvokeLine("showHelpWindow", "()V")},
        {"ShowDoNotDisturb", ShowDoNotDisturb, InvokeLine("showDoNotDisturb", "()V")},
        {"ShowQuickReminder", ShowQuickReminder, InvokeLine("showQuickReminder", "()V")},
        {"ShowReminderList", ShowReminderList, InvokeLine("showReminderList", "()V")},
        {"ShowTemplateList", ShowTemplateList, InvokeLine("showTemplateList", "()V")},
        {"ShowCategoryList", ShowCategoryList, InvokeLine("showCategoryList", "()V")},
        {"ShowSoundList", ShowSoundList, InvokeLine("showSoundList", "()V")},
        {"ShowNewReminderDialog", ShowNewReminderDialog, InvokeLine("showNewReminderDialog", "()V")},
        {"EditReminderWithTemplate(0)", [] { EditReminderWithTemplate(0); },
         InvokeLine("showEditReminderWithTemplate", "(I)V", "0")},
        {"EditReminderWithTemplate(998)", [] { EditReminderWithTemplate(998); },
         InvokeLine("showEditReminderWithTemplate", "(I)V", "998")},
        {"DoQuit", DoQuit, InvokeLine("quit", "()V")},
    };
}

TEST_F(Commands, EachReachesItsJavaMethodOnce)
{
    BoundJava java;
    ASSERT_TRUE(java.Started());
    int const refsBefore = FakeJvm_LiveLocalRefs(0);
    for (CommandCase const &c : AllCommands()) {
        SCOPED_TRACE(c.name);
        int const invokesBefore = BoundJava::Count("invoke ");
        c.run();
        EXPECT_EQ(BoundJava::Count(c.line), 1);
        EXPECT_EQ(BoundJava::Count("invoke "), invokesBefore + 1);
    }
    EXPECT_EQ(FakeJvm_LiveLocalRefs(0), refsBefore) << "a command left a local reference behind";
    EXPECT_EQ(BoundJava::Violations(), "");
}

// Before the tray is bound, and once Java has been told to quit (a row
// chosen in a menu that was open when the session ended), neither a command
// nor the menu's build reaches Java.
TEST_F(Commands, DoNothingWhileTheTrayIsNotBound)
{
    for (bool quitSent : {false, true}) {
        SCOPED_TRACE(quitSent ? "after quit" : "not bound");
        ResetTestProcess();
        BoundJava java(JavaScript().DoNotDisturb(1).Text());
        ASSERT_TRUE(java.Started());
        if (quitSent)
            sg_javaQuit = true;
        else
            sg_pEnvThread = NULL;
        for (CommandCase const &c : AllCommands()) {
            SCOPED_TRACE(c.name);
            c.run();
        }
        DestroyMenu(BuildNotifyIconMenu());
        EXPECT_EQ(AreRemindersSuspended(), 0);
        EXPECT_EQ(GetApplicationInterfaceClass(), (jclass)NULL);
        EXPECT_EQ(BoundJava::Count("invoke "), 0);
        EXPECT_EQ(BoundJava::Count("findclass "), 0);
        sg_javaQuit = false;
    }
}

// Whatever Java lacks or throws, the next command works: no JNI call is
// ever made with an exception pending, and nothing is left behind.
TEST_F(Commands, AMissingOrThrowingMethodLeavesTheOthersWorking)
{
    struct {
        char const *name;
        JavaScript java;
        void (*broken)();
        bool invoked;   // the broken method was reached at all
        bool described; // an exception was reported
    } const cases[] = {
        {"method missing", JavaScript().Without("showHelpWindow"), ShowHelpWindow, false, true},
        {"method throws", JavaScript().Throwing("showHelpWindow"), ShowHelpWindow, true, true},
        {"int method missing", JavaScript().Without("showEditReminderWithTemplate"),
         [] { EditReminderWithTemplate(3); }, false, true},
        {"quit throws", JavaScript().Throwing("quit"), DoQuit, true, true},
        {"isDoNotDisturbOn missing", JavaScript().Without("isDoNotDisturbOn"),
         [] { EXPECT_EQ(AreRemindersSuspended(), 0); }, false, true},
        {"isDoNotDisturbOn throws", JavaScript().DoNotDisturb(1).Throwing("isDoNotDisturbOn"),
         [] { EXPECT_EQ(AreRemindersSuspended(), 0); }, true, true},
        {"interface class missing", JavaScript().WithoutInterfaceClass(), ShowHelpWindow, false, true},
    };
    for (auto const &c : cases) {
        SCOPED_TRACE(c.name);
        ResetTestProcess();
        BoundJava java(c.java.Text());
        ASSERT_TRUE(java.Started());
        int const refsBefore = FakeJvm_LiveLocalRefs(0);
        int const invokesBefore = BoundJava::Count("invoke ");

        c.broken();
        EXPECT_EQ(BoundJava::Count("invoke ") > invokesBefore, c.invoked);
        EXPECT_EQ(BoundJava::Count("describe ") > 0, c.described);

        ShowAboutWindow();
        bool const classThere = BoundJava::Count("findclass com/norvanta/kelvarin/data/TExternalDataInterface -> found") > 0;
        // Nothing follows quit, however it ended.
        EXPECT_EQ(BoundJava::Count(InvokeLine("showAboutWindow", "()V")), classThere && !sg_javaQuit ? 1 : 0);
        EXPECT_EQ(FakeJvm_LiveLocalRefs(0), refsBefore);
        EXPECT_EQ(BoundJava::Violations(), "");
    }
}

TEST_F(Commands, AnyNonzeroDoNotDisturbAnswerMeansSuspended)
{
    struct {
        int answer;
        bool suspended;
    } const cases[] = {{0, false}, {1, true}, {2, true}, {255, true}};
    for (auto const &c : cases) {
        SCOPED_TRACE(c.answer);
        ResetTestProcess();
        BoundJava java(JavaScript().DoNotDisturb(c.answer).Text());
        ASSERT_TRUE(java.Started());
        EXPECT_EQ(AreRemindersSuspended() != 0, c.suspended);
        EXPECT_EQ(BoundJava::Count(InvokeLine("isDoNotDisturbOn", "()Z")), 1);
    }
}

// The quit message is posted to the ghost window; Java hears nothing of it.
TEST_F(Commands, ConfirmQuitAsksAndPostsQuitOnlyOnYes)
{
    BoundJava java;
    ASSERT_TRUE(java.Started());
    sg_monitorHwnd = MakeTestWindow();
    ASSERT_TRUE(sg_monitorHwnd);

    struct {
        int answer;
        bool quits;
    } const cases[] = {{IDYES, true}, {IDNO, false}};
    for (auto const &c : cases) {
        SCOPED_TRACE(c.answer);
        AnswerMessageBoxes(c.answer);
        ConfirmQuit();

        std::vector<ShownBox> boxes = ShownMessageBoxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].caption, "Exit Chimelet?");
        EXPECT_EQ(boxes[0].text, "Are you sure you wish to exit Chimelet? You will stop receiving any reminders!");
        EXPECT_EQ(boxes[0].type, (UINT)(MB_YESNO | MB_ICONEXCLAMATION | MB_TASKMODAL));

        MSG msg;
        bool quitPosted = false;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT)
                quitPosted = true;
        }
        EXPECT_EQ(quitPosted, c.quits);
        EXPECT_EQ(BoundJava::Count("invoke "), 0);
    }
    DestroyWindow(sg_monitorHwnd);
}

} // namespace
