// The tray menu as the tests see it, the same way on both platforms.

#include "Menus.h"

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
        Item("Exit", IDS_EXIT),
        Separator(9000),
        Item("Chimelet 1.0", IDS_ABOUT),
        Item("Help", IDS_HELP),
        Separator(9001),
        Item("Reminders", IDS_REMINDERS),
        Item("Templates", IDS_TEMPLATES),
        Item("Categories", IDS_CATEGORIES),
        Item("Sounds", IDS_SOUNDS),
        Separator(9002),
        SubMenu("Schedule", 1, std::move(schedule)),
        Separator(9003),
        SubMenu("Events For Today", 2, std::move(events)),
        Separator(9004),
        Item(suspended ? "Resume Reminders" : "Do Not Disturb", IDS_DO_NOT_DISTURB),
        Separator(9005),
        Item("Quick Reminder", IDS_QUICK_REMINDER),
    };
}

std::vector<MenuRow> Schedule(std::vector<std::string> const &templates, bool separator)
{
    std::vector<MenuRow> rows = {Item("New Reminder", IDS_NEW_REMINDER)};
    if (separator && !templates.empty())
        rows.push_back(Separator(1));
    for (size_t i = 0; i < templates.size(); ++i)
        rows.push_back(Item(templates[i], kFirstTemplateItem + (UINT)i));
    return rows;
}

std::vector<MenuRow> Events(std::vector<std::string> const &lines)
{
    std::vector<MenuRow> rows;
    for (size_t i = 0; i < lines.size(); ++i)
        rows.push_back(Item(lines[i], kFirstEventItem + (UINT)i));
    return rows;
}

std::vector<MenuRow> NoEvents()
{
    return {Item("None", IDS_NO_EVENTS)};
}

std::vector<std::string> Numbered(std::string const &prefix, int count)
{
    std::vector<std::string> texts;
    for (int i = 0; i < count; ++i)
        texts.push_back(prefix + std::to_string(i));
    return texts;
}

std::vector<WPARAM> KeysToChoose(std::vector<MenuRow> const &rows, UINT command)
{
    std::vector<WPARAM> keys;
    for (MenuRow const &row : rows) {
        if (row.type & MFT_SEPARATOR)
            continue;
        keys.push_back(VK_DOWN);
        if (!row.hasSubMenu && row.id == command) {
            keys.push_back(VK_RETURN);
            return keys;
        }
        std::vector<WPARAM> inner = row.hasSubMenu ? KeysToChoose(row.sub, command) : std::vector<WPARAM>();
        if (!inner.empty()) {
            // Right opens the submenu with its first item selected: the
            // Down that would select it is not pressed.
            keys.push_back(VK_RIGHT);
            keys.insert(keys.end(), inner.begin() + 1, inner.end());
            return keys;
        }
    }
    return {};
}

bool HoldsCommand(std::vector<MenuRow> const &rows, UINT command)
{
    return !KeysToChoose(rows, command).empty();
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
