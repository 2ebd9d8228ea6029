#include "BoundJava.h"

#include <windows.h>

#include <vector>

#include "TestSupport.h"
#include "fakejvm_control.h"
#include "kelvarin.h"

typedef jint(JNICALL *CreateJavaVMEntry)(JavaVM **, void **, void *);

BoundJava::BoundJava(std::string const &script, bool bindCaller)
{
    FakeJvm_Reset();
    if (!script.empty() && FakeJvm_Script(script.c_str()) != 0)
        return;

    HMODULE library = LoadLibraryA(FakeJvmLibraryPath().c_str());
    CreateJavaVMEntry create = library ? (CreateJavaVMEntry)(void *)GetProcAddress(library, "JNI_CreateJavaVM") : NULL;
    if (!create)
        return;

    char classPath[] = "-Djava.class.path=chimelet.jar";
    JavaVMOption option;
    option.optionString = classPath;
    option.extraInfo = NULL;
    JavaVMInitArgs args;
    args.version = JNI_VERSION_1_2;
    args.nOptions = 1;
    args.options = &option;
    args.ignoreUnrecognized = JNI_TRUE;
    if (create(&vm_, (void **)&env_, &args) != JNI_OK) {
        vm_ = nullptr;
        env_ = nullptr;
        return;
    }
    sg_jvm = vm_;
    if (bindCaller)
        sg_pEnvThread = env_;
}

BoundJava::~BoundJava()
{
    sg_pEnvThread = NULL;
    sg_jvm = NULL;
    if (vm_) {
        FakeJvm_EndApplication();
        vm_->DestroyJavaVM();
    }
}

std::string BoundJava::Log()
{
    std::vector<char> text(FakeJvm_CopyLog(NULL, 0) + 1);
    FakeJvm_CopyLog(text.data(), text.size());
    return text.data();
}

int BoundJava::Count(std::string const &prefix)
{
    return FakeJvm_CountLog(prefix.c_str());
}

std::string BoundJava::Violations()
{
    std::vector<char> text(FakeJvm_CopyViolations(NULL, 0) + 1);
    FakeJvm_CopyViolations(text.data(), text.size());
    return text.data();
}

std::string InvokeLine(std::string const &method, std::string const &sig, std::string const &args)
{
    std::string line = "invoke com/norvanta/kelvarin/data/TExternalDataInterface." + method + sig;
    return args.empty() ? line : line + " " + args;
}

bool WaitForLog(std::string const &prefix, int count)
{
    for (int waited = 0; waited < 10000; waited += 10) {
        if (FakeJvm_CountLog(prefix.c_str()) >= count)
            return true;
        Sleep(10);
    }
    return false;
}
