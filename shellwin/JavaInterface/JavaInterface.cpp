// Java runtime host: runtime discovery through the registry and the settings
// file, and the launch of the Java application in a VM of this process.

#include <windows.h>

#include <stddef.h>
#include <string.h>

#include <type_traits>

#include <jni.h>
#include "jdk11_init_args.h"

#include "JavaInterface.h"
#include "resource.h"

static char const gSunJRERootKey[43] = "Software\\JavaSoft\\Java Runtime Environment";
static char const kCaption[] = "Kelvarin";
static char const kClassPathOption[] = "-Djava.class.path=";
static char const kExitHookOption[] = "exit";

typedef jint(JNICALL *CreateJavaVMEntry)(JavaVM **pvm, void **penv, void *args);
typedef jint(JNICALL *GetDefaultJavaVMInitArgsEntry)(void *args);

#if defined(__i386__)
// What only the 32-bit program can get wrong, and a 64-bit build cannot
// show: the entries are __stdcall there (JNICALL), and a caller that
// assumes another convention leaves the stack off by the arguments' size.
// The runtimes of 1.3 and 1.4 read and write the 1.1 record at these
// offsets.
static_assert(std::is_same<CreateJavaVMEntry, decltype(&JNI_CreateJavaVM)>::value, "JNI_CreateJavaVM's type");
static_assert(std::is_same<GetDefaultJavaVMInitArgsEntry, decltype(&JNI_GetDefaultJavaVMInitArgs)>::value,
              "JNI_GetDefaultJavaVMInitArgs's type");
static_assert(offsetof(JDK1_1InitArgs, javaStackSize) == 16 && offsetof(JDK1_1InitArgs, classpath) == 32
                  && offsetof(JDK1_1InitArgs, exit) == 40 && offsetof(JDK1_1InitArgs, debugPort) == 68
                  && sizeof(JDK1_1InitArgs) == 72,
              "the 1.1 start record as the runtimes lay it out");
#endif

static CreateJavaVMEntry pCreateJavaVM;
static GetDefaultJavaVMInitArgsEntry pGetDefaultJavaVMInitArgs;

// --- Runtime discovery ---

int UseSpecificVM(char const *iniFileName, char *outJavaVersion, unsigned long outSize)
{
    if (outSize < 2)
        return 0;
    outJavaVersion[0] = '\0';
    // No settings file named (its path did not fit): no override.
    if (iniFileName[0] == '\0')
        return 0;
    // The default is one character long, and one character is no override.
    DWORD copied = GetPrivateProfileStringA("main", "javaversion", "7", outJavaVersion, outSize - 1, iniFileName);
    return copied > 1 ? 1 : 0;
}

// Replaces the %NAME% references of buf (size bytes) by their values. False
// when the result does not fit: a path cut short would name another file.
static bool ExpandRegistryText(char *buf, DWORD size)
{
    char expanded[kVersionTextSize];  // room for the largest value read
    DWORD needed = ExpandEnvironmentStringsA(buf, expanded, sizeof expanded);
    if (needed == 0 || needed > sizeof expanded || needed > size)
        return false;
    lstrcpynA(buf, expanded, size);
    return true;
}

// Reads a registry value as text. Only REG_SZ and REG_EXPAND_SZ are text: a
// number or binary data under that name counts as no value. Registry data
// need not end in a terminator: data that fills the whole buffer without one
// is taken as too long, never read past.
static bool ReadRegistryText(HKEY key, char const *name, char *buf, DWORD size)
{
    DWORD type = REG_NONE;
    DWORD length = size;
    if (RegQueryValueExA(key, name, NULL, &type, (BYTE *)buf, &length) != ERROR_SUCCESS)
        return false;
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        return false;
    if (length < size)
        buf[length] = '\0';
    else if (!memchr(buf, '\0', size))
        return false;
    return type == REG_SZ || ExpandRegistryText(buf, size);
}

static bool IsAcceptedVersion(char const *version)
{
    return strcmp(version, "1.3") == 0 || strcmp(version, "1.4") == 0;
}

// The settings file's override, judged by its first three characters, or
// else the registry's default runtime, judged whole.
static bool ChooseJavaVersion(HKEY rootKey, char const *iniFileName, char *curVersStr, DWORD size)
{
    if (UseSpecificVM(iniFileName, curVersStr, size)) {
        char vers[4];
        lstrcpynA(vers, curVersStr, sizeof vers);
        return IsAcceptedVersion(vers);
    }
    return ReadRegistryText(rootKey, "CurrentVersion", curVersStr, size) && IsAcceptedVersion(curVersStr);
}

// Reads the version key of `version`: all three values must be there.
static int ReadRuntimeLib(char const *version, char *outJVMPath, DWORD outSize)
{
    char jreKey[kRegistryValueSize];
    if ((size_t)lstrlenA(gSunJRERootKey) + 1 + lstrlenA(version) + 1 > sizeof jreKey)
        return -1;
    wsprintfA(jreKey, "%s\\%s", gSunJRERootKey, version);

    HKEY versionKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, jreKey, 0, KEY_QUERY_VALUE, &versionKey) != ERROR_SUCCESS)
        return -1;

    char javaHomeValue[kRegistryValueSize];
    char javaMicroValue[kRegistryValueSize];
    char javaRuntimeLibValue[kRegistryValueSize];
    int result = -1;
    if (ReadRegistryText(versionKey, "JavaHome", javaHomeValue, sizeof javaHomeValue)
        && ReadRegistryText(versionKey, "MicroVersion", javaMicroValue, sizeof javaMicroValue)
        && ReadRegistryText(versionKey, "RuntimeLib", javaRuntimeLibValue, sizeof javaRuntimeLibValue)
        && (DWORD)lstrlenA(javaRuntimeLibValue) < outSize) {
        lstrcpynA(outJVMPath, javaRuntimeLibValue, outSize);
        result = 0;
    }
    RegCloseKey(versionKey);
    return result;
}

int EnsureJava(char const *iniFileName, char *outJVMPath)
{
    // The root key must exist even when the settings file names a version.
    HKEY rootKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, gSunJRERootKey, 0, KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS, &rootKey)
        != ERROR_SUCCESS)
        return -1;

    char curVersStr[kVersionTextSize];
    int result = -1;
    if (ChooseJavaVersion(rootKey, iniFileName, curVersStr, sizeof curVersStr))
        result = ReadRuntimeLib(curVersStr, outJVMPath, kPathSize);
    RegCloseKey(rootKey);
    return result;
}

// --- VM launch ---

int LoadProgramString(unsigned int id, char *buf, int size)
{
    return LoadStringA(GetModuleHandleA(NULL), id, buf, size);
}

static void ShowJavaRequired()
{
    char caption[kShortTextSize];
    char text[kLongTextSize];

    LoadProgramString(IDS_PRODUCT_NAME, caption, sizeof caption);
    LoadProgramString(IDS_JAVA_REQUIRED, text, sizeof text);
    MessageBoxA(NULL, text, caption, MB_ICONINFORMATION | MB_TASKMODAL);
}

static void ShowStartFailure(char const *message)
{
    MessageBoxA(NULL, message, kCaption, MB_ICONEXCLAMATION);
}

// "Can't find class" names the class as the launch was told it, or the bare
// name of the main class when only its main() is missing.
static int ShowClassNotFound(char const *className)
{
    char szBuf[kLongTextSize];  // wsprintfA never writes more than 1024 bytes
    wsprintfA(szBuf, "Can't find class '%s'", className);
    ShowStartFailure(szBuf);
    return -1;
}

// Loads the VM library with both invocation entries, or frees it again: a
// library without them is no Java runtime.
static bool LoadJavaLibrary(char const *jvmPath)
{
    // A library that is damaged or lacks a DLL it needs would otherwise
    // bring the loader's own error box on older Windows, before ours that
    // says what to do.
    UINT previousMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE library = LoadLibraryA(jvmPath);
    SetErrorMode(previousMode);
    if (!library)
        return false;

    pCreateJavaVM = (CreateJavaVMEntry)(void *)GetProcAddress(library, "JNI_CreateJavaVM");
    pGetDefaultJavaVMInitArgs = (GetDefaultJavaVMInitArgsEntry)(void *)GetProcAddress(library, "JNI_GetDefaultJavaVMInitArgs");
    if (pCreateJavaVM && pGetDefaultJavaVMInitArgs)
        return true;

    FreeLibrary(library);
    pCreateJavaVM = NULL;
    pGetDefaultJavaVMInitArgs = NULL;
    return false;
}

// Whether the jar's path fits the class path option of a 1.2 start: a path
// cut short would name some other file.
static bool ClassPathFits(char const *inJarFileName)
{
    return inJarFileName[0] != '\0' && sizeof kClassPathOption + lstrlenA(inJarFileName) <= (size_t)kPathSize;
}

// Creates the VM with the jar as its class path and the exit hook: as a
// 1.1 runtime wants it, then, if the runtime answers that it does not speak
// 1.1, as 1.2.
static jint CreateJavaVM(char const *inJarFileName, JavaExitHook inExitHook, JavaVM **outVM, JNIEnv **outEnv)
{
    JDK1_1InitArgs vm_args;
    memset(&vm_args, 0, sizeof vm_args);
    vm_args.version = JNI_VERSION_1_1;
    pGetDefaultJavaVMInitArgs(&vm_args);
    // Current runtimes refuse a 1.1 record here, yet relabel it 1.2. Created
    // with that label, the VM would read the 1.1 fields as a 1.2 record with
    // no options and start without the jar, so the label is put back.
    vm_args.version = JNI_VERSION_1_1;
    vm_args.classpath = const_cast<char *>(inJarFileName);  // the VM only reads it
    vm_args.exit = inExitHook;
    jint result = pCreateJavaVM(outVM, (void **)outEnv, &vm_args);
    if (result != JNI_EVERSION)
        return result;

    char optionBuf[kPathSize];  // ClassPathFits has made sure the path fits
    JavaVMOption options[2];
    JavaVMInitArgs jia;
    lstrcpynA(optionBuf, kClassPathOption, sizeof optionBuf);
    lstrcatA(optionBuf, inJarFileName);
    options[0].optionString = optionBuf;
    options[0].extraInfo = NULL;
    jia.nOptions = 1;
    if (inExitHook) {
        options[1].optionString = const_cast<char *>(kExitHookOption);  // the VM only reads it
        options[1].extraInfo = (void *)inExitHook;
        jia.nOptions = 2;
    }
    jia.version = JNI_VERSION_1_2;
    jia.options = options;
    jia.ignoreUnrecognized = JNI_TRUE;
    return pCreateJavaVM(outVM, (void **)outEnv, &jia);
}

int StartupJava(char const *iniFileName, char const *inJarFileName, char const *inMainClass,
                HWND inWindowToBind, unsigned int inWindowMessage, JavaExitHook inExitHook, JavaVM **outVM)
{
    // A runtime that is registered but cannot be loaded is as good as none.
    char jvmPath[kPathSize];
    if (EnsureJava(iniFileName, jvmPath) != 0 || !LoadJavaLibrary(jvmPath)) {
        ShowJavaRequired();
        return 0;
    }
    // Without the jar the main class cannot be found: say so before a VM
    // is made for nothing.
    if (!ClassPathFits(inJarFileName))
        return ShowClassNotFound(inMainClass);

    // pEnv belongs to this thread and never leaves this function.
    JNIEnv *pEnv = NULL;
    jint result = CreateJavaVM(inJarFileName, inExitHook, outVM, &pEnv);
    if (result < 0) {
        char szBuf[kLongTextSize];
        wsprintfA(szBuf, "Cannot setup Java. Try installing the product again.  Error:%d", (int)result);
        ShowStartFailure(szBuf);
        return result;
    }

    jclass mainClass = pEnv->FindClass(inMainClass);
    if (!mainClass) {
        if (pEnv->ExceptionCheck())
            pEnv->ExceptionDescribe();
        return ShowClassNotFound(inMainClass);
    }
    jmethodID mainMethod = pEnv->GetStaticMethodID(mainClass, "main", "([Ljava/lang/String;)V");
    if (!mainMethod)
        return ShowClassNotFound("TApplication");

    // main() starts the application and returns; only then may the tray
    // call into Java.
    pEnv->CallStaticVoidMethod(mainClass, mainMethod, (jobjectArray)NULL);
    PostMessageA(inWindowToBind, inWindowMessage, 0, 0);

    // Waits until the Java application has ended. The library stays loaded
    // for the rest of the process.
    (*outVM)->DestroyJavaVM();
    return 0;
}
