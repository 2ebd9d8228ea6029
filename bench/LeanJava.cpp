// The lean JNIEnv: references are plain pointers into the answers, method
// IDs pointers to markers, and nothing is ever pending.

#include "LeanJava.h"

#include <stdarg.h>
#include <string.h>

namespace bench {

namespace {

char const kInterfaceClass[] = "com/norvanta/kelvarin/data/TExternalDataInterface";
char const kStringListSignature[] = "()[Ljava/lang/String;";

// What a reference or method ID points at. Distinct objects, so that an ID
// of one kind handed where another is expected is told apart.
char sInterfaceClassMarker;
char sTemplateListMarker;
char sEventListMarker;
char sDoNotDisturbMarker;

LeanJavaAnswers sAnswers;
JNINativeInterface_ sTable;
JNIEnv_ sEnv;
long sCalls;

jclass JNICALL FindClass(JNIEnv *, char const *name)
{
    ++sCalls;
    return strcmp(name, kInterfaceClass) == 0 ? (jclass)(void *)&sInterfaceClassMarker : NULL;
}

jint JNICALL GetVersion(JNIEnv *)
{
    ++sCalls;
    return JNI_VERSION_1_4;
}

jboolean JNICALL ExceptionCheck(JNIEnv *)
{
    ++sCalls;
    return JNI_FALSE;
}

jthrowable JNICALL ExceptionOccurred(JNIEnv *)
{
    ++sCalls;
    return NULL;
}

void JNICALL ExceptionNothing(JNIEnv *)
{
    ++sCalls;
}

void JNICALL DeleteLocalRef(JNIEnv *, jobject)
{
    ++sCalls;
}

jint JNICALL PushLocalFrame(JNIEnv *, jint)
{
    ++sCalls;
    return 0;
}

jobject JNICALL PopLocalFrame(JNIEnv *, jobject result)
{
    ++sCalls;
    return result;
}

jmethodID JNICALL GetStaticMethodID(JNIEnv *, jclass cls, char const *name, char const *sig)
{
    ++sCalls;
    if (cls != (jclass)(void *)&sInterfaceClassMarker)
        return NULL;
    if (strcmp(sig, kStringListSignature) == 0) {
        if (strcmp(name, "getTemplateList") == 0)
            return (jmethodID)(void *)&sTemplateListMarker;
        if (strcmp(name, "getEventsForToday") == 0)
            return (jmethodID)(void *)&sEventListMarker;
    }
    if (strcmp(name, "isDoNotDisturbOn") == 0 && strcmp(sig, "()Z") == 0)
        return (jmethodID)(void *)&sDoNotDisturbMarker;
    return NULL;
}

// The questions, in either argument form the table has (V and A): the
// arguments are none, and the answer depends on the method alone.
template <typename Arguments>
jobject JNICALL CallStaticObjectMethodX(JNIEnv *, jclass, jmethodID method, Arguments)
{
    ++sCalls;
    if (method == (jmethodID)(void *)&sTemplateListMarker && !sAnswers.nullTemplates)
        return (jobject)(void *)&sAnswers.templates;
    if (method == (jmethodID)(void *)&sEventListMarker && !sAnswers.nullEvents)
        return (jobject)(void *)&sAnswers.events;
    return NULL;
}

template <typename Arguments>
jboolean JNICALL CallStaticBooleanMethodX(JNIEnv *, jclass, jmethodID method, Arguments)
{
    ++sCalls;
    return method == (jmethodID)(void *)&sDoNotDisturbMarker && sAnswers.doNotDisturb ? JNI_TRUE : JNI_FALSE;
}

std::vector<std::string> const *ListOf(jarray array)
{
    if (array == (jarray)(void *)&sAnswers.templates)
        return &sAnswers.templates;
    if (array == (jarray)(void *)&sAnswers.events)
        return &sAnswers.events;
    return NULL;
}

jsize JNICALL GetArrayLength(JNIEnv *, jarray array)
{
    ++sCalls;
    std::vector<std::string> const *list = ListOf(array);
    return list ? (jsize)list->size() : 0;
}

jobject JNICALL GetObjectArrayElement(JNIEnv *, jobjectArray array, jsize index)
{
    ++sCalls;
    std::vector<std::string> const *list = ListOf(array);
    if (!list || index < 0 || (size_t)index >= list->size())
        return NULL;
    return (jobject)(void *)&(*list)[(size_t)index];
}

jsize JNICALL GetStringUTFLength(JNIEnv *, jstring text)
{
    ++sCalls;
    return text ? (jsize)((std::string const *)(void *)text)->size() : 0;
}

char const *JNICALL GetStringUTFChars(JNIEnv *, jstring text, jboolean *isCopy)
{
    ++sCalls;
    if (isCopy)
        *isCopy = JNI_FALSE;
    return text ? ((std::string const *)(void *)text)->c_str() : NULL;
}

void JNICALL ReleaseStringUTFChars(JNIEnv *, jstring, char const *)
{
    ++sCalls;
}

}  // namespace

JNIEnv *MakeLeanJava(LeanJavaAnswers const &answers, JNINativeInterface_ const &fallback)
{
    sAnswers = answers;
    sTable = fallback;
    sTable.GetVersion = GetVersion;
    sTable.FindClass = FindClass;
    sTable.ExceptionCheck = ExceptionCheck;
    sTable.ExceptionOccurred = ExceptionOccurred;
    sTable.ExceptionDescribe = ExceptionNothing;
    sTable.ExceptionClear = ExceptionNothing;
    sTable.DeleteLocalRef = DeleteLocalRef;
    sTable.PushLocalFrame = PushLocalFrame;
    sTable.PopLocalFrame = PopLocalFrame;
    sTable.GetStaticMethodID = GetStaticMethodID;
    sTable.CallStaticObjectMethodV = CallStaticObjectMethodX<va_list>;
    sTable.CallStaticObjectMethodA = CallStaticObjectMethodX<jvalue const *>;
    sTable.CallStaticBooleanMethodV = CallStaticBooleanMethodX<va_list>;
    sTable.CallStaticBooleanMethodA = CallStaticBooleanMethodX<jvalue const *>;
    sTable.GetArrayLength = GetArrayLength;
    sTable.GetObjectArrayElement = GetObjectArrayElement;
    sTable.GetStringUTFLength = GetStringUTFLength;
    sTable.GetStringUTFChars = GetStringUTFChars;
    sTable.ReleaseStringUTFChars = ReleaseStringUTFChars;
    sEnv.functions = &sTable;
    sCalls = 0;
    return &sEnv;
}

long TakeLeanJavaCallCount()
{
    long calls = sCalls;
    sCalls = 0;
    return calls;
}

}  // namespace bench
