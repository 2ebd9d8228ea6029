// The rig's own traps: the environment handed to a child, the log reader,
// and the watchdog, which every black-box case relies on.

#include "BlackBox.h"

using namespace winrig;

namespace blackbox {
namespace {

std::string Block(std::vector<std::string> const &entries)
{
    std::string block;
    for (std::string const &entry : entries) {
        block += entry;
        block += '\0';
    }
    if (block.empty())
        block += '\0';
    return block + '\0';
}

TEST(Winrig, EditEnvironmentSetsAndRemovesByName)
{
    struct Row {
        char const *name;
        std::vector<std::string> entries;
        std::vector<std::string> changes;
        std::vector<std::string> expected;
    } const rows[] = {
        {"AddsANewVariable", {"A=1"}, {"B=2"}, {"A=1", "B=2"}},
        {"ReplacesWithoutRegardToCase", {"Path=x", "A=1"}, {"PATH=y"}, {"A=1", "PATH=y"}},
        {"RemovesABareName", {"A=1", "B=2"}, {"a"}, {"B=2"}},
        {"RemovingAnAbsentNameChangesNothing", {"A=1"}, {"Z"}, {"A=1"}},
        {"KeepsAnEmptyValue", {"A=1"}, {"A="}, {"A="}},
        {"DoesNotTakeAPrefixForTheName", {"AB=1", "A=2"}, {"A"}, {"AB=1"}},
        // "=C:=C:\dir" is the drive's current directory, named "=C:".
        {"LeavesDriveDirectoriesAlone", {"=C:=C:\\dir", "C=1"}, {"C=2"}, {"=C:=C:\\dir", "C=2"}},
        {"DropsEmptyEntriesThatWouldEndTheBlock", {"A=1", "", "B=2"}, {}, {"A=1", "B=2"}},
        {"AnEmptyResultIsStillABlock", {"A=1"}, {"A"}, {}},
        {"IgnoresAChangeWithNoName", {"A=1"}, {""}, {"A=1"}},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(EditEnvironment(row.entries, row.changes), Block(row.expected));
    }
}

class WinrigFiles : public BlackBoxTest {};

TEST_F(WinrigFiles, LinesAreCountedWhateverTheLineEnds)
{
    struct Row {
        char const *name;
        std::string text;
        std::vector<std::string> lines;
        int attachLines;
    } const rows[] = {
        {"Empty", "", {}, 0},
        {"NoFinalNewline", "attach daemon=0 -> 0", {"attach daemon=0 -> 0"}, 1},
        {"CrLf", "script x\r\nattach daemon=1 -> 0\r\n", {"script x", "attach daemon=1 -> 0"}, 1},
        {"EmptyLinesKept", "\n\nattach\n", {"", "", "attach"}, 1},
        {"PrefixOnlyAtTheStart", "x attach\nattach a\nattach b\n", {"x attach", "attach a", "attach b"}, 2},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.name);
        std::string path = Dir() + "\\lines.txt";
        ASSERT_TRUE(WriteFileText(path, row.text));
        EXPECT_EQ(ReadLines(path), row.lines);
        EXPECT_EQ(CountLinesWithPrefix(path, "attach"), row.attachLines);
    }
    EXPECT_TRUE(ReadLines(Dir() + "\\no-such-file.txt").empty());
    EXPECT_FALSE(WaitForLines(Dir() + "\\no-such-file.txt", "attach", 1, 50));
}

// A mistyped CHIMELET_TIME_SCALE must not shrink every wait to nothing: only
// a whole number from 1 to 100 counts, anything else is 1. A bound stretched
// past what a DWORD holds stays long, and a wait without end stays one.
TEST(Winrig, TheTimeScaleTakesOnlyAWholeNumberFrom1To100)
{
    struct Row {
        char const *text;
        DWORD scale;
    } const rows[] = {
        {NULL, 1}, {"", 1},    {"1", 1},    {"3", 3},   {"100", 100}, {"0", 1},
        {"101", 1}, {"-2", 1}, {"2.5", 1}, {" 3", 1}, {"3x", 1},     {"4294967299", 1},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.text ? row.text : "(unset)");
        EXPECT_EQ(ParseTimeScale(row.text), row.scale);
    }
    EXPECT_EQ(Scaled(INFINITE), INFINITE);
    EXPECT_GE(Scaled(0xC0000000u), 0xC0000000u) << "a long bound wrapped round to a short one";
}

// A child that would run for a minute is ended by the watchdog, and says so;
// one that ends by itself is reported with its own exit code.
TEST_F(WinrigFiles, TheWatchdogEndsWhatDoesNotEnd)
{
    std::string traypoke = Bin() + "\\traypoke.exe";
    Child waiting;
    ASSERT_TRUE(StartChild(traypoke, "wait-ghost 60000", Dir(), {}, &waiting));
    DWORD code = 0;
    DWORD start = GetTickCount();
    EXPECT_EQ(WaitChild(&waiting, 300, &code), WaitResult::TimedOut);
    EXPECT_LT(GetTickCount() - start, Scaled(10000));
    EXPECT_EQ(code, 0xDEADu);
    EXPECT_FALSE(ChildRunning(waiting));
    EndChild(&waiting);

    // No ghost window is there to close: traypoke says so and ends with 1.
    Child failing;
    ASSERT_TRUE(StartChild(traypoke, "close", Dir(), {}, &failing));
    EXPECT_EQ(WaitChild(&failing, kExitMs, &code), WaitResult::Exited);
    EXPECT_EQ(code, 1u);
    EndChild(&failing);
    EndChild(&failing);  // twice is harmless

    Child missing;
    std::string error;
    EXPECT_FALSE(StartChild(Bin() + "\\no-such-program.exe", "", Dir(), {}, &missing, &error));
    EXPECT_NE(error.find("no-such-program.exe"), std::string::npos) << error;
    EXPECT_EQ(WaitChild(&missing, 0), WaitResult::Failed);
}

}  // namespace
}  // namespace blackbox
