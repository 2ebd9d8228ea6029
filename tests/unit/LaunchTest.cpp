// The Java launch against the stand-in runtime: every way it can fail is
// told to the user exactly once, and a runtime of any era gets the jar on
// its class path.

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "BoundJava.h"
#include "JavaInterface.h"
#include "JavaScript.h"
#include "TestSupport.h"
#include "fakejvm_control.h"
#include "kelvarin.h"
#include "resource.h"

#ifndef _WIN32
#include "winstub_control.h"
#endif

namespace {

std::string const kRoot = "Software\\JavaSoft\\Java Runtime Environment";

// CurrentVersion names 1.4; the runtime's key is that of `version`.
void RegisterRuntime(std::string const &runtimeLib, std::string const &version = "1.4")
{
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\JavaSoft");
    struct {
        std::string key, name, value;
    } const values[] = {
        {kRoot, "CurrentVersion", "1.4"},
        {kRoot + "\\" + version, "JavaHome", "C:\\jre"},
        {kRoot + "\\" + version, "MicroVersion", "2"},
        {kRoot + "\\" + version, "RuntimeLib", runtimeLib},
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
    int Start(JavaScript const &script, HWND bindTo, std::string const &jar = jarFileName)
    {
        DestroyLeftoverVM();
        FakeJvm_Reset();
        EXPECT_EQ(FakeJvm_Script(script.Text().c_str()), 0);
        return StartupJava("", jar.c_str(), mainClassName, bindTo, WM_BIND_TO_JAVA, TakeTrayDownOnJavaExit, &vm_);
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
    std::string jar = jarFileName;  // the jar's path, as WinMain hands it over
};

TEST_F(Launch, TellsEachFailureExactlyOnce)
{
    std::string const fake = FakeJvmLibraryPath();
    std::string const classic = "Can't find class 'com/norvanta/kelvarin/main/TApplication'";
    std::string const javaRequired =
        "Chimelet requires Java version 1.3 or 1.4 to be installed. Please see the ReadMe file for details.";
    ShownCase const cases[] = {
        {"no accepted runtime", "", JavaScript(), 0, javaRequired, "Chimelet", MB_ICONINFORMATION | MB_TASKMODAL, false},
        // A runtime that cannot be used is as good as none.
        {"library missing", "C:\\nowhere\\jvm.dll", JavaScript(), 0, javaRequired, "Chimelet",
         MB_ICONINFORMATION | MB_TASKMODAL, false},
        {"library without the entries", SomeOtherLibrary(), JavaScript(), 0, javaRequired, "Chimelet",
         MB_ICONINFORMATION | MB_TASKMODAL, false},
        // Only JNI_EVERSION earns a second attempt, which would succeed here.
        {"first creation fails with -1", fake, JavaScript().CreateAnswers("-1"), -1,
         "Cannot setup Java. Try installing the product again.  Error:-1", "Kelvarin", MB_ICONEXCLAMATION, false},
        {"creation fails with -3 twice", fake, JavaScript().CreateAnswers("-3 -3"), -3,
         "Cannot setup Java. Try installing the product again.  Error:-3", "Kelvarin", MB_ICONEXCLAMATION, false},
        {"main class missing", fake, JavaScript().WithoutMainClass(), -1, classic, "Kelvarin", MB_ICONEXCLAMATION, false},
        // A path cut to fit "-Djava.class.path=" would name another file;
        // none at all means the program's own path could not be read.
        {"jar path too long", fake, JavaScript(), -1, classic, "Kelvarin", MB_ICONEXCLAMATION, false,
         "C:\\" + std::string(1006 - 16, 'x') + "\\chimelet.jar"},
        {"no jar path", fake, JavaScript(), -1, classic, "Kelvarin", MB_ICONEXCLAMATION, false, ""},
        {"longest jar path", fake, JavaScript().ApplicationEndsAfterMain(), 0, "", "", 0, true,
         "C:\\" + std::string(1005 - 16, 'x') + "\\chimelet.jar"},
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

        EXPECT_EQ(Start(c.java, window_, c.jar), c.result);
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

#ifndef _WIN32
// A library that is no Java runtime is not kept loaded. Any runtime library
// is loaded without the system's own error box, which a damaged one would
// bring before ours, and the error mode is given back after.
TEST_F(Launch, AnUnusableLibraryIsFreed)
{
    RegisterRuntime(SomeOtherLibrary());
    int const before = WinStub_LiveHandles().modules;
    UINT const kNoGpFaultBox = 0x0002;  // SEM_NOGPFAULTERRORBOX, the mode the process had
    SetErrorMode(kNoGpFaultBox);
    EXPECT_EQ(Start(JavaScript(), window_), 0);
    EXPECT_EQ(WinStub_LiveHandles().modules, before);
    EXPECT_EQ(WinStub_LoadLibraryErrorModes(), std::vector<UINT>{SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX});
    EXPECT_EQ(SetErrorMode(0), kNoGpFaultBox) << "the error mode was not given back";
}
#endif

TEST_F(Launch, AMissingMainClassIsDescribedOnTheErrorStream)
{
    RegisterRuntime(FakeJvmLibraryPath());
    EXPECT_EQ(Start(JavaScript().WithoutMainClass(), window_), -1);
    EXPECT_EQ(BoundJava::Count("describe java/lang/NoClassDefFoundError"), 1);
}

// Every era of runtime starts the application with the jar on its class path,
// and with the shell's exit hook.
TEST_F(Launch, GivesEachKindOfRuntimeTheJar)
{
    struct {
        char const *mode;
        std::vector<std::string> creates;  // the create lines, in order
    } const cases[] = {
        {"classic", {"create version=0x00010001 classpath=chimelet.jar exit=hook -> 0"}},
        {"modern", {"create version=0x00010001 classpath=chimelet.jar exit=hook -> -3",
                    "create version=0x00010002 options=[-Djava.class.path=chimelet.jar, exit] ignoreUnrecognized=1 -> 0"}},
        {"hotspot", {"create version=0x00010001 classpath=chimelet.jar exit=hook -> -3",
                     "create version=0x00010002 options=[-Djava.class.path=chimelet.jar, exit] ignoreUnrecognized=1 -> 0"}},
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

// The whole program, WinMain, in this process: on the test thread, or on a
// thread of its own while the test plays the user.
class WholeRun : public Launch {
protected:
    void SetUp() override
    {
        Launch::SetUp();
        directory_ = CurrentDirectory();
    }

    void TearDown() override
    {
        EndRun();
        ChangeDirectory(directory_);
        Launch::TearDown();
    }

    int RunWinMain(JavaScript const &script)
    {
        EXPECT_EQ(FakeJvm_Script(script.Text().c_str()), 0);
        char commandLine[] = "";
        return WinMain(GetModuleHandleA(NULL), NULL, commandLine, SW_SHOWDEFAULT);
    }

    // Once WinMain has returned, the monitor thread follows within a moment.
    bool MonitorThreadEnded()
    {
        return !sg_hMonitorThread || WaitForSingleObject(sg_hMonitorThread, 5000) == WAIT_OBJECT_0;
    }

    std::string directory_;  // the test's working directory, given back after each run

    // Back to a clean process: a VM that a failed start left, and the
    // monitor thread's handle, go.
    void EndRun()
    {
        if (sg_jvm && FakeJvm_VmExists())
            sg_jvm->DestroyJavaVM();
        if (sg_hMonitorThread)
            CloseHandle(sg_hMonitorThread);
        ResetTestProcess();
        AnswerMessageBoxes(IDOK);
    }
};

// Every way out that the shell controls takes the tray down first: the icon
// (Windows would show a leftover one until the mouse passes over it) and,
// since the monitor thread can still do it, the ghost window, which would
// turn a start in the meantime into a second start. No way out calls Java.
TEST_F(WholeRun, EveryWayOutTakesTheTrayDown)
{
    std::string const fake = FakeJvmLibraryPath();
    struct {
        char const *name;
        std::string runtimeLib;  // "" = none registered
        JavaScript java;
        bool told;               // a message box says what went wrong
    } const cases[] = {
        {"no accepted runtime", "", JavaScript(), true},
        {"runtime that cannot be loaded", "C:\\nowhere\\jvm.dll", JavaScript(), true},
        {"VM not created", fake, JavaScript().CreateAnswers("-1"), true},
        {"main class missing", fake, JavaScript().WithoutMainClass(), true},
        {"main() missing", fake, JavaScript().WithoutMain(), true},
        {"attach fails", fake, JavaScript().AttachFails().ApplicationEndsAfter(300), false},
        {"Java ends by itself", fake, JavaScript().ApplicationEndsAfter(300), false},
        // No daemon attach before 1.4: the tray's thread must not keep the VM.
        {"Java ends by itself, runtime before 1.4", fake, JavaScript().Mode("classic").ApplicationEndsAfter(300), false},
    };
    for (auto const &c : cases) {
        SCOPED_TRACE(c.name);
        EndRun();
        if (c.runtimeLib.empty())
            RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\JavaSoft");
        else
            RegisterRuntime(c.runtimeLib);

        EXPECT_EQ(RunWinMain(c.java), 0);
        EXPECT_EQ(ShownMessageBoxes().size(), c.told ? 1u : 0u);
        EXPECT_TRUE(MonitorThreadEnded());
        EXPECT_EQ(FindWindowA("ChimeletGhostWindow", NULL), (HWND)NULL);
#ifndef _WIN32
        EXPECT_EQ(WinStub_TrayIconCount(), 0u) << "an icon is left behind";
#endif
        EXPECT_EQ(BoundJava::Count(InvokeLine("quit", "()V")), 0);
        EXPECT_EQ(BoundJava::Violations(), "");
    }
}

// The settings file and the jar beside the program are used whatever the
// working directory: here the settings file names the only runtime
// installed, which CurrentVersion does not name, and the jar must exist.
// The Java application then works in the program's folder.
TEST_F(WholeRun, TheFilesBesideTheProgramAreUsedFromAnyDirectory)
{
    RegisterRuntime(FakeJvmLibraryPath(), "1.3");
    char ini[kPathSize];
    char jar[kPathSize];
    GetIniFileName(GetModuleHandleA(NULL), ini, sizeof ini);
    GetJarFileName(GetModuleHandleA(NULL), jar, sizeof jar);
    WriteScratchFile(ini, "[main]\r\njavaversion=1.3\r\n");
    WriteScratchFile(jar, "");
    std::string const before = CurrentDirectory();
    ChangeDirectory(ScratchDirectory());

    EXPECT_EQ(RunWinMain(JavaScript().JarMustExist().ApplicationEndsAfter(100)), 0);
    std::string const programFolder(ini, strrchr(ini, '\\') - ini);
    EXPECT_EQ(CurrentDirectory(), programFolder);
    ChangeDirectory(before);
    RemoveScratchFile(ini);
    RemoveScratchFile(jar);
    EXPECT_TRUE(ShownMessageBoxes().empty());
    EXPECT_EQ(BoundJava::Count("invoke com/norvanta/kelvarin/main/TApplication.main"), 1);
}

#ifndef _WIN32
// The Java application ends the process itself (System.exit), also while
// the tray waits in a long Java call: the VM's exit hook takes the icon down,
// calling no Java and waiting for no thread, since the process ends as soon
// as it returns.
TEST_F(WholeRun, JavaEndingTheProcessItselfTakesTheIconDown)
{
    static std::atomic<int> iconsAtExit;
    for (bool busy : {false, true}) {
        SCOPED_TRACE(busy ? "tray busy in Java" : "tray idle");
        EndRun();
        RegisterRuntime(FakeJvmLibraryPath());
        iconsAtExit = -1;
        FakeJvm_SetProcessExit([](int) { iconsAtExit = (int)WinStub_TrayIconCount(); });
        std::thread launch([&] {
            EXPECT_EQ(RunWinMain(JavaScript().EndsProcessAfter(1500, 7).Taking("showReminderList", 60000)), 0);
        });
        for (int i = 0; i < 1000 && !__atomic_load_n(&sg_trayBound, __ATOMIC_ACQUIRE); ++i)
            Sleep(10);
        if (busy) {
            PostMessageA(sg_monitorHwnd, WM_SHOW_REMINDERS, 0, 0);
            EXPECT_TRUE(WaitForLog(InvokeLine("showReminderList", "()V")));
        }
        EXPECT_TRUE(WaitForLog("process exit 7"));
        launch.join();
        EXPECT_EQ(BoundJava::Count("exit hook returned"), 1);
        EXPECT_EQ(iconsAtExit, 0) << "the icon outlives the process";
        EXPECT_EQ(BoundJava::Count(InvokeLine("quit", "()V")), 0);
        EXPECT_EQ(BoundJava::Violations(), "");
    }
}
#endif

// Exit from the tray while the launch waits in DestroyJavaVM on its own
// thread: quit ends the application, and no call of the tray's thread may
// reach the VM once it is being destroyed.
TEST_F(WholeRun, ExitWhileTheLaunchWaitsInTheVm)
{
    RegisterRuntime(FakeJvmLibraryPath());
    std::atomic<bool> returned{false};
    int result = -1;
    std::thread launch([&] {
        result = RunWinMain(JavaScript());
        returned = true;
    });
    for (int i = 0; i < 1000 && !__atomic_load_n(&sg_trayBound, __ATOMIC_ACQUIRE); ++i)
        Sleep(10);
    ASSERT_TRUE(sg_trayBound) << "the tray was not bound";

    AnswerMessageBoxes(IDYES);
    ChooseInNextMenu(sg_monitorHwnd, IDS_EXIT);
    PostMessageA(sg_monitorHwnd, WM_NOTIFY_ICON, kNotifyIconId, WM_RBUTTONDOWN);
    for (int i = 0; i < 1000 && !returned; ++i)
        Sleep(10);
    if (!returned) {
        ADD_FAILURE() << "WinMain did not return after Exit";
        FakeJvm_ForceDestroy();
    }
    launch.join();
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(MonitorThreadEnded());
    EXPECT_EQ(BoundJava::Count(InvokeLine("quit", "()V")), 1);
    EXPECT_EQ(BoundJava::Violations(), "");
#ifndef _WIN32
    EXPECT_EQ(WinStub_TrayIconCount(), 0u);
#endif
}

} // namespace
