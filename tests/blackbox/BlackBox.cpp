// The black-box fixture: case directories, Chimelet.exe under watchdogs, and
// what the stand-in runtime's log tells.

#include "BlackBox.h"

#include <ctype.h>

#include <algorithm>

using namespace winrig;

namespace blackbox {

namespace {

char const kRunsDirectory[] = "blackbox-runs";

// Directory names from test and row names: letters, digits, '-' and '_'.
std::string SafeName(std::string const &name)
{
    std::string safe;
    for (char c : name)
        safe += (isalnum((unsigned char)c) || c == '_') ? c : '-';
    return safe;
}

void MakeDirectory(std::string const &path)
{
    CreateDirectoryA(path.c_str(), NULL);
}

// Empties a case directory of the files an earlier run left. Only plain
// files: the fixture makes nothing else there.
void ClearDirectory(std::string const &dir)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((dir + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            DeleteFileA((dir + "\\" + found.cFileName).c_str());
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

bool StartsWith(std::string const &text, std::string const &prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

DWORD const kQuietMs = Scaled(600);

bool IsExitRaceViolation(std::string const &line)
{
    return line.find("used after DestroyJavaVM") != std::string::npos;
}

void BlackBoxTest::SetUp()
{
    bin_ = ProgramDirectory();
    ASSERT_FALSE(bin_.empty());
    BeginCase();
}

void BlackBoxTest::TearDown()
{
    EndCase();
    UnregisterJavaRuntimes();
}

void BlackBoxTest::EndCase()
{
    bool killed = false;
    for (Child &child : children_) {
        killed = killed || ChildRunning(child);
        EndChild(&child);
    }
    children_.clear();
    // An icon whose owner was killed goes when the tray notices; the next
    // row must not find it.
    if (killed)
        WaitTrayIconGone();
}

void BlackBoxTest::BeginCase(std::string const &row)
{
    EndCase();
    ::testing::TestInfo const *test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(test->test_suite_name()) + "." + test->name();
    if (!row.empty())
        name += "." + row;

    std::string runs = bin_ + "\\" + kRunsDirectory;
    MakeDirectory(runs);
    dir_ = runs + "\\" + SafeName(name);
    MakeDirectory(dir_);
    ClearDirectory(dir_);
    script_ = dir_ + "\\script.fakejvm";
    log_ = dir_ + "\\fakejvm.log";
    WriteScript("");
    ASSERT_TRUE(CopyFileA((bin_ + "\\Chimelet.exe").c_str(), (dir_ + "\\Chimelet.exe").c_str(), FALSE)) << dir_;

    ASSERT_TRUE(UnregisterJavaRuntimes());
    ASSERT_TRUE(RegisterJavaRuntime(bin_ + "\\fakejvm.dll"));

    // Nothing of an earlier run may be around: a ghost window would make
    // every start a second start, an icon would be mistaken for ours.
    ASSERT_TRUE(WaitUntil(kAppearMs, [] { return FindGhostWindow() == NULL; })) << "a ghost window is left";
    ASSERT_TRUE(WaitTrayIconGone()) << "a tray icon is left";
}

void BlackBoxTest::WriteScript(std::string const &text)
{
    ASSERT_TRUE(WriteFileText(script_, text)) << script_;
}

void BlackBoxTest::PutJar(std::string const &dir)
{
    std::string const where = dir.empty() ? dir_ : dir;
    ASSERT_TRUE(WriteFileText(where + "\\chimelet.jar", "")) << where;
}

Child *BlackBoxTest::StartChimelet(std::string const &logPath, std::string const &workingDir)
{
    return StartProgram(dir_ + "\\Chimelet.exe", "", workingDir, logPath);
}

Child *BlackBoxTest::StartProgram(std::string const &exe, std::string const &arguments, std::string const &dir,
                                  std::string const &logPath)
{
    std::vector<std::string> environment = {
        "FAKEJVM_SCRIPT=" + script_,
        "FAKEJVM_LOG=" + (logPath.empty() ? log_ : logPath),
    };
    Child child;
    std::string error;
    bool started = StartChild(exe, arguments, dir.empty() ? dir_ : dir, environment, &child, &error);
    EXPECT_TRUE(started) << error;
    children_.push_back(child);
    return &children_.back();
}

DWORD BlackBoxTest::ExpectExit(Child *child, DWORD timeoutMs)
{
    DWORD code = 0xDEAD;
    WaitResult result = WaitChild(child, timeoutMs, &code);
    EXPECT_EQ(result, WaitResult::Exited) << "pid " << child->pid << " did not end within " << Scaled(timeoutMs)
                                          << " ms; the watchdog ended it";
    return code;
}

std::vector<MessageBoxFacts> BlackBoxTest::WatchUntilExit(Child *child, DWORD timeoutMs, HWND answered)
{
    std::vector<MessageBoxFacts> seen;
    std::vector<HWND> done = {answered};
    DWORD const limit = Scaled(timeoutMs);
    DWORD start = GetTickCount();
    while (ChildRunning(*child) && GetTickCount() - start < limit) {
        HWND box = FindMessageBox(NULL, child->pid);
        if (box && std::find(done.begin(), done.end(), box) == done.end()) {
            MessageBoxFacts facts = ReadMessageBox(box);
            seen.push_back(facts);
            done.push_back(box);
            // The last button is the harmless one: OK, or No.
            AnswerMessageBox(box, facts.buttons.empty() ? IDOK : facts.buttons.back());
        }
        Sleep(25);
    }
    ExpectExit(child, 0);
    return seen;
}

HWND BlackBoxTest::WaitGhostWindow(Child const &child)
{
    HWND ghost = NULL;
    EXPECT_TRUE(WaitUntil(kAppearMs, [&] { return (ghost = FindGhostWindow(child.pid)) != NULL; }))
        << "no ghost window of pid " << child.pid;
    return ghost;
}

HWND BlackBoxTest::WaitTrayIcon()
{
    HWND icon = NULL;
    EXPECT_TRUE(WaitUntil(kAppearMs, [&] { return (icon = FindTrayIcon()) != NULL; })) << "no tray icon";
    return icon;
}

bool BlackBoxTest::WaitTrayIconGone(DWORD timeoutMs)
{
    return WaitUntil(timeoutMs, [] { return FindTrayIcons().empty(); });
}

void BlackBoxTest::WaitBound()
{
    EXPECT_TRUE(WaitLog("attach ")) << "the tray never bound to Java";
}

void BlackBoxTest::SyncWithMonitor(Child const &child)
{
    HWND ghost = FindGhostWindow(child.pid);
    ASSERT_TRUE(ghost != NULL);
    DWORD_PTR result = 0;
    EXPECT_TRUE(SendMessageTimeoutA(ghost, WM_NULL, 0, 0, SMTO_NORMAL, Scaled(kAppearMs), &result))
        << "the monitor thread does not answer";
}

void BlackBoxTest::OpenMenu(Child const &child, bool rightButton)
{
    HWND icon = WaitTrayIcon();
    ASSERT_TRUE(ClickTrayIcon(icon, rightButton));
    ASSERT_TRUE(WaitUntil(kAppearMs, [&] { return !FindVisibleMenus(child.pid).empty(); }))
        << "no menu opened";
    // Drawn sharp on a denser screen, wherever the system knows awareness.
    int const awareness = WindowDpiAwareness(FindVisibleMenus(child.pid).front());
    EXPECT_TRUE(awareness == kSystemDpiAware || awareness == -1) << "the menu's DPI awareness: " << awareness;
}

void BlackBoxTest::PressMenuKeys(Child const &child, std::vector<WPARAM> const &keys)
{
    for (size_t i = 0; i < keys.size(); ++i) {
        std::vector<HWND> menus = FindVisibleMenus(child.pid);
        ASSERT_FALSE(menus.empty()) << "the menu closed before key " << i;
        ASSERT_TRUE(PostMenuKey(menus.front(), (UINT)keys[i]));
        // Lets a submenu open before the next key, as for a person.
        Sleep(Scaled(40));
    }
}

void BlackBoxTest::ChooseInMenu(Child const &child, UINT command, std::vector<MenuRow> const &menu)
{
    std::vector<WPARAM> keys = KeysToChoose(menu, command);
    ASSERT_FALSE(keys.empty()) << "no command " << command << " in\n" << Describe(menu);
    PressMenuKeys(child, keys);
}

HWND BlackBoxTest::ChooseExit(Child const &child)
{
    WaitBound();
    OpenMenu(child);
    ChooseInMenu(child, IDS_EXIT);
    return WaitMessageBox(child, kCaptionExit);
}

HWND BlackBoxTest::WaitMessageBox(Child const &child, char const *caption)
{
    HWND box = NULL;
    EXPECT_TRUE(WaitUntil(kAppearMs, [&] { return (box = FindMessageBox(caption, child.pid)) != NULL; }))
        << "no message box '" << caption << "'";
    return box;
}

void BlackBoxTest::CloseAndExpectCleanExit(Child *child)
{
    int quits = LogCount(std::string(kInvokeInterface) + "quit()V");
    ASSERT_TRUE(CloseGhostWindow(child->pid));
    EXPECT_TRUE(WaitTrayIconGone()) << "the icon stayed after WM_CLOSE";
    EXPECT_EQ(ExpectExit(child), 0u);
    EXPECT_EQ(LogCount(std::string(kInvokeInterface) + "quit()V"), quits + 1);
}

std::vector<std::string> BlackBoxTest::LogLines() const
{
    return ReadLines(log_);
}

int BlackBoxTest::LogCount(std::string const &prefix) const
{
    return CountLinesWithPrefix(log_, prefix);
}

bool BlackBoxTest::WaitLog(std::string const &prefix, int count, DWORD timeoutMs) const
{
    return WaitForLines(log_, prefix, count, timeoutMs);
}

int BlackBoxTest::LogIndex(std::string const &prefix) const
{
    std::vector<std::string> lines = LogLines();
    for (size_t i = 0; i < lines.size(); ++i) {
        if (StartsWith(lines[i], prefix))
            return (int)i;
    }
    return -1;
}

std::vector<std::string> BlackBoxTest::CommandsRun() const
{
    static char const *const queries[] = {
        "getTemplateList()", "getEventsForToday()", "isDoNotDisturbOn()",
    };
    std::vector<std::string> commands;
    for (std::string const &line : LogLines()) {
        if (!StartsWith(line, kInvokeInterface))
            continue;
        std::string call = line.substr(sizeof kInvokeInterface - 1);
        bool query = std::any_of(std::begin(queries), std::end(queries),
                                 [&](char const *q) { return StartsWith(call, q); });
        if (!query)
            commands.push_back(call);
    }
    return commands;
}

// The stand-in runtime writes "dpi <awareness> <w>x<h> <method>" after each call.
void BlackBoxTest::ExpectJavaInTheProcessesDpi() const
{
    auto awareness = [](std::string const &line) { return line.substr(0, line.find(' ', 4)); };
    std::string process;
    for (std::string const &line : LogLines()) {
        if (StartsWith(line, "dpi ") && line.find("TApplication.main(") != std::string::npos)
            process = awareness(line);
    }
    ASSERT_FALSE(process.empty()) << "no DPI record of main()";
    for (std::string const &line : LogLines()) {
        if (StartsWith(line, "dpi ") && awareness(line) != process)
            ADD_FAILURE() << "not in the process's " << process << ": " << line;
    }
}

void BlackBoxTest::ExpectNoViolations() const
{
    for (std::string const &line : LogLines()) {
        if (StartsWith(line, "violation ") && !IsExitRaceViolation(line))
            ADD_FAILURE() << "JNI misuse: " << line;
    }
}

}  // namespace blackbox
