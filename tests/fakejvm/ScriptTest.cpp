// The script parser refuses bad lines by number and applies nothing of a
// script with a bad line; the environment variables drive black-box runs.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "FakeJvmTest.h"

namespace {

struct BadCase {
    const char *name;
    std::string text;
    int line;
};

TEST(Script, BadLinesAreNumberedAndGoodOnesTaken) {
    BadCase const cases[] = {
        {"unknown command", "mode modern\n\ntempaltes \"A\"", 3},
        {"unterminated string", "templates \"A", 1},
        {"unknown escape", "templates \"\\q\"", 1},
        {"short hex escape", "templates \"\\x4\"", 1},
        {"escape cut by the end", "templates \"\\", 1},
        {"unknown mode", "mode jrockit", 1},
        {"jboolean out of range", "donotdisturb 256", 1},
        {"negative delay", "main end-after -1", 1},
        {"no such method", "# fine\nremove method showEverything", 2},
        {"not an application class", "remove class java/lang/String", 1},
        {"dotted exception class", "throw quit java.lang.RuntimeException", 1},
        {"answer not a number", "create -3 x", 1},
        {"generated list without 'named'", "templates 5 nmed \"T\"", 1},
        {"too many generated elements", "events 999999999 named \"E\"", 1},
        {"generated list too large", "events 200000 named \"E\"*4000", 1},
        {"string too long", "templates \"x\"*99999999999", 1},
        {"text after a string", "templates \"A\"B", 1},
        {"NULL-free but junk bytes", std::string("mode \xff\xfe"), 1},
        {"main with stray words", "main run now", 1},
        {"quit code out of range", "quit exit 300", 1},
        {"exit without 'after'", "exit 3", 1},
        {"exit without a code", "exit after 100", 1},
        {"exit code out of range", "mode classic\nexit after 100 256", 2},
        {"exit at a negative time", "exit after -1 0", 1},
        {"exit none with a code", "exit none 0", 1},
        {"delay with a misspelt 'serving'", "delay showReminderList 100 servng", 1},
        {"delay with a word after 'serving'", "delay showReminderList 100 serving now", 1},
        {"'serving' in place of the time", "delay showReminderList serving", 1},
        {"'serving' before the time", "delay showReminderList serving 100", 1},
        {"main delay takes no 'serving'", "main delay 100 serving", 1},
        // Line 0: good lines, for the parser's edges.
        {"exit at once with the largest code", "exit after 0 255", 0},
        {"exit cancelled", "exit after 10 1\nexit none", 0},
        {"serving delays, of main too", "delay showReminderList 100 serving\n"
                                        "delay com/norvanta/kelvarin/main/TApplication.main 0 serving", 0},
    };
    for (const BadCase &c : cases) {
        SCOPED_TRACE(c.name);
        FakeJvm_Reset();
        EXPECT_EQ(FakeJvm_Script(c.text.c_str()), c.line);
        std::vector<char> error(FakeJvm_CopyScriptError(nullptr, 0) + 1);
        FakeJvm_CopyScriptError(error.data(), error.size());
        if (c.line == 0) EXPECT_STREQ(error.data(), "");
        else EXPECT_EQ(std::string(error.data()).rfind("line " + std::to_string(c.line) + ": ", 0), 0u) << error.data();
    }
    EXPECT_EQ(FakeJvm_Script(nullptr), 1);
}

TEST(Script, AllOrNothing) {
    // Good lines before a bad one take no effect, and a later good script
    // still works; comments, blank lines and CR LF endings are fine.
    FakeJvm_Reset();
    EXPECT_EQ(FakeJvm_Script("donotdisturb 7\nbogus"), 2);
    TestVm v("# comment\r\n\r\n  templates \"A\"  # trailing comment\r\n");
    jclass cls = v.Interface();
    EXPECT_EQ(v.env->CallStaticBooleanMethod(cls, v.Method(cls, "isDoNotDisturbOn", "()Z")), 0);
    jobjectArray a = static_cast<jobjectArray>(
        v.env->CallStaticObjectMethod(cls, v.Method(cls, "getTemplateList", "()[Ljava/lang/String;")));
    EXPECT_EQ(v.env->GetArrayLength(a), 1);
}

TEST(Script, CopiesAreCutAndTerminated) {
    FakeJvm_Reset();
    ASSERT_EQ(FakeJvm_Script("mode classic"), 0);
    JDK1_1InitArgs args = {};
    args.version = JNI_VERSION_1_1;
    GetDefaultArgs()(&args);
    std::string full = LogText();
    ASSERT_EQ(full, "getdefault version=0x00010001 -> 0\n");
    char buf[8];
    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(FakeJvm_CopyLog(buf, 5), full.size());
    EXPECT_STREQ(buf, "getd");
    EXPECT_EQ(buf[5], 'x');
    EXPECT_EQ(FakeJvm_CopyLog(buf, 0), full.size());
    EXPECT_EQ(FakeJvm_CountLog(nullptr), 1);
}

void SetEnv(const char *name, const std::string &value) {
#ifdef _WIN32
    _putenv((std::string(name) + "=" + value).c_str());
#else
    if (value.empty()) unsetenv(name);
    else setenv(name, value.c_str(), 1);
#endif
}

TEST(Script, EnvironmentDrivesBlackBoxRuns) {
    const char *const script = "fakejvm_test_script.txt";
    const char *const logFile = "fakejvm_test_log.txt";
    std::remove(logFile);
    std::ofstream(script) << "donotdisturb 9\n";
    SetEnv("FAKEJVM_SCRIPT", script);
    SetEnv("FAKEJVM_LOG", logFile);
    FakeJvm_Reset();
    JavaVM *vm;
    JNIEnv *env;
    ASSERT_EQ(CreateChimeletVm(&vm, &env), JNI_OK);
    jclass cls = env->FindClass(kInterface);
    EXPECT_EQ(env->CallStaticBooleanMethod(cls, env->GetStaticMethodID(cls, "isDoNotDisturbOn", "()Z")), 9);
    env->functions->GetFieldID(env, cls, "x", "I");  // a violation reaches the file too
    EXPECT_EQ(vm->DestroyJavaVM(), JNI_OK);
    SetEnv("FAKEJVM_SCRIPT", "");
    SetEnv("FAKEJVM_LOG", "");

    std::ifstream in(logFile, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), LogText());
    EXPECT_NE(text.str().find(std::string("script ") + script + "\n"), std::string::npos);
    EXPECT_NE(text.str().find("violation unimplemented JNI function GetFieldID\n"), std::string::npos);
    in.close();
    std::remove(logFile);
    std::remove(script);
    FakeJvm_Reset();
}

}  // namespace
