// A thread of its own for timed calls: what a tray action costs on the
// monitor thread, which is never the thread that made the VM, and attaches
// to it for each action. Win32 threads and events, so that it runs on the
// host against the Win32 stand-in and under Wine alike.
#ifndef CHIMELET_BENCH_TRAY_THREAD_H
#define CHIMELET_BENCH_TRAY_THREAD_H

#include <windows.h>

#include <functional>

namespace bench {

class CallThread {
public:
    CallThread();
    // Ends the thread; whatever it attached must have been detached by then.
    ~CallThread();
    CallThread(CallThread const &) = delete;
    CallThread &operator=(CallThread const &) = delete;

    // False when the thread or its events could not be made.
    bool Started() const { return thread_ != NULL; }

    // Runs `call` on this thread and returns once it has run. One caller
    // at a time. The hand-over is not part of the call: time inside it.
    void Run(std::function<void()> const &call);

private:
    static DWORD WINAPI Loop(LPVOID self);

    HANDLE thread_ = NULL;
    HANDLE ready_ = NULL;   // a call is waiting in call_
    HANDLE done_ = NULL;    // it has run
    std::function<void()> const *call_ = nullptr;  // nullptr with ready_: end
};

// Keeps the calling thread on one CPU from now on: `cpu`, or for -1 the one
// it runs on now (on Windows: the process's first). Threads timed against
// each other are kept on the same CPU, else whichever runs on the CPU whose
// caches the last call warmed wins: phases of a run in which one thread is
// a third slower than the other, and then the other way round. (A real VM's
// own threads move the caches too: scripts/bench starts that program on one
// CPU.) The CPU kept, or -1 when the system refused.
int KeepOnOneCpu(int cpu);

// One tray click's Java part as the monitor thread makes it: attach as a
// normal thread, the menu's three list calls and its build, the menu
// destroyed (as once the user has chosen), detach. On a thread that is not
// attached to sg_jvm; false when the attach failed.
bool ClickAttached();

}  // namespace bench

#endif
