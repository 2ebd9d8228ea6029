// The modal and shell parts of the stand-in: message boxes and popup menus answered by the
// test's handlers, the tray, the cursor, the foreground, resources and icons, and the control
// calls that reset and count everything.
#include "state.h"

#include <chrono>
#include <map>
#include <set>
#include <vector>

namespace winstub {
namespace {

struct TrayIcon {
    HWND hwnd;
    UINT id;
    UINT flags = 0;
    UINT callbackMessage = 0;
    HICON icon = nullptr;
    std::string tip;
};

struct ShellState {
    std::function<int(const WinStubMessageBox&)> boxHandler;
    std::vector<WinStubMessageBox> boxes;
    std::function<UINT(HMENU, UINT, int, int, HWND)> trackHandler;
    std::vector<WinStubTrackCall> trackCalls;
    std::vector<WinStubTrayCall> trayCalls;
    std::vector<TrayIcon> tray;
    std::vector<HWND> foreground;
    HWND foregroundWindow = nullptr;
    std::vector<DWORD> foregroundAllowed;
    POINT cursor{100, 100};
    RECT iconRect{92, 92, 108, 108};  // the pointer rests on it after Reset
    SIZE screen{1920, 1080};
    std::map<UINT, std::string> strings;
    std::vector<WinStubResourceIcon> icons;  // names copied into iconNames
    std::vector<std::string> iconNames;
    std::set<uintptr_t> liveIcons;           // icons made by LoadImageA without LR_SHARED
    std::map<std::string, uintptr_t> sharedIcons;
    std::vector<WinStubLoadImageCall> loadImageCalls;
    SIZE smallIcon{16, 16};
};
ShellState& S() {
    static ShellState* state = new ShellState;
    return *state;
}

HMODULE const kMainModule = reinterpret_cast<HMODULE>(0x400000);
uintptr_t const kSharedBase = 0xF000;  // stock icons and cursors: below every counted handle

bool IsMain(HINSTANCE module) { return module == kMainModule; }

// The key of an icon resource name: "#<id>" for a numeric one, else the upper-cased name,
// as resource names compare without regard to case.
std::string IconKey(LPCSTR name) {
    if (IS_INTRESOURCE(name)) return "#" + std::to_string(reinterpret_cast<uintptr_t>(name));
    std::string key = name;
    for (char& c : key)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return key;
}

bool HasIcon(LPCSTR name) {
    std::string key = IconKey(name);
    for (size_t i = 0; i < S().icons.size(); ++i) {
        const WinStubResourceIcon& icon = S().icons[i];
        std::string have = icon.name ? IconKey(S().iconNames[i].c_str()) : "#" + std::to_string(icon.id);
        if (have == key) return true;
    }
    return false;
}

// Buttons of each MB_ type, in order; the default button is picked from these.
std::vector<int> Buttons(UINT type) {
    switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL: return {IDOK, IDCANCEL};
    case MB_ABORTRETRYIGNORE: return {IDABORT, IDRETRY, IDIGNORE};
    case MB_YESNOCANCEL: return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO: return {IDYES, IDNO};
    case MB_RETRYCANCEL: return {IDRETRY, IDCANCEL};
    case MB_CANCELTRYCONTINUE: return {IDCANCEL, IDTRYAGAIN, IDCONTINUE};
    default: return {IDOK};
    }
}

TrayIcon* FindIcon(HWND hwnd, UINT id) {
    for (TrayIcon& icon : S().tray)
        if (icon.hwnd == hwnd && icon.id == id) return &icon;
    return nullptr;
}

void Apply(TrayIcon& icon, const NOTIFYICONDATAA& data) {
    icon.flags |= data.uFlags;
    if (data.uFlags & NIF_MESSAGE) icon.callbackMessage = data.uCallbackMessage;
    if (data.uFlags & NIF_ICON) icon.icon = data.hIcon;
    if (data.uFlags & NIF_TIP) icon.tip.assign(data.szTip, strnlen(data.szTip, sizeof data.szTip));
}

// The pointer reaches an icon whose window is gone: Windows drops it then. Lock held.
bool DropIfOrphan(size_t index) {
    if (IsLiveWindow(S().tray[index].hwnd)) return false;
    S().tray.erase(S().tray.begin() + static_cast<std::ptrdiff_t>(index));
    return true;
}

// A modal loop pumps its thread's queue all the while: such a thread is never hung. RAII over
// the handler's run; the lock is released meanwhile.
struct InModalLoop {
    ThreadState& me;
    explicit InModalLoop(ThreadState& thread) : me(thread) {
        Pumped(me);
        ++me.waiting;
    }
    ~InModalLoop() {
        Guard lock(Lock());
        Pumped(me);
        --me.waiting;
    }
};

}  // namespace

void ResetShell() {
    ShellState& s = S();
    s.boxHandler = nullptr;
    s.boxes.clear();
    s.trackHandler = nullptr;
    s.trackCalls.clear();
    s.trayCalls.clear();
    s.tray.clear();
    s.foreground.clear();
    s.foregroundWindow = nullptr;
    s.foregroundAllowed.clear();
    s.cursor = POINT{100, 100};
    s.iconRect = RECT{92, 92, 108, 108};
    s.screen = SIZE{1920, 1080};
    s.liveIcons.clear();
    s.loadImageCalls.clear();
    s.smallIcon = SIZE{16, 16};
}

int LiveIcons() { return static_cast<int>(S().liveIcons.size()); }
int LiveTrayIcons() { return static_cast<int>(S().tray.size()); }

HMODULE MainModule() { return kMainModule; }

}  // namespace winstub

using namespace winstub;

// ---- control ----

void WinStub_Reset() {
    Guard lock(Lock());
    ResetShell();
    ResetMenus();
    ResetWindows();
    ResetRegistry();
    ResetKernel();
    ResetModule();
    ResetFaults();
    ResetStrings();
    ResetEnvironment();
    ResetSession();
}

WinStubLive WinStub_LiveHandles() {
    Guard lock(Lock());
    return WinStubLive{LiveMenus(),   LiveWindows(),       LiveIcons(),  LiveTrayIcons(),
                       LiveRegKeys(), LiveKernelHandles(), LiveModules()};
}

void WinStub_SetMessageBoxHandler(std::function<int(const WinStubMessageBox&)> handler) {
    Guard lock(Lock());
    S().boxHandler = std::move(handler);
}

std::vector<WinStubMessageBox> WinStub_MessageBoxes() {
    Guard lock(Lock());
    return S().boxes;
}

void WinStub_SetTrackPopupMenuHandler(std::function<UINT(HMENU, UINT, int, int, HWND)> handler) {
    Guard lock(Lock());
    S().trackHandler = std::move(handler);
}

std::vector<WinStubTrackCall> WinStub_TrackCalls() {
    Guard lock(Lock());
    return S().trackCalls;
}

int WinStub_ServeSentMessages(DWORD waitMs) {
    Guard lock(Lock());
    int served = 0;
    ThreadState& me = Me();
    Pumped(me);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs == INFINITE ? 0 : waitMs);
    ++me.waiting;
    while (me.sent.empty() && waitMs) {
        if (waitMs == INFINITE)
            Changed().wait(lock);
        else if (Changed().wait_until(lock, deadline) == std::cv_status::timeout)
            break;
    }
    --me.waiting;
    while (ServeOneSent(lock)) ++served;
    return served;
}

void WinStub_SetSmallIconSize(int cx, int cy) {
    Guard lock(Lock());
    S().smallIcon = SIZE{cx, cy};
}

void WinStub_SetScreenSize(int cx, int cy) {
    Guard lock(Lock());
    S().screen = SIZE{cx, cy};
}

std::vector<WinStubLoadImageCall> WinStub_LoadImageCalls() {
    Guard lock(Lock());
    return S().loadImageCalls;
}

std::vector<WinStubTrayCall> WinStub_TrayCalls() {
    Guard lock(Lock());
    return S().trayCalls;
}

size_t WinStub_TrayIconCount() {
    Guard lock(Lock());
    return S().tray.size();
}

size_t WinStub_MouseOverTray() {
    Guard lock(Lock());
    size_t gone = 0;
    for (size_t i = S().tray.size(); i-- > 0;)
        if (DropIfOrphan(i)) ++gone;
    return gone;
}

bool WinStub_ClickTrayIcon(HWND hwnd, UINT id, UINT mouseMessage) {
    Guard lock(Lock());
    TrayIcon* icon = FindIcon(hwnd, id);
    if (!icon || DropIfOrphan(static_cast<size_t>(icon - S().tray.data()))) return false;
    return PostLocked(icon->hwnd, icon->callbackMessage, id, static_cast<LPARAM>(mouseMessage));
}

void WinStub_RecreateTaskbar() {
    Guard lock(Lock());
    S().tray.clear();
    UINT message = RegisterMessageLocked("TaskbarCreated");
    if (!PassesFromLowerIntegrity(message)) return;  // Explorer's medium integrity: dropped (UIPI)
    for (HWND hwnd : LiveTopLevelWindows()) PostLocked(hwnd, message, 0, 0);
}

std::vector<HWND> WinStub_ForegroundCalls() {
    Guard lock(Lock());
    return S().foreground;
}

std::vector<DWORD> WinStub_ForegroundAllowCalls() {
    Guard lock(Lock());
    return S().foregroundAllowed;
}

void WinStub_SetCursorPos(POINT pt) {
    Guard lock(Lock());
    S().cursor = pt;
}

void WinStub_SetTrayIconRect(RECT rect) {
    Guard lock(Lock());
    S().iconRect = rect;
}

void WinStub_RegisterResources(const WinStubResourceString* strings, const WinStubResourceIcon* icons) {
    Guard lock(Lock());
    for (; strings && strings->text; ++strings) S().strings[strings->id] = strings->text;
    for (; icons && (icons->name || icons->id); ++icons) {
        if (icons->name ? HasIcon(icons->name) : HasIcon(MAKEINTRESOURCEA(icons->id))) continue;
        S().iconNames.push_back(icons->name ? icons->name : "");
        S().icons.push_back(*icons);
    }
}

// ---- USER32 ----

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    Guard lock(Lock());
    if (owner && !IsLiveWindow(owner)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    WinStubMessageBox box{owner, text ? text : "", caption ? caption : "Error", type, Me().id, Me().dpiAwareness};
    S().boxes.push_back(box);
    // A modal loop starts by serving what other threads have sent us.
    while (ServeOneSent(lock)) {
    }
    auto handler = S().boxHandler;
    InModalLoop modal(Me());
    lock.unlock();
    if (handler) return handler(box);
    std::vector<int> buttons = Buttons(type);
    size_t index = (type & MB_DEFMASK) >> 8;
    return buttons[index < buttons.size() ? index : 0];
}

BOOL WINAPI TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int, HWND owner, const RECT*) {
    if (!IsMenu(menu)) {
        SetLastError(ERROR_INVALID_MENU_HANDLE);
        return FALSE;
    }
    Guard lock(Lock());
    S().trackCalls.push_back(WinStubTrackCall{menu, flags, x, y, owner, Me().id, Me().dpiAwareness});
    while (ServeOneSent(lock)) {
    }
    auto handler = S().trackHandler;
    UINT command = 0;
    {
        InModalLoop modal(Me());
        lock.unlock();
        if (handler) command = handler(menu, flags, x, y, owner);
    }
    if (flags & TPM_RETURNCMD) return static_cast<BOOL>(command);
    if (command && !(flags & TPM_NONOTIFY)) PostMessageA(owner, WM_COMMAND, command, 0);
    return TRUE;
}

BOOL WINAPI GetCursorPos(LPPOINT pt) {
    Guard lock(Lock());
    if (TakeFault(WinStubFault::GetCursorPos)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (!pt) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    *pt = S().cursor;
    return TRUE;
}

// No foreground lock is modelled: every call of a live window succeeds.
BOOL WINAPI SetForegroundWindow(HWND hwnd) {
    Guard lock(Lock());
    S().foreground.push_back(hwnd);
    if (!IsLiveWindow(hwnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    S().foregroundWindow = hwnd;
    return TRUE;
}

// The window last made foreground while it lives; NULL once it is gone (Windows would activate
// another, which no test needs).
HWND WINAPI GetForegroundWindow(void) {
    Guard lock(Lock());
    return IsLiveWindow(S().foregroundWindow) ? S().foregroundWindow : nullptr;
}

BOOL WINAPI PtInRect(const RECT* rect, POINT pt) {
    return rect && pt.x >= rect->left && pt.x < rect->right && pt.y >= rect->top && pt.y < rect->bottom;
}

// Recorded only: the stand-in has no foreground rules for it to relax.
BOOL WINAPI AllowSetForegroundWindow(DWORD processId) {
    Guard lock(Lock());
    S().foregroundAllowed.push_back(processId);
    return TRUE;
}

int WINAPI LoadStringA(HINSTANCE module, UINT id, LPSTR buffer, int size) {
    // Wine: a zero size answers -1 and touches nothing (the W form would hand out a pointer).
    if (size <= 0) return -1;
    if (!buffer) return 0;
    Guard lock(Lock());
    auto it = S().strings.end();
    bool blockExists = false;
    if (!module || IsMain(module)) {
        it = S().strings.find(id & 0xFFFF);
        // Strings live in blocks of 16; a missing string of an existing block is just empty.
        for (auto& entry : S().strings)
            if ((entry.first >> 4) == ((id & 0xFFFF) >> 4)) blockExists = true;
    }
    if (it == S().strings.end()) {
        if (!blockExists) SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        buffer[0] = 0;
        return 0;
    }
    size_t n = it->second.size();
    if (n > static_cast<size_t>(size - 1)) n = static_cast<size_t>(size - 1);
    memcpy(buffer, it->second.data(), n);
    buffer[n] = 0;
    return static_cast<int>(n);
}

// The icon handle LoadImageA gives, or nullptr with the last error set. Lock held.
static HANDLE LoadIconImage(HINSTANCE module, LPCSTR name, UINT type, UINT flags) {
    if (TakeFault(WinStubFault::LoadImage)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (!name || !IsMain(module) || (flags & LR_LOADFROMFILE) || type != IMAGE_ICON) {
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return nullptr;
    }
    if (S().icons.empty()) {
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return nullptr;
    }
    if (!HasIcon(name)) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    if (flags & LR_SHARED) {
        uintptr_t& shared = S().sharedIcons[IconKey(name)];
        if (!shared) shared = NewUserHandle();
        return reinterpret_cast<HANDLE>(shared);
    }
    uintptr_t h = NewUserHandle();
    S().liveIcons.insert(h);
    return reinterpret_cast<HANDLE>(h);
}

HANDLE WINAPI LoadImageA(HINSTANCE module, LPCSTR name, UINT type, int cx, int cy, UINT flags) {
    Guard lock(Lock());
    HANDLE result = LoadIconImage(module, name, type, flags);
    WinStubLoadImageCall call{module, "", 0, type, cx, cy, flags, result};
    if (name && IS_INTRESOURCE(name))
        call.id = static_cast<UINT>(reinterpret_cast<uintptr_t>(name));
    else if (name)
        call.name = name;
    S().loadImageCalls.push_back(call);
    return result;
}

int WINAPI GetSystemMetrics(int index) {
    Guard lock(Lock());
    SIZE small = S().smallIcon;
    SIZE screen = S().screen;
    if (SeesVirtualizedDpi(Me(), small)) {
        // The screen in 96 DPI pixels: 1920x1080 at 150 % is 1280x720 to an unaware thread.
        screen = SIZE{screen.cx * 16 / small.cx, screen.cy * 16 / small.cy};
        small = SIZE{16, 16};
    }
    switch (index) {
    case SM_CXSCREEN: return screen.cx;
    case SM_CYSCREEN: return screen.cy;
    case SM_CXSMICON: return small.cx;
    case SM_CYSMICON: return small.cy;
    case SM_CXICON: return small.cx * 2;
    case SM_CYICON: return small.cy * 2;
    default: return 0;  // probed: unknown indexes answer 0 and leave the last error alone
    }
}

HICON WINAPI LoadIconA(HINSTANCE module, LPCSTR name) {
    if (!module) {
        uintptr_t id = reinterpret_cast<uintptr_t>(name);
        if (IS_INTRESOURCE(name) && id >= 32512 && id <= 32518) return reinterpret_cast<HICON>(kSharedBase + (id - 32512) * 2);
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    return static_cast<HICON>(LoadImageA(module, name, IMAGE_ICON, 0, 0, LR_SHARED | LR_DEFAULTSIZE));
}

HCURSOR WINAPI LoadCursorA(HINSTANCE module, LPCSTR name) {
    uintptr_t id = reinterpret_cast<uintptr_t>(name);
    if (!module && IS_INTRESOURCE(name) && id >= 32512 && id <= 32651)
        return reinterpret_cast<HCURSOR>(kSharedBase + 0x10 + (id - 32512) * 2);
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
}

BOOL WINAPI DestroyIcon(HICON icon) {
    Guard lock(Lock());
    uintptr_t value = reinterpret_cast<uintptr_t>(icon);
    if (S().liveIcons.erase(value)) return TRUE;
    // Shared icons (stock ones, LR_SHARED ones) survive DestroyIcon, which still answers TRUE.
    if (value >= kSharedBase && value < kSharedBase + 0x200) return TRUE;
    for (auto& shared : S().sharedIcons)
        if (shared.second == value) return TRUE;
    return FALSE;
}

HGDIOBJ WINAPI GetStockObject(int index) {
    if (index < 0 || index > 19) return nullptr;
    return reinterpret_cast<HGDIOBJ>(static_cast<uintptr_t>(0x01900010 + index * 4 + 0x10));
}

// ---- SHELL32 ----

// The icons live in Explorer, not in the window: as on Windows (Wine's tray drops them with the
// window), an icon whose window is gone stays until NIM_DELETE or until the pointer passes over
// it (WinStub_MouseOverTray), and NIM_DELETE and NIM_MODIFY still reach it by hWnd and uID.
// Windows 7 and later; only the icon's window and identifier name it here (the GUID is not
// modelled). Every icon has the one rectangle of WinStub_SetTrayIconRect.
HRESULT WINAPI winstub::NotifyIconGetRect(const NOTIFYICONIDENTIFIER* identifier, RECT* iconLocation) {
    Guard lock(Lock());
    if (!identifier || !iconLocation || identifier->cbSize != sizeof *identifier) return E_INVALIDARG;
    if (!FindIcon(identifier->hWnd, identifier->uID)) return E_FAIL;
    *iconLocation = S().iconRect;
    return S_OK;
}

BOOL WINAPI Shell_NotifyIconA(DWORD message, PNOTIFYICONDATAA data) {
    Guard lock(Lock());
    if (!data) return FALSE;
    // Wine reads the first-version fields whatever cbSize says (it accepts even 0); more only
    // when cbSize promises more.
    NOTIFYICONDATAA copy{};
    size_t n = NOTIFYICONDATAA_V1_SIZE;
    if (data->cbSize > n && data->cbSize <= sizeof copy) n = data->cbSize;
    memcpy(&copy, data, n);
    copy.szTip[sizeof copy.szTip - 1] = 0;

    BOOL result = FALSE;
    TrayIcon* icon = FindIcon(copy.hWnd, copy.uID);
    switch (message) {
    case NIM_ADD: {
        if (TakeFault(WinStubFault::NotifyIconAdd)) {
            SetLastError(ERROR_TIMEOUT);
            break;
        }
        // Explorer may add the icon and answer after the caller gave up waiting: the icon is
        // there, and the call says it failed.
        bool late = TakeFault(WinStubFault::NotifyIconAddTimesOut);
        if (!icon) {
            TrayIcon added;
            added.hwnd = copy.hWnd;
            added.id = copy.uID;
            Apply(added, copy);
            S().tray.push_back(added);
            result = TRUE;
        }
        if (late) {
            SetLastError(ERROR_TIMEOUT);
            result = FALSE;
        }
        break;
    }
    case NIM_MODIFY:
        if (icon) {
            Apply(*icon, copy);
            result = TRUE;
        } else {
            SetLastError(static_cast<DWORD>(E_FAIL));
        }
        break;
    case NIM_DELETE:
        if (icon) {
            S().tray.erase(S().tray.begin() + (icon - S().tray.data()));
            result = TRUE;
        }
        break;
    default:
        result = icon ? TRUE : FALSE;
        break;
    }
    S().trayCalls.push_back(WinStubTrayCall{message, copy, result});
    return result;
}
