// Shared by the stand-in runtime's tests: its entries reached the way the
// shell reaches them, and a VM that is always destroyed again.
#ifndef FAKEJVM_TEST_H
#define FAKEJVM_TEST_H

#include <jni.h>

#include <functional>
#include <string>
#include <vector>

#include "fakejvm_control.h"
#include "jdk11_init_args.h"

typedef jint(JNICALL *GetDefaultEntry)(void *);
typedef jint(JNICALL *CreateEntry)(JavaVM **, void **, void *);

// Looked up by name in the loaded library, as the shell does with
// GetProcAddress: this also proves the exports are undecorated.
GetDefaultEntry GetDefaultArgs();
CreateEntry CreateVm();

// JNI_CreateJavaVM with a 1.2 record naming chimelet.jar, as the shell
// makes it; the stand-in's script is whatever was loaded (or none).
jint CreateChimeletVm(JavaVM **vm, JNIEnv **env);

std::string LogText();
std::string ViolationText();

// Resets the stand-in, loads `script` and creates a VM with a 1.2 record
// naming chimelet.jar; the destructor ends the application and destroys the
// VM if the test has not. Script problems and create failures fail the test.
class TestVm {
public:
    explicit TestVm(const std::string &script = "");
    ~TestVm();
    TestVm(const TestVm &) = delete;
    TestVm &operator=(const TestVm &) = delete;

    JavaVM *vm = nullptr;
    JNIEnv *env = nullptr;

    // FindClass of the interface class and GetStaticMethodID of a method of it.
    jclass Interface();
    jmethodID Method(jclass cls, const char *name, const char *sig);
    jint Destroy();
};

// The host's window system as a program hands it in (Windows ignores it:
// user32 answers there). A message sent to the test's thread is a function
// queued for it; it runs when that thread serves sent messages, inside a
// serving delay or in its own loop (RunSentMessages). Installed while it
// lives; one at a time.
class TestWindowSystem {
public:
    static int const kNoEntry = -100;  // awareness: no threadDpiAwareness entry
    // What threadDpiAwareness answers; width 0: no systemMetrics entry.
    explicit TestWindowSystem(int awareness = 2, int width = 1280, int height = 800);
    ~TestWindowSystem();
    TestWindowSystem(const TestWindowSystem &) = delete;
    TestWindowSystem &operator=(const TestWindowSystem &) = delete;

    // SendMessage (returns once the message ran) or, with wait false,
    // SendNotifyMessage (returns at once).
    static void Send(std::function<void()> message, bool wait);
    // The thread's own loop: runs what was sent; how many.
    static int RunSentMessages();
    // The wait handed to each serveSentMessages call so far.
    static std::vector<unsigned long> Waits();
};

extern const char kInterface[];
extern const char kMain[];

#endif
