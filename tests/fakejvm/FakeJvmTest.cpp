#include "FakeJvmTest.h"

#include <gtest/gtest.h>

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
