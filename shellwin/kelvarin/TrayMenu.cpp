// The tray popup menu, built afresh on every click from the string table and
// from what the Java application answers, and the dispatch of its commands.

#include <windows.h>

#include <stddef.h>
#include <string.h>

#include "kelvarin.h"
#include "resource.h"

// Every item carries its command as ID and as item data; no item has ID 0,
// which is what makes InsertMenuItemA(menu, 0, FALSE, ...) append (it inserts
// before the item with that ID, searching the whole tree) and what a
// dismissed menu returns.
UINT const kScheduleEntryId = 1;
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

// Room for the references one build holds at once: class, array, and the
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

static void LoadMenuText(UINT stringId, char *buf, int size)
{
    LoadStringA(GetModuleHandleA(NULL), stringId, buf, size < kMenuTextLoadLimit ? size : kMenuTextLoadLimit);
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
static jobjectArray CallStringListMethod(JNIEnv *env, char const *name)
{
    jclass cls = GetApplicationInterfaceClass();
    if (!cls)
        return NULL;

    jobjectArray list = NULL;
    jmethodID method = env->GetStaticMethodID(cls, name, kStringListSignature);
    if (method)
        list = (jobjectArray)env->CallStaticObjectMethod(cls, method);
    if (DescribeJavaException(env))
        list = NULL;
    return list;
}

static jsize ListLength(JNIEnv *env, jobjectArray list, jsize limit)
{
    jsize count = env->GetArrayLength(list);
    return count > limit ? limit : count;
}

typedef void (*AddItemsFunction)(JNIEnv *env, HMENU menu, MENUITEMINFOA *mii);

// Runs `add` inside a local frame of its own. The monitor thread never
// returns to Java, so the references a build takes (class, array, elements)
// are freed only by the frame popped here.
static void AddJavaItems(AddItemsFunction add, HMENU menu, MENUITEMINFOA *mii)
{
    JNIEnv *env = sg_pEnvThread;
    if (env->PushLocalFrame(kLocalFrameCapacity) < 0) {
        DescribeJavaException(env);
        return;
    }
    add(env, menu, mii);
    env->PopLocalFrame(NULL);
}

static void AddTemplateItems(JNIEnv *env, HMENU menu, MENUITEMINFOA *mii)
{
    jobjectArray list = CallStringListMethod(env, "getTemplateList");
    if (!list)
        return;

    // n counts the items made, not the elements: a null element uses no
    // command, and Java counts the same way when it gets the index back.
    char tname[1024];
    UINT itemID = kFirstTemplateCommand;
    jsize count = ListLength(env, list, kMaxTemplates);
    for (jsize i = 0; i < count; ++i) {
        jstring element = (jstring)env->GetObjectArrayElement(list, i);
        if (DescribeJavaException(env))
            break;
        if (!element)
            continue;

        size_t used = 0;
        bool copied = AppendJavaString(env, element, tname, sizeof tname, &used);
        env->DeleteLocalRef(element);
        if (!copied)
            continue;
        // The separator belongs to element 0: with it null, none is shown.
        if (i == 0)
            AppendMenuA(menu, MF_SEPARATOR, kTemplateSeparatorId, NULL);
        InsertTextItem(menu, mii, tname, itemID++);
    }
}

HMENU GetTemplateSubMenu()
{
    HMENU menu = CreatePopupMenu();
    if (!menu)
        return NULL;

    MENUITEMINFOA mii;
    char newReminder[kMenuTextLoadLimit];
    InitTextItemInfo(&mii);
    LoadMenuText(IDS_NEW_REMINDER, newReminder, sizeof newReminder);
    InsertTextItem(menu, &mii, newReminder, IDS_NEW_REMINDER);

    AddJavaItems(AddTemplateItems, menu, &mii);
    return menu;
}

// One item per pair of elements 2k, 2k+1 that are both present, "first    second".
static void AddEventItems(JNIEnv *env, HMENU menu, MENUITEMINFOA *mii)
{
    jobjectArray list = CallStringListMethod(env, "getEventsForToday");
    if (!list)
        return;

    jsize count = ListLength(env, list, kMaxEventElements);
    if (count <= 0) {
        char none[kMenuTextLoadLimit];
        LoadMenuText(IDS_NO_EVENTS, none, sizeof none);
        InsertTextItem(menu, mii, none, IDS_NO_EVENTS);
        return;
    }

    char tname[1024];
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

HMENU GetTodayEventsSubMenu()
{
    HMENU menu = CreatePopupMenu();
    if (!menu)
        return NULL;

    MENUITEMINFOA mii;
    InitTextItemInfo(&mii);
    AddJavaItems(AddEventItems, menu, &mii);
    return menu;
}

static void AddMenuText(HMENU menu, MENUITEMINFOA *mii, UINT stringId, UINT inCommand)
{
    LoadMenuText(stringId, gMenuItemTitle, sizeof gMenuItemTitle);
    InsertTextItem(menu, mii, gMenuItemTitle, inCommand);
}

static void AddSeparator(HMENU menu, UINT *sepItemID)
{
    AppendMenuA(menu, MF_SEPARATOR, (*sepItemID)++, NULL);
}

static void AddSubMenu(HMENU menu, MENUITEMINFOA *mii, UINT stringId, UINT *itemID, HMENU subMenu)
{
    LoadMenuText(stringId, gMenuItemTitle, sizeof gMenuItemTitle);
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
    UINT itemID = kScheduleEntryId;
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

void MouseDownOnNotifyIcon(HWND hWnd, WPARAM wParam, LPARAM lParam)
{
    (void)wParam;
    if (lParam != WM_LBUTTONDOWN && lParam != WM_RBUTTONDOWN)
        return;

    HMENU menu = BuildNotifyIconMenu();
    if (!menu)
        return;

    POINT cursor;
    if (GetCursorPos(&cursor)) {
        // Our window must be foreground before TrackPopupMenu, or the menu
        // does not close when the user clicks elsewhere; and it needs a
        // message after the menu, or the next click may open nothing.
        SetForegroundWindow(hWnd);
        UINT chosen = (UINT)TrackPopupMenu(menu, TPM_RIGHTALIGN | TPM_BOTTOMALIGN | TPM_NONOTIFY | TPM_RETURNCMD,
                                           cursor.x, cursor.y, 0, hWnd, NULL);
        PostMessageA(hWnd, WM_NULL, 0, 0);

        MENUITEMINFOA itemInfo;
        memset(&itemInfo, 0, sizeof itemInfo);
        itemInfo.cbSize = kMenuItemInfoSize;
        itemInfo.fMask = MIIM_ID | MIIM_SUBMENU | MIIM_DATA;
        // The command runs while the menu still exists, after it has closed.
        if (LocateMenuItemWithIDInMenu(menu, chosen, &itemInfo))
            RunMenuCommand(hWnd, itemInfo.dwItemData);
    }
    DestroyMenu(menu);
}
