// The rig itself: a popup menu is read back and chosen from inside its own
// modal loop, as a user would choose, so the menu tests can trust it. Under
// Wine only: on the host the stand-in's TrackPopupMenu handler returns the
// command it was given, and a test of it would only restate it.

#include <gtest/gtest.h>

#include "TestSupport.h"

#ifdef _WIN32
namespace {

void AppendText(HMENU menu, char const *text, UINT id)
{
    AppendMenuA(menu, MF_STRING, id, text);
}

TEST(MenuDriver, ChoosesByKeysInsideTheMenuLoop)
{
    ResetTestProcess();
    HWND owner = MakeTestWindow();
    ASSERT_TRUE(owner);

    HMENU sub = CreatePopupMenu();
    AppendText(sub, "X", 20);
    AppendMenuA(sub, MF_SEPARATOR, 1, NULL);
    AppendText(sub, "Y", 21);
    AppendText(sub, "Z", 22);
    HMENU menu = CreatePopupMenu();
    AppendText(menu, "A", 10);
    AppendMenuA(menu, MF_SEPARATOR, 9000, NULL);
    AppendText(menu, "B", 11);
    AppendMenuA(menu, MF_POPUP, (UINT_PTR)sub, "S");
    AppendText(menu, "C", 12);
    std::string const shown = Describe(ReadMenu(menu));

    struct {
        UINT choose;
        UINT expected;
    } const cases[] = {{10, 10}, {11, 11}, {12, 12}, {20, 20}, {21, 21}, {22, 22}, {0, 0}, {99, 0}};
    int opened = 0;
    for (auto const &c : cases) {
        SCOPED_TRACE(c.choose);
        ChooseInNextMenu(owner, c.choose);
        SetForegroundWindow(owner);
        UINT chosen = (UINT)TrackPopupMenu(menu, TPM_RIGHTALIGN | TPM_BOTTOMALIGN | TPM_NONOTIFY | TPM_RETURNCMD,
                                           300, 300, 0, owner, NULL);
        EXPECT_EQ(chosen, c.expected);
        EXPECT_EQ(TrackedMenuCount(), ++opened);
        EXPECT_EQ(Describe(LastTrackedMenu()), shown);
        // What a leftover key would do to the next test: none may remain.
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
    }
    DestroyMenu(menu);
    DestroyWindow(owner);
}

} // namespace
#endif
