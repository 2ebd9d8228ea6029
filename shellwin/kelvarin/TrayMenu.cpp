// The tray popup menu, built afresh on every click from the string table and
// from what the Java application answers, and the dispatch of its commands.

#include <windows.h>

#include <stddef.h>
#include <string.h>

#include "kelvarin.h"
#include "resource.h"

// Every item the user can choose carries its command as ID and as item
// data; separators and the two submenu entries have an ID only. No item has
// ID 0, which is what makes InsertMenuItemA(menu, 0, FALSE, ...) append (it
// inserts before the item with that ID, searching the whole tree) and what a
// dismissed menu returns.
UINT const kFirstSubMenuEntryId = 1;     // Schedule 1, Events For Today 2
UINT const kFirstSeparatorId = 9000;
UINT const kTemplateSeparatorId = 1;
UINT const kFirstTemplateCommand = 4000;
UINT const kTemplateCommandLimit = 5000;
UINT const kFirstEventCommand = 8005;

jsize const kMaxTemplates = 999;         // commands 4000 to 4998
jsize const kMaxEventElements = 800;     // 400 pairs, commands 8005 to 8404

// The original MENUITEMINFOA, without hbmpItem: what every Windows version
// and Wine accept.
UINT const kMenuItemInfoSize = offsetof(MENUITEMINFOA, hbmpItem);
#if defined(__i386__)
// The record as 32-bit Windows reads it; only the 32-bit build can check it.
static_assert(kMenuItemInfoSize == 44 && offsetof(MENUITEMINFOA, dwItemData) == 32
                  && offsetof(MENUITEMINFOA, dwTypeData) == 36 && offsetof(MENUITEMINFOA, cch) == 40,
              "the first MENUITEMINFOA layout");
#endif

// Room for the references one build holds at once: the array, and the
// elements of one pair. Elements are released one by one, so 999 templates
// need no more.
jint const kLocalFrameCapacity = 16;

static char const kStringListSignature[] = "()[Ljava/lang/String;";
static char const kEventSeparator[] = "    ";

static void InitTextItemInfo(MENUITEMINFOA *mii)
{
    memset(mii, 0, sizeof *mii);
    mii->cbSize = kMenuItemInfoSize;
    mii->fMask = MIIM_ID | MIIM_TYPE | MIIM_DATA;
    mii->fType = MFT_STRING;
}

// Appends a text item; wID and item data are both inCommand.
static void InsertTextItem(HMENU menu, MENUITEMINFOA *mii, char *text, UINT inCommand)
{
    mii->dwTypeData = text;
    mii->cch = lstrlenA(text);
    mii->wID = inCommand;
    mii->dwItemData = inCommand;
    InsertMenuItemA(menu, 0, FALSE, mii);
}

// Loads a text of the string table into gMenuItemTitle; the menu keeps a
// copy of each item's text, so the buffer serves the next item.
static void LoadMenuText(UINT stringId)
{
    LoadProgramString(stringId, gMenuItemTitle, kMenuTextLoadLimit);
}

static void AddMenuText(HMENU menu, MENUITEMINFOA *mii, UINT stringId, UINT inCommand)
{
    LoadMenuText(stringId);
    InsertTextItem(menu, mii, gMenuItemTitle, inCommand);
}

// Appends the modified UTF-8 bytes of text at buf + *used, cut so that the
// terminator always fits. False when the VM cannot supply the bytes; its
// out-of-memory error is then cleared.
static bool AppendJavaString(JNIEnv *env, jstring text, char *buf, size_t size, size_t *used)
{
    jsize length = env->GetStringUTFLength(text);
    char const *bytes = env->GetStringUTFChars(text, NULL);
    if (!bytes) {
        env->ExceptionClear();
        return false;
    }
    size_t count = length > 0 ? (size_t)length : 0;
    size_t room = size - 1 - *used;
    if (count > room)
        count = room;
    memcpy(buf + *used, bytes, count);
    *used += count;
    buf[*used] = '\0';
    env->ReleaseStringUTFChars(text, bytes);
    return true;
}

static void AppendText(char const *text, char *buf, size_t size, size_t *used)
{
    while (*text && *used < size - 1)
        buf[(*used)++] = *text++;
    buf[*used] = '\0';
}

// Calls the interface method `name` answering String[]. NULL when Java has
// no list (no class, no method, null answer, or an exception, described).
// The array is a local reference of the caller's frame.
static jobjectArray CallStringListMethod(char const *name)
{
    jvalue list;
    CallInterfaceMethod(name, kStringListSignature, NULL, &list);
    return (jobjectArray)list.l;
}

static jsize ListLength(JNIEnv *env, jobjectArray list, jsize limit)
{
    jsize count = env->GetArrayLength(list);
    return count > limit ? limit : count;
}

typedef void (*AddItemsFunction)(JNIEnv *env, HMENU menu, MENUITEMINFOA *mii);

// Runs `add` inside a local frame of its own. The monitor thread never
// returns to Java, so the references a build takes (array, elements) are
// freed only by the frame popped here, or when the thread detaches.
static void AddJavaItems(AddItemsFunction add, HMENU menu, MENUITEMINFOA *mii)
{
    JNIEnv *env = sg_pEnvThread;
    if (!env)
        return;
    if (env->PushLocalFrame(kLocalFrameCapacity) < 0) {
        DescribeJavaException(env);
        return;
    }
    add(env, menu, mii);
    env->PopLocalFrame(NULL);
}

static void AddTemplateItems(JNIEnv *env, HMENU menu, MENUITEMINFOA *mii)
{
    jobjectArray list = CallStringListMethod("getTemplateList");
    if (!list)
        return;

    // Java numbers the templates by the elements that are not null: a null
    // element takes no command, an element whose text cannot be read takes
    // its command all the same, so every later item passes the index Java
    // means.
    char tname[kMenuItemTextSize];
    UINT itemID = kFirstTemplateCommand;
    jsize count = ListLength(env, list, kMaxTemplates);
    for (jsize i = 0; i < count; ++i) {
        jstring element = (jstring)env->GetObjectArrayElement(list, i);
        if (DescribeJavaException(env))
            break;
        if (!element)
            continue;

        UINT command = itemID++;
        size_t used = 0;
        bool copied = AppendJavaString(env, element, tname, sizeof tname, &used);
        env->DeleteLocalRef(element);
        if (!copied)
            continue;
        // The separator belongs to element 0: with it null, none is shown.
        if (i == 0)
            AppendMenuA(menu, MF_SEPARATOR, kTemplateSeparatorId, NULL);
        InsertTextItem(menu, mii, tname, command);
    }
}

// One item per pair of elements 2k, 2k+1 that are both present, "first    second".
static void AddEventItems(JNIEnv *env, HMENU menu, MENUITEMINFOA *mii)
{
    jobjectArray list = CallStringListMethod("getEventsForToday");
    if (!list)
        return;

    jsize count = ListLength(env, list, kMaxEventElements);
    if (count <= 0) {
        AddMenuText(menu, mii, IDS_NO_EVENTS, IDS_NO_EVENTS);
        return;
    }

    char tname[kMenuItemTextSize];
    UINT itemID = kFirstEventCommand;
    // An odd last element has no partner and is not even fetched.
    for (jsize i = 0; i + 1 < count; i += 2) {
        jstring first = (jstring)env->GetObjectArrayElement(list, i);
        if (DescribeJavaException(env))
            break;
        jstring second = (jstring)env->GetObjectArrayElement(list, i + 1);
        if (DescribeJavaException(env)) {
            env->DeleteLocalRef(first);
            break;
        }

        size_t used = 0;
        bool complete = first && second
                        && AppendJavaString(env, first, tname, sizeof tname, &used);
        if (complete) {
            AppendText(kEventSeparator, tname, sizeof tname, &used);
            complete = AppendJavaString(env, second, tname, sizeof tname, &used);
        }
        env->DeleteLocalRef(first);
        env->DeleteLocalRef(second);
        if (complete)
            InsertTextItem(menu, mii, tname, itemID++);
    }
}

// A submenu of Java's answers: its fixed first item (none for 0), then what
// `add` makes of them.
static HMENU NewJavaSubMenu(UINT firstItem, AddItemsFunction add)
{
    HMENU menu = CreatePopupMenu();
    if (!menu)
        return NULL;

    MENUITEMINFOA mii;
    InitTextItemInfo(&mii);
    if (firstItem)
        AddMenuText(menu, &mii, firstItem, firstItem);
    AddJavaItems(add, menu, &mii);
    return menu;
}

HMENU GetTemplateSubMenu()
{
    return NewJavaSubMenu(IDS_NEW_REMINDER, AddTemplateItems);
}

HMENU GetTodayEventsSubMenu()
{
    return NewJavaSubMenu(0, AddEventItems);
}

static void AddSeparator(HMENU menu, UINT *sepItemID)
{
    AppendMenuA(menu, MF_SEPARATOR, (*sepItemID)++, NULL);
}

static void AddSubMenu(HMENU menu, MENUITEMINFOA *mii, UINT stringId, UINT *itemID, HMENU subMenu)
{
    LoadMenuText(stringId);
    mii->fMask = MIIM_ID | MIIM_SUBMENU | MIIM_TYPE;
    mii->hSubMenu = subMenu;
    mii->dwTypeData = gMenuItemTitle;
    mii->cch = lstrlenA(gMenuItemTitle);
    mii->wID = (*itemID)++;
    InsertMenuItemA(menu, 0, FALSE, mii);
    mii->fMask = MIIM_ID | MIIM_TYPE | MIIM_DATA;
    mii->hSubMenu = NULL;
}

HMENU BuildNotifyIconMenu()
{
    HMENU menu = CreatePopupMenu();
    if (!menu)
        return NULL;

    MENUITEMINFOA mii;
    UINT itemID = kFirstSubMenuEntryId;
    UINT sepItemID = kFirstSeparatorId;
    InitTextItemInfo(&mii);

    AddMenuText(menu, &mii, IDS_EXIT, IDS_EXIT);
    AddSeparator(menu, &sepItemID);
    AddMenuText(menu, &mii, IDS_ABOUT, IDS_ABOUT);
    AddMenuText(menu, &mii, IDS_HELP, IDS_HELP);
    AddSeparator(menu, &sepItemID);
    AddMenuText(menu, &mii, IDS_REMINDERS, IDS_REMINDERS);
    AddMenuText(menu, &mii, IDS_TEMPLATES, IDS_TEMPLATES);
    AddMenuText(menu, &mii, IDS_CATEGORIES, IDS_CATEGORIES);
    AddMenuText(menu, &mii, IDS_SOUNDS, IDS_SOUNDS);
    AddSeparator(menu, &sepItemID);
    AddSubMenu(menu, &mii, IDS_SCHEDULE, &itemID, GetTemplateSubMenu());
    AddSeparator(menu, &sepItemID);
    AddSubMenu(menu, &mii, IDS_EVENTS_FOR_TODAY, &itemID, GetTodayEventsSubMenu());
    AddSeparator(menu, &sepItemID);
    // Both texts run the same switch: Java knows which way it goes.
    AddMenuText(menu, &mii, AreRemindersSuspended() ? IDS_RESUME_REMINDERS : IDS_DO_NOT_DISTURB,
                IDS_DO_NOT_DISTURB);
    AddSeparator(menu, &sepItemID);
    AddMenuText(menu, &mii, IDS_QUICK_REMINDER, IDS_QUICK_REMINDER);
    return menu;
}

void RunMenuCommand(HWND hWnd, ULONG_PTR inCommand)
{
    switch (inCommand) {
    case IDS_HELP: ShowHelpWindow(); break;
    case IDS_ABOUT: ShowAboutWindow(); break;
    case IDS_REMINDERS: ShowReminderList(); break;
    case IDS_TEMPLATES: ShowTemplateList(); break;
    case IDS_CATEGORIES: ShowCategoryList(); break;
    case IDS_SOUNDS: ShowSoundList(); break;
    case IDS_DO_NOT_DISTURB:
        ShowDoNotDisturb();
        SetForegroundWindow(hWnd);
        break;
    case IDS_QUICK_REMINDER: ShowQuickReminder(); break;
    case IDS_NEW_REMINDER: ShowNewReminderDialog(); break;
    case IDS_EXIT: ConfirmQuit(); break;
    default:
        if (inCommand >= kFirstTemplateCommand && inCommand < kTemplateCommandLimit)
            EditReminderWithTemplate((unsigned long)(inCommand - kFirstTemplateCommand));
        break;
    }
}

int LocateMenuItemWithIDInMenu(HMENU inMenu, UINT inID, MENUITEMINFOA *outInfo)
{
    int found = GetMenuItemInfoA(inMenu, inID, FALSE, outInfo);
    if (found)
        return found;

    // Not every system searches submenus by command: walk them ourselves.
    MENUITEMINFOA scratch = *outInfo;
    int count = GetMenuItemCount(inMenu);
    for (int i = 0; i < count && !found; ++i) {
        if (GetMenuItemInfoA(inMenu, i, TRUE, &scratch) && scratch.hSubMenu)
            found = LocateMenuItemWithIDInMenu(scratch.hSubMenu, inID, outInfo);
    }
    return found;
}

bool IsMenuButtonPress(LPARAM mouseMessage)
{
    return mouseMessage == WM_LBUTTONDOWN || mouseMessage == WM_RBUTTONDOWN;
}

// Where the menu opens: at the pointer when it is on the bell, as after a
// click. The notification area also hands the bell key presses as clicks
// (Win+B, the arrow keys, then Enter, Space or the menu key), and then the
// pointer may be anywhere, on another screen even: the menu opens at the
// bell instead. False when the pointer's position cannot be had.
static bool FindMenuPosition(HWND hWnd, POINT *outAt)
{
    if (!GetCursorPos(outAt))
        return false;
    RECT bell;
    if (GetTaskBarIconRect(hWnd, kNotifyIconId, &bell) && !PtInRect(&bell, *outAt)) {
        outAt->x = bell.left + (bell.right - bell.left) / 2;
        outAt->y = bell.top + (bell.bottom - bell.top) / 2;
    }
    return true;
}

// The ghost window took the foreground only for the menu. Left there, it is
// an invisible active window: typing goes nowhere, and Alt+F4 does nothing
// where the user expects the window that had the keyboard before, usually
// the taskbar, whose Alt+F4 brings the shut-down dialog.
static void GiveForegroundBack(HWND hWnd, HWND before)
{
    if (before && before != hWnd && GetForegroundWindow() == hWnd && IsWindow(before))
        SetForegroundWindow(before);
}

void MouseDownOnNotifyIcon(HWND hWnd, WPARAM wParam, LPARAM lParam)
{
    (void)wParam;
    if (!IsMenuButtonPress(lParam))
        return;

    HMENU menu = BuildNotifyIconMenu();
    if (!menu)
        return;

    POINT at;
    if (FindMenuPosition(hWnd, &at)) {
        // Our window must be foreground before TrackPopupMenu, or the menu
        // does not close when the user clicks elsewhere; and it needs a
        // message after the menu, or the next click may open nothing.
        HWND before = GetForegroundWindow();
        SetForegroundWindow(hWnd);
        UINT chosen = (UINT)TrackPopupMenu(menu, TPM_RIGHTALIGN | TPM_BOTTOMALIGN | TPM_NONOTIFY | TPM_RETURNCMD,
                                           at.x, at.y, 0, hWnd, NULL);
        PostMessageA(hWnd, WM_NULL, 0, 0);

        MENUITEMINFOA itemInfo;
        memset(&itemInfo, 0, sizeof itemInfo);
        itemInfo.cbSize = kMenuItemInfoSize;
        itemInfo.fMask = MIIM_ID | MIIM_SUBMENU | MIIM_DATA;
        // The command runs while the menu still exists, after it has closed.
        unsigned long const callsBefore = JavaMethodsCalled();
        if (LocateMenuItemWithIDInMenu(menu, chosen, &itemInfo))
            RunMenuCommand(hWnd, itemInfo.dwItemData);
        // A command that reached Java leaves the foreground to what Java
        // opens: AWT shows its window later, from its own thread.
        if (JavaMethodsCalled() == callsBefore)
            GiveForegroundBack(hWnd, before);
    }
    DestroyMenu(menu);
}
