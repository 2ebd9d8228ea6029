// The control functions that tests call: scripts in, log and state out.
#include "fakejvm_control.h"

#include "fakejvm_internal.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace fakejvm;

namespace {

std::string Joined(const std::vector<std::string> &lines) {
    std::string out;
    for (const std::string &l : lines) {
        out += l;
        out += '\n';
    }
    return out;
}

// Copies text into (out, size), cut and always terminated when size > 0.
size_t CopyOut(const std::string &text, char *out, size_t size) {
    if (out && size > 0) {
        size_t n = text.size() < size - 1 ? text.size() : size - 1;
        std::memcpy(out, text.data(), n);
        out[n] = '\0';
    }
    return text.size();
}

// Lines from `from` on that start with prefix.
int CountPrefix(const State &st, const char *prefix, size_t from = 0) {
    size_t n = prefix ? std::strlen(prefix) : 0;
    int count = 0;
    for (size_t i = from; i < st.log.size(); ++i) {
        if (st.log[i].compare(0, n, prefix ? prefix : "", n) == 0) ++count;
    }
    return count;
}

// The newest record of the thread with that key (0: the caller) in the live
// VM, or null.
ThreadRec *ThreadByKey(State &st, unsigned long key) {
    if (!st.vm) return nullptr;
    if (key == 0) key = PlatformThreadKey();
    for (auto t = st.vm->threads.rbegin(); t != st.vm->threads.rend(); ++t) {
        if ((*t)->key == key) return t->get();
    }
    return nullptr;
}

void FreeUtfBuffers(State &st) {
    for (auto &loan : st.loans) std::free(const_cast<char *>(loan.first));
    st.loans.clear();
    for (auto &q : st.quarantine) std::free(q.first);
    st.quarantine.clear();
    st.quarantined.clear();
    st.quarantineBytes = 0;
}

}  // namespace

extern "C" {

FAKEJVM_API void FakeJvm_Reset(void) {
    State &st = S();
    std::lock_guard<std::mutex> lock(st.mu);
    if (st.vm) {
        Violation(st, "FakeJvm_Reset: refused while a VM exists");
        return;
    }
    st.config = Config{};
    st.scriptLoaded = false;
    st.started = false;
    st.logPath.clear();
    st.scriptError.clear();
    st.log.clear();
    st.violations.clear();
    st.logFull = false;
    st.lastAttachedKey = 0;
    st.processExit = nullptr;
    FreeUtfBuffers(st);
}

FAKEJVM_API int FakeJvm_Script(const char *text) {
    State &st = S();
    std::lock_guard<std::mutex> lock(st.mu);
    if (!text) {
        st.scriptError = "line 1: NULL script";
        return 1;
    }
    int badLine = 0;
    if (!ParseScript(text, st.config, badLine, st.scriptError)) {
        std::fprintf(stderr, "fakejvm: script %s\n", st.scriptError.c_str());
        return badLine;
    }
    st.scriptLoaded = true;
    st.cv.notify_all();
    return 0;
}

FAKEJVM_API size_t FakeJvm_CopyScriptError(char *out, size_t size) {
    State &st = S();
    std::lock_guard<std::mutex> lock(st.mu);
    return CopyOut(st.scriptError, out, size);
}

FAKEJVM_API int FakeJvm_CountLog(const char *prefix) {
    State &st = S();
    std::lock_guard<std::mutex> lock(st.mu);
    RefreshApplication(st);
    return CountPrefix(st, prefix);
}

FAKEJVM_API int FakeJvm_WaitLog(const char *prefix, int count, int timeoutMs) {
    State &st = S();
    std::unique_lock<std::mutex> lock(st.mu);
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    // Counted as the log grows, not rescanned at every wake-up: a busy VM
    // logs many lines while we wait.
    size_t scanned = 0;
    int n = 0;
    for (;;) {
        RefreshApplication(st);
        if (st.log.size() < scanned) scanned = n = 0;  // cleared meanwhile
        n += CountPrefix(st, prefix, scanned);
        scanned = st.log.size();
        if (n >= count || Clock::now() >= deadline) return n;
        Clock::time_point wake = deadline;
        // A timed end of the application is a line nobody else would wake us for.
        if (st.vm && st.vm->app == AppState::Running && st.vm->appEndTimed && st.vm->appEndAt < wake) {
            wake = st.vm->appEndAt;
        }
        st.cv.wait_until(lock, wake);
    }
}

FAKEJVM_API size_t FakeJvm_CopyLog(char *out, size_t size) {
    State &st = S();
    std::lock_guard<std::mutex> lock(st.mu);
    RefreshApplication(st);
    return CopyOut(Joined(st.log), out, size);
}

FAKEJVM_API size_t FakeJvm_CopyViolations(char *out, size_t size) {
    State &st = S();
    std::lock_guard<std::mutex> lock(st.mu);
    return CopyOut(Joined(st.violations), out, size);
}

FAKEJVM_API int FakeJvm_ViolationCount(void) {
    State &st = S();
    std::lock_guard<std::mutex> lock(st.mu);
    return static_cast<int>(st.violations.size());
}

FAKEJVM_API void FakeJvm_ClearLog(void) {
    State &st = S();
    std::lock_guard<std::mutex> lock(st.mu);
    st.log.clear();
    st.violations.clear();
    st.logFull = false;
}

FAKEJVM_API int FakeJvm_LiveLocalRefs(unsigned long threadKey) {
    State &st = S();
    std::lock_guard<std::mutex> lock(st.mu);
    ThreadRec *t = ThreadByKey(st, threadKey);
    return t ? LiveLocals(t) : -1;
}

FAKEJVM_API int FakeJvm_LiveGlobalRefs(void) {
    State &st = S();
    std::lock_guard<std::mutex> lock(st.mu);
    if (!st.vm) return 0;
    int n = 0;
    for (const auto &r : st.vm->refs) {
        if (r.second.kind != RefKind::Local) ++n;
    }
    return n;
}

FAKEJVM_API int FakeJvm_OutstandingUtfChars(void) {
    State &st = S();
    std::lock_guard<std::mutex> lock(st.mu);
    return static_cast<int>(st.loans.size());
}

FAKEJVM_API int FakeJvm_ExceptionPending(unsigned long threadKey) {
    State &st = S();
    std::lock_guard<std::mutex> lock(st.mu);
    ThreadRec *t = ThreadByKey(st, threadKey);
    return t && t->pending ? 1 : 0;
}

FAKEJVM_API int FakeJvm_ApplicationRunning(void) {
    State &st = S();
    std::lock_guard<std::mutex> lock(st.mu);
    RefreshApplication(st);
    return st.vm && st.vm->app == AppState::Running ? 1 : 0;
}

FAKEJVM_API void FakeJvm_EndApplication(void) {
    State &st = S();
    std::lock_guard<std::mutex> lock(st.mu);
    EndApplication(st);
}

FAKEJVM_API void FakeJvm_ForceDestroy(void) {
    State &st = S();
    std::lock_guard<std::mutex> lock(st.mu);
    if (!st.vm) return;
    Log(st, "destroy forced");
    for (auto &t : st.vm->threads) t->attached = false;
    st.vm.reset();
    st.cv.notify_all();
}

FAKEJVM_API void FakeJvm_SetProcessExit(void (*fn)(int code)) {
    State &st = S();
    std::lock_guard<std::mutex> lock(st.mu);
    st.processExit = fn;
}

FAKEJVM_API void FakeJvm_SetWindowSystem(const FakeJvmWindowSystem *windowSystem) {
#ifdef _WIN32
    (void)windowSystem;  // user32 answers for itself
#else
    State &st = S();
    std::lock_guard<std::mutex> lock(st.mu);
    st.windowSystem = windowSystem ? *windowSystem : FakeJvmWindowSystem{};
#endif
}

FAKEJVM_API int FakeJvm_VmExists(void) {
    State &st = S();
    std::lock_guard<std::mutex> lock(st.mu);
    return st.vm ? 1 : 0;
}

FAKEJVM_API int FakeJvm_AttachedThreadCount(void) {
    State &st = S();
    std::lock_guard<std::mutex> lock(st.mu);
    if (!st.vm) return 0;
    int n = 0;
    for (const auto &t : st.vm->threads) {
        if (t->attached && !t->creator) ++n;
    }
    return n;
}

FAKEJVM_API unsigned long FakeJvm_CurrentThreadKey(void) { return PlatformThreadKey(); }

FAKEJVM_API unsigned long FakeJvm_LastAttachedThreadKey(void) {
    State &st = S();
    std::lock_guard<std::mutex> lock(st.mu);
    return st.lastAttachedKey;
}

}  // extern "C"
