// USER32 windows and messages: classes, top-level windows owned by threads, posted and sent
// messages, timers, the atom table behind RegisterClassA and RegisterWindowMessageA.
#include "state.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <optional>
#include <thread>
#include <vector>

namespace winstub {
namespace {

struct WindowClass {
    std::string name;
    ATOM atom;
    WNDPROC proc;
};

struct Window {
    HWND hwnd;
    ATOM classAtom;
    std::string title;
    DWORD style, exStyle;
    DWORD threadId;
    WNDPROC proc;
    int dpiAwareness;  // its thread's when it was made: Windows fixes it then
    bool destroying = false;
};

// A timer is no queued message: WM_TIMER is made when its thread asks for a message, finds
// none posted, and the time has come. So at most one is ever pending per timer.
struct Timer {
    HWND hwnd;         // nullptr for a thread timer
    UINT_PTR id;
    DWORD threadId;    // whose queue gets WM_TIMER: the window's thread, or the caller's
    Clock::duration period;
    Clock::time_point due;
    TIMERPROC proc;
};

struct WindowState {
    std::map<std::string, ATOM> atoms;          // lower-case name -> atom, never forgotten
    ATOM nextAtom = 0xC000;
    std::map<ATOM, WindowClass> classes;
    std::vector<std::shared_ptr<Window>> windows;  // newest first, as the z-order finds them
    std::vector<Timer> timers;
};
WindowState& W() {
    static WindowState* state = new WindowState;
    return *state;
}

std::shared_ptr<Window> Find(HWND hwnd) {
    for (auto& w : W().windows)
        if (w->hwnd == hwnd) return w;
    return nullptr;
}

// A window's timers go with it.
void Forget(HWND hwnd) {
    auto& list = W().windows;
    list.erase(std::remove_if(list.begin(), list.end(), [hwnd](const std::shared_ptr<Window>& w) { return w->hwnd == hwnd; }),
               list.end());
    auto& timers = W().timers;
    timers.erase(std::remove_if(timers.begin(), timers.end(), [hwnd](const Timer& t) { return t.hwnd == hwnd; }),
                 timers.end());
}

// A window timer is named by (hwnd, id) whatever thread asks; a thread timer by (thread, id).
Timer* FindTimer(HWND hwnd, UINT_PTR id, DWORD threadId) {
    for (Timer& t : W().timers)
        if (t.hwnd == hwnd && t.id == id && (hwnd || t.threadId == threadId)) return &t;
    return nullptr;
}

bool WantsTimer(HWND filter, UINT first, UINT last, const Timer& t) {
    if ((first || last) && (WM_TIMER < first || WM_TIMER > last)) return false;
    return !filter || t.hwnd == filter;
}

// The earliest timer of this thread that the filter lets through, due or not.
Timer* NextTimer(const ThreadState& me, HWND filter, UINT first, UINT last) {
    Timer* next = nullptr;
    for (Timer& t : W().timers)
        if (t.threadId == me.id && WantsTimer(filter, first, last, t) && (!next || t.due < next->due)) next = &t;
    return next;
}

// WM_TIMER for the earliest due timer, if any. Taking it moves the timer to its next period on
// its own grid: periods missed while the thread was busy are skipped, not made up (probed: a
// 50 ms timer after a 170 ms stall fires again 30 ms later). A peek without PM_REMOVE leaves it.
bool TakeTimer(const ThreadState& me, HWND filter, UINT first, UINT last, bool remove, MSG* out) {
    Timer* t = NextTimer(me, filter, first, last);
    Clock::time_point now = Clock::now();
    if (!t || t->due > now) return false;
    MSG msg{};
    msg.hwnd = t->hwnd;
    msg.message = WM_TIMER;
    msg.wParam = t->id;
    msg.lParam = reinterpret_cast<LPARAM>(t->proc);
    msg.time = GetTickCount();
    *out = msg;
    if (remove) t->due += t->period * ((now - t->due) / t->period + 1);
    return true;
}

ATOM AtomFor(const char* name) {
    std::string key = Lower(name);
    auto it = W().atoms.find(key);
    if (it != W().atoms.end()) return it->second;
    if (W().nextAtom == 0) return 0;  // table full after 16384 names
    ATOM atom = W().nextAtom++;
    W().atoms[key] = atom;
    return atom;
}

const WindowClass* FindClass(LPCSTR name) {
    if (!name) return nullptr;
    ATOM atom;
    if (IS_INTRESOURCE(name)) {
        atom = static_cast<ATOM>(reinterpret_cast<uintptr_t>(name));
    } else {
        auto it = W().atoms.find(Lower(name));
        if (it == W().atoms.end()) return nullptr;
        atom = it->second;
    }
    auto it = W().classes.find(atom);
    return it == W().classes.end() ? nullptr : &it->second;
}

// Styles as Wine reports them for a top-level window: clip-siblings always, a caption unless
// it is a popup, and the window edge for anything with a dialog frame or caption.
void FixStyles(DWORD* style, DWORD* exStyle) {
    *style |= WS_CLIPSIBLINGS;
    if (!(*style & WS_POPUP)) *style |= WS_CAPTION;
    if ((*style & WS_DLGFRAME) || (*exStyle & WS_EX_DLGMODALFRAME) || !(*style & WS_POPUP))
        *exStyle |= WS_EX_WINDOWEDGE;
    else
        *exStyle &= ~static_cast<DWORD>(WS_EX_WINDOWEDGE);
}

// Runs the window procedure as Windows does, in the DPI awareness the window was made in,
// whatever the thread's now, and gives the thread its own back afterwards (probed under Wine 8:
// a message sent to a system-aware window, served while its per-monitor-aware thread waited,
// ran system-aware). Lock held on entry and on return; released while the procedure runs.
LRESULT CallWindowProcedure(Guard& lock, const Window& w, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    ThreadState& me = Me();
    int const had = me.dpiAwareness;
    me.dpiAwareness = w.dpiAwareness;
    WNDPROC proc = w.proc;
    lock.unlock();
    LRESULT result = proc(hwnd, message, wParam, lParam);
    lock.lock();
    me.dpiAwareness = had;
    return result;
}

bool TakePosted(ThreadState& me, HWND filter, UINT first, UINT last, bool remove, MSG* out) {
    for (auto it = me.posted.begin(); it != me.posted.end(); ++it) {
        if (filter && it->hwnd != filter) continue;
        if ((first || last) && (it->message < first || it->message > last)) continue;
        *out = *it;
        if (remove) me.posted.erase(it);
        return true;
    }
    return false;
}

}  // namespace

bool EqualNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
    return true;
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool IsLiveWindow(HWND hwnd) { return hwnd && Find(hwnd) != nullptr; }

std::vector<HWND> LiveTopLevelWindows() {
    std::vector<HWND> result;
    for (auto& w : W().windows) result.push_back(w->hwnd);
    return result;
}

UINT RegisterMessageLocked(const char* name) { return AtomFor(name); }

bool PostLocked(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    std::shared_ptr<ThreadState> target;
    if (!hwnd) {
        target = FindThread(Me().id);
    } else {
        std::shared_ptr<Window> w = Find(hwnd);
        if (!w) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return false;
        }
        target = FindThread(w->threadId);
    }
    if (!target) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }
    MSG msg{};
    msg.hwnd = hwnd;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.time = GetTickCount();
    target->posted.push_back(msg);
    Changed().notify_all();
    return true;
}

bool ServeOneSent(Guard& lock) {
    ThreadState& me = Me();
    if (me.sent.empty()) return false;
    Pumped(me);
    std::shared_ptr<SentMessage> sent = me.sent.front();
    me.sent.pop_front();
    std::shared_ptr<Window> w = Find(sent->hwnd);
    LRESULT result = 0;
    if (w) result = CallWindowProcedure(lock, *w, sent->hwnd, sent->message, sent->wParam, sent->lParam);
    sent->result = result;
    sent->done = true;
    Changed().notify_all();
    return true;
}

// Windows of an ended thread vanish without messages: the thread cannot run their procedure.
// Their timers and the thread's own go too.
void DestroyThreadWindows(DWORD threadId) {
    auto& list = W().windows;
    list.erase(std::remove_if(list.begin(), list.end(),
                              [threadId](const std::shared_ptr<Window>& w) { return w->threadId == threadId; }),
               list.end());
    auto& timers = W().timers;
    timers.erase(std::remove_if(timers.begin(), timers.end(), [threadId](const Timer& t) { return t.threadId == threadId; }),
                 timers.end());
}

void ResetWindows() {
    W().windows.clear();
    W().classes.clear();
    W().timers.clear();
}

int LiveWindows() { return static_cast<int>(W().windows.size()); }

}  // namespace winstub

using namespace winstub;

ATOM WINAPI RegisterClassA(const WNDCLASSA* wc) {
    Guard lock(Lock());
    if (!wc || !wc->lpszClassName || IS_INTRESOURCE(wc->lpszClassName) || !wc->lpfnWndProc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (FindClass(wc->lpszClassName)) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    ATOM atom = AtomFor(wc->lpszClassName);
    if (!atom) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    W().classes[atom] = WindowClass{wc->lpszClassName, atom, wc->lpfnWndProc};
    return atom;
}

UINT WINAPI RegisterWindowMessageA(LPCSTR name) {
    if (!name || !*name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    Guard lock(Lock());
    return AtomFor(name);
}

HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR title, DWORD style, int x, int y, int width,
                            int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param) {
    Guard lock(Lock());
    if (TakeFault(WinStubFault::CreateWindow)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    const WindowClass* cls = FindClass(className);
    if (!cls) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return nullptr;
    }
    if (parent || (style & WS_CHILD)) {  // only top-level windows are modelled
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto w = std::make_shared<Window>();
    w->hwnd = reinterpret_cast<HWND>(NewUserHandle());
    w->classAtom = cls->atom;
    w->title = title ? title : "";
    w->style = style;
    w->exStyle = exStyle;
    FixStyles(&w->style, &w->exStyle);
    w->threadId = Me().id;
    w->proc = cls->proc;
    w->dpiAwareness = Me().dpiAwareness;
    W().windows.insert(W().windows.begin(), w);

    CREATESTRUCTA cs{};
    cs.lpCreateParams = param;
    cs.hInstance = instance;
    cs.hMenu = menu;
    cs.hwndParent = parent;
    cs.x = x;
    cs.y = y;
    cs.cx = width;
    cs.cy = height;
    cs.style = static_cast<LONG>(w->style);
    cs.lpszName = title;
    cs.lpszClass = className;
    cs.dwExStyle = w->exStyle;
    if (CallWindowProcedure(lock, *w, w->hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
        // Wine sends only WM_NCDESTROY to a window whose WM_CREATE refused.
        CallWindowProcedure(lock, *w, w->hwnd, WM_NCDESTROY, 0, 0);
        Forget(w->hwnd);
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    if (!Find(w->hwnd)) {  // destroyed from inside WM_CREATE
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    return w->hwnd;
}

BOOL WINAPI DestroyWindow(HWND hwnd) {
    Guard lock(Lock());
    std::shared_ptr<Window> w = Find(hwnd);
    // Wine answers ERROR_ACCESS_DENIED both for another thread's window and for no window at all.
    if (!w || w->threadId != Me().id) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (w->destroying) return TRUE;
    w->destroying = true;
    CallWindowProcedure(lock, *w, hwnd, WM_DESTROY, 0, 0);
    CallWindowProcedure(lock, *w, hwnd, WM_NCDESTROY, 0, 0);
    Forget(hwnd);
    return TRUE;
}

LRESULT WINAPI DefWindowProcA(HWND hwnd, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_CLOSE:
        DestroyWindow(hwnd);
        return 0;
    case WM_SYSCOMMAND:
        // Alt+F4 and the system menu's Close arrive as SC_CLOSE; the low four bits are Windows's own.
        if ((wParam & 0xFFF0) == SC_CLOSE) SendMessageA(hwnd, WM_CLOSE, 0, 0);
        return 0;
    case WM_QUERYENDSESSION:
        return TRUE;  // the session may end
    default:
        return 0;
    }
}

// Every window here is this process's. No window: 0, ERROR_INVALID_WINDOW_HANDLE and the
// process id left as it was (probed).
DWORD WINAPI GetWindowThreadProcessId(HWND hwnd, LPDWORD processId) {
    Guard lock(Lock());
    std::shared_ptr<Window> w = Find(hwnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (processId) *processId = GetCurrentProcessId();
    return w->threadId;
}

BOOL WINAPI IsWindow(HWND hwnd) {
    Guard lock(Lock());
    return IsLiveWindow(hwnd) ? TRUE : FALSE;
}

BOOL WINAPI IsWindowVisible(HWND hwnd) {
    Guard lock(Lock());
    std::shared_ptr<Window> w = Find(hwnd);
    return w && (w->style & WS_VISIBLE) ? TRUE : FALSE;
}

LONG WINAPI GetWindowLongA(HWND hwnd, int index) {
    Guard lock(Lock());
    std::shared_ptr<Window> w = Find(hwnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (index == GWL_STYLE) return static_cast<LONG>(w->style);
    if (index == GWL_EXSTYLE) return static_cast<LONG>(w->exStyle);
    SetLastError(ERROR_INVALID_INDEX);
    return 0;
}

// Copies at most size - 1 bytes and a terminator; answers the bytes copied.
static int CopyName(const std::string& name, LPSTR buffer, int size) {
    if (!buffer || size <= 0) return 0;
    size_t n = name.size() < static_cast<size_t>(size - 1) ? name.size() : static_cast<size_t>(size - 1);
    memcpy(buffer, name.data(), n);
    buffer[n] = 0;
    return static_cast<int>(n);
}

int WINAPI GetClassNameA(HWND hwnd, LPSTR buffer, int size) {
    Guard lock(Lock());
    std::shared_ptr<Window> w = Find(hwnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    auto cls = W().classes.find(w->classAtom);
    return CopyName(cls == W().classes.end() ? std::string() : cls->second.name, buffer, size);
}

int WINAPI GetWindowTextA(HWND hwnd, LPSTR buffer, int size) {
    Guard lock(Lock());
    std::shared_ptr<Window> w = Find(hwnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        if (buffer && size > 0) buffer[0] = 0;
        return 0;
    }
    return CopyName(w->title, buffer, size);
}

BOOL WINAPI PostMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Guard lock(Lock());
    return PostLocked(hwnd, message, wParam, lParam) ? TRUE : FALSE;
}

// WM_QUIT to the calling thread's queue, for no window: GetMessageA answers 0.
VOID WINAPI PostQuitMessage(int exitCode) {
    Guard lock(Lock());
    PostLocked(nullptr, WM_QUIT, static_cast<WPARAM>(exitCode), 0);
}

// Where a sent message goes: the procedure of a window of the calling thread,
// called at once, or the queue of the thread that owns it. False, with
// ERROR_INVALID_WINDOW_HANDLE, when the window or its thread is gone.
static bool FindSendTarget(HWND hwnd, std::shared_ptr<Window>* own, std::shared_ptr<ThreadState>* target) {
    std::shared_ptr<Window> w = Find(hwnd);
    if (w && w->threadId == Me().id) {
        *own = w;
        return true;
    }
    own->reset();
    *target = w ? FindThread(w->threadId) : nullptr;
    if (!*target) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return *target != nullptr;
}

static std::shared_ptr<SentMessage> QueueSent(ThreadState& target, HWND hwnd, UINT message, WPARAM wParam,
                                              LPARAM lParam) {
    auto sent = std::make_shared<SentMessage>();
    sent->hwnd = hwnd;
    sent->message = message;
    sent->wParam = wParam;
    sent->lParam = lParam;
    target.sent.push_back(sent);
    Changed().notify_all();
    return sent;
}

LRESULT WINAPI SendMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Guard lock(Lock());
    std::shared_ptr<Window> own;
    std::shared_ptr<ThreadState> target;
    if (!FindSendTarget(hwnd, &own, &target)) return 0;
    if (own) return CallWindowProcedure(lock, *own, hwnd, message, wParam, lParam);
    ThreadState& me = Me();
    auto sent = QueueSent(*target, hwnd, message, wParam, lParam);
    // While we wait, messages sent to us are served, so two threads sending to each other
    // do not deadlock.
    while (!sent->done) {
        if (ServeOneSent(lock)) continue;
        ++me.waiting;
        Changed().wait(lock);
        --me.waiting;
    }
    if (sent->receiverEnded) SetLastError(ERROR_ACCESS_DENIED);  // what Wine reports then
    return sent->result;
}

LRESULT WINAPI SendMessageTimeoutA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT flags, UINT timeoutMs,
                                   PDWORD_PTR result) {
    Guard lock(Lock());
    std::shared_ptr<Window> own;
    std::shared_ptr<ThreadState> target;
    if (!FindSendTarget(hwnd, &own, &target)) return 0;
    if (own) {
        LRESULT answer = CallWindowProcedure(lock, *own, hwnd, message, wParam, lParam);
        if (result) *result = static_cast<DWORD_PTR>(answer);
        return 1;
    }
    ThreadState& me = Me();
    // Probed: every failure writes 0 to the result; success leaves the last error alone.
    auto fail = [result](DWORD error) {
        if (result) *result = 0;
        SetLastError(error);
        return static_cast<LRESULT>(0);
    };
    if ((flags & SMTO_ABORTIFHUNG) && IsHung(*target, Clock::now())) return fail(ERROR_TIMEOUT);  // nothing is queued

    auto sent = QueueSent(*target, hwnd, message, wParam, lParam);
    bool const forever = timeoutMs == INFINITE;
    Clock::time_point const deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : timeoutMs);
    // Whether the receiver hangs can change without anyone announcing it: look again this often.
    auto const hungPoll = std::chrono::milliseconds(10);
    bool const watchHung = (flags & (SMTO_ABORTIFHUNG | SMTO_NOTIMEOUTIFNOTHUNG)) != 0;
    while (!sent->done) {
        // SMTO_BLOCK: nothing sent to us is served meanwhile, even if the receiver waits on us.
        if (!(flags & SMTO_BLOCK) && ServeOneSent(lock)) continue;
        Clock::time_point now = Clock::now();
        bool hung = IsHung(*target, now);
        // Windows, as documented, gives up on a receiver that hangs while we wait too; Wine 8
        // checks only before sending. Windows is modelled: a user waits on it.
        if ((flags & SMTO_ABORTIFHUNG) && hung) break;
        // Windows waits past the timeout for as long as the receiver is not hung. Wine 8 ignores
        // the flag and times out (probed); Windows is modelled, as what the user sees differs.
        bool const extended = (flags & SMTO_NOTIMEOUTIFNOTHUNG) && !hung;
        if (!forever && now >= deadline && !extended) break;
        Clock::time_point until = forever || extended ? now + std::chrono::hours(1) : deadline;
        if (watchHung) until = std::min(until, now + hungPoll);
        if (!(flags & SMTO_BLOCK)) ++me.waiting;
        Changed().wait_until(lock, until);
        if (!(flags & SMTO_BLOCK)) --me.waiting;
    }
    if (!sent->done) {
        // Given up. As Wine does, a message the receiver has not yet taken is withdrawn: it is
        // never handled. One already being handled runs to its end, its answer unheard.
        auto& queue = target->sent;
        queue.erase(std::remove(queue.begin(), queue.end(), sent), queue.end());
        return fail(ERROR_TIMEOUT);
    }
    if (sent->receiverEnded) return fail(ERROR_ACCESS_DENIED);  // as SendMessageA reports it
    if (result) *result = static_cast<DWORD_PTR>(sent->result);
    return 1;
}

BOOL WINAPI GetMessageA(LPMSG msg, HWND hwnd, UINT first, UINT last) {
    Guard lock(Lock());
    if (!msg) {
        SetLastError(ERROR_NOACCESS);
        return -1;
    }
    if (hwnd && !Find(hwnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return -1;
    }
    ThreadState& me = Me();
    for (;;) {
        Pumped(me);
        while (ServeOneSent(lock)) {
        }
        // Posted messages first; a timer only when none is left.
        if (TakePosted(me, hwnd, first, last, true, msg)) return msg->message == WM_QUIT ? FALSE : TRUE;
        if (TakeTimer(me, hwnd, first, last, true, msg)) return TRUE;
        Timer* next = NextTimer(me, hwnd, first, last);
        std::optional<Clock::time_point> due;  // a copy: the timer may go while we wait
        if (next) due = next->due;
        ++me.waiting;
        if (due)
            Changed().wait_until(lock, *due);
        else
            Changed().wait(lock);
        --me.waiting;
    }
}

BOOL WINAPI PeekMessageA(LPMSG msg, HWND hwnd, UINT first, UINT last, UINT remove) {
    Guard lock(Lock());
    if (!msg) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    ThreadState& me = Me();
    Pumped(me);
    while (ServeOneSent(lock)) {
    }
    bool take = (remove & PM_REMOVE) != 0;
    return TakePosted(me, hwnd, first, last, take, msg) || TakeTimer(me, hwnd, first, last, take, msg) ? TRUE : FALSE;
}

BOOL WINAPI TranslateMessage(const MSG*) { return FALSE; }

LRESULT WINAPI DispatchMessageA(const MSG* msg) {
    if (!msg) return 0;
    // A timer with a callback: the callback instead of the window procedure. Windows documents
    // lParam as the callback; Wine hands an opaque value, so no caller may read it. Neither
    // checks that the timer still lives (probed: Wine calls a forged one).
    if (msg->message == WM_TIMER && msg->lParam) {
        reinterpret_cast<TIMERPROC>(msg->lParam)(msg->hwnd, WM_TIMER, msg->wParam, GetTickCount());
        return 0;
    }
    if (!msg->hwnd) return 0;
    Guard lock(Lock());
    std::shared_ptr<Window> w = Find(msg->hwnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    return CallWindowProcedure(lock, *w, msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

int WinStub_WindowDpiAwareness(HWND hwnd) {
    Guard lock(Lock());
    std::shared_ptr<Window> w = Find(hwnd);
    return w ? w->dpiAwareness : 0;
}

UINT_PTR WINAPI SetTimer(HWND hwnd, UINT_PTR id, UINT ms, TIMERPROC proc) {
    Guard lock(Lock());
    DWORD threadId;
    if (hwnd) {
        std::shared_ptr<Window> w = Find(hwnd);
        if (!w) {
            SetLastError(ERROR_INVALID_HANDLE);  // probed: not ERROR_INVALID_WINDOW_HANDLE
            return 0;
        }
        threadId = w->threadId;  // probed: another thread's window is allowed, its thread gets WM_TIMER
    } else {
        // A thread timer keeps its id only when that id already names one of ours; else it gets
        // a new one, counting down from 0x7FFF (probed).
        ThreadState& me = Me();
        threadId = me.id;
        if (!id || !FindTimer(nullptr, id, threadId)) {
            do {
                id = me.nextTimerId;
                if (--me.nextTimerId < 0x100) me.nextTimerId = 0x7FFF;
            } while (FindTimer(nullptr, id, threadId));
        }
    }
    UINT clamped = std::min<UINT>(std::max<UINT>(ms, USER_TIMER_MINIMUM), USER_TIMER_MAXIMUM);
    Clock::duration period = std::chrono::milliseconds(clamped);
    Timer* t = FindTimer(hwnd, id, threadId);
    if (t) {
        // The same timer again: new period and callback, counted afresh from now.
        t->period = period;
        t->due = Clock::now() + period;
        t->proc = proc;
    } else {
        W().timers.push_back(Timer{hwnd, id, threadId, period, Clock::now() + period, proc});
    }
    Changed().notify_all();
    return hwnd && !id ? 1 : id;  // probed: id 0 on a window answers TRUE
}

std::vector<WinStubTimer> WinStub_Timers() {
    Guard lock(Lock());
    std::vector<WinStubTimer> timers;
    for (const Timer& t : W().timers)
        timers.push_back(WinStubTimer{
            t.hwnd, t.id, static_cast<UINT>(std::chrono::duration_cast<std::chrono::milliseconds>(t.period).count())});
    return timers;
}

BOOL WINAPI KillTimer(HWND hwnd, UINT_PTR id) {
    Guard lock(Lock());
    if (hwnd && !Find(hwnd)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    Timer* t = FindTimer(hwnd, id, Me().id);
    if (!t) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    W().timers.erase(W().timers.begin() + (t - W().timers.data()));
    return TRUE;
}

HWND WINAPI FindWindowA(LPCSTR className, LPCSTR title) {
    Guard lock(Lock());
    if (DWORD delay = TakeDelay(WinStubDelay::FindWindow)) {
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        lock.lock();
    }
    ATOM atom = 0;
    if (className) {
        const WindowClass* cls = FindClass(className);
        if (!cls) return nullptr;
        atom = cls->atom;
    }
    for (auto& w : W().windows) {
        if (w->destroying) continue;
        if (className && w->classAtom != atom) continue;
        // Wine compares the title case-insensitively too (probed).
        if (title && !EqualNoCase(w->title, title)) continue;
        return w->hwnd;
    }
    return nullptr;
}
