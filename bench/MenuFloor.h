// The floor of the menu build: a given menu tree made with nothing but the
// menu calls the shell makes for it, in the same order and with the same
// arguments, and no Java in between.
#ifndef CHIMELET_BENCH_MENU_FLOOR_H
#define CHIMELET_BENCH_MENU_FLOOR_H

#include <windows.h>

#include <string>
#include <vector>

#include "TestSupport.h"

namespace bench {

// Builds `rows` (as ReadMenu gives them) into a new popup menu: text items
// with InsertMenuItemA(menu, 0, FALSE, ...) and the shell's item record,
// separators with AppendMenuA(MF_SEPARATOR), each submenu complete before
// its entry is inserted. The caller destroys the menu. NULL when no menu
// could be made.
HMENU BuildFloorMenu(std::vector<MenuRow> const &rows);

// Rows of the submenu hung under the entry with that text; 0 when none.
size_t SubMenuRows(std::vector<MenuRow> const &rows, std::string const &entry);

// Whether `rows` is the whole tray menu with Schedule and Events For Today
// of these many rows: the data a timing is meant to be about.
bool MenuHasSize(std::vector<MenuRow> const &rows, size_t scheduleRows, size_t eventRows);

// Whether the floor builds `rows` again, read back: else the timings of the
// two compare different work.
bool FloorBuildsTheSame(std::vector<MenuRow> const &rows);

}  // namespace bench

#endif
