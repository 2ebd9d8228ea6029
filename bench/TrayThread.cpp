// A thread that runs the calls handed to it, one at a time, and the click
// such a thread times.

#include "TrayThread.h"

#if !defined(_WIN32)
#include <sched.h>
#endif

#include "kelvarin.h"

namespace bench {

CallThread::CallThread()
{
    ready_ = CreateEventA(NULL, FALSE, FALSE, NULL);
    done_ = CreateEventA(NULL, FALSE, FALSE, NULL);
    if (ready_ && done_)
        thread_ = CreateThread(NULL, 0, Loop, this, 0, NULL);
}

CallThread::~CallThread()
{
    if (thread_) {
        call_ = nullptr;
        SetEvent(ready_);
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
    }
    if (ready_)
        CloseHandle(ready_);
    if (done_)
        CloseHandle(done_);
}

void CallThread::Run(std::function<void()> const &call)
{
    call_ = &call;
    SetEvent(ready_);
    WaitForSingleObject(done_, INFINITE);
}

DWORD WINAPI CallThread::Loop(LPVOID self)
{
    CallThread *me = static_cast<CallThread *>(self);
    for (;;) {
        WaitForSingleObject(me->ready_, INFINITE);
        if (!me->call_)
            return 0;
        (*me->call_)();
        SetEvent(me->done_);
    }
}

int KeepOnOneCpu(int cpu)
{
#if defined(_WIN32)
    if (cpu < 0) {
        DWORD_PTR process = 0, system = 0;
        if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system) || process == 0)
            return -1;
        for (cpu = 0; !(process & ((DWORD_PTR)1 << cpu)); ++cpu) {
        }
    }
    return SetThreadAffinityMask(GetCurrentThread(), (DWORD_PTR)1 << cpu) ? cpu : -1;
#else
    if (cpu < 0)
        cpu = sched_getcpu();
    if (cpu < 0)
        return -1;
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    return sched_setaffinity(0, sizeof set, &set) == 0 ? cpu : -1;
#endif
}

bool ClickAttached()
{
    JNIEnv *env = NULL;
    if (sg_jvm->AttachCurrentThread((void **)&env, NULL) < 0)
        return false;
    sg_pEnvThread = env;
    DestroyMenu(BuildNotifyIconMenu());
    sg_pEnvThread = NULL;
    sg_jvm->DetachCurrentThread();
    return true;
}

}  // namespace bench
