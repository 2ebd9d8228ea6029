// Every strictness rule fires on the misuse it names, once, and the correct
// use next to it stays silent.
#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <thread>
#include <vector>

#include "FakeJvmTest.h"

namespace {

const char kStringArray[] = "()[Ljava/lang/String;";

// Runs fn on a thread of its own that attaches first, lets `between` run on
// the test thread while it is still attached, then detaches.
void WithAttachedThread(JavaVM *vm, const std::function<void(JNIEnv *)> &fn, const std::function<void()> &between) {
    std::promise<void> ready, done;
    std::thread t([&] {
        JNIEnv *env = nullptr;
        vm->AttachCurrentThread(reinterpret_cast<void **>(&env), nullptr);
        fn(env);
        ready.set_value();
        done.get_future().wait();
        vm->DetachCurrentThread();
    });
    ready.get_future().wait();
    between();
    done.set_value();
    t.join();
}

struct StrictCase {
    const char *name;
    std::function<void(TestVm &)> act;
    std::vector<const char *> violations;  // a part of each violation expected, in order
};

TEST(Strictness, EachRuleFiresOnceAndOnlyOnMisuse) {
    StrictCase const cases[] = {
        {"FindClass with an exception pending",
         [](TestVm &v) {
             v.env->GetStaticMethodID(v.Interface(), "nope", "()V");
             v.env->FindClass(kInterface);
         },
         {"FindClass: called with an exception pending (java/lang/NoSuchMethodError: nope)"}},
        {"the calls JNI allows with an exception pending",
         [](TestVm &v) {
             jclass cls = v.Interface();
             jstring s = v.env->NewStringUTF("x");
             const char *p = v.env->GetStringUTFChars(s, nullptr);
             v.env->GetStaticMethodID(cls, "nope", "()V");
             EXPECT_TRUE(v.env->ExceptionCheck());
             jthrowable t = v.env->ExceptionOccurred();
             v.env->ReleaseStringUTFChars(s, p);
             v.env->DeleteLocalRef(t);
             v.env->PushLocalFrame(4);
             v.env->PopLocalFrame(nullptr);
             v.env->ExceptionDescribe();
             EXPECT_FALSE(v.env->ExceptionCheck());
         },
         {}},
        {"NULL class", [](TestVm &v) { v.env->GetStaticMethodID(nullptr, "quit", "()V"); },
         {"GetStaticMethodID: NULL class"}},
        {"NULL method ID left by a failed lookup",
         [](TestVm &v) {
             jclass cls = v.Interface();
             jmethodID mid = v.Method(cls, "nope", "()V");
             v.env->ExceptionClear();
             v.env->CallStaticVoidMethod(cls, mid);
         },
         {"CallStaticVoidMethodV: NULL method ID"}},
        // The member forms of jni.h forward to the V functions, which then
        // name themselves in the violation.
        {"method ID of another class",
         [](TestVm &v) {
             jclass main = v.env->FindClass(kMain);
             jmethodID mid = v.Method(main, "main", "([Ljava/lang/String;)V");
             v.env->CallStaticVoidMethod(v.Interface(), mid, nullptr);
         },
         {"method ID of com/norvanta/kelvarin/main/TApplication.main([Ljava/lang/String;)V used with class "
          "com/norvanta/kelvarin/data/TExternalDataInterface"}},
        {"void call of a boolean method",
         [](TestVm &v) {
             jclass cls = v.Interface();
             v.env->CallStaticVoidMethod(cls, v.Method(cls, "isDoNotDisturbOn", "()Z"));
         },
         {"CallStaticVoidMethodV: com/norvanta/kelvarin/data/TExternalDataInterface.isDoNotDisturbOn()Z returns "
          "boolean, not void"}},
        {"matching calls, a null va_list for a method without parameters",
         [](TestVm &v) {
             jclass cls = v.Interface();
             v.env->CallStaticBooleanMethod(cls, v.Method(cls, "isDoNotDisturbOn", "()Z"));
             jobject list = v.env->CallStaticObjectMethodV(cls, v.Method(cls, "getTemplateList", kStringArray), nullptr);
             EXPECT_NE(list, nullptr);
             jvalue arg;
             arg.i = 7;
             v.env->CallStaticVoidMethodA(cls, v.Method(cls, "showEditReminderWithTemplate", "(I)V"), &arg);
         },
         {}},
        {"deleted local reference",
         [](TestVm &v) {
             jclass cls = v.Interface();
             v.env->DeleteLocalRef(cls);
             v.env->GetStaticMethodID(cls, "quit", "()V");
         },
         {"GetStaticMethodID: stale local reference"}},
        {"reference of a popped frame",
         [](TestVm &v) {
             v.env->PushLocalFrame(4);
             jclass cls = v.Interface();
             v.env->PopLocalFrame(nullptr);
             v.env->GetStaticMethodID(cls, "quit", "()V");
         },
         {"GetStaticMethodID: stale local reference"}},
        {"local reference of another thread",
         [](TestVm &v) {
             jclass theirs = nullptr;
             WithAttachedThread(
                 v.vm, [&](JNIEnv *env) { theirs = env->FindClass(kInterface); },
                 [&] { v.env->GetStaticMethodID(theirs, "quit", "()V"); });
         },
         {"GetStaticMethodID: local reference of thread \"Thread-0\" used on thread \"main\""}},
        {"env used on another thread",
         [](TestVm &v) { std::thread([&] { v.env->FindClass(kInterface); }).join(); },
         {"FindClass: JNIEnv of thread \"main\" used on unattached thread"}},
        {"env of a detached thread",
         [](TestVm &v) {
             std::thread([&] {
                 JNIEnv *env = nullptr;
                 v.vm->AttachCurrentThread(reinterpret_cast<void **>(&env), nullptr);
                 v.vm->DetachCurrentThread();
                 env->FindClass(kInterface);
             }).join();
         },
         {"FindClass: JNIEnv of thread \"Thread-0\" used after that thread detached"}},
        {"local references pile up, told once",
         [](TestVm &v) {
             for (int i = 0; i < 20; ++i) v.Interface();
         },
         {"local references pile up: thread \"main\" has 17 live in a frame of capacity 16"}},
        {"capacity granted by EnsureLocalCapacity",
         [](TestVm &v) {
             v.env->EnsureLocalCapacity(32);
             for (int i = 0; i < 20; ++i) v.Interface();
         },
         {}},
        {"a pushed frame holds what it asked for",
         [](TestVm &v) {
             v.env->PushLocalFrame(4);
             for (int i = 0; i < 5; ++i) v.Interface();
             v.env->PopLocalFrame(nullptr);
         },
         {"has 5 live in a frame of capacity 4"}},
        {"a build that releases everything leaves nothing",
         [](TestVm &v) {
             int before = FakeJvm_LiveLocalRefs(0);
             for (int round = 0; round < 50; ++round) {
                 jclass cls = v.Interface();
                 jobjectArray a = static_cast<jobjectArray>(
                     v.env->CallStaticObjectMethod(cls, v.Method(cls, "getTemplateList", kStringArray)));
                 for (jsize i = 0; i < v.env->GetArrayLength(a); ++i) {
                     jstring s = static_cast<jstring>(v.env->GetObjectArrayElement(a, i));
                     v.env->ReleaseStringUTFChars(s, v.env->GetStringUTFChars(s, nullptr));
                     v.env->DeleteLocalRef(s);
                 }
                 v.env->DeleteLocalRef(a);
                 v.env->DeleteLocalRef(cls);
             }
             EXPECT_EQ(FakeJvm_LiveLocalRefs(0), before);
             EXPECT_EQ(FakeJvm_OutstandingUtfChars(), 0);
         },
         {}},
        {"ReleaseStringUTFChars with a foreign pointer",
         [](TestVm &v) { v.env->ReleaseStringUTFChars(v.env->NewStringUTF("abc"), "abc"); },
         {"ReleaseStringUTFChars: pointer that GetStringUTFChars did not give"}},
        {"ReleaseStringUTFChars twice",
         [](TestVm &v) {
             jstring s = v.env->NewStringUTF("abc");
             const char *p = v.env->GetStringUTFChars(s, nullptr);
             v.env->ReleaseStringUTFChars(s, p);
             v.env->ReleaseStringUTFChars(s, p);
         },
         {"ReleaseStringUTFChars: pointer released twice"}},
        {"DeleteLocalRef of a global reference",
         [](TestVm &v) {
             jobject g = v.env->NewGlobalRef(v.Interface());
             v.env->DeleteLocalRef(g);
             v.env->DeleteGlobalRef(g);
             EXPECT_EQ(FakeJvm_LiveGlobalRefs(), 0);
         },
         {"DeleteLocalRef: given a global reference"}},
        {"deleted global reference",
         [](TestVm &v) {
             jclass g = static_cast<jclass>(v.env->NewGlobalRef(v.Interface()));
             v.env->DeleteGlobalRef(g);
             v.env->GetStaticMethodID(g, "quit", "()V");
         },
         {"GetStaticMethodID: deleted global reference"}},
        {"unimplemented __stdcall slot keeps the stack whole",
         [](TestVm &v) {
             jint values[2] = {1, 2};
             v.env->functions->SetIntArrayRegion(v.env, nullptr, 0, 2, values);
             EXPECT_EQ(v.env->functions->GetFieldID(v.env, nullptr, "a", "I"), nullptr);
         },
         {"unimplemented JNI function SetIntArrayRegion", "unimplemented JNI function GetFieldID"}},
        {"unimplemented variadic slot",
         [](TestVm &v) { EXPECT_EQ(v.env->functions->CallIntMethod(v.env, nullptr, nullptr, 1, 2.0, 3), 0); },
         {"unimplemented JNI function CallIntMethod"}},
        {"DestroyJavaVM from another thread",
         [](TestVm &v) { std::thread([&] { EXPECT_EQ(v.vm->DestroyJavaVM(), JNI_ERR); }).join(); },
         {"not on the thread that created the VM"}},
        {"DestroyJavaVM twice",
         [](TestVm &v) {
             EXPECT_EQ(v.Destroy(), JNI_OK);
             EXPECT_EQ(v.vm->DestroyJavaVM(), JNI_ERR);
         },
         {"DestroyJavaVM: JavaVM used after DestroyJavaVM"}},
    };
    for (const StrictCase &c : cases) {
        SCOPED_TRACE(c.name);
        TestVm v;
        ASSERT_NE(v.env, nullptr);
        c.act(v);
        std::string text = ViolationText();
        EXPECT_EQ(FakeJvm_ViolationCount(), static_cast<int>(c.violations.size())) << text;
        size_t at = 0;
        for (const char *part : c.violations) {
            at = text.find(part, at);
            EXPECT_NE(at, std::string::npos) << part << "\n" << text;
        }
    }
}

TEST(Strictness, EverySlotIsFilled) {
    TestVm v;
    ASSERT_NE(v.env, nullptr);
    // The table as jni.h lays it out: four reserved slots, then functions.
    void *const *slots = reinterpret_cast<void *const *>(v.env->functions);
    size_t count = sizeof(JNINativeInterface_) / sizeof(void *);
    for (size_t i = 4; i < count; ++i) EXPECT_NE(slots[i], nullptr) << "slot " << i;
    void *const *invoke = reinterpret_cast<void *const *>(v.vm->functions);
    for (size_t i = 3; i < sizeof(JNIInvokeInterface_) / sizeof(void *); ++i) EXPECT_NE(invoke[i], nullptr) << i;
}

}  // namespace
