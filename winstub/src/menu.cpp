// USER32 popup menus, following Wine's rules: the by-command search runs depth-first through
// submenus with a popup entry of the wanted ID only as a fallback, items without text or
// bitmap read back as separators, and a text that does not fit comes back unterminated.
#include "state.h"

#include <cstddef>
#include <map>
#include <optional>
#include <vector>

namespace winstub {
namespace {

struct Item {
    UINT id = 0;
    UINT type = 0;
    UINT state = 0;
    HMENU sub = nullptr;
    ULONG_PTR data = 0;
    std::optional<std::string> text;  // none and empty differ: none reads back as a separator
    HBITMAP bitmap = nullptr;
    HBITMAP checked = nullptr, unchecked = nullptr;
};

struct Menu {
    std::vector<Item> items;
};

std::map<uintptr_t, Menu>& Menus() {
    static auto* menus = new std::map<uintptr_t, Menu>;
    return *menus;
}

UINT const kTypeMask = MFT_BITMAP | MFT_MENUBARBREAK | MFT_MENUBREAK | MFT_OWNERDRAW | MFT_RADIOCHECK |
                       MFT_SEPARATOR | MFT_RIGHTORDER | MFT_RIGHTJUSTIFY;
UINT const kStateMask = MFS_GRAYED | MFS_CHECKED | MFS_HILITE | MFS_DEFAULT;
int const kMaxDepth = 64;  // a menu tree that contains itself must not recurse for ever

Menu* Get(HMENU h) {
    auto it = Menus().find(reinterpret_cast<uintptr_t>(h));
    return it == Menus().end() ? nullptr : &it->second;
}

struct Found {
    Menu* menu = nullptr;
    size_t pos = 0;
};

// Wine's MENU_FindItem by command: a plain item with the ID wins at once; a popup entry's
// submenu is searched first and the entry itself is kept only as a fallback for when nothing
// else in this menu matches.
Found FindByCommand(HMENU h, UINT id, int depth) {
    Menu* menu = Get(h);
    if (!menu || depth > kMaxDepth) return {};
    Found fallback;
    for (size_t i = 0; i < menu->items.size(); ++i) {
        const Item& item = menu->items[i];
        if (item.sub) {
            Found inner = FindByCommand(item.sub, id, depth + 1);
            if (inner.menu) return inner;
            if (item.id == id && !fallback.menu) fallback = Found{menu, i};
        } else if (item.id == id) {
            return Found{menu, i};
        }
    }
    return fallback;
}

Found FindItem(HMENU h, UINT item, BOOL byPosition) {
    if (!byPosition) return FindByCommand(h, item, 0);
    Menu* menu = Get(h);
    if (!menu || item >= menu->items.size()) return {};
    return Found{menu, item};
}

bool ValidSize(UINT cbSize) {
    return cbSize == sizeof(MENUITEMINFOA) || cbSize == offsetof(MENUITEMINFOA, hbmpItem);
}

void MarkSeparatorIfEmpty(Item& item) {
    if (!item.text && !(item.type & MFT_OWNERDRAW) && !item.bitmap) item.type |= MFT_SEPARATOR;
}

void DestroyTree(uintptr_t h, int depth) {
    auto it = Menus().find(h);
    if (it == Menus().end()) return;
    std::vector<HMENU> subs;
    for (const Item& item : it->second.items)
        if (item.sub) subs.push_back(item.sub);
    Menus().erase(it);
    if (depth > kMaxDepth) return;
    for (HMENU sub : subs) DestroyTree(reinterpret_cast<uintptr_t>(sub), depth + 1);
}

}  // namespace

void ResetMenus() { Menus().clear(); }
int LiveMenus() { return static_cast<int>(Menus().size()); }

}  // namespace winstub

using namespace winstub;

HMENU WINAPI CreatePopupMenu(void) {
    Guard lock(Lock());
    if (TakeFault(WinStubFault::CreatePopupMenu)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    uintptr_t h = NewUserHandle();
    Menus()[h] = Menu{};
    return reinterpret_cast<HMENU>(h);
}

BOOL WINAPI DestroyMenu(HMENU h) {
    Guard lock(Lock());
    uintptr_t value = reinterpret_cast<uintptr_t>(h);
    if (!Menus().count(value)) {
        if (WasUserHandle(value)) SetLastError(ERROR_INVALID_MENU_HANDLE);
        return FALSE;
    }
    // Submenus go with their menu, even when another menu also holds them (that menu keeps a
    // dead entry, as in Wine).
    DestroyTree(value, 0);
    return TRUE;
}

BOOL WINAPI IsMenu(HMENU h) {
    Guard lock(Lock());
    uintptr_t value = reinterpret_cast<uintptr_t>(h);
    if (Menus().count(value)) return TRUE;
    if (WasUserHandle(value)) SetLastError(ERROR_INVALID_MENU_HANDLE);
    return FALSE;
}

int WINAPI GetMenuItemCount(HMENU h) {
    Guard lock(Lock());
    Menu* menu = Get(h);
    return menu ? static_cast<int>(menu->items.size()) : -1;
}

HMENU WINAPI GetSubMenu(HMENU h, int pos) {
    Guard lock(Lock());
    Menu* menu = Get(h);
    if (!menu || pos < 0 || static_cast<size_t>(pos) >= menu->items.size()) return nullptr;
    return menu->items[pos].sub;
}

BOOL WINAPI InsertMenuItemA(HMENU h, UINT where, BOOL byPosition, LPCMENUITEMINFOA mii) {
    Guard lock(Lock());
    Menu* target = Get(h);
    if (!target) return FALSE;  // Wine leaves the last error alone here
    if (!mii || !ValidSize(mii->cbSize)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    UINT mask = mii->fMask;
    if ((mask & MIIM_TYPE) && (mask & (MIIM_STRING | MIIM_FTYPE | MIIM_BITMAP))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // Only the caller's cbSize bytes are read: a short record has no hbmpItem.
    MENUITEMINFOA info{};
    memcpy(&info, mii, mii->cbSize);
    if ((mask & MIIM_SUBMENU) && info.hSubMenu) {
        if (info.hSubMenu == h) return FALSE;
        if (!Get(info.hSubMenu)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
    }

    Item item;
    if (mask & MIIM_TYPE) {
        item.type = info.fType & kTypeMask;
        if (item.type & MFT_BITMAP)
            item.bitmap = reinterpret_cast<HBITMAP>(info.dwTypeData);
        else if (!(item.type & (MFT_SEPARATOR | MFT_OWNERDRAW)) && info.dwTypeData)
            item.text = std::string(info.dwTypeData);  // cch is ignored on insert
    }
    if (mask & MIIM_FTYPE) item.type = info.fType & kTypeMask & ~static_cast<UINT>(MFT_BITMAP);
    if ((mask & MIIM_STRING) && info.dwTypeData) item.text = std::string(info.dwTypeData);
    if (mask & MIIM_BITMAP) item.bitmap = info.hbmpItem;
    if (mask & MIIM_STATE) item.state = info.fState & kStateMask;
    if (mask & MIIM_ID) item.id = info.wID;
    if (mask & MIIM_SUBMENU) item.sub = info.hSubMenu;
    if (mask & MIIM_DATA) item.data = info.dwItemData;
    if (mask & MIIM_CHECKMARKS) {
        item.checked = info.hbmpChecked;
        item.unchecked = info.hbmpUnchecked;
    }
    MarkSeparatorIfEmpty(item);

    Found at = FindItem(h, where, byPosition);
    if (!at.menu) {
        target->items.push_back(std::move(item));  // past the end, or no such command: append
    } else {
        at.menu->items.insert(at.menu->items.begin() + static_cast<std::ptrdiff_t>(at.pos), std::move(item));
    }
    return TRUE;
}

BOOL WINAPI AppendMenuA(HMENU h, UINT flags, UINT_PTR id, LPCSTR text) {
    Guard lock(Lock());
    Menu* menu = Get(h);
    if (!menu) return FALSE;
    Item item;
    item.id = static_cast<UINT>(id);
    item.state = flags & (MF_GRAYED | MF_DISABLED | MF_CHECKED | MF_HILITE | MF_DEFAULT);
    item.type = flags & (MF_MENUBARBREAK | MF_MENUBREAK | MF_OWNERDRAW | MF_SEPARATOR | MF_RIGHTJUSTIFY |
                         MFT_RADIOCHECK | MFT_RIGHTORDER);
    if (flags & MF_POPUP) {
        HMENU sub = reinterpret_cast<HMENU>(id);
        if (sub == h) return FALSE;
        if (Get(sub))
            item.sub = sub;
        else
            SetLastError(ERROR_INVALID_MENU_HANDLE);  // Wine appends it all the same
    }
    if (flags & MF_SEPARATOR) {
        item.state |= MF_GRAYED | MF_DISABLED;  // as Wine reads a separator back
    } else if (flags & MF_BITMAP) {
        item.type |= MFT_BITMAP;
        item.bitmap = reinterpret_cast<HBITMAP>(const_cast<char*>(text));
    } else if (flags & MF_OWNERDRAW) {
        item.data = reinterpret_cast<ULONG_PTR>(text);
    } else if (text) {
        item.text = std::string(text);
    }
    MarkSeparatorIfEmpty(item);
    menu->items.push_back(std::move(item));
    return TRUE;
}

BOOL WINAPI GetMenuItemInfoA(HMENU h, UINT where, BOOL byPosition, LPMENUITEMINFOA mii) {
    Guard lock(Lock());
    if (!mii || !ValidSize(mii->cbSize)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    UINT cbSize = mii->cbSize;
    MENUITEMINFOA info{};
    memcpy(&info, mii, cbSize);
    Found at = FindItem(h, where, byPosition);
    if (!at.menu) {
        SetLastError(ERROR_MENU_ITEM_NOT_FOUND);
        return FALSE;
    }
    const Item& item = at.menu->items[at.pos];
    UINT mask = info.fMask;
    if (mask & MIIM_TYPE) {
        if (mask & (MIIM_BITMAP | MIIM_FTYPE | MIIM_STRING)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        info.fType = item.type;
        if (item.bitmap) info.fType |= MFT_BITMAP;
        info.hbmpItem = item.bitmap;
        if (info.fType & MFT_BITMAP) {
            info.dwTypeData = reinterpret_cast<LPSTR>(item.bitmap);
            info.cch = 0;
        } else if (info.fType & (MFT_OWNERDRAW | MFT_SEPARATOR)) {
            info.dwTypeData = nullptr;
            info.cch = 0;
        }
    }
    if (mask & MIIM_FTYPE) info.fType = item.type;
    if (mask & MIIM_BITMAP) info.hbmpItem = item.bitmap;
    if (mask & (MIIM_TYPE | MIIM_STRING)) {
        if (!item.text) {
            if (info.dwTypeData && info.cch) info.dwTypeData[0] = 0;
            info.cch = 0;
        } else {
            UINT len = static_cast<UINT>(item.text->size());
            if (info.dwTypeData && info.cch) {
                // Probed on Wine 8: cch bytes of the text and its terminator are copied, so a
                // text that does not fit arrives without a terminator; cch becomes
                // min(cch - 1, length).
                UINT n = info.cch < len + 1 ? info.cch : len + 1;
                memcpy(info.dwTypeData, item.text->c_str(), n);
                info.cch = info.cch <= len + 1 ? info.cch - 1 : len;
            } else {
                info.cch = len;
            }
        }
    }
    if (mask & MIIM_STATE) info.fState = item.state;
    if (mask & MIIM_ID) info.wID = item.id;
    // Probed: without MIIM_SUBMENU the field is cleared all the same.
    info.hSubMenu = (mask & MIIM_SUBMENU) ? item.sub : nullptr;
    if (mask & MIIM_CHECKMARKS) {
        info.hbmpChecked = item.checked;
        info.hbmpUnchecked = item.unchecked;
    }
    if (mask & MIIM_DATA) info.dwItemData = item.data;
    memcpy(mii, &info, cbSize);
    return TRUE;
}
