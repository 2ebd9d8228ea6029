// The three modelled VMs answer the invocation entries as their real
// counterparts do, and only the class path decides whether the jar loads.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>

#include "FakeJvmTest.h"

namespace {

unsigned char const kPoison = 0x81;

struct DefaultCase {
    const char *name;
    const char *mode;
    jint version;
    jint rc;
    jint versionAfter;
    bool filled;          // classic: the whole record holds defaults
    jint javaStackSize;   // written when not kPoisonInt (hotspot's rewrite)
};

jint PoisonInt() {
    jint v;
    std::memset(&v, kPoison, sizeof v);
    return v;
}

TEST(Invocation, DefaultArgsPerMode) {
#ifdef _WIN32
    jint const hotspotStack = 320 * 1024;
#else
    jint const hotspotStack = 1024 * 1024;
#endif
    DefaultCase const cases[] = {
        {"classic fills a 1.1 record", "classic", JNI_VERSION_1_1, JNI_OK, JNI_VERSION_1_1, true, 400 * 1024},
        {"modern refuses a 1.1 record untouched", "modern", JNI_VERSION_1_1, JNI_EVERSION, JNI_VERSION_1_1, false, PoisonInt()},
        {"hotspot relabels a 1.1 record", "hotspot", JNI_VERSION_1_1, JNI_ERR, JNI_VERSION_1_2, false, hotspotStack},
        {"hotspot takes 1.2 untouched", "hotspot", JNI_VERSION_1_2, JNI_OK, JNI_VERSION_1_2, false, PoisonInt()},
        {"modern takes 1.8", "modern", JNI_VERSION_1_8, JNI_OK, JNI_VERSION_1_8, false, PoisonInt()},
        {"classic has no 1.4", "classic", JNI_VERSION_1_4, JNI_EVERSION, JNI_VERSION_1_4, false, PoisonInt()},
        {"hotspot: unknown version", "hotspot", 0x00020000, JNI_ERR, 0x00020000, false, PoisonInt()},
    };
    for (const DefaultCase &c : cases) {
        SCOPED_TRACE(c.name);
        FakeJvm_Reset();
        ASSERT_EQ(FakeJvm_Script((std::string("mode ") + c.mode).c_str()), 0);
        // A 1.1 record with a guard after it: nothing may be written past it.
        struct {
            JDK1_1InitArgs args;
            unsigned char guard[16];
        } rec;
        std::memset(&rec, kPoison, sizeof rec);
        rec.args.version = c.version;
        EXPECT_EQ(GetDefaultArgs()(&rec.args), c.rc);
        EXPECT_EQ(rec.args.version, c.versionAfter);
        EXPECT_EQ(rec.args.javaStackSize, c.javaStackSize);
        for (unsigned char g : rec.guard) EXPECT_EQ(g, kPoison);
        if (c.filled) {
            ASSERT_NE(rec.args.classpath, nullptr);
            EXPECT_EQ(rec.args.properties, nullptr);
            EXPECT_EQ(rec.args.vfprintf, nullptr);
        } else {
            // Everything but version and javaStackSize keeps its poison.
            JDK1_1InitArgs expect;
            std::memset(&expect, kPoison, sizeof expect);
            expect.version = c.versionAfter;
            expect.javaStackSize = c.javaStackSize;
            EXPECT_EQ(std::memcmp(&expect, &rec.args, sizeof expect), 0);
        }
        EXPECT_EQ(FakeJvm_CountLog("getdefault "), 1);
        EXPECT_EQ(FakeJvm_ViolationCount(), 0) << ViolationText();
    }
}

enum class Record { Classic11, Options12, Relabelled11, UnknownOption, UnknownOptionIgnored };

struct CreateCase {
    const char *name;
    const char *script;
    Record record;
    const char *classPath;
    jint rc;
    bool appFound;
    const char *logLine;  // expected create line ("" = not checked)
};

// Creates a VM from the kind of record the case names; returns the result.
jint CreateWith(Record record, const char *classPath, JavaVM **vm, JNIEnv **env) {
    char cp[256];
    std::snprintf(cp, sizeof cp, "%s", classPath);
    char option[300];
    std::snprintf(option, sizeof option, "-Djava.class.path=%s", classPath);
    char unknown[] = "-Xfrobnicate";
    JavaVMOption options[2] = {{option, nullptr}, {unknown, nullptr}};
    JDK1_1InitArgs old;
    std::memset(&old, 0, sizeof old);
    JavaVMInitArgs args = {JNI_VERSION_1_2, 1, options, JNI_TRUE};
    void *rec = &args;
    switch (record) {
    case Record::Classic11:
    case Record::Relabelled11:
        old.version = record == Record::Classic11 ? JNI_VERSION_1_1 : JNI_VERSION_1_2;
        old.classpath = cp;
        rec = &old;
        break;
    case Record::Options12: break;
    case Record::UnknownOption:
    case Record::UnknownOptionIgnored:
        args.nOptions = 2;
        args.ignoreUnrecognized = record == Record::UnknownOptionIgnored ? JNI_TRUE : JNI_FALSE;
        break;
    }
    std::memset(vm, kPoison, sizeof *vm);
    std::memset(env, kPoison, sizeof *env);
    return CreateVm()(vm, reinterpret_cast<void **>(env), rec);
}

TEST(Invocation, CreatePerModeAndClassPath) {
#ifdef _WIN32
    const char *const list = "lib\\other.jar;C:\\Program Files\\Chimelet\\CHIMELET.JAR";
#else
    const char *const list = "lib/other.jar:/opt/chimelet/chimelet.jar";
#endif
    CreateCase const cases[] = {
        {"classic takes the 1.1 record", "mode classic", Record::Classic11, "chimelet.jar", JNI_OK, true,
         "create version=0x00010001 classpath=chimelet.jar -> 0"},
        {"modern refuses 1.1", "mode modern", Record::Classic11, "chimelet.jar", JNI_EVERSION, false,
         "create version=0x00010001 classpath=chimelet.jar -> -3"},
        {"hotspot refuses 1.1", "mode hotspot", Record::Classic11, "chimelet.jar", JNI_EVERSION, false, ""},
        {"hotspot takes the option", "mode hotspot", Record::Options12, "chimelet.jar", JNI_OK, true,
         "create version=0x00010002 options=[-Djava.class.path=chimelet.jar] ignoreUnrecognized=1 -> 0"},
        {"classic takes 1.2 too", "mode classic", Record::Options12, "chimelet.jar", JNI_OK, true, ""},
        {"relabelled 1.1 record starts without the jar", "mode hotspot", Record::Relabelled11, "chimelet.jar",
         JNI_OK, false, "create version=0x00010002 options=[] ignoreUnrecognized=0 -> 0"},
        {"unknown option refused", "mode modern", Record::UnknownOption, "chimelet.jar", JNI_ERR, false, ""},
        {"unknown option ignored", "mode modern", Record::UnknownOptionIgnored, "chimelet.jar", JNI_OK, true,
         "create version=0x00010002 options=[-Djava.class.path=chimelet.jar, -Xfrobnicate] ignoreUnrecognized=1 -> 0"},
        {"jar found in a path list", "", Record::Options12, list, JNI_OK, true, ""},
        {"a look-alike name is not the jar", "", Record::Options12, "chimelet.jar.bak", JNI_OK, false, ""},
        {"jar required but absent", "jar required", Record::Options12, "no-such-dir/chimelet.jar", JNI_OK, false, ""},
        {"forced failure", "create -4", Record::Options12, "chimelet.jar", -4, false, ""},
    };
    for (const CreateCase &c : cases) {
        SCOPED_TRACE(c.name);
        FakeJvm_Reset();
        ASSERT_EQ(FakeJvm_Script(c.script), 0);
        JavaVM *vm;
        JNIEnv *env;
        jint rc = CreateWith(c.record, c.classPath, &vm, &env);
        EXPECT_EQ(rc, c.rc) << LogText();
        if (*c.logLine) EXPECT_EQ(FakeJvm_CountLog(c.logLine), 1) << LogText();
        if (rc != JNI_OK) {
            // Nothing is handed out on failure.
            JavaVM *poisonVm;
            std::memset(&poisonVm, kPoison, sizeof poisonVm);
            EXPECT_EQ(vm, poisonVm);
            EXPECT_EQ(FakeJvm_VmExists(), 0);
            continue;
        }
        jclass main = env->FindClass(kMain);
        EXPECT_EQ(main != nullptr, c.appFound);
        EXPECT_EQ(env->ExceptionCheck(), c.appFound ? JNI_FALSE : JNI_TRUE);
        env->ExceptionClear();
        EXPECT_EQ(vm->DestroyJavaVM(), JNI_OK);
        EXPECT_EQ(FakeJvm_ViolationCount(), 0) << ViolationText();
    }
}

TEST(Invocation, SecondAttemptAfterRefusal) {
    // The shell's own sequence against today's HotSpot: the 1.1 record is
    // refused, then the 1.2 record in the same process creates the VM. A
    // scripted answer serves one call only.
    FakeJvm_Reset();
    ASSERT_EQ(FakeJvm_Script("mode hotspot\ncreate normal -6"), 0);
    JavaVM *vm;
    JNIEnv *env;
    EXPECT_EQ(CreateWith(Record::Classic11, "chimelet.jar", &vm, &env), JNI_EVERSION);
    EXPECT_EQ(CreateWith(Record::Options12, "chimelet.jar", &vm, &env), -6);
    ASSERT_EQ(CreateWith(Record::Options12, "chimelet.jar", &vm, &env), JNI_OK);
    EXPECT_EQ(env->GetVersion(), 0x000a0000);
    JavaVM *second;
    JNIEnv *secondEnv;
    EXPECT_EQ(CreateWith(Record::Options12, "chimelet.jar", &second, &secondEnv), JNI_EEXIST);
    FakeJvm_EndApplication();
    EXPECT_EQ(vm->DestroyJavaVM(), JNI_OK);
    EXPECT_EQ(FakeJvm_CountLog("create "), 4);
}

TEST(Invocation, JarMustExistInCurrentDirectory) {
    // Runs in the test's working directory: the file is made and removed here.
    const char *const name = "chimelet.jar";
    bool existed = std::ifstream(name).good();
    if (!existed) std::ofstream(name) << "PK";
    FakeJvm_Reset();
    ASSERT_EQ(FakeJvm_Script("jar required"), 0);
    JavaVM *vm;
    JNIEnv *env;
    ASSERT_EQ(CreateWith(Record::Options12, name, &vm, &env), JNI_OK);
    EXPECT_NE(env->FindClass(kInterface), nullptr);
    EXPECT_EQ(vm->DestroyJavaVM(), JNI_OK);
    if (!existed) std::remove(name);
}

}  // namespace
