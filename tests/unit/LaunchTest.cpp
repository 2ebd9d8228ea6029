// The Java launch against the stand-in runtime: every way it can fail is
// told to the user exactly once, and a runtime of any era gets the jar on
// its class path.

#include <gtest/gtest.h>

#include <string>

#include "BoundJava.h"
#include "JavaInterface.h"
#include "JavaScript.h"
#include "TestSupport.h"
#include "fakejvm_control.h"
#include "kelvarin.h"

namespace {

std::string const kRoot = "Software\\JavaSoft\\Java Runtime Environment";

void RegisterRuntime(std::string const &runtimeLib)
{
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\JavaSoft");
    struct {
        std::string key, name, value;
    } const values[] = {
        {kRoot, "CurrentVersion", "1.4"},
        {kRoot + "\\1.4", "JavaHome", "C:\\jre"},
        {kRoot + "\\1.4", "MicroVersion", "2"},
        {kRoot + "\\1.4", "RuntimeLib", runtimeLib},
    };
    for (auto const &v : values) {
        HKEY key;
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, v.key.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL);
        RegSetValueExA(key, v.name.c_str(), 0, REG_SZ, (BYTE const *)v.value.c_str(), (DWORD)v.value.size() + 1);
        RegCloseKey(key);
    }
}

// A library that loads but is no Java runtime.
std::string SomeOtherLibrary()
{
#ifdef _WIN32
    return "C:\\windows\\system32\\version.dll";
#else
    return "libm.so.6";
#endif
}

class Launch : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetTestProcess();
        AnswerMessageBoxes(IDOK);
        window_ = MakeTestWindow();
    }

    void TearDown() override
    {
        DestroyLeftoverVM();
        DestroyWindow(window_);
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\JavaSoft");
    }

    // Runs the launch as WinMain does, with the bind message going to our window.
    int Start(JavaScript const &script, HWND bindTo)
    {
        DestroyLeftoverVM();
        FakeJvm_Reset();
        EXPECT_EQ(FakeJvm_Script(script.Text().c_str()), 0);
        return StartupJava("", jarFileName, mainClassName, bindTo, WM_BIND_TO_JAVA, &vm_);
    }

    // A launch that fails after creating the VM leaves it to the end of the
    // process, which for us is the next case. Nothing runs in it, so it goes
    // at once.
    void DestroyLeftoverVM()
    {
        if (vm_ && FakeJvm_VmExists())
            vm_->DestroyJavaVM();
        vm_ = NULL;
    }

    // Whether the bind message reached the test thread's queue, for `window`.
    static bool BindPosted(HWND window)
    {
        MSG msg;
        bool posted = false;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_BIND_TO_JAVA && msg.hwnd == window)
                posted = true;
            else
                DispatchMessageA(&msg);
        }
        return posted;
    }

    HWND window_ = NULL;
    JavaVM *vm_ = NULL;
};

struct ShownCase {
    char const *name;
    std::string runtimeLib;  // "" = no runtime registered
    JavaScript java;
    int result;
    std::string text;       // "" = nothing shown
    std::string caption;
    UINT type;
    bool bound;             // main ran and the bind message followed
};

TEST_F(Launch, TellsEachFailureExactlyOnce)
{
    std::string const fake = FakeJvmLibraryPath();
    std::string const classic = "Can't find class 'com/norvanta/kelvarin/main/TApplication'";
    ShownCase const cases[] = {
        {"no accepted runtime", "", JavaScript(), 0,
         "Chimelet requires Java version 1.3 or 1.4 to be installed. Please see the ReadMe file for details.",
         "Chimelet", MB_ICONINFORMATION | MB_TASKMODAL, false},
        {"library missing", "C:\\nowhere\\jvm.dll", JavaScript(), 0, "", "", 0, false},
        {"library without the entries", SomeOtherLibrary(), JavaScript(), 0, "", "", 0, false},
        {"creation fails with -1", fake, JavaScript().CreateResult(-1), -1,
         "Cannot setup Java. Try installing the product again.  Error:-1", "Kelvarin", MB_ICONEXCLAMATION, false},
        {"creation fails with -3 twice", fake, JavaScript().CreateResult(-3), -3,
         "Cannot setup Java. Try installing the product again.  Error:-3", "Kelvarin", MB_ICONEXCLAMATION, false},
        {"main class missing", fake, JavaScript().WithoutMainClass(), -1, classic, "Kelvarin", MB_ICONEXCLAMATION, false},
        {"main() missing", fake, JavaScript().WithoutMain(), -1, "Can't find class 'TApplication'", "Kelvarin",
         MB_ICONEXCLAMATION, false},
        {"normal end", fake, JavaScript().ApplicationEndsAfterMain(), 0, "", "", 0, true},
        {"main() throws", fake, JavaScript().MainThrows().ApplicationEndsAfterMain(), 0, "", "", 0, true},
    };
    for (ShownCase const &c : cases) {
        SCOPED_TRACE(c.name);
        AnswerMessageBoxes(IDOK);
        if (c.runtimeLib.empty())
            RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\JavaSoft");
        else
            RegisterRuntime(c.runtimeLib);

        EXPECT_EQ(Start(c.java, window_), c.result);
        std::vector<ShownBox> boxes = ShownMessageBoxes();
        ASSERT_EQ(boxes.size(), c.text.empty() ? 0u : 1u);
        if (!c.text.empty()) {
            EXPECT_EQ(boxes[0].text, c.text);
            EXPECT_EQ(boxes[0].caption, c.caption);
            EXPECT_EQ(boxes[0].type, c.type);
        }
        EXPECT_EQ(BindPosted(window_), c.bound);
        EXPECT_EQ(BoundJava::Count("invoke com/norvanta/kelvarin/main/TApplication.main([Ljava/lang/String;)V"),
                  c.bound ? 1 : 0);
        EXPECT_EQ(BoundJava::Count("destroy begin"), c.bound ? 1 : 0);
    }
}

TEST_F(Launch, AMissingMainClassIsDescribedOnTheErrorStream)
{
    RegisterRuntime(FakeJvmLibraryPath());
    EXPECT_EQ(Start(JavaScript().WithoutMainClass(), window_), -1);
    EXPECT_EQ(BoundJava::Count("describe java/lang/NoClassDefFoundError"), 1);
}

// Every era of runtime starts the application with the jar on its class path.
TEST_F(Launch, GivesEachKindOfRuntimeTheJar)
{
    struct {
        char const *mode;
        std::vector<std::string> creates;  // the create lines, in order
    } const cases[] = {
        {"classic", {"create version=0x00010001 classpath=chimelet.jar -> 0"}},
        {"modern", {"create version=0x00010001 classpath=chimelet.jar -> -3",
                    "create version=0x00010002 options=[-Djava.class.path=chimelet.jar] ignoreUnrecognized=1 -> 0"}},
        {"hotspot", {"create version=0x00010001 classpath=chimelet.jar -> -3",
                     "create version=0x00010002 options=[-Djava.class.path=chimelet.jar] ignoreUnrecognized=1 -> 0"}},
    };
    RegisterRuntime(FakeJvmLibraryPath());
    for (auto const &c : cases) {
        SCOPED_TRACE(c.mode);
        EXPECT_EQ(Start(JavaScript().Mode(c.mode).ApplicationEndsAfterMain(), window_), 0);
        EXPECT_TRUE(BindPosted(window_));
        EXPECT_EQ(BoundJava::Count("create "), (int)c.creates.size());
        std::string const log = BoundJava::Log();
        size_t at = 0;
        for (std::string const &line : c.creates) {
            at = log.find(line, at);
            EXPECT_NE(at, std::string::npos) << line << "\n" << log;
        }
        EXPECT_EQ(BoundJava::Count("invoke com/norvanta/kelvarin/main/TApplication.main"), 1);
        EXPECT_EQ(BoundJava::Violations(), "");
    }
}

TEST_F(Launch, WithoutTheJarInTheCurrentDirectoryTheMainClassIsNotFound)
{
    RegisterRuntime(FakeJvmLibraryPath());
    std::string const before = CurrentDirectory();
    ChangeDirectory(ScratchDirectory());
    EXPECT_EQ(Start(JavaScript().JarMustExist(), window_), -1);
    ChangeDirectory(before);
    ASSERT_EQ(ShownMessageBoxes().size(), 1u);
    EXPECT_EQ(ShownMessageBoxes()[0].text, "Can't find class 'com/norvanta/kelvarin/main/TApplication'");
    EXPECT_FALSE(BindPosted(window_));
}

// Without a ghost window the bind message goes nowhere and Java runs on.
TEST_F(Launch, WithNoWindowToBindTheApplicationStillRuns)
{
    RegisterRuntime(FakeJvmLibraryPath());
    EXPECT_EQ(Start(JavaScript().ApplicationEndsAfterMain(), NULL), 0);
    EXPECT_EQ(BoundJava::Count("invoke com/norvanta/kelvarin/main/TApplication.main"), 1);
    EXPECT_EQ(BoundJava::Count("destroy end"), 1);
    EXPECT_FALSE(BindPosted(window_));
}

} // namespace
