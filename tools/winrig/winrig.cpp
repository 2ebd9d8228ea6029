// winrig: finding and driving another process's windows, watchdogged child
// processes, log files and the Java runtime registry entries.

#include "winrig.h"

#include <string.h>

namespace winrig {

namespace {

std::string ClassOf(HWND hwnd)
{
    char name[256];
    int length = GetClassNameA(hwnd, name, sizeof name);
    return std::string(name, length > 0 ? (size_t)length : 0);
}

struct TopLevelSearch {
    char const *className;
    DWORD pid;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectTopLevel(HWND hwnd, LPARAM param)
{
    TopLevelSearch *search = (TopLevelSearch *)param;
    if (search->className && ClassOf(hwnd) != search->className)
        return TRUE;
    if (search->pid != 0) {
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        if (pid != search->pid)
            return TRUE;
    }
    search->found.push_back(hwnd);
    return TRUE;
}

DWORD ProcessOf(HWND hwnd)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    return pid;
}

POINT CenterOf(HWND hwnd)
{
    RECT rect;
    POINT center = {0, 0};
    if (GetWindowRect(hwnd, &rect)) {
        center.x = (rect.left + rect.right) / 2;
        center.y = (rect.top + rect.bottom) / 2;
    }
    return center;
}

bool EqualsNoCase(std::string const &a, std::string const &b)
{
    return a.size() == b.size() && lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

std::string NameOf(std::string const &assignment)
{
    // Entries such as "=C:=C:\dir" keep the drive's current directory: their
    // name starts after the first character.
    size_t equals = assignment.find('=', 1);
    return assignment.substr(0, equals);
}

char const kJavaRootKey[] = "Software\\JavaSoft\\Java Runtime Environment";

bool SetText(HKEY key, char const *name, std::string const &value)
{
    return RegSetValueExA(key, name, 0, REG_SZ, (BYTE const *)value.c_str(), (DWORD)value.size() + 1)
           == ERROR_SUCCESS;
}

}  // namespace

// --- Waiting ---

DWORD ParseTimeScale(char const *text)
{
    if (!text || !*text)
        return 1;
    DWORD scale = 0;
    for (char const *c = text; *c; ++c) {
        if (*c < '0' || *c > '9' || scale > 100)
            return 1;
        scale = scale * 10 + (DWORD)(*c - '0');
    }
    return scale >= 1 && scale <= 100 ? scale : 1;
}

DWORD TimeScale()
{
    static DWORD const scale = [] {
        char text[16];
        DWORD length = GetEnvironmentVariableA("CHIMELET_TIME_SCALE", text, sizeof text);
        return ParseTimeScale(length > 0 && length < sizeof text ? text : NULL);
    }();
    return scale;
}

DWORD Scaled(DWORD ms)
{
    if (ms == INFINITE)
        return INFINITE;
    DWORD const scale = TimeScale();
    return ms > (INFINITE - 1) / scale ? INFINITE - 1 : ms * scale;
}

// --- Windows of any process ---

WindowFacts DescribeWindow(HWND hwnd)
{
    WindowFacts facts;
    facts.hwnd = hwnd;
    if (!hwnd || !IsWindow(hwnd))
        return facts;
    facts.exists = true;
    facts.visible = IsWindowVisible(hwnd) != FALSE;
    facts.pid = ProcessOf(hwnd);
    facts.style = GetWindowLongA(hwnd, GWL_STYLE);
    facts.exStyle = GetWindowLongA(hwnd, GWL_EXSTYLE);
    facts.owner = GetWindow(hwnd, GW_OWNER);
    GetWindowRect(hwnd, &facts.rect);
    facts.className = ClassOf(hwnd);
    char title[1024];
    int length = GetWindowTextA(hwnd, title, sizeof title);
    facts.title.assign(title, length > 0 ? (size_t)length : 0);
    return facts;
}

std::vector<HWND> FindTopLevelWindows(char const *className, DWORD pid)
{
    TopLevelSearch search = {className, pid, {}};
    EnumWindows(CollectTopLevel, (LPARAM)&search);
    return search.found;
}

std::vector<HWND> FindVisibleWindows(char const *className, DWORD pid)
{
    std::vector<HWND> visible;
    for (HWND hwnd : FindTopLevelWindows(className, pid)) {
        if (IsWindowVisible(hwnd))
            visible.push_back(hwnd);
    }
    return visible;
}

std::string SendGetText(HWND hwnd, DWORD timeoutMs)
{
    char text[1024];
    DWORD_PTR copied = 0;
    text[0] = '\0';
    if (!SendMessageTimeoutA(hwnd, WM_GETTEXT, sizeof text, (LPARAM)text, SMTO_ABORTIFHUNG, Scaled(timeoutMs),
                             &copied))
        return std::string();
    text[sizeof text - 1] = '\0';
    return text;
}

// --- The ghost window ---

HWND FindGhostWindow(DWORD pid)
{
    std::vector<HWND> windows = FindTopLevelWindows(kGhostWindowClass, pid);
    return windows.empty() ? NULL : windows.front();
}

bool CloseGhostWindow(DWORD pid)
{
    HWND ghost = FindGhostWindow(pid);
    return ghost && PostMessageA(ghost, WM_CLOSE, 0, 0);
}

// --- The tray icon ---

std::vector<HWND> FindTrayIcons()
{
    std::vector<HWND> icons;
    for (HWND tray : FindTopLevelWindows(kTrayWindowClass)) {
        HWND icon = NULL;
        while ((icon = FindWindowExA(tray, icon, kTrayIconClass, NULL)) != NULL)
            icons.push_back(icon);
    }
    return icons;
}

HWND FindTrayIcon()
{
    std::vector<HWND> icons = FindTrayIcons();
    return icons.size() == 1 ? icons.front() : NULL;
}

bool PostTrayMouse(HWND icon, UINT mouseMessage)
{
    // The position is the icon's own middle, in its client coordinates.
    RECT rect = {0, 0, 16, 16};
    GetClientRect(icon, &rect);
    LPARAM where = MAKELPARAM(rect.right / 2, rect.bottom / 2);
    WPARAM keys = 0;
    if (mouseMessage == WM_LBUTTONDOWN)
        keys = MK_LBUTTON;
    else if (mouseMessage == WM_RBUTTONDOWN)
        keys = MK_RBUTTON;
    return PostMessageA(icon, mouseMessage, keys, where) != FALSE;
}

bool ClickTrayIcon(HWND icon, bool rightButton)
{
    if (!icon || !IsWindow(icon))
        return false;
    POINT center = CenterOf(icon);
    SetCursorPos(center.x, center.y);
    if (!PostTrayMouse(icon, rightButton ? WM_RBUTTONDOWN : WM_LBUTTONDOWN))
        return false;
    return PostTrayMouse(icon, rightButton ? WM_RBUTTONUP : WM_LBUTTONUP);
}

std::string ReadTrayTooltip(HWND icon, DWORD timeoutMs)
{
    if (!icon || !IsWindow(icon))
        return std::string();
    DWORD trayProcess = ProcessOf(icon);
    POINT before;
    GetCursorPos(&before);

    // The tip opens on pointer motion the X server reports; a warp onto the
    // spot where the pointer already is reports none. So come from elsewhere,
    // in a few steps.
    POINT center = CenterOf(icon);
    SetCursorPos(center.x + 200, center.y + 200);
    Sleep(50);
    for (int step = 4; step >= 0; --step) {
        SetCursorPos(center.x + step, center.y);
        Sleep(30);
    }

    std::string text;
    WaitUntil(timeoutMs, [&] {
        for (HWND tip : FindVisibleWindows(kTooltipClass, trayProcess)) {
            text = SendGetText(tip);
            if (!text.empty())
                return true;
        }
        return false;
    }, 50);

    SetCursorPos(before.x, before.y);
    return text;
}

// --- Popup menus ---

std::vector<HWND> FindVisibleMenus(DWORD pid)
{
    return FindVisibleWindows(kMenuClass, pid);
}

UINT MenuKeyFromName(char const *name)
{
    static struct {
        char const *name;
        UINT key;
    } const keys[] = {
        {"down", VK_DOWN}, {"up", VK_UP}, {"left", VK_LEFT}, {"right", VK_RIGHT},
        {"return", VK_RETURN}, {"enter", VK_RETURN}, {"escape", VK_ESCAPE}, {"esc", VK_ESCAPE},
        {"home", VK_HOME}, {"end", VK_END},
    };
    if (!name)
        return 0;
    for (auto const &key : keys) {
        if (lstrcmpiA(name, key.name) == 0)
            return key.key;
    }
    return 0;
}

bool PostMenuKey(HWND menu, UINT virtualKey)
{
    // Repeat count 1 and the scan code; a release also has the previous-state
    // and transition bits.
    DWORD scan = MapVirtualKeyA(virtualKey, 0) & 0xFF;
    DWORD downBits = 1 | (scan << 16);
    LPARAM down = (LPARAM)downBits;
    LPARAM up = (LPARAM)(downBits | 0xC0000000u);
    return PostMessageA(menu, WM_KEYDOWN, virtualKey, down) && PostMessageA(menu, WM_KEYUP, virtualKey, up);
}

int WindowDpiAwareness(HWND hwnd)
{
    typedef HANDLE(WINAPI * WindowContextEntry)(HWND);
    typedef int(WINAPI * AwarenessEntry)(HANDLE);
    HMODULE user32 = GetModuleHandleA("user32.dll");
    WindowContextEntry windowContext =
        user32 ? (WindowContextEntry)(void *)GetProcAddress(user32, "GetWindowDpiAwarenessContext") : NULL;
    AwarenessEntry awareness =
        user32 ? (AwarenessEntry)(void *)GetProcAddress(user32, "GetAwarenessFromDpiAwarenessContext") : NULL;
    HANDLE context = windowContext && awareness ? windowContext(hwnd) : NULL;
    return context ? awareness(context) : -1;
}

bool VisibleMenusRect(RECT *outRect, DWORD pid)
{
    bool any = false;
    RECT all = {0, 0, 0, 0};
    for (HWND menu : FindVisibleMenus(pid)) {
        RECT rect;
        if (!GetWindowRect(menu, &rect))
            continue;
        if (!any)
            all = rect;
        else
            UnionRect(&all, &all, &rect);
        any = true;
    }
    if (any)
        *outRect = all;
    return any;
}

// --- Message boxes ---

HWND FindMessageBox(char const *caption, DWORD pid)
{
    for (HWND box : FindVisibleWindows(kDialogClass, pid)) {
        if (!caption || DescribeWindow(box).title == caption)
            return box;
    }
    return NULL;
}

MessageBoxFacts ReadMessageBox(HWND box)
{
    MessageBoxFacts facts;
    WindowFacts window = DescribeWindow(box);
    if (!window.exists)
        return facts;
    facts.hwnd = box;
    facts.pid = window.pid;
    facts.caption = window.title;

    char text[1024];
    int length = GetDlgItemTextA(box, kMessageBoxTextId, text, sizeof text);
    facts.text.assign(text, length > 0 ? (size_t)length : 0);

    static int const ids[] = {IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO, IDTRYAGAIN, IDCONTINUE};
    for (int id : ids) {
        HWND button = GetDlgItem(box, id);
        if (button && IsWindowVisible(button))
            facts.buttons.push_back(id);
    }
    return facts;
}

bool AnswerMessageBox(HWND box, int buttonId)
{
    HWND button = GetDlgItem(box, buttonId);
    if (!button || !IsWindowVisible(button))
        return false;
    return PostMessageA(button, BM_CLICK, 0, 0) != FALSE;
}

int ButtonFromName(char const *name)
{
    if (!name)
        return 0;
    if (lstrcmpiA(name, "ok") == 0)
        return IDOK;
    if (lstrcmpiA(name, "yes") == 0)
        return IDYES;
    if (lstrcmpiA(name, "no") == 0)
        return IDNO;
    if (lstrcmpiA(name, "cancel") == 0)
        return IDCANCEL;
    return 0;
}

// --- Processes under a watchdog ---

std::string EditEnvironment(std::vector<std::string> const &entries, std::vector<std::string> const &changes)
{
    std::vector<std::string> edited = entries;
    for (std::string const &change : changes) {
        std::string name = NameOf(change);
        if (name.empty())
            continue;
        for (size_t i = 0; i < edited.size();) {
            if (EqualsNoCase(NameOf(edited[i]), name))
                edited.erase(edited.begin() + i);
            else
                ++i;
        }
        if (change.find('=', 1) != std::string::npos)
            edited.push_back(change);
    }

    std::string block;
    for (std::string const &entry : edited) {
        if (entry.empty())
            continue;  // an empty entry would end the block early
        block += entry;
        block += '\0';
    }
    if (block.empty())
        block += '\0';
    block += '\0';
    return block;
}

bool StartChild(std::string const &exe, std::string const &arguments, std::string const &dir,
                std::vector<std::string> const &environment, Child *out, std::string *error)
{
    *out = Child();
    std::string commandLine = "\"" + exe + "\"";
    if (!arguments.empty())
        commandLine += " " + arguments;
    std::vector<char> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back('\0');
    std::vector<std::string> entries;
    char *current = GetEnvironmentStringsA();
    if (current) {
        for (char const *p = current; *p; p += strlen(p) + 1)
            entries.push_back(p);
        FreeEnvironmentStringsA(current);
    }
    std::string block = EditEnvironment(entries, environment);

    STARTUPINFOA startup;
    PROCESS_INFORMATION info;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    memset(&info, 0, sizeof info);
    if (!CreateProcessA(exe.c_str(), mutableLine.data(), NULL, NULL, FALSE, 0, (void *)block.data(),
                        dir.empty() ? NULL : dir.c_str(), &startup, &info)) {
        if (error)
            *error = "CreateProcessA(" + exe + ") failed, error " + std::to_string(GetLastError());
        return false;
    }
    CloseHandle(info.hThread);
    out->process = info.hProcess;
    out->pid = info.dwProcessId;
    return true;
}

WaitResult WaitChild(Child *child, DWORD timeoutMs, DWORD *exitCode)
{
    if (!child->process)
        return WaitResult::Failed;
    WaitResult result = WaitResult::Exited;
    DWORD waited = WaitForSingleObject(child->process, Scaled(timeoutMs));
    if (waited == WAIT_TIMEOUT) {
        result = WaitResult::TimedOut;
        TerminateProcess(child->process, 0xDEAD);
        waited = WaitForSingleObject(child->process, Scaled(10000));
    }
    if (waited != WAIT_OBJECT_0)
        return WaitResult::Failed;
    DWORD code = 0;
    GetExitCodeProcess(child->process, &code);
    if (exitCode)
        *exitCode = code;
    return result;
}

bool ChildRunning(Child const &child)
{
    return child.process && WaitForSingleObject(child.process, 0) == WAIT_TIMEOUT;
}

void EndChild(Child *child)
{
    if (!child->process)
        return;
    if (ChildRunning(*child)) {
        TerminateProcess(child->process, 0xDEAD);
        WaitForSingleObject(child->process, 10000);
    }
    CloseHandle(child->process);
    *child = Child();
}

// --- Files ---

std::string ReadFileText(std::string const &path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return std::string();
    std::string text;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, NULL) && got > 0)
        text.append(chunk, got);
    CloseHandle(file);
    return text;
}

bool WriteFileText(std::string const &path, std::string const &text)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool ok = WriteFile(file, text.data(), (DWORD)text.size(), &written, NULL) && written == text.size();
    CloseHandle(file);
    return ok;
}

std::vector<std::string> ReadLines(std::string const &path)
{
    std::vector<std::string> lines;
    std::string text = ReadFileText(path);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        size_t stop = end;
        if (stop > start && text[stop - 1] == '\r')
            --stop;
        lines.push_back(text.substr(start, stop - start));
        start = end + 1;
    }
    return lines;
}

int CountLinesWithPrefix(std::string const &path, std::string const &prefix)
{
    int count = 0;
    for (std::string const &line : ReadLines(path)) {
        if (line.compare(0, prefix.size(), prefix) == 0)
            ++count;
    }
    return count;
}

bool WaitForLines(std::string const &path, std::string const &prefix, int count, DWORD timeoutMs)
{
    return WaitUntil(timeoutMs, [&] { return CountLinesWithPrefix(path, prefix) >= count; }, 25);
}

std::string ProgramDirectory()
{
    char path[MAX_PATH * 4];
    DWORD length = GetModuleFileNameA(NULL, path, sizeof path);
    if (length == 0 || length >= sizeof path)
        return std::string();
    std::string full(path, length);
    size_t slash = full.find_last_of('\\');
    return slash == std::string::npos ? std::string() : full.substr(0, slash);
}

// --- Java runtime registry entries ---

bool RegisterJavaRuntime(std::string const &runtimeLib, std::string const &version)
{
    HKEY root;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kJavaRootKey, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &root, NULL)
        != ERROR_SUCCESS)
        return false;
    bool ok = SetText(root, "CurrentVersion", version);
    HKEY versionKey;
    if (ok && RegCreateKeyExA(root, version.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &versionKey, NULL)
                  == ERROR_SUCCESS) {
        std::string home = runtimeLib.substr(0, runtimeLib.find_last_of('\\') + 1);
        ok = SetText(versionKey, "JavaHome", home.empty() ? "C:\\" : home)
             && SetText(versionKey, "MicroVersion", "2")
             && SetText(versionKey, "RuntimeLib", runtimeLib);
        RegCloseKey(versionKey);
    } else {
        ok = false;
    }
    RegCloseKey(root);
    return ok;
}

bool UnregisterJavaRuntimes()
{
    LONG result = RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\JavaSoft");
    return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
}

}  // namespace winrig
