// The application commands: each calls one static method of the Java
// interface class on the monitor thread, and does nothing while the tray is
// not bound to Java or when Java lacks the class or the method.

#include <windows.h>

#include "kelvarin.h"
#include "resource.h"

char const interfaceClassName[50] = "com/norvanta/kelvarin/data/TExternalDataInterface";

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

jclass GetApplicationInterfaceClass()
{
    JNIEnv *env = sg_pEnvThread;
    if (!env)
        return NULL;

    jclass cls = env->FindClass(interfaceClassName);
    if (!cls)
        DescribeJavaException(env);
    return cls;
}

// Looks the class and the method up afresh (Java may have reloaded either),
// calls it with args, and leaves no exception and no reference behind: the
// monitor thread never returns to Java, which would free them.
static void CallApplicationMethod(char const *name, char const *signature, jvalue const *args)
{
    JNIEnv *env = sg_pEnvThread;
    if (!env)
        return;
    jclass cls = GetApplicationInterfaceClass();
    if (!cls)
        return;

    jmethodID method = env->GetStaticMethodID(cls, name, signature);
    if (method)
        env->CallStaticVoidMethodA(cls, method, args);
    DescribeJavaException(env);
    env->DeleteLocalRef(cls);
}

int AreRemindersSuspended()
{
    JNIEnv *env = sg_pEnvThread;
    if (!env)
        return 0;
    jclass cls = GetApplicationInterfaceClass();
    if (!cls)
        return 0;

    int suspended = 0;
    jmethodID method = env->GetStaticMethodID(cls, "isDoNotDisturbOn", "()Z");
    if (method)
        suspended = env->CallStaticBooleanMethodA(cls, method, NULL);
    if (DescribeJavaException(env))
        suspended = 0;
    env->DeleteLocalRef(cls);
    return suspended;
}

void ShowAboutWindow() { CallApplicationMethod("showAboutWindow", "()V", NULL); }
void ShowHelpWindow() { CallApplicationMethod("showHelpWindow", "()V", NULL); }
void ShowDoNotDisturb() { CallApplicationMethod("showDoNotDisturb", "()V", NULL); }
void ShowQuickReminder() { CallApplicationMethod("showQuickReminder", "()V", NULL); }
void ShowReminderList() { CallApplicationMethod("showReminderList", "()V", NULL); }
void ShowTemplateList() { CallApplicationMethod("showTemplateList", "()V", NULL); }
void ShowCategoryList() { CallApplicationMethod("showCategoryList", "()V", NULL); }
void ShowSoundList() { CallApplicationMethod("showSoundList", "()V", NULL); }
void ShowNewReminderDialog() { CallApplicationMethod("showNewReminderDialog", "()V", NULL); }
void DoQuit() { CallApplicationMethod("quit", "()V", NULL); }

void EditReminderWithTemplate(unsigned long inTemplateIndex)
{
    jvalue index;
    index.i = (jint)inTemplateIndex;
    CallApplicationMethod("showEditReminderWithTemplate", "(I)V", &index);
}

void ConfirmQuit()
{
    char caption[256];
    char question[256];
    HINSTANCE self = GetModuleHandleA(NULL);

    LoadStringA(self, IDS_EXIT_CAPTION, caption, sizeof caption);
    LoadStringA(self, IDS_EXIT_QUESTION, question, sizeof question);
    if (MessageBoxA(NULL, question, caption, MB_YESNO | MB_ICONEXCLAMATION | MB_TASKMODAL) == IDYES)
        PostMessageA(sg_monitorHwnd, WM_QUIT, 0, 0);
}
