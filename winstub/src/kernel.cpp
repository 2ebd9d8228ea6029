// KERNEL32 part of the stand-in: threads and their queues, events, mutexes, handles, last error.
#include "state.h"

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace winstub {
namespace {

// Leaked on purpose: threads the program never joins may still use them while the process
// exits, after static destructors would have run.
struct KernelState {
    std::mutex lock;
    std::condition_variable changed;
    std::map<DWORD, std::shared_ptr<ThreadState>> threads;
    DWORD nextThreadId = 0x20;
    std::map<WinStubFault, int> faults;
    struct Delay {
        DWORD ms = 0;
        int times = 0;
    };
    std::map<WinStubDelay, Delay> delays;
    // Windows' hung-window timeout; IsHungAppWindow and SMTO_ABORTIFHUNG use the same 5 s.
    Clock::duration hungTimeout = std::chrono::milliseconds(5000);
    UINT errorMode = 0;  // SetErrorMode's, the process's own
};
KernelState& K() {
    static KernelState* state = new KernelState;
    return *state;
}

std::atomic<uintptr_t> gNextUser{0x10020};
std::atomic<uintptr_t> gNextKernel{0x1000};

enum class Kind { Event, Mutex, Thread };

struct Object {
    Kind kind;
    std::string name;
    // event
    bool manualReset = false;
    bool signaled = false;
    // mutex
    DWORD owner = 0;
    int count = 0;
    bool abandoned = false;
    // thread
    DWORD threadId = 0;
    bool finished = false;
    DWORD exitCode = STILL_ACTIVE;
};

struct Objects {
    std::map<uintptr_t, std::shared_ptr<Object>> handles;
    std::map<std::string, std::weak_ptr<Object>> named;     // names are case-sensitive
    std::vector<std::weak_ptr<Object>> mutexes;             // for abandonment at thread end
};
Objects& O() {
    static Objects* objects = new Objects;
    return *objects;
}

thread_local DWORD tLastError = 0;

// Ends the thread's message queue and the rest when a thread that used the stand-in ends
// without going through CreateThread's trampoline (the main thread, a JVM thread).
struct ThreadSlot {
    std::shared_ptr<ThreadState> state;
    ~ThreadSlot() {
        if (!state || state->ended) return;
        Guard lock(Lock());
        ThreadEnded(lock);
    }
};
thread_local ThreadSlot tSlot;

std::shared_ptr<Object> Lookup(HANDLE h) {
    auto it = O().handles.find(reinterpret_cast<uintptr_t>(h));
    return it == O().handles.end() ? nullptr : it->second;
}

HANDLE AddHandle(std::shared_ptr<Object> object) {
    uintptr_t value = NewKernelHandle();
    O().handles[value] = std::move(object);
    return reinterpret_cast<HANDLE>(value);
}

// Opens or makes a named object. Sets the last error as Wine does: 0 for a new object,
// ERROR_ALREADY_EXISTS for an existing one, ERROR_INVALID_HANDLE when the name belongs to an
// object of another kind.
std::shared_ptr<Object> Named(const char* name, Kind kind, bool* existed) {
    *existed = false;
    if (!name || !*name) return nullptr;
    auto it = O().named.find(name);
    if (it == O().named.end()) return nullptr;
    std::shared_ptr<Object> object = it->second.lock();
    if (!object) {
        O().named.erase(it);
        return nullptr;
    }
    *existed = true;
    return object->kind == kind ? object : nullptr;
}

bool Acquire(Object& o, DWORD me, DWORD* result) {
    switch (o.kind) {
    case Kind::Event:
        if (!o.signaled) return false;
        if (!o.manualReset) o.signaled = false;
        *result = WAIT_OBJECT_0;
        return true;
    case Kind::Mutex:
        if (o.count > 0 && o.owner != me) return false;
        o.owner = me;
        ++o.count;
        *result = o.abandoned ? WAIT_ABANDONED : WAIT_OBJECT_0;
        o.abandoned = false;
        return true;
    case Kind::Thread:
        if (!o.finished) return false;
        *result = WAIT_OBJECT_0;
        return true;
    }
    return false;
}

}  // namespace

std::mutex& Lock() { return K().lock; }
std::condition_variable& Changed() { return K().changed; }

ThreadState& Me() {
    if (!tSlot.state) {
        tSlot.state = std::make_shared<ThreadState>();
        tSlot.state->id = K().nextThreadId;
        K().nextThreadId += 4;
        K().threads[tSlot.state->id] = tSlot.state;
    }
    return *tSlot.state;
}

std::shared_ptr<ThreadState> FindThread(DWORD id) {
    auto it = K().threads.find(id);
    return it == K().threads.end() ? nullptr : it->second;
}

void ThreadEnded(Guard& lock) {
    (void)lock;
    ThreadState& me = Me();
    if (me.ended) return;
    me.ended = true;
    // Senders waiting on this thread are released with 0, as Wine releases them.
    for (auto& sent : me.sent) {
        sent->done = true;
        sent->receiverEnded = true;
    }
    me.sent.clear();
    me.posted.clear();
    DestroyThreadWindows(me.id);
    AbandonMutexes(me.id);
    K().threads.erase(me.id);
    Changed().notify_all();
}

uintptr_t NewUserHandle() { return gNextUser.fetch_add(2); }
bool WasUserHandle(uintptr_t value) {
    return value >= 0x10020 && value < gNextUser.load() && (value & 1) == 0;
}
uintptr_t NewKernelHandle() { return gNextKernel.fetch_add(4); }

bool TakeFault(WinStubFault fault) {
    auto it = K().faults.find(fault);
    if (it == K().faults.end() || it->second <= 0) return false;
    --it->second;
    return true;
}
void ResetFaults() {
    K().faults.clear();
    K().delays.clear();
}

DWORD TakeDelay(WinStubDelay call) {
    auto it = K().delays.find(call);
    if (it == K().delays.end() || it->second.times <= 0) return 0;
    --it->second.times;
    return it->second.ms;
}

void Pumped(ThreadState& thread) { thread.lastPump = Clock::now(); }

// As Windows and Wine decide it: no call for messages for the timeout, and not waiting for them
// now. A thread blocked in GetMessageA for an hour is idle, not hung.
bool IsHung(const ThreadState& thread, Clock::time_point now) {
    return thread.waiting == 0 && now - thread.lastPump > K().hungTimeout;
}

void AbandonMutexes(DWORD threadId) {
    auto& list = O().mutexes;
    for (size_t i = 0; i < list.size();) {
        std::shared_ptr<Object> m = list[i].lock();
        if (!m) {
            list[i] = list.back();
            list.pop_back();
            continue;
        }
        if (m->count > 0 && m->owner == threadId) {
            m->owner = 0;
            m->count = 0;
            m->abandoned = true;
        }
        ++i;
    }
}

void ResetKernel() {
    O().handles.clear();
    O().named.clear();
    K().hungTimeout = std::chrono::milliseconds(5000);
    K().errorMode = 0;
    // Timers are gone (ResetWindows): their ids start again, as in a fresh queue.
    for (auto& thread : K().threads) {
        thread.second->nextTimerId = ThreadState().nextTimerId;
        thread.second->dpiAwareness = ThreadState().dpiAwareness;
    }
}

UINT ErrorMode() { return K().errorMode; }

int LiveKernelHandles() { return static_cast<int>(O().handles.size()); }

}  // namespace winstub

using namespace winstub;

void WinStub_FailNext(WinStubFault fault, int times) {
    Guard lock(Lock());
    K().faults[fault] = times;
}

void WinStub_DelayNext(WinStubDelay call, DWORD ms, int times) {
    Guard lock(Lock());
    K().delays[call] = KernelState::Delay{ms, times};
}

void WinStub_SetHungTimeout(DWORD ms) {
    Guard lock(Lock());
    K().hungTimeout = std::chrono::milliseconds(ms);
}

DWORD WINAPI GetLastError(void) { return tLastError; }
void WINAPI SetLastError(DWORD code) { tLastError = code; }

DWORD WINAPI GetCurrentThreadId(void) {
    Guard lock(Lock());
    return Me().id;
}

DWORD WINAPI GetCurrentProcessId(void) { return static_cast<DWORD>(getpid()); }

// Process-wide, as on Windows: a mode set on one thread holds for a LoadLibraryA on any other.
UINT WINAPI SetErrorMode(UINT mode) {
    Guard lock(Lock());
    UINT previous = K().errorMode;
    K().errorMode = mode;
    return previous;
}

DWORD WINAPI GetTickCount(void) {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<DWORD>(static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

void WINAPI Sleep(DWORD ms) {
    if (ms == 0) {
        std::this_thread::yield();
        return;
    }
    if (ms == INFINITE) {
        for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// A critical section is the thread's own to enter again, as on Windows. It takes no part in
// the stand-in's lock, so that one thread may hold it while another waits on the stand-in.
// The shell's lives for the whole process: there is no DeleteCriticalSection.
VOID WINAPI InitializeCriticalSection(LPCRITICAL_SECTION section) { section->impl = new std::recursive_mutex; }

VOID WINAPI EnterCriticalSection(LPCRITICAL_SECTION section) {
    static_cast<std::recursive_mutex*>(section->impl)->lock();
}

VOID WINAPI LeaveCriticalSection(LPCRITICAL_SECTION section) {
    static_cast<std::recursive_mutex*>(section->impl)->unlock();
}

HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL initialOwner, LPCSTR name) {
    Guard lock(Lock());
    if (TakeFault(WinStubFault::CreateMutex)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    bool existed = false;
    std::shared_ptr<Object> m = Named(name, Kind::Mutex, &existed);
    if (existed) {
        if (!m) {
            SetLastError(ERROR_INVALID_HANDLE);
            return nullptr;
        }
        HANDLE h = AddHandle(m);  // the caller's initial ownership is ignored for an existing mutex
        SetLastError(ERROR_ALREADY_EXISTS);
        return h;
    }
    m = std::make_shared<Object>();
    m->kind = Kind::Mutex;
    if (initialOwner) {
        m->owner = Me().id;
        m->count = 1;
    }
    if (name && *name) {
        m->name = name;
        O().named[name] = m;
    }
    O().mutexes.push_back(m);
    HANDLE h = AddHandle(m);
    SetLastError(0);
    return h;
}

HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCSTR name) {
    Guard lock(Lock());
    if (TakeFault(WinStubFault::CreateEvent)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    bool existed = false;
    std::shared_ptr<Object> e = Named(name, Kind::Event, &existed);
    if (existed) {
        if (!e) {
            SetLastError(ERROR_INVALID_HANDLE);
            return nullptr;
        }
        HANDLE h = AddHandle(e);
        SetLastError(ERROR_ALREADY_EXISTS);
        return h;
    }
    e = std::make_shared<Object>();
    e->kind = Kind::Event;
    e->manualReset = manualReset != FALSE;
    e->signaled = initialState != FALSE;
    if (name && *name) {
        e->name = name;
        O().named[name] = e;
    }
    HANDLE h = AddHandle(e);
    SetLastError(0);
    return h;
}

static BOOL SetEventState(HANDLE h, bool signaled) {
    Guard lock(Lock());
    std::shared_ptr<Object> e = Lookup(h);
    if (!e || e->kind != Kind::Event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    e->signaled = signaled;
    if (signaled) Changed().notify_all();
    return TRUE;
}

BOOL WINAPI SetEvent(HANDLE h) { return SetEventState(h, true); }
BOOL WINAPI ResetEvent(HANDLE h) { return SetEventState(h, false); }

BOOL WINAPI ReleaseMutex(HANDLE h) {
    Guard lock(Lock());
    std::shared_ptr<Object> m = Lookup(h);
    if (!m || m->kind != Kind::Mutex) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (m->count == 0 || m->owner != Me().id) {
        SetLastError(ERROR_NOT_OWNER);
        return FALSE;
    }
    if (--m->count == 0) {
        m->owner = 0;
        Changed().notify_all();
    }
    return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE h, DWORD ms) {
    Guard lock(Lock());
    // Holding the object keeps it alive while we wait, even if its last handle is closed.
    std::shared_ptr<Object> o = Lookup(h);
    if (!o) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    DWORD me = Me().id;
    DWORD result = WAIT_FAILED;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms == INFINITE ? 0 : ms);
    while (!Acquire(*o, me, &result)) {
        if (ms == INFINITE) {
            Changed().wait(lock);
        } else if (Changed().wait_until(lock, deadline) == std::cv_status::timeout) {
            if (Acquire(*o, me, &result)) break;
            return WAIT_TIMEOUT;
        }
    }
    return result;
}

BOOL WINAPI CloseHandle(HANDLE h) {
    Guard lock(Lock());
    auto it = O().handles.find(reinterpret_cast<uintptr_t>(h));
    if (it == O().handles.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::shared_ptr<Object> o = std::move(it->second);
    O().handles.erase(it);
    if (!o->name.empty() && o.use_count() == 1) O().named.erase(o->name);
    return TRUE;
}

namespace {
struct StartInfo {
    LPTHREAD_START_ROUTINE proc;
    LPVOID param;
    DWORD id;
    std::shared_ptr<Object> object;  // keeps the thread object alive while the thread runs
};
}  // namespace

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE proc, LPVOID param,
                           DWORD, LPDWORD threadId) {
    Guard lock(Lock());
    if (!proc || TakeFault(WinStubFault::CreateThread)) {
        SetLastError(proc ? ERROR_NOT_ENOUGH_MEMORY : ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto state = std::make_shared<ThreadState>();
    state->id = K().nextThreadId;
    K().nextThreadId += 4;
    K().threads[state->id] = state;
    auto object = std::make_shared<Object>();
    object->kind = Kind::Thread;
    object->threadId = state->id;
    auto* start = new StartInfo{proc, param, state->id, object};
    try {
        std::thread([start, state] {
            tSlot.state = state;
            DWORD code = start->proc(start->param);
            Guard inner(Lock());
            ThreadEnded(inner);
            start->object->finished = true;
            start->object->exitCode = code;
            Changed().notify_all();
            inner.unlock();
            delete start;
        }).detach();
    } catch (const std::system_error&) {
        K().threads.erase(state->id);
        delete start;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (threadId) *threadId = state->id;
    return AddHandle(object);
}
