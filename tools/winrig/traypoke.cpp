// traypoke: one step of driving a running Chimelet.exe, for shell scripts.
// Run it under Wine in the same prefix as Chimelet.exe; it exits 0 when the
// step was done or the awaited thing appeared, 1 when not, 2 on bad usage.

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "winrig.h"

using namespace winrig;

namespace {

char const kUsage[] =
    "usage: traypoke <command> [arguments]\n"
    "  wait-ghost <ms>               wait for Chimelet's ghost window\n"
    "  wait-icon <ms>                wait until exactly one tray icon is shown\n"
    "  wait-icon-gone <ms>           wait until no tray icon is shown\n"
    "  click left|right              click the tray icon (the pointer moves onto it)\n"
    "  tooltip [ms]                  show the icon's tooltip and print its text\n"
    "  wait-menu <ms> [count]        wait until count (1) popup menus are open\n"
    "  menu-keys <key>...            post keys to the open menu: down up left right\n"
    "                                return escape home end\n"
    "  wait-menu-gone <ms>           wait until no popup menu is open\n"
    "  menu-rect                     print the open menus' area: left top width height\n"
    "  menu-rects                    print each open menu's area, one a line\n"
    "  wait-box <caption> <ms>       wait for a message box with that caption\n"
    "  box [caption]                 print a message box: caption, text, buttons\n"
    "  answer <caption> ok|yes|no    press a button of that message box\n"
    "  close                         post WM_CLOSE to the ghost window\n"
    "  register-java <dll> [version] register a Java runtime (default 1.4)\n"
    "  unregister-java               remove every registered Java runtime\n"

    "  windows                       list the top-level windows (diagnostics)\n";

int Usage()
{
    fputs(kUsage, stderr);
    return 2;
}

// A time-out argument: decimal milliseconds, at most a day.
bool ParseMs(char const *text, DWORD *out)
{
    if (!text || !*text)
        return false;
    char *end = NULL;
    unsigned long value = strtoul(text, &end, 10);
    if (*end != '\0' || value > 86400000UL)
        return false;
    *out = (DWORD)value;
    return true;
}

char const *ButtonName(int id)
{
    switch (id) {
    case IDOK: return "ok";
    case IDCANCEL: return "cancel";
    case IDYES: return "yes";
    case IDNO: return "no";
    case IDABORT: return "abort";
    case IDRETRY: return "retry";
    case IDIGNORE: return "ignore";
    default: return "other";
    }
}

int Fail(char const *what)
{
    fprintf(stderr, "traypoke: %s\n", what);
    return 1;
}

int WaitGhost(DWORD ms)
{
    return WaitUntil(ms, [] { return FindGhostWindow() != NULL; }) ? 0 : Fail("no ghost window");
}

int WaitIcon(DWORD ms)
{
    return WaitUntil(ms, [] { return FindTrayIcon() != NULL; }) ? 0 : Fail("no tray icon");
}

int WaitIconGone(DWORD ms)
{
    return WaitUntil(ms, [] { return FindTrayIcons().empty(); }) ? 0 : Fail("the tray icon is still there");
}

int Click(char const *button)
{
    bool right = lstrcmpiA(button, "right") == 0;
    if (!right && lstrcmpiA(button, "left") != 0)
        return Usage();
    return ClickTrayIcon(FindTrayIcon(), right) ? 0 : Fail("no tray icon to click");
}

int Tooltip(DWORD ms)
{
    std::string text = ReadTrayTooltip(FindTrayIcon(), ms);
    if (text.empty())
        return Fail("no tooltip showed");
    printf("%s\n", text.c_str());
    return 0;
}

int WaitMenu(DWORD ms, size_t count)
{
    return WaitUntil(ms, [count] { return FindVisibleMenus().size() >= count; }) ? 0 : Fail("no popup menu");
}

int WaitMenuGone(DWORD ms)
{
    return WaitUntil(ms, [] { return FindVisibleMenus().empty(); }) ? 0 : Fail("a popup menu is still open");
}

int MenuKeys(int count, char **names)
{
    UINT keys[64];
    if (count < 1 || count > (int)ARRAYSIZE(keys))
        return Usage();
    for (int i = 0; i < count; ++i) {
        keys[i] = MenuKeyFromName(names[i]);
        if (!keys[i]) {
            fprintf(stderr, "traypoke: unknown key '%s'\n", names[i]);
            return 2;
        }
    }
    if (WaitMenu(5000, 1) != 0)
        return 1;
    for (int i = 0; i < count; ++i) {
        std::vector<HWND> menus = FindVisibleMenus();
        if (menus.empty())
            return Fail("the menu closed before all keys were sent");
        PostMenuKey(menus.front(), keys[i]);
        // The menu's loop takes the keys in order anyway; the pause lets a
        // submenu open before the next key, as it would for a person.
        Sleep(Scaled(60));
    }
    return 0;
}

int MenuRect()
{
    RECT rect;
    if (!VisibleMenusRect(&rect))
        return Fail("no popup menu");
    printf("%ld %ld %ld %ld\n", rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
    return 0;
}

int MenuRects()
{
    std::vector<HWND> menus = FindVisibleMenus();
    if (menus.empty())
        return Fail("no popup menu");
    for (HWND menu : menus) {
        RECT rect;
        if (GetWindowRect(menu, &rect))
            printf("%ld %ld %ld %ld\n", rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
    }
    return 0;
}

int WaitBox(char const *caption, DWORD ms)
{
    return WaitUntil(ms, [caption] { return FindMessageBox(caption) != NULL; }) ? 0 : Fail("no message box");
}

int PrintBox(char const *caption)
{
    HWND box = FindMessageBox(caption);
    if (!box)
        return Fail("no message box");
    MessageBoxFacts facts = ReadMessageBox(box);
    printf("caption: %s\ntext: %s\nbuttons:", facts.caption.c_str(), facts.text.c_str());
    for (int id : facts.buttons)
        printf(" %s", ButtonName(id));
    printf("\n");
    return 0;
}

int Answer(char const *caption, char const *button)
{
    int id = ButtonFromName(button);
    if (!id)
        return Usage();
    HWND box = FindMessageBox(caption);
    if (!box)
        return Fail("no message box");
    return AnswerMessageBox(box, id) ? 0 : Fail("the message box has no such button");
}

BOOL CALLBACK PrintWindow(HWND hwnd, LPARAM)
{
    WindowFacts facts = DescribeWindow(hwnd);
    printf("%p pid=%lu %s '%s' visible=%d style=%08lx exstyle=%08lx owner=%p rect=%ld,%ld,%ld,%ld\n",
           (void *)hwnd, facts.pid, facts.className.c_str(), facts.title.c_str(), facts.visible,
           (unsigned long)facts.style, (unsigned long)facts.exStyle, (void *)facts.owner, facts.rect.left,
           facts.rect.top, facts.rect.right, facts.rect.bottom);
    return TRUE;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 2)
        return Usage();
    char const *command = argv[1];
    int extra = argc - 2;
    char **args = argv + 2;
    DWORD ms = 0;

    if (!strcmp(command, "wait-ghost") && extra == 1 && ParseMs(args[0], &ms))
        return WaitGhost(ms);
    if (!strcmp(command, "wait-icon") && extra == 1 && ParseMs(args[0], &ms))
        return WaitIcon(ms);
    if (!strcmp(command, "wait-icon-gone") && extra == 1 && ParseMs(args[0], &ms))
        return WaitIconGone(ms);
    if (!strcmp(command, "click") && extra == 1)
        return Click(args[0]);
    if (!strcmp(command, "tooltip") && extra <= 1) {
        ms = 3000;
        if (extra == 1 && !ParseMs(args[0], &ms))
            return Usage();
        return Tooltip(ms);
    }
    if (!strcmp(command, "wait-menu") && (extra == 1 || extra == 2) && ParseMs(args[0], &ms)) {
        DWORD count = 1;
        if (extra == 2 && (!ParseMs(args[1], &count) || count == 0 || count > 16))
            return Usage();
        return WaitMenu(ms, count);
    }
    if (!strcmp(command, "wait-menu-gone") && extra == 1 && ParseMs(args[0], &ms))
        return WaitMenuGone(ms);
    if (!strcmp(command, "menu-keys"))
        return MenuKeys(extra, args);
    if (!strcmp(command, "menu-rect") && extra == 0)
        return MenuRect();
    if (!strcmp(command, "menu-rects") && extra == 0)
        return MenuRects();
    if (!strcmp(command, "wait-box") && extra == 2 && ParseMs(args[1], &ms))
        return WaitBox(args[0], ms);
    if (!strcmp(command, "box") && extra <= 1)
        return PrintBox(extra == 1 ? args[0] : NULL);
    if (!strcmp(command, "answer") && extra == 2)
        return Answer(args[0], args[1]);
    if (!strcmp(command, "close") && extra == 0)
        return CloseGhostWindow() ? 0 : Fail("no ghost window");
    if (!strcmp(command, "register-java") && (extra == 1 || extra == 2))
        return RegisterJavaRuntime(args[0], extra == 2 ? args[1] : "1.4") ? 0 : Fail("cannot write the registry");
    if (!strcmp(command, "unregister-java") && extra == 0)
        return UnregisterJavaRuntimes() ? 0 : Fail("cannot change the registry");
    if (!strcmp(command, "windows") && extra == 0) {
        EnumWindows(PrintWindow, 0);
        return 0;
    }
    return Usage();
}
