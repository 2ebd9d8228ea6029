// System.exit as HotSpot carries it out: the thread that called it waits,
// and the VM's own thread ("VM Thread") calls the JNI exit hook and ends the
// process at the very end, without waiting for the VM's other threads (a
// native thread inside a long Java call among them).
#include "fakejvm_internal.h"

namespace fakejvm {

namespace {

// A hook is meant to tidy up and return; one that is still running after this
// long waits on something, and a real process would hang there.
int const kExitHookLimitMs = 2000;

// The thread a Swing application calls System.exit from, its event thread.
char const kExitThreadName[] = "AWT-EventQueue-0";

// HotSpot's name for the thread that carries out the exit.
char const kVmThreadName[] = "VM Thread";

thread_local bool tlInExitHook = false;

// Ends the process with the run's code, or in-process calls the exit function
// and ends the application, so that DestroyJavaVM can return. Lock held on
// entry and on return.
void EndProcess(State &st, std::unique_lock<std::mutex> &lock, const std::shared_ptr<ExitRun> &run) {
    if (run->ended) return;
    run->ended = true;
    Log(st, "process exit " + std::to_string(run->code));
    void (*processExit)(int) = st.processExit;
    if (!processExit) {
        lock.unlock();
        PlatformExit(run->code);
    }
    lock.unlock();
    processExit(run->code);
    lock.lock();
    if (st.vm && st.vm->id == run->vmId) EndApplication(st);
    run->done = true;
    st.cv.notify_all();
    st.exitCv.notify_all();
}

// Watches one hook call from a thread of its own: the VM Thread, inside the
// hook, cannot time itself.
void WatchHook(std::shared_ptr<ExitRun> run) {
    State &st = S();
    std::unique_lock<std::mutex> lock(st.mu);
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kExitHookLimitMs);
    if (st.cv.wait_until(lock, deadline, [&] { return run->hookReturned || run->ended; })) return;
    Violation(st, "exit hook: still running after " + std::to_string(kExitHookLimitMs) +
                      " ms (it waits on something); the process ends without it");
    EndProcess(st, lock, run);
}

// The VM Thread's part of one exit: the hook, then the end of the process.
// The hook runs here, not on the thread that called exit, which stays
// blocked meanwhile: whatever the hook waits for from that thread never
// comes.
void CarryOutExit(std::shared_ptr<ExitRun> run, ExitHook hook) {
    PlatformNameThread(kVmThreadName);
    State &st = S();
    std::unique_lock<std::mutex> lock(st.mu);
    if (hook) {
        Log(st, "exit hook " + std::to_string(run->code));
        std::thread(WatchHook, run).detach();
        lock.unlock();
        tlInExitHook = true;
        hook(static_cast<jint>(run->code));
        tlInExitHook = false;
        lock.lock();
        run->hookReturned = true;
        Log(st, "exit hook returned");
    }
    EndProcess(st, lock, run);
}

}  // namespace

bool InExitHook() { return tlInExitHook; }

void SystemExit(State &st, std::unique_lock<std::mutex> &lock, int code, const std::string &threadName) {
    Log(st, "application exit " + std::to_string(code) + " on thread \"" + threadName + "\"");
    if (!st.vm) return;
    std::shared_ptr<ExitRun> run = st.vm->exitRun;
    if (!run) {
        run = std::make_shared<ExitRun>();
        run->vmId = st.vm->id;
        run->code = code;
        st.vm->exitRun = run;
        std::thread(CarryOutExit, run, st.vm->exitHook).detach();
    }
    // The caller waits for good in a real process. Java's exit holds a lock
    // for the whole shutdown, so a second caller never gets past it either.
    st.cv.wait(lock, [&] { return run->done; });
}

void ScheduleExit(State &st) {
    if (!st.vm || st.config.exitAfterMs < 0) return;
    uint64_t vmId = st.vm->id;
    int code = st.config.exitAfterCode;
    Clock::time_point at = Clock::now() + std::chrono::milliseconds(st.config.exitAfterMs);
    std::thread([vmId, code, at] {
        State &st = S();
        std::unique_lock<std::mutex> lock(st.mu);
        // Only a running application has a thread left to call exit: one
        // that ended first, or a VM destroyed meanwhile, means no exit.
        for (;;) {
            RefreshApplication(st);
            if (!st.vm || st.vm->id != vmId || st.vm->app != AppState::Running) return;
            if (Clock::now() >= at) break;
            Clock::time_point wake = at;
            if (st.vm->appEndTimed && st.vm->appEndAt < wake) wake = st.vm->appEndAt;
            st.cv.wait_until(lock, wake);
        }
        SystemExit(st, lock, code, kExitThreadName);
    }).detach();
}

}  // namespace fakejvm
