// Starting Java: what the user is told when it cannot be done, and how each
// kind of runtime is asked to create the VM.

#include "BlackBox.h"

using namespace winrig;

namespace blackbox {
namespace {

class Launch : public BlackBoxTest {};

enum class Runtime {
    Fake,        // fakejvm.dll registered as Java 1.4
    Java15,      // fakejvm.dll registered, but as Java 1.5 only
    None,        // nothing registered
    Missing,     // RuntimeLib names a file that is not there
    HalfLibrary  // RuntimeLib names a DLL that exports JNI_CreateJavaVM only
};

enum class Jar {
    Beside,      // beside Chimelet.exe, where it belongs
    Elsewhere,   // only in the working directory, which is not the program's
    None
};

struct FailureRow {
    char const *name;
    Runtime runtime;
    char const *script;
    Jar jar;
    char const *caption;  // NULL: nothing may be shown
    char const *text;
    std::string logLine;  // a line the log must hold once, telling this failure from others; {jar}: the jar's path
};

// The jar is handed over by its full path: the row's own, beside its
// Chimelet.exe, as the log shows it (a backslash doubled).
std::string WithJar(std::string line, std::string const &dir)
{
    size_t at = line.find("{jar}");
    if (at == std::string::npos)
        return line;
    std::string jar;
    for (char c : dir + "\\chimelet.jar")
        jar += c == '\\' ? std::string("\\\\") : std::string(1, c);
    return line.replace(at, 5, jar);
}

char const kJavaRequired[] =
    "Chimelet requires Java version 1.3 or 1.4 to be installed. Please see the ReadMe file for details.";

// Each failure is shown (or not) exactly so, with an OK button only, and the
// process ends with 0 once the box is answered.
TEST_F(Launch, EachFailureIsShownThenTheProcessEndsWithZero)
{
    FailureRow const rows[] = {
        {"NoRuntimeRegistered", Runtime::None, "", Jar::Beside, "Chimelet", kJavaRequired, ""},
        {"OnlyJava15Registered", Runtime::Java15, "", Jar::Beside, "Chimelet", kJavaRequired, ""},
        // A runtime that cannot be used is as good as none, and is said so.
        {"LibraryMissing", Runtime::Missing, "", Jar::Beside, "Chimelet", kJavaRequired, ""},
        {"LibraryLacksAnEntry", Runtime::HalfLibrary, "", Jar::Beside, "Chimelet", kJavaRequired, ""},
        // Any failure other than JNI_EVERSION gets no second attempt.
        {"VmCreationFails", Runtime::Fake, "create -1\n", Jar::Beside, "Kelvarin",
         "Cannot setup Java. Try installing the product again.  Error:-1",
         "create version=0x00010001 classpath={jar} exit=hook -> -1"},
        {"SecondAttemptFails", Runtime::Fake, "mode modern\ncreate normal -6\n", Jar::Beside, "Kelvarin",
         "Cannot setup Java. Try installing the product again.  Error:-6",
         "create version=0x00010002 options=[-Djava.class.path={jar}, exit] ignoreUnrecognized=1 -> -6"},
        {"JarNotBesideTheProgram", Runtime::Fake, "jar required\n", Jar::None, "Kelvarin",
         "Can't find class 'com/norvanta/kelvarin/main/TApplication'", "describe java/lang/NoClassDefFoundError"},
        // A jar someone left in the working directory is not ours to run.
        {"JarOnlyInTheWorkingDirectory", Runtime::Fake, "jar required\n", Jar::Elsewhere, "Kelvarin",
         "Can't find class 'com/norvanta/kelvarin/main/TApplication'", "describe java/lang/NoClassDefFoundError"},
        {"MainMethodMissing", Runtime::Fake, "remove method com/norvanta/kelvarin/main/TApplication.main\n",
         Jar::Beside, "Kelvarin", "Can't find class 'TApplication'",
         "getstaticmethodid com/norvanta/kelvarin/main/TApplication.main([Ljava/lang/String;)V -> missing"},
    };

    for (FailureRow const &row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_NO_FATAL_FAILURE(BeginCase(row.name));
        WriteScript(row.script);
        std::string const elsewhere = Dir() + "\\elsewhere";
        CreateDirectoryA(elsewhere.c_str(), NULL);
        if (row.jar != Jar::None)
            PutJar(row.jar == Jar::Beside ? Dir() : elsewhere);
        switch (row.runtime) {
        case Runtime::Fake: break;
        case Runtime::Java15:
            ASSERT_TRUE(UnregisterJavaRuntimes());
            ASSERT_TRUE(RegisterJavaRuntime(Bin() + "\\fakejvm.dll", "1.5"));
            break;
        case Runtime::None: ASSERT_TRUE(UnregisterJavaRuntimes()); break;
        case Runtime::Missing: ASSERT_TRUE(RegisterJavaRuntime(Bin() + "\\nosuchjvm.dll")); break;
        case Runtime::HalfLibrary: ASSERT_TRUE(RegisterJavaRuntime(Bin() + "\\halfjvm.dll")); break;
        }

        Child *chimelet = StartChimelet("", elsewhere);
        HWND box = NULL;
        if (row.caption) {
            // The box is up while the process still runs, and it is the only one.
            box = WaitMessageBox(*chimelet, row.caption);
            ASSERT_TRUE(box != NULL);
            MessageBoxFacts facts = ReadMessageBox(box);
            EXPECT_EQ(facts.text, row.text);
            EXPECT_EQ(facts.buttons, std::vector<int>{IDOK});
            EXPECT_TRUE(ChildRunning(*chimelet));
            ASSERT_TRUE(AnswerMessageBox(box, IDOK));
        }
        std::vector<MessageBoxFacts> more = WatchUntilExit(chimelet, kExitMs, box);
        for (MessageBoxFacts const &box : more)
            ADD_FAILURE() << "unexpected box '" << box.caption << "': " << box.text;
        EXPECT_EQ(ExpectExit(chimelet, 0), 0u);

        if (row.runtime == Runtime::Fake) {
            EXPECT_EQ(LogCount(WithJar(row.logLine, Dir())), 1) << WithJar(row.logLine, Dir());
            EXPECT_EQ(LogCount(kInvokeMain), 0);
            ExpectNoViolations();
        } else {
            EXPECT_EQ(ReadFileText(LogPath()), "") << "the stand-in runtime was used";
        }
    }
}

struct ModeRow {
    char const *name;
    char const *script;
    std::vector<std::string> invocation;  // the getdefault and create lines, in order
};

// Whatever the runtime speaks, the VM gets the jar as its class path, main()
// runs, and only then is the tray bound. A 1.1 runtime gets one attempt; a
// runtime that refuses 1.1 gets a 1.2 record with exactly one option; a
// current HotSpot relabels the 1.1 record and must not be trusted with it.
TEST_F(Launch, EveryKindOfRuntimeStartsTheApplication)
{
    // On both attempts.
    std::string const classic11 = "create version=0x00010001 classpath={jar} exit=hook -> 0";
    std::string const refused11 = "create version=0x00010001 classpath={jar} exit=hook -> -3";
    std::string const accepted12 = "create version=0x00010002 options=[-Djava.class.path={jar}, exit] ignoreUnrecognized=1 -> 0";
    ModeRow const rows[] = {
        {"Classic", "mode classic\n", {"getdefault version=0x00010001 -> 0", classic11}},
        {"Modern", "mode modern\n", {"getdefault version=0x00010001 -> -3", refused11, accepted12}},
        {"Hotspot", "mode hotspot\n", {"getdefault version=0x00010001 -> -1", refused11, accepted12}},
        // An exception left by main() is not the shell's business.
        {"MainThrows", "main throw java/lang/RuntimeException \"main failed\"\n",
         {"getdefault version=0x00010001 -> -1", refused11, accepted12}},
    };

    for (ModeRow const &row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_NO_FATAL_FAILURE(BeginCase(row.name));
        WriteScript(row.script);
        PutJar();

        Child *chimelet = StartChimelet();
        WaitTrayIcon();
        WaitBound();
        std::vector<std::string> invocation;
        for (std::string const &line : LogLines()) {
            if (line.compare(0, 11, "getdefault ") == 0 || line.compare(0, 7, "create ") == 0)
                invocation.push_back(line);
        }
        std::vector<std::string> expected;
        for (std::string const &line : row.invocation)
            expected.push_back(WithJar(line, Dir()));
        EXPECT_EQ(invocation, expected);
        int mainAt = LogIndex(kInvokeMain);
        EXPECT_GE(mainAt, 0);
        EXPECT_GT(LogIndex("attach "), mainAt);

        CloseAndExpectCleanExit(chimelet);
        ExpectNoViolations();
    }
}

}  // namespace
}  // namespace blackbox
