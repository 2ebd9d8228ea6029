// Menu rules the tray-menu tests lean on: where InsertMenuItemA puts an item, what
// GetMenuItemInfoA hands back, and that DestroyMenu takes the whole tree.
#include <windows.h>

#include "winstub_control.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <string>

namespace {

class MenuTest : public ::testing::Test {
protected:
    void SetUp() override { WinStub_Reset(); }
    void TearDown() override { WinStub_Reset(); }
};

// "1 2 [10 11] 3": the IDs of a menu tree, a submenu in brackets after its entry's ID.
std::string Layout(HMENU menu) {
    std::string out;
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        MENUITEMINFOA mii{};
        mii.cbSize = sizeof mii;
        mii.fMask = MIIM_ID | MIIM_SUBMENU;
        if (!GetMenuItemInfoA(menu, i, TRUE, &mii)) return out + "?";
        if (!out.empty()) out += ' ';
        out += std::to_string(mii.wID);
        if (mii.hSubMenu) out += " [" + Layout(mii.hSubMenu) + "]";
    }
    return out;
}

void AddItem(HMENU menu, UINT id) { AppendMenuA(menu, MF_STRING, id, "item"); }

// A submenu entry as the shell inserts one; without MIIM_ID it carries ID 0.
void AddSubmenu(HMENU menu, HMENU sub, bool withId, UINT id) {
    MENUITEMINFOA mii{};
    mii.cbSize = sizeof mii;
    mii.fMask = MIIM_SUBMENU | MIIM_STRING | (withId ? MIIM_ID : 0);
    mii.wID = id;
    mii.hSubMenu = sub;
    mii.dwTypeData = const_cast<char*>("sub");
    InsertMenuItemA(menu, GetMenuItemCount(menu), TRUE, &mii);
}

TEST_F(MenuTest, InsertMenuItemPlacesTheItemAsWineDoes) {
    // Probed on Wine 8: the by-command search runs depth-first into submenus; a popup entry
    // whose own ID matches is only a fallback, taken when nothing else in its menu matches;
    // no match at all appends to the menu given.
    struct Case {
        const char* name;
        std::function<void(HMENU top, HMENU sub)> build;
        UINT where;
        BOOL byPosition;
        const char* expected;  // 99 is the new item
    };
    const Case cases[] = {
        {"no item has the ID: append (the shell's case)",
         [](HMENU top, HMENU sub) { AddItem(top, 1); AddItem(sub, 10); AddSubmenu(top, sub, true, 2); AddItem(top, 3); },
         0, FALSE, "1 2 [10] 3 99"},
        {"separator appended with ID 0: insert before it",
         [](HMENU top, HMENU) { AddItem(top, 1); AppendMenuA(top, MF_SEPARATOR, 0, nullptr); AddItem(top, 2); },
         0, FALSE, "1 99 0 2"},
        {"submenu entry without MIIM_ID: insert before the entry",
         [](HMENU top, HMENU sub) { AddItem(top, 1); AddItem(sub, 10); AddSubmenu(top, sub, false, 0); AddItem(top, 2); },
         0, FALSE, "1 99 0 [10] 2"},
        {"ID inside a submenu: insert into the submenu",
         [](HMENU top, HMENU sub) { AddItem(top, 1); AddItem(sub, 10); AddItem(sub, 11); AddSubmenu(top, sub, true, 2); AddItem(top, 11); },
         11, FALSE, "1 2 [10 99 11] 11"},
        {"plain item beats an earlier popup entry of the same ID",
         [](HMENU top, HMENU sub) { AddItem(sub, 10); AddSubmenu(top, sub, true, 5); AddItem(top, 5); },
         5, FALSE, "5 [10] 99 5"},
        {"popup entry matches when nothing else does",
         [](HMENU top, HMENU sub) { AddItem(top, 1); AddSubmenu(top, sub, true, 5); },
         5, FALSE, "1 99 5 []"},
        {"by position past the end: append",
         [](HMENU top, HMENU) { AddItem(top, 1); AddItem(top, 2); },
         7, TRUE, "1 2 99"},
        {"by position 0: in front",
         [](HMENU top, HMENU) { AddItem(top, 1); AddItem(top, 2); },
         0, TRUE, "99 1 2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HMENU top = CreatePopupMenu(), sub = CreatePopupMenu();
        c.build(top, sub);
        MENUITEMINFOA mii{};
        mii.cbSize = offsetof(MENUITEMINFOA, hbmpItem);
        mii.fMask = MIIM_ID | MIIM_TYPE | MIIM_DATA;
        mii.wID = 99;
        mii.dwTypeData = const_cast<char*>("new");
        EXPECT_TRUE(InsertMenuItemA(top, c.where, c.byPosition, &mii));
        EXPECT_EQ(c.expected, Layout(top));
        DestroyMenu(top);
        if (IsMenu(sub)) DestroyMenu(sub);
        EXPECT_EQ(0, WinStub_LiveHandles().menus);
    }
}

TEST_F(MenuTest, RecordSizesAndMasksAreChecked) {
    struct Case {
        const char* name;
        UINT cbSize;
        UINT mask;
        BOOL ok;
    };
    const Case cases[] = {
        {"full record", sizeof(MENUITEMINFOA), MIIM_ID, TRUE},
        {"record without hbmpItem", offsetof(MENUITEMINFOA, hbmpItem), MIIM_ID, TRUE},
        {"zero size", 0, MIIM_ID, FALSE},
        {"too large", sizeof(MENUITEMINFOA) + 4, MIIM_ID, FALSE},
        {"too small", offsetof(MENUITEMINFOA, hbmpItem) - 4, MIIM_ID, FALSE},
        {"MIIM_TYPE with MIIM_FTYPE", sizeof(MENUITEMINFOA), MIIM_TYPE | MIIM_FTYPE, FALSE},
        {"MIIM_TYPE with MIIM_STRING", sizeof(MENUITEMINFOA), MIIM_TYPE | MIIM_STRING, FALSE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HMENU menu = CreatePopupMenu();
        AddItem(menu, 7);
        MENUITEMINFOA mii{};
        mii.cbSize = c.cbSize;
        mii.fMask = c.mask;
        mii.wID = 8;
        SetLastError(0xdeadbeef);
        EXPECT_EQ(c.ok, InsertMenuItemA(menu, 0, TRUE, &mii));
        EXPECT_EQ(c.ok ? 0xdeadbeefu : static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
        SetLastError(0xdeadbeef);
        EXPECT_EQ(c.ok, GetMenuItemInfoA(menu, 7, FALSE, &mii));
        EXPECT_EQ(c.ok ? 0xdeadbeefu : static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
        DestroyMenu(menu);
    }
}

TEST_F(MenuTest, TextComesBackAsWineCopiesIt) {
    // Probed on Wine 8 with "Hello": cch bytes of text and terminator are copied, so a cut
    // text has no terminator, and cch becomes min(cch - 1, length).
    struct Case {
        UINT cch;
        const char* bytes;  // the first 7 bytes of a buffer poisoned with 'x'
        UINT cchAfter;
    };
    const Case cases[] = {
        {1, "Hxxxxxx", 0}, {3, "Helxxxx", 2}, {5, "Helloxx", 4}, {6, "Hello\0x", 5}, {40, "Hello\0x", 5},
    };
    HMENU menu = CreatePopupMenu();
    AppendMenuA(menu, MF_STRING, 144, "Hello");
    for (UINT mask : {static_cast<UINT>(MIIM_TYPE), static_cast<UINT>(MIIM_STRING)}) {
        for (const Case& c : cases) {
            SCOPED_TRACE("mask " + std::to_string(mask) + " cch " + std::to_string(c.cch));
            char buf[48];
            memset(buf, 'x', sizeof buf);
            MENUITEMINFOA mii;
            memset(&mii, 0x81, sizeof mii);
            mii.cbSize = sizeof mii;
            mii.fMask = mask;
            mii.dwTypeData = buf;
            mii.cch = c.cch;
            ASSERT_TRUE(GetMenuItemInfoA(menu, 144, FALSE, &mii));
            EXPECT_EQ(std::string(c.bytes, 7), std::string(buf, 7));
            EXPECT_EQ(c.cchAfter, mii.cch);
        }
        MENUITEMINFOA mii{};
        mii.cbSize = sizeof mii;
        mii.fMask = mask;
        mii.cch = 99;
        ASSERT_TRUE(GetMenuItemInfoA(menu, 144, FALSE, &mii));
        EXPECT_EQ(5u, mii.cch) << "no buffer: the length";
    }
    DestroyMenu(menu);
}

TEST_F(MenuTest, ItemsReadBackWithWineTypesAndStates) {
    HMENU menu = CreatePopupMenu();
    MENUITEMINFOA idOnly{};
    idOnly.cbSize = sizeof idOnly;
    idOnly.fMask = MIIM_ID;
    idOnly.wID = 1;
    InsertMenuItemA(menu, 9, TRUE, &idOnly);
    AppendMenuA(menu, MF_STRING, 2, nullptr);
    AppendMenuA(menu, MF_STRING, 3, "");
    AppendMenuA(menu, MF_SEPARATOR, 4, nullptr);
    AppendMenuA(menu, MF_STRING | MF_GRAYED | MF_CHECKED, 5, "g");
    struct Case {
        UINT id;
        UINT type, state;
    };
    // Probed: no text and no bitmap reads as a separator; an empty text stays a string; an
    // appended separator is also grayed.
    const Case cases[] = {{1, MFT_SEPARATOR, 0}, {2, MFT_SEPARATOR, 0}, {3, MFT_STRING, 0}, {4, MFT_SEPARATOR, MFS_GRAYED},
                          {5, MFT_STRING, MF_GRAYED | MF_CHECKED}};
    for (const Case& c : cases) {
        SCOPED_TRACE("item " + std::to_string(c.id));
        MENUITEMINFOA mii;
        memset(&mii, 0x81, sizeof mii);
        mii.cbSize = offsetof(MENUITEMINFOA, hbmpItem);
        mii.fMask = MIIM_FTYPE | MIIM_STATE;
        ASSERT_TRUE(GetMenuItemInfoA(menu, c.id, FALSE, &mii));
        EXPECT_EQ(c.type, mii.fType);
        EXPECT_EQ(c.state, mii.fState);
        EXPECT_EQ(reinterpret_cast<HBITMAP>(static_cast<uintptr_t>(0x8181818181818181ull)), mii.hbmpItem)
            << "a short record's hbmpItem is never written";
        EXPECT_EQ(nullptr, mii.hSubMenu) << "probed: cleared even without MIIM_SUBMENU";
    }
    DestroyMenu(menu);
}

TEST_F(MenuTest, DestroyMenuTakesTheWholeTree) {
    HMENU top = CreatePopupMenu(), sub = CreatePopupMenu(), subsub = CreatePopupMenu(), other = CreatePopupMenu();
    AddItem(subsub, 100);
    AppendMenuA(sub, MF_POPUP, reinterpret_cast<UINT_PTR>(subsub), "deeper");
    AppendMenuA(top, MF_POPUP, reinterpret_cast<UINT_PTR>(sub), "sub");
    AppendMenuA(other, MF_POPUP, reinterpret_cast<UINT_PTR>(sub), "shared");
    EXPECT_EQ(4, WinStub_LiveHandles().menus);

    MENUITEMINFOA mii{};
    mii.cbSize = sizeof mii;
    mii.fMask = MIIM_ID;
    EXPECT_TRUE(GetMenuItemInfoA(top, 100, FALSE, &mii)) << "by command, found two levels down";

    EXPECT_TRUE(DestroyMenu(top));
    for (HMENU gone : {top, sub, subsub}) {
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(IsMenu(gone));
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_MENU_HANDLE), GetLastError());
    }
    // The other menu keeps a dead entry, as in Wine, and can still be destroyed.
    EXPECT_EQ(1, GetMenuItemCount(other));
    EXPECT_EQ(-1, GetMenuItemCount(sub));
    EXPECT_TRUE(DestroyMenu(other));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(DestroyMenu(other));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_MENU_HANDLE), GetLastError());
    EXPECT_EQ(0, WinStub_LiveHandles().menus);

    HMENU self = CreatePopupMenu();
    EXPECT_FALSE(AppendMenuA(self, MF_POPUP, reinterpret_cast<UINT_PTR>(self), "me"));
    DestroyMenu(self);
}

}  // namespace
