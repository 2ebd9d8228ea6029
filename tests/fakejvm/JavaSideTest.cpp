// The scripted Java side answers the way the shell's tests need: exact
// bytes, nulls, failing strings, large arrays, exceptions, missing pieces.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <windows.h>

#include "FakeJvmTest.h"

#ifndef _WIN32
#include "HostWindowSystem.h"
#endif

namespace {

const char kStringArray[] = "()[Ljava/lang/String;";

// What one element of a String[] answer looked like through JNI.
struct Seen {
    bool isNull;
    bool unreadable;  // GetStringUTFChars gave NULL with OutOfMemoryError pending
    std::string bytes;
};

bool operator==(const Seen &a, const Seen &b) {
    return a.isNull == b.isNull && a.unreadable == b.unreadable && a.bytes == b.bytes;
}

std::ostream &operator<<(std::ostream &os, const Seen &s) {
    return os << (s.isNull ? "null" : s.unreadable ? "unreadable" : "\"" + s.bytes + "\"");
}

// Calls a list method and reads every element the way the shell does.
std::vector<Seen> ReadList(TestVm &v, const char *method, bool *isNull) {
    std::vector<Seen> out;
    jclass cls = v.Interface();
    jobjectArray a = static_cast<jobjectArray>(v.env->CallStaticObjectMethod(cls, v.Method(cls, method, kStringArray)));
    *isNull = a == nullptr;
    for (jsize i = 0; a && i < v.env->GetArrayLength(a); ++i) {
        jstring s = static_cast<jstring>(v.env->GetObjectArrayElement(a, i));
        Seen seen{s == nullptr, false, ""};
        if (s) {
            jsize n = v.env->GetStringUTFLength(s);
            const char *p = v.env->GetStringUTFChars(s, nullptr);
            if (p) {
                seen.bytes.assign(p, static_cast<size_t>(n));
                v.env->ReleaseStringUTFChars(s, p);
            } else {
                seen.unreadable = v.env->ExceptionCheck() == JNI_TRUE;
                EXPECT_GE(FakeJvm_CountLog("exception java/lang/OutOfMemoryError"), 1);
                v.env->ExceptionClear();
            }
            v.env->DeleteLocalRef(s);
        }
        out.push_back(seen);
    }
    v.env->DeleteLocalRef(a);
    v.env->DeleteLocalRef(cls);
    return out;
}

struct ListCase {
    const char *name;
    const char *script;
    bool isNull;
    std::vector<Seen> expected;
};

TEST(JavaSide, ListAnswers) {
    ListCase const cases[] = {
        {"null array", "templates null", true, {}},
        {"empty array", "templates", false, {}},
        {"strings, nulls and escapes", R"(templates "A" null "" "tab\there" "\xff\x00\"\\")", false,
         {{false, false, "A"}, {true, false, ""}, {false, false, ""}, {false, false, "tab\there"},
          {false, false, std::string("\xff\0\"\\", 4)}}},
        {"element whose bytes cannot be had", R"(templates "A" oom"B" oom)", false,
         {{false, false, "A"}, {false, true, ""}, {false, true, ""}}},
        {"unreadable by index, also across a later list line", "unreadable templates 1\ntemplates \"A\" \"B\"", false,
         {{false, false, "A"}, {false, true, ""}}},
        {"repeated pieces", R"(templates "ab"*3"c" "x"*0)", false, {{false, false, "abababc"}, {false, false, ""}}},
    };
    for (const ListCase &c : cases) {
        SCOPED_TRACE(c.name);
        TestVm v(c.script);
        bool isNull = false;
        std::vector<Seen> seen = ReadList(v, "getTemplateList", &isNull);
        EXPECT_EQ(isNull, c.isNull);
        EXPECT_EQ(seen, c.expected);
        EXPECT_EQ(FakeJvm_ViolationCount(), 0) << ViolationText();
    }
}

TEST(JavaSide, LargeAnswers) {
    TestVm v("events 1200 named \"Event \"\ntemplates \"x\"*100000");
    bool isNull = false;
    std::vector<Seen> events = ReadList(v, "getEventsForToday", &isNull);
    ASSERT_EQ(events.size(), 1200u);
    EXPECT_EQ(events[0].bytes, "Event 0");
    EXPECT_EQ(events[1199].bytes, "Event 1199");
    EXPECT_EQ(FakeJvm_CountLog("element getEventsForToday "), 1200);
    std::vector<Seen> templates = ReadList(v, "getTemplateList", &isNull);
    ASSERT_EQ(templates.size(), 1u);
    EXPECT_EQ(templates[0].bytes, std::string(100000, 'x'));
}

TEST(JavaSide, IndexOutOfBoundsIsPendingAndLogged) {
    TestVm v("templates \"A\" \"B\"");
    jclass cls = v.Interface();
    jobjectArray a = static_cast<jobjectArray>(v.env->CallStaticObjectMethod(cls, v.Method(cls, "getTemplateList", kStringArray)));
    EXPECT_EQ(v.env->GetObjectArrayElement(a, 2), nullptr);
    EXPECT_TRUE(v.env->ExceptionCheck());
    EXPECT_EQ(FakeJvm_CountLog("element getTemplateList 2"), 1);
    EXPECT_EQ(FakeJvm_CountLog("exception java/lang/ArrayIndexOutOfBoundsException: Index 2 out of bounds for length 2"), 1);
    v.env->ExceptionClear();
}

TEST(JavaSide, CommandsAndSwitches) {
    TestVm v("donotdisturb 255 toggled\n"
             "throw showHelpWindow java/lang/RuntimeException \"help is broken\"\n"
             "remove method showSoundList\n");
    jclass cls = v.Interface();
    jmethodID dnd = v.Method(cls, "isDoNotDisturbOn", "()Z");
    jmethodID toggle = v.Method(cls, "showDoNotDisturb", "()V");
    // Any jboolean byte comes through unchanged; the switch flips 0 and 1.
    EXPECT_EQ(v.env->CallStaticBooleanMethod(cls, dnd), 255);
    v.env->CallStaticVoidMethod(cls, toggle);
    EXPECT_EQ(v.env->CallStaticBooleanMethod(cls, dnd), 0);
    v.env->CallStaticVoidMethod(cls, toggle);
    EXPECT_EQ(v.env->CallStaticBooleanMethod(cls, dnd), 1);

    v.env->CallStaticVoidMethod(cls, v.Method(cls, "showEditReminderWithTemplate", "(I)V"), 3);
    EXPECT_EQ(FakeJvm_CountLog("invoke com/norvanta/kelvarin/data/TExternalDataInterface.showEditReminderWithTemplate(I)V 3"), 1);

    v.env->CallStaticVoidMethod(cls, v.Method(cls, "showHelpWindow", "()V"));
    v.env->ExceptionDescribe();
    EXPECT_EQ(FakeJvm_CountLog("describe java/lang/RuntimeException: help is broken"), 1);

    EXPECT_EQ(v.Method(cls, "showSoundList", "()V"), nullptr);
    EXPECT_EQ(FakeJvm_CountLog("getstaticmethodid com/norvanta/kelvarin/data/TExternalDataInterface.showSoundList()V -> missing"), 1);
    v.env->ExceptionClear();
    // Only the exact signature is found.
    EXPECT_EQ(v.Method(cls, "showAboutWindow", "(I)V"), nullptr);
    v.env->ExceptionClear();

    // A script mid-run changes the answers at once; without "toggled" the
    // answer stays what the script says.
    ASSERT_EQ(FakeJvm_Script("donotdisturb 3"), 0);
    v.env->CallStaticVoidMethod(cls, toggle);
    EXPECT_EQ(v.env->CallStaticBooleanMethod(cls, dnd), 3);
    EXPECT_EQ(FakeJvm_ViolationCount(), 0) << ViolationText();
}

TEST(JavaSide, MissingClassesAndQuit) {
    TestVm v("remove class com/norvanta/kelvarin/main/TApplication");
    EXPECT_EQ(v.env->FindClass(kMain), nullptr);
    EXPECT_EQ(FakeJvm_CountLog("exception java/lang/NoClassDefFoundError: com/norvanta/kelvarin/main/TApplication"), 1);
    v.env->ExceptionClear();
    EXPECT_EQ(v.env->FindClass("com.norvanta.kelvarin.data.TExternalDataInterface"), nullptr);  // dotted
    v.env->ExceptionClear();

    jclass cls = v.Interface();
    ASSERT_NE(cls, nullptr);
    // The application runs from main on; quit ends it.
    ASSERT_EQ(FakeJvm_Script("restore class com/norvanta/kelvarin/main/TApplication"), 0);
    jclass main = v.env->FindClass(kMain);
    EXPECT_FALSE(FakeJvm_ApplicationRunning());
    v.env->CallStaticVoidMethod(main, v.Method(main, "main", "([Ljava/lang/String;)V"), nullptr);
    EXPECT_TRUE(FakeJvm_ApplicationRunning());
    EXPECT_EQ(FakeJvm_CountLog("invoke com/norvanta/kelvarin/main/TApplication.main([Ljava/lang/String;)V null"), 1);
    v.env->CallStaticVoidMethod(cls, v.Method(cls, "quit", "()V"));
    EXPECT_FALSE(FakeJvm_ApplicationRunning());
    EXPECT_EQ(FakeJvm_CountLog("application end"), 1);
    EXPECT_EQ(FakeJvm_ViolationCount(), 0) << ViolationText();
}

TEST(JavaSide, BuiltInSampleWithoutScript) {
    FakeJvm_Reset();
    JavaVM *vm;
    JNIEnv *env;
    ASSERT_EQ(CreateChimeletVm(&vm, &env), JNI_OK);
    EXPECT_EQ(FakeJvm_CountLog("script built-in"), 1);
    jclass cls = env->FindClass(kInterface);
    jobjectArray a = static_cast<jobjectArray>(
        env->CallStaticObjectMethod(cls, env->GetStaticMethodID(cls, "getTemplateList", kStringArray)));
    EXPECT_EQ(env->GetArrayLength(a), 3);
    jobjectArray e = static_cast<jobjectArray>(
        env->CallStaticObjectMethod(cls, env->GetStaticMethodID(cls, "getEventsForToday", kStringArray)));
    EXPECT_EQ(env->GetArrayLength(e) % 2, 0);
    EXPECT_GT(env->GetArrayLength(e), 0);
    EXPECT_EQ(vm->DestroyJavaVM(), JNI_OK);  // main never ran: nothing to wait for
}

// ------------------------------------------------------------ window system
// Real windows of the test's thread: Wine's, or on the host the Win32
// stand-in's, handed to the runtime as user32 is on Windows.

UINT const WM_TEST_SENT = WM_USER + 1;
UINT const WM_TEST_POSTED = WM_USER + 2;

struct {
    JNIEnv *env;
    std::atomic<bool> inCall;
    std::vector<std::string> events;  // "sent inside", "timer after", ...; the test thread's
} gWindow;

void CallVoid(JNIEnv *env, const char *name) {
    jclass cls = env->FindClass(kInterface);
    env->CallStaticVoidMethod(cls, env->GetStaticMethodID(cls, name, "()V"));
    env->DeleteLocalRef(cls);
}

// As the program's tray window: the first message sent to it calls About,
// the second Help, through the test thread's env.
LRESULT CALLBACK TestWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    const char *kind = msg == WM_TEST_SENT ? "sent" : msg == WM_TEST_POSTED ? "posted" : msg == WM_TIMER ? "timer" : nullptr;
    if (!kind) return DefWindowProcA(hwnd, msg, wParam, lParam);
    if (msg == WM_TIMER) KillTimer(hwnd, wParam);
    gWindow.events.push_back(std::string(kind) + (gWindow.inCall ? " inside" : " after"));
    if (msg == WM_TEST_SENT)
        CallVoid(gWindow.env, std::count(gWindow.events.begin(), gWindow.events.end(), gWindow.events.back()) == 1
                                  ? "showAboutWindow" : "showHelpWindow");
    return 0;
}

// A serving call runs what is sent to its thread inside it, the Java that
// calls nested, and leaves posted messages and timers to the thread's loop,
// its lock released all the while; a plain delay serves nothing.
TEST(JavaSide, ServingDelaysRunSentMessagesInsideTheCall) {
    std::string const reminders = std::string(kInterface) + ".showReminderList()V";
    std::string const about = std::string(kInterface) + ".showAboutWindow()V";
    std::string const help = std::string(kInterface) + ".showHelpWindow()V";
    struct {
        const char *name;
        const char *script;
        bool windowSystem;  // host: the stand-in is handed in (Windows: user32 always)
        bool servedInside;
        std::vector<std::string> nested;  // the nested lines, in order
    } const cases[] = {
        {"a plain delay", "delay showReminderList 400", true, false, {}},
        {"a serving delay", "delay showReminderList 400 serving", true, true,
         {"nested " + about + " inside " + reminders, "nested " + help + " inside " + reminders}},
        {"a serving call inside one: the innermost is named",
         "delay showReminderList 800 serving\ndelay showAboutWindow 300 serving", true, true,
         {"nested " + about + " inside " + reminders, "nested " + help + " inside " + about}},
#ifndef _WIN32
        {"without a window system", "delay showReminderList 400 serving", false, false, {}},
#endif
    };
    WNDCLASSA wc = {};
    wc.lpfnWndProc = TestWindowProc;
    wc.lpszClassName = "FakeJvmTestWindow";
    RegisterClassA(&wc);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        TestVm v(c.script);
        ASSERT_NE(v.env, nullptr);
#ifndef _WIN32
        if (c.windowSystem) HandJavaTheHostWindowSystem();
        else FakeJvm_SetWindowSystem(nullptr);
#endif
        gWindow.env = v.env;
        gWindow.events.clear();
        HWND hwnd = CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(hwnd, (HWND)NULL);
        SetTimer(hwnd, 1, 1, nullptr);  // due at once, all through the call
        std::atomic<bool> otherCallInside{false};
        std::thread sender([&] {
            FakeJvm_WaitLog(("invoke " + reminders).c_str(), 1, 5000);
            PostMessageA(hwnd, WM_TEST_POSTED, 0, 0);
            std::thread first([&] { SendMessageA(hwnd, WM_TEST_SENT, 0, 0); });
            FakeJvm_WaitLog(("invoke " + about).c_str(), 1, c.servedInside ? 5000 : 100);
            std::thread second([&] { SendMessageA(hwnd, WM_TEST_SENT, 0, 0); });
            JNIEnv *env = nullptr;
            v.vm->AttachCurrentThread(reinterpret_cast<void **>(&env), nullptr);
            CallVoid(env, "showQuickReminder");
            otherCallInside = gWindow.inCall.load();
            v.vm->DetachCurrentThread();
            first.join();
            second.join();
        });
        gWindow.inCall = true;
        CallVoid(v.env, "showReminderList");
        gWindow.inCall = false;
        for (int i = 0; i < 300 && gWindow.events.size() < 4; ++i) {
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        sender.join();
        DestroyWindow(hwnd);
        std::string const sent = c.servedInside ? "sent inside" : "sent after";
        std::vector<std::string> const expected = {sent, sent, "posted after", "timer after"};
        std::vector<std::string> const &events = gWindow.events;
        EXPECT_TRUE(std::is_permutation(events.begin(), events.end(), expected.begin(), expected.end()))
            << ::testing::PrintToString(events);
        EXPECT_TRUE(otherCallInside.load()) << "the lock was held all through the call";
        // Each nested line comes just before the invoke line of its call.
        std::string const log = LogText();
        std::vector<std::string> nested;
        for (size_t at = 0; (at = log.find("\nnested ", at)) != std::string::npos; ++at) {
            size_t const end = log.find('\n', at + 1);
            nested.push_back(log.substr(at + 1, end - at - 1));
            std::string const call = "invoke " + nested.back().substr(7, nested.back().find(" inside ") - 7) + "\n";
            EXPECT_EQ(log.compare(end + 1, call.size(), call), 0) << nested.back();
        }
        EXPECT_EQ(nested, c.nested);
        EXPECT_EQ(FakeJvm_ViolationCount(), 0) << ViolationText();
    }
}

// After each invoke line, the calling thread's awareness and the screen it
// measures, as AWT measures it.
TEST(JavaSide, EachCallLogsItsThreadsDpiAwareness) {
    struct {
        intptr_t context;  // DPI_AWARENESS_CONTEXT_UNAWARE, _SYSTEM_AWARE, _PER_MONITOR_AWARE; 0: no window system
        const char *word;
    } const cases[] = {
        {-1, "unaware"}, {-2, "system"}, {-3, "per-monitor"},
#ifndef _WIN32
        {0, "unknown"},
#endif
    };
    typedef HANDLE(WINAPI * SetContextFn)(HANDLE);
    SetContextFn setContext = reinterpret_cast<SetContextFn>(reinterpret_cast<void (*)(void)>(
        GetProcAddress(GetModuleHandleA("user32.dll"), "SetThreadDpiAwarenessContext")));
    ASSERT_NE(setContext, nullptr);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.word);
#ifndef _WIN32
        if (c.context) HandJavaTheHostWindowSystem();
        else FakeJvm_SetWindowSystem(nullptr);
#endif
        HANDLE previous = setContext(reinterpret_cast<HANDLE>(c.context ? c.context : -1));
        std::string const size = !c.context ? "0x0" : std::to_string(GetSystemMetrics(SM_CXSCREEN)) + "x" +
                                                          std::to_string(GetSystemMetrics(SM_CYSCREEN));
        {
            TestVm v;
            jclass main = v.env->FindClass(kMain);
            v.env->CallStaticVoidMethod(main, v.Method(main, "main", "([Ljava/lang/String;)V"), nullptr);
            CallVoid(v.env, "showAboutWindow");
            std::string const prefix = std::string("dpi ") + c.word + " " + size + " ";
            EXPECT_NE(LogText().find("invoke " + std::string(kMain) + ".main([Ljava/lang/String;)V null\n" + prefix +
                                     kMain + ".main([Ljava/lang/String;)V\n"), std::string::npos) << LogText();
            EXPECT_NE(LogText().find("\n" + prefix + kInterface + ".showAboutWindow()V\n"), std::string::npos);
        }
        setContext(previous);
    }
#ifndef _WIN32
    HandJavaTheHostWindowSystem();
#endif
}

}  // namespace
