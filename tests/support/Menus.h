// The tray menu as the tests see it: a menu read back row by row, the menu
// the user must see for given Java answers, the commands its rows run, and
// the keys that choose a row. One description for every suite: the unit
// tests, the black-box runs, the real-JVM runs, the fuzz target, the soak
// and the benchmark compare against it.
#ifndef CHIMELET_TEST_MENUS_H
#define CHIMELET_TEST_MENUS_H

#include <windows.h>

#include <string>
#include <vector>

#include "resource.h"

// One item of a menu, as read back with GetMenuItemInfoA.
struct MenuRow {
    std::string text;
    UINT id = 0;
    ULONG_PTR data = 0;
    UINT type = 0;              // MFT_* bits
    bool hasSubMenu = false;
    std::vector<MenuRow> sub;   // the submenu's items, when hasSubMenu
};

std::vector<MenuRow> ReadMenu(HMENU menu);

// "text|id|data|kind" per row, nested rows indented: what a failure prints.
std::string Describe(std::vector<MenuRow> const &rows);

// Row helpers for expectation tables.
MenuRow Item(std::string text, UINT command);   // id and item data both `command`
MenuRow Separator(UINT id);
MenuRow SubMenu(std::string text, UINT id, std::vector<MenuRow> items);

// --- The tray menu ---

// The commands of the tray menu, each row's ID and item data: the string
// IDs of the fixed rows' texts (resource.h), and these for the rows from Java.
UINT const kFirstTemplateItem = 4000;  // template i runs showEditReminderWithTemplate(i)
UINT const kFirstEventItem = 8005;     // events run nothing, nor does None (IDS_NO_EVENTS)

// The rows that run a Java interface method of their own, without argument
// and answering void: every suite's pass over the menu starts from these.
struct PlainCommand {
    char const *name;
    UINT command;
    char const *method;
};
inline constexpr PlainCommand kPlainCommands[] = {
    {"About", IDS_ABOUT, "showAboutWindow"},
    {"Help", IDS_HELP, "showHelpWindow"},
    {"Reminders", IDS_REMINDERS, "showReminderList"},
    {"Templates", IDS_TEMPLATES, "showTemplateList"},
    {"Categories", IDS_CATEGORIES, "showCategoryList"},
    {"Sounds", IDS_SOUNDS, "showSoundList"},
    {"Do Not Disturb", IDS_DO_NOT_DISTURB, "showDoNotDisturb"},
    {"Quick Reminder", IDS_QUICK_REMINDER, "showQuickReminder"},
    {"New Reminder", IDS_NEW_REMINDER, "showNewReminderDialog"},
};
// What a template item runs, with the template's index as argument.
char const kTemplateMethod[] = "showEditReminderWithTemplate";

// The whole tray menu around these two submenus' rows, as the user sees it.
std::vector<MenuRow> FullMenu(std::vector<MenuRow> schedule, std::vector<MenuRow> events, bool suspended = false);

// Schedule: New Reminder; then, when there are templates and Java's element
// 0 was one of them (`separator`), a separator; then one item per template.
std::vector<MenuRow> Schedule(std::vector<std::string> const &templates, bool separator = true);

// Events For Today: one item per line ("first    second" of a pair).
std::vector<MenuRow> Events(std::vector<std::string> const &lines);

// Events For Today for an empty list from Java.
std::vector<MenuRow> NoEvents();

// prefix + "0", prefix + "1", ...: the texts of generated Java lists.
std::vector<std::string> Numbered(std::string const &prefix, int count);

// The keys a user presses to choose `command` in a freshly opened menu
// `rows`: nothing is selected when a popup opens; Down selects the next item
// that is not a separator, Right opens a submenu with its first item
// selected, Return chooses. None when the menu does not hold the command.
std::vector<WPARAM> KeysToChoose(std::vector<MenuRow> const &rows, UINT command);

// Whether a user can choose `command` in `rows`.
bool HoldsCommand(std::vector<MenuRow> const &rows, UINT command);

#endif
