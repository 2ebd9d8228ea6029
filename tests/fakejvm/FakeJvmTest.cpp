#include "FakeJvmTest.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

const char kInterface[] = "com/norvanta/kelvarin/data/TExternalDataInterface";
const char kMain[] = "com/norvanta/kelvarin/main/TApplication";

namespace {

void *Entry(const char *name) {
#ifdef _WIN32
    return reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("fakejvm.dll"), name));
#else
    std::string n = name;
    if (n == "JNI_CreateJavaVM") return reinterpret_cast<void *>(&JNI_CreateJavaVM);
    return reinterpret_cast<void *>(&JNI_GetDefaultJavaVMInitArgs);
#endif
}

struct Sent {
    std::function<void()> message;
    std::shared_ptr<std::promise<void>> done;  // null: SendNotifyMessage
};

struct {
    std::mutex mu;
    std::condition_variable cv;
    std::deque<Sent> queue;
    std::vector<unsigned long> waits;
    int awareness, width, height;
} gWindows;

// Runs what is queued, the lock released meanwhile: a message may send again.
int RunQueued(std::unique_lock<std::mutex> &lock) {
    int n = 0;
    while (!gWindows.queue.empty()) {
        Sent sent = std::move(gWindows.queue.front());
        gWindows.queue.pop_front();
        lock.unlock();
        sent.message();
        if (sent.done) sent.done->set_value();
        lock.lock();
        ++n;
    }
    return n;
}

int ServeSentMessages(unsigned long waitMs) {
    std::unique_lock<std::mutex> lock(gWindows.mu);
    gWindows.waits.push_back(waitMs);
    gWindows.cv.wait_for(lock, std::chrono::milliseconds(waitMs), [] { return !gWindows.queue.empty(); });
    return RunQueued(lock);
}

int ThreadDpiAwareness() { return gWindows.awareness; }

int SystemMetrics(int index) { return index == 0 ? gWindows.width : index == 1 ? gWindows.height : 0; }

std::string Copied(size_t (*copy)(char *, size_t)) {
    std::vector<char> text(copy(nullptr, 0) + 1);
    copy(text.data(), text.size());
    return text.data();
}

}  // namespace

GetDefaultEntry GetDefaultArgs() { return reinterpret_cast<GetDefaultEntry>(Entry("JNI_GetDefaultJavaVMInitArgs")); }

CreateEntry CreateVm() { return reinterpret_cast<CreateEntry>(Entry("JNI_CreateJavaVM")); }

std::string LogText() { return Copied(FakeJvm_CopyLog); }

std::string ViolationText() { return Copied(FakeJvm_CopyViolations); }

jint CreateChimeletVm(JavaVM **vm, JNIEnv **env) {
    char option[] = "-Djava.class.path=chimelet.jar";
    JavaVMOption options[1] = {{option, nullptr}};
    JavaVMInitArgs args = {JNI_VERSION_1_2, 1, options, JNI_TRUE};
    CreateEntry create = CreateVm();
    return create ? create(vm, reinterpret_cast<void **>(env), &args) : JNI_ERR;
}

TestVm::TestVm(const std::string &script) {
    FakeJvm_Reset();
    // A watchdog for every test: a VM that cannot end fails instead of hanging.
    EXPECT_EQ(FakeJvm_Script(("destroy timeout 10000\n" + script).c_str()), 0) << script;
    if (CreateChimeletVm(&vm, &env) != JNI_OK) {
        ADD_FAILURE() << "no VM: " << LogText();
        vm = nullptr;
        env = nullptr;
    }
}

TestVm::~TestVm() {
    if (FakeJvm_VmExists()) Destroy();
}

jint TestVm::Destroy() {
    FakeJvm_EndApplication();
    return vm->DestroyJavaVM();
}

jclass TestVm::Interface() { return env->FindClass(kInterface); }

jmethodID TestVm::Method(jclass cls, const char *name, const char *sig) {
    return env->GetStaticMethodID(cls, name, sig);
}

TestWindowSystem::TestWindowSystem(int awareness, int width, int height) {
    {
        std::lock_guard<std::mutex> lock(gWindows.mu);
        gWindows.queue.clear();
        gWindows.waits.clear();
        gWindows.awareness = awareness;
        gWindows.width = width;
        gWindows.height = height;
    }
    FakeJvmWindowSystem ws = {ServeSentMessages, awareness == kNoEntry ? nullptr : ThreadDpiAwareness,
                              width ? SystemMetrics : nullptr};
    FakeJvm_SetWindowSystem(&ws);
}

TestWindowSystem::~TestWindowSystem() {
    FakeJvm_SetWindowSystem(nullptr);
    std::lock_guard<std::mutex> lock(gWindows.mu);
    gWindows.waits.clear();
}

void TestWindowSystem::Send(std::function<void()> message, bool wait) {
    auto done = wait ? std::make_shared<std::promise<void>>() : nullptr;
    {
        std::lock_guard<std::mutex> lock(gWindows.mu);
        gWindows.queue.push_back({std::move(message), done});
    }
    gWindows.cv.notify_all();
    // Bounded: a thread that never serves fails the test instead of hanging it.
    if (done) done->get_future().wait_for(std::chrono::seconds(10));
}

int TestWindowSystem::RunSentMessages() {
    std::unique_lock<std::mutex> lock(gWindows.mu);
    return RunQueued(lock);
}

std::vector<unsigned long> TestWindowSystem::Waits() {
    std::lock_guard<std::mutex> lock(gWindows.mu);
    return gWindows.waits;
}
