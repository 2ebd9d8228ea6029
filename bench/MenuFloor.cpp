// The floor menu build.

#include "MenuFloor.h"

#include <stddef.h>
#include <string.h>

namespace bench {

// The record size the shell passes (the first MENUITEMINFOA, no hbmpItem):
// the system reads no more than that, on both sides of the comparison.
static UINT const kItemInfoSize = offsetof(MENUITEMINFOA, hbmpItem);

HMENU BuildFloorMenu(std::vector<MenuRow> const &rows)
{
    HMENU menu = CreatePopupMenu();
    if (!menu)
        return NULL;

    MENUITEMINFOA mii;
    memset(&mii, 0, sizeof mii);
    mii.cbSize = kItemInfoSize;
    mii.fType = MFT_STRING;
    for (MenuRow const &row : rows) {
        if (row.type & MFT_SEPARATOR) {
            AppendMenuA(menu, MF_SEPARATOR, row.id, NULL);
            continue;
        }
        // The menu copies the text: the row's own buffer is only read.
        mii.dwTypeData = const_cast<char *>(row.text.c_str());
        mii.cch = (UINT)row.text.size();
        mii.wID = row.id;
        if (row.hasSubMenu) {
            mii.fMask = MIIM_ID | MIIM_SUBMENU | MIIM_TYPE;
            mii.hSubMenu = BuildFloorMenu(row.sub);
            mii.dwItemData = 0;
        } else {
            mii.fMask = MIIM_ID | MIIM_TYPE | MIIM_DATA;
            mii.hSubMenu = NULL;
            mii.dwItemData = row.data;
        }
        InsertMenuItemA(menu, 0, FALSE, &mii);
    }
    return menu;
}

size_t SubMenuRows(std::vector<MenuRow> const &rows, std::string const &entry)
{
    for (MenuRow const &row : rows) {
        if (row.hasSubMenu && row.text == entry)
            return row.sub.size();
    }
    return 0;
}

bool MenuHasSize(std::vector<MenuRow> const &rows, size_t scheduleRows, size_t eventRows)
{
    return rows.size() == FullMenu({}, {}).size() && SubMenuRows(rows, "Schedule") == scheduleRows
           && SubMenuRows(rows, "Events For Today") == eventRows;
}

bool FloorBuildsTheSame(std::vector<MenuRow> const &rows)
{
    HMENU menu = BuildFloorMenu(rows);
    std::string const built = Describe(ReadMenu(menu));
    DestroyMenu(menu);
    return built == Describe(rows);
}

}  // namespace bench
