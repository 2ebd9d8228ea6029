// DestroyJavaVM waits as a real VM does: for the application, and for every
// attached non-daemon thread. Each test bounds the wait, so a fault fails
// instead of hanging.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "FakeJvmTest.h"

namespace {

using Clock = std::chrono::steady_clock;

long long MillisSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

void RunMain(TestVm &v) {
    jclass main = v.env->FindClass(kMain);
    v.env->CallStaticVoidMethod(main, v.env->GetStaticMethodID(main, "main", "([Ljava/lang/String;)V"), nullptr);
    v.env->DeleteLocalRef(main);
}

// Where a helper thread stands: attached the way the case says, then what it
// does before it ends.
enum class Helper { None, NonDaemonDetachesLater, DaemonNeverDetaches, NonDaemonEndsAttached };

struct WaitCase {
    const char *name;
    const char *script;
    Helper helper;
    bool endApplication;  // the test ends the application before destroying
    jint rc;
    long long minMs;      // DestroyJavaVM took at least this long
    const char *violation;
};

TEST(Lifecycle, DestroyWaitsForApplicationAndNonDaemonThreads) {
    WaitCase const cases[] = {
        {"nothing left", "", Helper::None, true, JNI_OK, 0, ""},
        {"non-daemon thread until it detaches", "", Helper::NonDaemonDetachesLater, true, JNI_OK, 200, ""},
        {"daemon thread is not waited for", "", Helper::DaemonNeverDetaches, true, JNI_OK, 0, ""},
        {"application that ends by itself", "main end-after 300", Helper::None, false, JNI_OK, 250, ""},
        {"main that throws with nothing started", "main throw java/lang/IllegalStateException\nmain end",
         Helper::None, false, JNI_OK, 0, ""},
        {"thread that ended attached keeps it waiting", "destroy timeout 300", Helper::NonDaemonEndsAttached, true,
         JNI_ERR, 250, "DestroyJavaVM: still waiting after 300 ms: non-daemon thread \"Thread-0\" is still attached"},
        {"application that never ends", "destroy timeout 300", Helper::None, false, JNI_ERR, 250,
         "still waiting after 300 ms: the application is still running"},
    };
    for (const WaitCase &c : cases) {
        SCOPED_TRACE(c.name);
        TestVm v(c.script);
        ASSERT_NE(v.env, nullptr);
        RunMain(v);
        std::promise<void> attached;
        std::thread helper;
        if (c.helper != Helper::None) {
            helper = std::thread([&] {
                JNIEnv *env = nullptr;
                if (c.helper == Helper::DaemonNeverDetaches) {
                    v.vm->AttachCurrentThreadAsDaemon(reinterpret_cast<void **>(&env), nullptr);
                } else {
                    v.vm->AttachCurrentThread(reinterpret_cast<void **>(&env), nullptr);
                }
                attached.set_value();
                if (c.helper == Helper::NonDaemonDetachesLater) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(250));
                    v.vm->DetachCurrentThread();
                }
            });
            attached.get_future().wait();
        }
        if (c.endApplication) FakeJvm_EndApplication();
        Clock::time_point start = Clock::now();
        EXPECT_EQ(v.vm->DestroyJavaVM(), c.rc) << LogText();
        EXPECT_GE(MillisSince(start), c.minMs);
        if (helper.joinable()) helper.join();
        std::string violations = ViolationText();
        if (*c.violation) {
            EXPECT_NE(violations.find(c.violation), std::string::npos) << violations;
        } else {
            EXPECT_EQ(FakeJvm_ViolationCount(), 0) << violations;
            std::string log = LogText();
            // What released the wait comes before the end of the wait.
            size_t end = log.find("destroy end -> 0");
            EXPECT_NE(end, std::string::npos);
            if (c.helper == Helper::NonDaemonDetachesLater) EXPECT_LT(log.find("detach -> 0"), end);
            EXPECT_LT(log.find("application end"), end);
        }
        if (c.rc != JNI_OK) {
            // A refused DestroyJavaVM leaves the VM alive; a thread that ended
            // attached can never leave it, so the case ends it by force.
            FakeJvm_EndApplication();
            if (c.helper == Helper::NonDaemonEndsAttached) {
                EXPECT_EQ(FakeJvm_AttachedThreadCount(), 1);
                FakeJvm_ForceDestroy();
            } else {
                EXPECT_EQ(v.vm->DestroyJavaVM(), JNI_OK);
            }
        }
    }
}

TEST(Lifecycle, CreatorThatDetachedAndCameBackCanDestroy) {
    TestVm v;
    ASSERT_NE(v.env, nullptr);
    EXPECT_EQ(v.vm->DetachCurrentThread(), JNI_OK);
    JNIEnv *env = nullptr;
    EXPECT_EQ(v.vm->AttachCurrentThread(reinterpret_cast<void **>(&env), nullptr), JNI_OK);
    // Its record comes back, env and all: a thread attaching for every call
    // must not grow the model.
    EXPECT_EQ(env, v.env);
    EXPECT_NE(env->GetVersion(), 0);
    EXPECT_EQ(v.Destroy(), JNI_OK) << ViolationText();
}

TEST(Lifecycle, WaitLogSeesWhatOtherThreadsDo) {
    TestVm v;
    ASSERT_NE(v.env, nullptr);
    std::thread late([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        JNIEnv *env = nullptr;
        v.vm->AttachCurrentThread(reinterpret_cast<void **>(&env), nullptr);
        v.vm->DetachCurrentThread();
    });
    EXPECT_EQ(FakeJvm_WaitLog("detach -> 0", 1, 10000), 1);
    late.join();
    Clock::time_point start = Clock::now();
    EXPECT_EQ(FakeJvm_WaitLog("never logged", 1, 100), 0);
    EXPECT_GE(MillisSince(start), 90);
}

struct AttachCase {
    const char *name;
    const char *script;
    bool daemon;
    jint rc;
    int attachedAfter;  // attached threads besides the creator, after attaching twice
    int violations;
};

TEST(Lifecycle, AttachDetachAndGetEnv) {
    AttachCase const cases[] = {
        {"non-daemon, attached twice stays attached once", "", false, JNI_OK, 1, 0},
        {"daemon", "mode modern", true, JNI_OK, 1, 0},
        {"a 1.2 VM offers no daemon attach", "mode classic", true, JNI_ERR, 0, 2},
        {"scripted failure of the first attach only", "attach -1", false, JNI_ERR, 1, 0},
    };
    for (const AttachCase &c : cases) {
        SCOPED_TRACE(c.name);
        TestVm v(c.script);
        ASSERT_NE(v.env, nullptr);
        std::thread([&] {
            JNIEnv *env = nullptr;
            void *found = &env;  // poison: GetEnv must clear it
            EXPECT_EQ(v.vm->GetEnv(&found, JNI_VERSION_1_2), JNI_EDETACHED);
            EXPECT_EQ(found, nullptr);
            auto attach = [&] {
                return c.daemon ? v.vm->AttachCurrentThreadAsDaemon(reinterpret_cast<void **>(&env), nullptr)
                                : v.vm->AttachCurrentThread(reinterpret_cast<void **>(&env), nullptr);
            };
            EXPECT_EQ(attach(), c.rc);
            JNIEnv *first = env;
            jint second = attach();
            EXPECT_EQ(FakeJvm_AttachedThreadCount(), c.attachedAfter);
            if (c.rc == JNI_OK) EXPECT_EQ(env, first);  // the same env again
            if (second == JNI_OK) {
                EXPECT_EQ(FakeJvm_LastAttachedThreadKey(), FakeJvm_CurrentThreadKey());
                EXPECT_EQ(v.vm->GetEnv(&found, JNI_VERSION_1_2), JNI_OK);
                EXPECT_EQ(found, env);
                EXPECT_EQ(FakeJvm_LiveLocalRefs(0), 0);
                env->FindClass(kInterface);
                EXPECT_EQ(FakeJvm_LiveLocalRefs(FakeJvm_CurrentThreadKey()), 1);
                EXPECT_EQ(v.vm->DetachCurrentThread(), JNI_OK);  // one detach undoes both
                EXPECT_EQ(FakeJvm_AttachedThreadCount(), 0);
                EXPECT_EQ(FakeJvm_LiveLocalRefs(0), 0);
            }
        }).join();
        EXPECT_EQ(FakeJvm_ViolationCount(), c.violations) << ViolationText();
        EXPECT_EQ(v.Destroy(), JNI_OK);
    }
}

// ------------------------------------------------------------ System.exit

enum class Hook { None, Returns, CallsJni, Waits };  // None: the 1.2 record names no function

struct {
    std::mutex mu;
    std::condition_variable cv;
    Hook does;
    JavaVM *vm;
    JNIEnv *env;
    std::vector<int> hooked, exited;
    unsigned long hookThread;
} gExit;

void JNICALL ExitHook(jint code) {
    std::fprintf(stderr, "hook called with %d\n", static_cast<int>(code));
    void *env = nullptr;
    if (gExit.does == Hook::CallsJni) {  // with the env it kept, and through the JavaVM
        gExit.env->FindClass(kInterface);
        gExit.vm->GetEnv(&env, JNI_VERSION_1_2);
        gExit.vm->AttachCurrentThread(&env, nullptr);
    }
    std::unique_lock<std::mutex> lock(gExit.mu);
    gExit.hooked.push_back(code);
    gExit.hookThread = FakeJvm_CurrentThreadKey();
    if (gExit.does == Hook::Waits) gExit.cv.wait_for(lock, std::chrono::seconds(5), [] { return !gExit.exited.empty(); });
}

void ProcessExit(int code) {
    std::lock_guard<std::mutex> lock(gExit.mu);
    gExit.exited.push_back(code);
    gExit.cv.notify_all();
}

// A 1.1 record with the hook (classic takes it, the others refuse it), else
// or then a 1.2 record with the hook as the case says.
jint CreateForExit(bool record11, Hook hook) {
    char jar[] = "chimelet.jar", classPath[] = "-Djava.class.path=chimelet.jar", exitOption[] = "exit";
    JavaVMOption options[2] = {{classPath, nullptr}, {exitOption, nullptr}};
    if (hook != Hook::None) options[1].extraInfo = reinterpret_cast<void *>(&ExitHook);
    JavaVMInitArgs args = {JNI_VERSION_1_2, 2, options, JNI_FALSE};
    JDK1_1InitArgs old = {JNI_VERSION_1_1};
    old.classpath = jar;
    old.exit = ExitHook;
    void **env = reinterpret_cast<void **>(&gExit.env);
    if (record11 && CreateVm()(&gExit.vm, env, &old) == JNI_OK) return JNI_OK;
    return CreateVm()(&gExit.vm, env, &args);
}

void CallStatic(JNIEnv *env, const char *cls, const char *name, const char *sig) {
    jclass k = env->FindClass(cls);
    env->CallStaticVoidMethod(k, env->GetStaticMethodID(k, name, sig), nullptr);
    env->DeleteLocalRef(k);
}

struct ExitCase {
    const char *name;
    const char *script;  // with "quit exit", the test thread calls quit
    bool record11;
    Hook hook;
    int code;  // -1: no exit
    std::vector<const char *> log;  // in this order
    std::vector<const char *> violations;
};

TEST(Lifecycle, SystemExitCallsTheHookThenEndsTheProcess) {
    ExitCase const cases[] = {
        {"classic: the 1.1 record's hook", "mode classic\nexit after 100 3", true, Hook::Returns, 3,
         {"create version=0x00010001 classpath=chimelet.jar exit=hook -> 0",
          "application exit 3 on thread \"AWT-EventQueue-0\"", "exit hook 3\n", "exit hook returned", "process exit 3",
          "application end"}, {}},
        {"modern: the exit option's hook", "mode modern\nexit after 100 4", false, Hook::Returns, 4,
         {"options=[-Djava.class.path=chimelet.jar, exit]", "exit hook 4\n", "exit hook returned", "process exit 4"}, {}},
        {"hotspot: a thread inside a long Java call is not waited for", "exit after 200 5\ndelay showReminderList 5000",
         false, Hook::Returns, 5, {"invoke", "exit hook returned", "process exit 5", "detach"}, {}},
        {"no hook: a refused record's is not kept, the process still ends", "exit after 100 6", true, Hook::None, 6,
         {"exit=hook -> -3", "exit] ignoreUnrecognized=0 -> 0", "application exit 6", "process exit 6"}, {}},
        {"quit: exit on its caller's thread, the hook on the VM's; no JNI in the hook", "mode classic\nquit exit 1", true,
         Hook::CallsJni, 1, {"application exit 1 on thread \"main\"", "exit hook 1\n", "exit hook returned", "process exit 1"},
         {"FindClass: called from inside the exit hook", "GetEnv: called from inside the exit hook",
          "AttachCurrentThread: called from inside the exit hook"}},
        {"a hook that waits: the process ends without it", "exit after 100 2\ndelay showReminderList 5000", false,
         Hook::Waits, 2, {"exit hook 2\n", "process exit 2", "exit hook returned"}, {"exit hook: still running after 2000 ms"}},
        {"quit with a hook that waits: its caller is back once the watchdog ended the run", "quit exit 8", false,
         Hook::Waits, 8, {"application exit 8 on thread \"main\"", "exit hook 8\n", "process exit 8", "exit hook returned"},
         {"exit hook: still running after 2000 ms"}},
        {"a call serving sent messages inside Java is not waited for either",
         "exit after 200 5\ndelay showReminderList 5000 serving", false, Hook::Returns, 5,
         {"invoke", "exit hook returned", "process exit 5", "detach"}, {}},
        {"an application that ended first calls no exit", "main end-after 50\nexit after 300 3", false, Hook::Returns, -1,
         {"application end"}, {}},
    };
    for (const ExitCase &c : cases) {
        SCOPED_TRACE(c.name);
        FakeJvm_Reset();
        FakeJvm_SetProcessExit(ProcessExit);
        gExit.does = c.hook;
        gExit.hooked.clear();
        gExit.exited.clear();
        gExit.hookThread = 0;
        ASSERT_EQ(FakeJvm_Script((std::string("destroy timeout 10000\n") + c.script).c_str()), 0);
        ASSERT_EQ(CreateForExit(c.record11, c.hook), JNI_OK) << LogText();
        Clock::time_point start = Clock::now();
        CallStatic(gExit.env, kMain, "main", "([Ljava/lang/String;)V");
        std::thread monitor([] {
            JNIEnv *env = nullptr;
            gExit.vm->AttachCurrentThread(reinterpret_cast<void **>(&env), nullptr);
            CallStatic(env, kInterface, "showReminderList", "()V");
            gExit.vm->DetachCurrentThread();
        });
        FakeJvm_WaitLog("invoke com/norvanta/kelvarin/data/TExternalDataInterface.showReminderList", 1, 5000);
        if (std::strstr(c.script, "quit exit")) {
            CallStatic(gExit.env, kInterface, "quit", "()V");
            // Its caller is back only once the run has ended, the hook called.
            EXPECT_EQ(FakeJvm_CountLog("application end"), 1);
            std::lock_guard<std::mutex> lock(gExit.mu);
            EXPECT_EQ(gExit.hooked.size(), c.hook == Hook::None ? 0u : 1u);
            EXPECT_EQ(gExit.exited.size(), 1u);
        }
        // Neither hook nor exit waits for the monitor's call; the application then ends.
        EXPECT_EQ(FakeJvm_WaitLog("application end", 1, 4000), 1);
        EXPECT_LT(MillisSince(start), 4000);
        FakeJvm_WaitLog("exit hook returned", 1, 300);  // a hook that overran returns after the exit
        EXPECT_EQ(gExit.vm->DestroyJavaVM(), JNI_OK) << LogText();
        monitor.join();
        EXPECT_LT(MillisSince(start), 4500) << "the exit waited for the monitor's call to end";
        std::lock_guard<std::mutex> lock(gExit.mu);
        std::vector<int> const code = c.code < 0 ? std::vector<int>{} : std::vector<int>{c.code};
        EXPECT_EQ(gExit.exited, code);
        EXPECT_EQ(gExit.hooked, c.hook == Hook::None ? std::vector<int>{} : code);
        // On the VM's own thread, never on the one that called exit (quit's
        // caller is this thread).
        if (!gExit.hooked.empty()) EXPECT_NE(gExit.hookThread, FakeJvm_CurrentThreadKey());
        std::string log = LogText(), violations = ViolationText();
        for (size_t k = 0, at = 0; k < c.log.size(); ++k) EXPECT_NE(at = log.find(c.log[k], at), std::string::npos) << c.log[k] << "\n" << log;
        EXPECT_EQ(FakeJvm_ViolationCount(), static_cast<int>(c.violations.size())) << violations;
        for (const char *part : c.violations) EXPECT_NE(violations.find(part), std::string::npos) << part;
    }
    FakeJvm_Reset();
}

// Without an exit function the process really ends, with the code, after the hook.
void QuitForReal() {
    FakeJvm_Reset();
    FakeJvm_Script("quit exit 42");
    if (CreateForExit(false, gExit.does = Hook::Returns) == JNI_OK) CallStatic(gExit.env, kInterface, "quit", "()V");
}

TEST(Lifecycle, SystemExitEndsTheProcessWithTheCode) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(QuitForReal(), ::testing::ExitedWithCode(42), "hook called with 42");
}

}  // namespace
