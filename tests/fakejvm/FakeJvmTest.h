// Shared by the stand-in runtime's tests: its entries reached the way the
// shell reaches them, and a VM that is always destroyed again.
#ifndef FAKEJVM_TEST_H
#define FAKEJVM_TEST_H

#include <jni.h>

#include <string>

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

extern const char kInterface[];
extern const char kMain[];

#endif
