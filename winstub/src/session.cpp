// What a real Windows session adds: which Windows it is, an elevated process and the message
// filter that shields it from lower integrity (UIPI), per-thread DPI awareness and what it does
// to the metrics, and the user32 exports a program looks up at run time because older Windows
// lacks them.
#include "state.h"

#include <set>
#include <vector>

namespace winstub {
namespace {

DWORD const kMessageFilterAdd = 1;     // MSGFLT_ADD
DWORD const kMessageFilterRemove = 2;  // MSGFLT_REMOVE

struct SessionState {
    WinStubWindowsVersion version = WinStubWindowsVersion::Win10;
    bool elevated = false;
    std::set<UINT> letThrough;  // ChangeWindowMessageFilter's: the process's, as on Vista
    std::vector<WinStubMessageFilterCall> filterCalls;
};
SessionState& X() {
    static SessionState* state = new SessionState;
    return *state;
}

// A thread's awareness: the DPI_AWARENESS_CONTEXT pseudo-handle a caller passes in, and the
// context SetThreadDpiAwarenessContext hands back, which it takes again to restore it. Probed
// under Wine 8: 0x10, 0x11, 0x12 for unaware, system and per-monitor. Per-monitor v2 came with
// Windows 10 1703 (Wine 8 refuses it); 0x22 is its Windows value.
struct Awareness {
    int pseudo;
    uintptr_t context;
};
Awareness const kAwareness[] = {{-1, 0x10}, {-2, 0x11}, {-3, 0x12}, {-4, 0x22}};

// Wine 8 answers TRUE whatever the flag (probed); only MSGFLT_ADD and MSGFLT_REMOVE change
// the filter.
BOOL WINAPI ChangeWindowMessageFilter(UINT message, DWORD flag) {
    Guard lock(Lock());
    if (flag == kMessageFilterAdd) X().letThrough.insert(message);
    if (flag == kMessageFilterRemove) X().letThrough.erase(message);
    X().filterCalls.push_back(WinStubMessageFilterCall{message, flag, TRUE});
    return TRUE;
}

// Sets the calling thread's awareness, answering the one it had; an unknown context: NULL and
// ERROR_INVALID_PARAMETER, nothing changed (probed).
HANDLE WINAPI SetThreadDpiAwarenessContext(HANDLE context) {
    intptr_t value = reinterpret_cast<intptr_t>(context);
    Guard lock(Lock());
    ThreadState& me = Me();
    for (const Awareness& wanted : kAwareness) {
        if (value != wanted.pseudo && static_cast<uintptr_t>(value) != wanted.context) continue;
        uintptr_t previous = kAwareness[0].context;
        for (const Awareness& had : kAwareness)
            if (had.pseudo == me.dpiAwareness) previous = had.context;
        me.dpiAwareness = wanted.pseudo;
        return reinterpret_cast<HANDLE>(previous);
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
}

}  // namespace

bool PassesFromLowerIntegrity(UINT message) {
    // XP has no integrity levels: an administrator's windows hear everyone.
    if (!X().elevated || X().version == WinStubWindowsVersion::Xp) return true;
    return X().letThrough.count(message) != 0;
}

// Windows 8.1 and later scale a DPI-unaware thread's window up and tell it 96 DPI sizes; Vista
// and 7 do so from 144 DPI only (below, "XP style" scaling shows unaware programs the real
// sizes); XP never does. This is Windows's rule, not Wine's: Wine 8 gives unaware code the real
// metrics (measured), so a Wine run cannot show the difference awareness makes.
bool SeesVirtualizedDpi(const ThreadState& thread, SIZE realSmallIcon) {
    if (thread.dpiAwareness != -1) return false;
    switch (X().version) {
    case WinStubWindowsVersion::Win10: return true;
    case WinStubWindowsVersion::Vista: return realSmallIcon.cx >= 24;
    case WinStubWindowsVersion::Xp: return false;
    }
    return false;
}

// Through void*, as GetProcAddress hands any export out as FARPROC.
template <typename Function>
FARPROC AsFarProc(Function* function) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(function));
}

FARPROC User32Export(const char* name) {
    // Export names compare with case, as GetProcAddress compares them.
    WinStubWindowsVersion version = X().version;
    if (strcmp(name, "ChangeWindowMessageFilter") == 0 && version != WinStubWindowsVersion::Xp)
        return AsFarProc(&ChangeWindowMessageFilter);
    if (strcmp(name, "SetThreadDpiAwarenessContext") == 0 && version == WinStubWindowsVersion::Win10)
        return AsFarProc(&SetThreadDpiAwarenessContext);
    return nullptr;
}

FARPROC Shell32Export(const char* name) {
    if (strcmp(name, "Shell_NotifyIconGetRect") == 0 && X().version == WinStubWindowsVersion::Win10)
        return AsFarProc(&NotifyIconGetRect);  // Windows 7 and later
    return nullptr;
}

void ResetSession() {
    X().version = WinStubWindowsVersion::Win10;
    X().elevated = false;
    X().letThrough.clear();
    X().filterCalls.clear();
}

}  // namespace winstub

using namespace winstub;

void WinStub_SetWindowsVersion(WinStubWindowsVersion version) {
    Guard lock(Lock());
    X().version = version;
}

void WinStub_SetElevated(bool elevated) {
    Guard lock(Lock());
    X().elevated = elevated;
}

std::vector<WinStubMessageFilterCall> WinStub_MessageFilterCalls() {
    Guard lock(Lock());
    return X().filterCalls;
}

int WinStub_ThreadDpiAwareness(DWORD threadId) {
    Guard lock(Lock());
    std::shared_ptr<ThreadState> thread = FindThread(threadId);
    return thread ? thread->dpiAwareness : 0;
}
