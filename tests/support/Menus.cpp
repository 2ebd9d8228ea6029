// Reading menus back, the same way on both platforms.

#include "TestSupport.h"

#include <string.h>

std::vector<MenuRow> ReadMenu(HMENU menu)
{
    std::vector<MenuRow> rows;
    int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        // A text can be long (Java hands over up to 1023 bytes); ask its length first.
        MENUITEMINFOA mii;
        memset(&mii, 0, sizeof mii);
        mii.cbSize = sizeof mii;
        mii.fMask = MIIM_ID | MIIM_TYPE | MIIM_DATA | MIIM_SUBMENU;
        if (!GetMenuItemInfoA(menu, i, TRUE, &mii))
            break;
        MenuRow row;
        row.id = mii.wID;
        row.data = mii.dwItemData;
        row.type = mii.fType;
        row.hasSubMenu = mii.hSubMenu != NULL;
        if (!(mii.fType & MFT_SEPARATOR)) {
            std::vector<char> text(mii.cch + 1, '\0');
            mii.dwTypeData = text.data();
            mii.cch = (UINT)text.size();
            if (GetMenuItemInfoA(menu, i, TRUE, &mii))
                row.text.assign(text.data());
        }
        if (row.hasSubMenu)
            row.sub = ReadMenu(mii.hSubMenu);
        rows.push_back(row);
    }
    return rows;
}

MenuRow Item(std::string text, UINT command)
{
    MenuRow row;
    row.text = std::move(text);
    row.id = command;
    row.data = command;
    row.type = MFT_STRING;
    return row;
}

MenuRow Separator(UINT id)
{
    MenuRow row;
    row.id = id;
    row.type = MFT_SEPARATOR;
    return row;
}

MenuRow SubMenu(std::string text, UINT id, std::vector<MenuRow> items)
{
    MenuRow row;
    row.text = std::move(text);
    row.id = id;
    row.type = MFT_STRING;
    row.hasSubMenu = true;
    row.sub = std::move(items);
    return row;
}

std::vector<MenuRow> FullMenu(std::vector<MenuRow> schedule, std::vector<MenuRow> events, bool suspended)
{
    return {
        Item("Exit", 9990),
        Separator(9000),
        Item("Chimelet 1.0", 999),
        Item("Help", 995),
        Separator(9001),
        Item("Reminders", 1001),
        Item("Templates", 1002),
        Item("Categories", 1003),
        Item("Sounds", 1004),
        Separator(9002),
        SubMenu("Schedule", 1, std::move(schedule)),
        Separator(9003),
        SubMenu("Events For Today", 2, std::move(events)),
        Separator(9004),
        Item(suspended ? "Resume Reminders" : "Do Not Disturb", 2001),
        Separator(9005),
        Item("Quick Reminder", 3001),
    };
}

static void DescribeInto(std::vector<MenuRow> const &rows, std::string const &indent, std::string *out)
{
    for (MenuRow const &row : rows) {
        *out += indent;
        if (row.type & MFT_SEPARATOR)
            *out += "----";
        else
            *out += "\"" + row.text + "\"";
        *out += " id=" + std::to_string(row.id) + " data=" + std::to_string(row.data);
        if (row.hasSubMenu)
            *out += " submenu";
        *out += "\n";
        if (row.hasSubMenu)
            DescribeInto(row.sub, indent + "    ", out);
    }
}

std::string Describe(std::vector<MenuRow> const &rows)
{
    std::string out;
    DescribeInto(rows, "", &out);
    return out;
}
