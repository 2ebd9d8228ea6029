// The floor of the menu build: a given menu tree made with nothing but the
// menu calls the shell makes for it, in the same order and with the same
// arguments, and no Java in between.
#ifndef CHIMELET_BENCH_MENU_FLOOR_H
#define CHIMELET_BENCH_MENU_FLOOR_H

#include <windows.h>

#include <vector>

#include "TestSupport.h"

namespace bench {

// Builds `rows` (as ReadMenu gives them) into a new popup menu: text items
// with InsertMenuItemA(menu, 0, FALSE, ...) and the shell's item record,
// separators with AppendMenuA(MF_SEPARATOR), each submenu complete before
// its entry is inserted. The caller destroys the menu. NULL when no menu
// could be made.
HMENU BuildFloorMenu(std::vector<MenuRow> const &rows);

}  // namespace bench

#endif
