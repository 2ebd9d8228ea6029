// The application commands: each calls one static method of the Java
// interface class on the monitor thread, and does nothing while the tray is
// not bound to Java or when Java lacks the class or the method.

#include <windows.h>

#include <string.h>

#include "kelvarin.h"
#include "resource.h"

bool DescribeJavaException(JNIEnv *env)
{
    if (!env->ExceptionCheck())
        return false;
    env->ExceptionDescribe();
    // Describing clears it on the VMs we know; the JNI rules only promise so
    // from 1.2 on.
    env->ExceptionClear();
    return true;
}

static jclass FindInterfaceClass(JNIEnv *env)
{
    jclass cls = env->FindClass(interfaceClassName);
    if (!cls)
        DescribeJavaException(env);
    return cls;
}

jclass GetApplicationInterfaceClass()
{
    JNIEnv *env = sg_pEnvThread;
    if (!env || sg_javaQuit)
        return NULL;
    return FindInterfaceClass(env);
}

// CallInterfaceMethod also after quit has been set: quit's own call. The
// class and the method are looked up afresh on every call: Java may have
// reloaded either.
static bool CallJava(char const *name, char const *signature, jvalue const *args, jvalue *outResult)
{
    JNIEnv *env = sg_pEnvThread;
    if (outResult)
        *outResult = jvalue();
    jclass cls = env ? FindInterfaceClass(env) : NULL;
    if (!cls)
        return false;

    jvalue result = jvalue();
    jmethodID method = env->GetStaticMethodID(cls, name, signature);
    if (method) {
        char const returnType = strchr(signature, ')')[1];
        HANDLE dpiContext = EnterJavaMethod();
        if (returnType == 'V')
            env->CallStaticVoidMethodA(cls, method, args);
        else if (returnType == 'Z')
            result.z = env->CallStaticBooleanMethodA(cls, method, args);
        else
            result.l = env->CallStaticObjectMethodA(cls, method, args);  // NULL after an exception
        LeaveJavaMethod(dpiContext);
    }
    // A missing method leaves NoSuchMethodError pending, a failed call its own.
    bool threw = DescribeJavaException(env);
    bool ran = method && !threw;
    env->DeleteLocalRef(cls);
    if (outResult && ran)
        *outResult = result;
    return ran;
}

bool CallInterfaceMethod(char const *name, char const *signature, jvalue const *args, jvalue *outResult)
{
    if (sg_javaQuit) {
        if (outResult)
            *outResult = jvalue();
        return false;
    }
    return CallJava(name, signature, args, outResult);
}

int AreRemindersSuspended()
{
    jvalue suspended;
    return CallInterfaceMethod("isDoNotDisturbOn", "()Z", NULL, &suspended) ? suspended.z : 0;
}

void ShowAboutWindow() { CallInterfaceMethod("showAboutWindow", "()V", NULL, NULL); }
void ShowHelpWindow() { CallInterfaceMethod("showHelpWindow", "()V", NULL, NULL); }
void ShowDoNotDisturb() { CallInterfaceMethod("showDoNotDisturb", "()V", NULL, NULL); }
void ShowQuickReminder() { CallInterfaceMethod("showQuickReminder", "()V", NULL, NULL); }
void ShowReminderList() { CallInterfaceMethod("showReminderList", "()V", NULL, NULL); }
void ShowTemplateList() { CallInterfaceMethod("showTemplateList", "()V", NULL, NULL); }
void ShowCategoryList() { CallInterfaceMethod("showCategoryList", "()V", NULL, NULL); }
void ShowSoundList() { CallInterfaceMethod("showSoundList", "()V", NULL, NULL); }
void ShowNewReminderDialog() { CallInterfaceMethod("showNewReminderDialog", "()V", NULL, NULL); }

void DoQuit()
{
    if (sg_javaQuit || !sg_pEnvThread)
        return;
    sg_javaQuit = true;
    CallJava("quit", "()V", NULL, NULL);
}

void EditReminderWithTemplate(unsigned long inTemplateIndex)
{
    jvalue index;
    index.i = (jint)inTemplateIndex;
    CallInterfaceMethod("showEditReminderWithTemplate", "(I)V", &index, NULL);
}

void ConfirmQuit()
{
    char caption[kShortTextSize];
    char question[kShortTextSize];

    LoadProgramString(IDS_EXIT_CAPTION, caption, sizeof caption);
    LoadProgramString(IDS_EXIT_QUESTION, question, sizeof question);
    if (MessageBoxA(NULL, question, caption, MB_YESNO | MB_ICONEXCLAMATION | MB_TASKMODAL) == IDYES)
        PostMessageA(sg_monitorHwnd, WM_QUIT, 0, 0);
}
