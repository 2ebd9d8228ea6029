// DestroyJavaVM waits as a real VM does: for the application, and for every
// attached non-daemon thread. Each test bounds the wait, so a fault fails
// instead of hanging.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

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

}  // namespace
