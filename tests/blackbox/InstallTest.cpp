// Installing Chimelet the way users and administrators do: the installer
// built beside this suite, and its uninstaller, run silently in this prefix,
// over a Chimelet that runs or not; what they leave is looked for where
// Windows keeps it (asked of Windows, not hard-coded: a 32-bit installer on
// 64-bit Windows lands in "Program Files (x86)"). The zip is read as the
// archive it is.

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <stdint.h>

#include <algorithm>

#include "BlackBox.h"
#include "version.h"

using namespace winrig;

namespace blackbox {
namespace {

char const kSetup[] = CHIMELET_SETUP_NAME;
char const kPreviousSetup[] = CHIMELET_PREVIOUS_SETUP_NAME;
char const kZip[] = CHIMELET_ZIP_NAME;
char const kVersion[] = CHIMELET_VERSION_TEXT;
char const kPreviousVersion[] = CHIMELET_PREVIOUS_VERSION;

char const kUninstallRoot[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
char const kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Chimelet";
char const kJavaVersionKey[] = "Software\\JavaSoft\\Java Runtime Environment\\1.4";
std::string const kQuit = std::string(kInvokeInterface) + "quit()V";
// The user's own settings file, naming the registered runtime, so that a
// Chimelet started beside it still runs.
char const kUsersIni[] = "[main]\r\njavaversion=1.4\r\n; mine\r\n";

// An installer or uninstaller run: a running Chimelet is given 10 s to end.
DWORD const kSetupMs = 40000;

// What the installer puts into its folder, sorted as FilesIn sorts.
std::vector<std::string> const kInstalledFiles = {"Chimelet.exe", "ReadMe.txt", "Uninstall.exe", "chimelet.jar"};

std::string Folder(int csidl)
{
    char path[MAX_PATH] = "";
    if (FAILED(SHGetFolderPathA(NULL, csidl, NULL, SHGFP_TYPE_CURRENT, path)))
        return std::string();
    return path;
}

std::string InstallDir() { return Folder(CSIDL_PROGRAM_FILES) + "\\Chimelet"; }
std::string StartMenuDir() { return Folder(CSIDL_COMMON_PROGRAMS) + "\\Chimelet"; }
std::string StartupShortcut() { return Folder(CSIDL_COMMON_STARTUP) + "\\Chimelet.lnk"; }

bool Exists(std::string const &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool SamePath(std::string const &a, std::string const &b)
{
    return lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

// Folders in Program Files whose name begins with Chimelet: an upgrade that
// went elsewhere would make a second one.
int ChimeletFolders()
{
    int count = 0;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((Folder(CSIDL_PROGRAM_FILES) + "\\Chimelet*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            ++count;
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return count;
}

// The names of the plain files in dir, sorted byte-wise.
std::vector<std::string> FilesIn(std::string const &dir)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((dir + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

struct Shortcut {
    bool read = false;
    std::string target;
    std::string arguments;
    std::string workingDir;
};

Shortcut ReadShortcut(std::string const &path)
{
    Shortcut shortcut;
    IShellLinkA *link = NULL;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA, (void **)&link)))
        return shortcut;
    IPersistFile *file = NULL;
    WCHAR widePath[MAX_PATH];
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, (void **)&file)) &&
        MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, widePath, MAX_PATH) > 0 &&
        SUCCEEDED(file->Load(widePath, STGM_READ))) {
        char text[MAX_PATH + 1];
        text[0] = '\0';
        shortcut.read = SUCCEEDED(link->GetPath(text, sizeof text, NULL, SLGP_RAWPATH));
        shortcut.target = text;
        text[0] = '\0';
        link->GetArguments(text, sizeof text);
        shortcut.arguments = text;
        text[0] = '\0';
        link->GetWorkingDirectory(text, sizeof text);
        shortcut.workingDir = text;
    }
    if (file)
        file->Release();
    link->Release();
    return shortcut;
}

// A text value of HKLM in this program's registry view, which is the
// installer's (both are built for the same Windows); false when missing.
bool ReadRegistryText(char const *key, char const *name, std::string *out)
{
    HKEY handle;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS)
        return false;
    char data[1024];
    DWORD size = sizeof data - 1;
    DWORD type = 0;
    LONG result = RegQueryValueExA(handle, name, NULL, &type, (BYTE *)data, &size);
    RegCloseKey(handle);
    if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    data[size] = '\0';  // registry text need not be terminated
    *out = data;
    return true;
}

std::string RegistryText(char const *key, char const *name)
{
    std::string text;
    return ReadRegistryText(key, name, &text) ? text : "(missing)";
}

bool KeyExists(char const *key)
{
    HKEY handle;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

// Add/Remove Programs entries that show the name Chimelet, whatever their key.
int ChimeletEntries()
{
    HKEY root;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallRoot, 0, KEY_ENUMERATE_SUB_KEYS, &root) != ERROR_SUCCESS)
        return 0;
    int count = 0;
    char name[256];
    for (DWORD i = 0;; ++i) {
        DWORD size = sizeof name;
        if (RegEnumKeyExA(root, i, name, &size, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        std::string key = std::string(kUninstallRoot) + "\\" + name;
        if (RegistryText(key.c_str(), "DisplayName") == "Chimelet")
            ++count;
    }
    RegCloseKey(root);
    return count;
}

uint32_t Crc32(std::string const &bytes)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

struct ZipEntry {
    std::string name;
    uint32_t size = 0;
    uint32_t crc = 0;
};

uint32_t Little(std::string const &bytes, size_t at, int width)
{
    uint32_t value = 0;
    for (int i = width - 1; i >= 0; --i)
        value = (value << 8) | (unsigned char)bytes[at + i];
    return value;
}

// The archive's central directory: every entry's name, size and CRC as the
// zip records them. False when it is no zip this reader understands.
bool ReadZipDirectory(std::string const &zip, std::vector<ZipEntry> *out)
{
    size_t const kEndRecord = 22;
    if (zip.size() < kEndRecord)
        return false;
    size_t end = zip.size() - kEndRecord;
    while (Little(zip, end, 4) != 0x06054b50u) {
        if (end == 0)
            return false;
        --end;
    }
    uint32_t count = Little(zip, end + 10, 2);
    size_t at = Little(zip, end + 16, 4);
    for (uint32_t i = 0; i < count; ++i) {
        if (at + 46 > end || Little(zip, at, 4) != 0x02014b50u)
            return false;
        size_t nameLength = Little(zip, at + 28, 2);
        size_t extraLength = Little(zip, at + 30, 2);
        size_t commentLength = Little(zip, at + 32, 2);
        if (at + 46 + nameLength > end)
            return false;
        ZipEntry entry;
        entry.crc = Little(zip, at + 16, 4);
        entry.size = Little(zip, at + 24, 4);
        entry.name = zip.substr(at + 46, nameLength);
        out->push_back(entry);
        at += 46 + nameLength + extraLength + commentLength;
    }
    return true;
}

// Spaces and line ends collapsed into single spaces: a message wrapped in
// the ReadMe is still found.
std::string Flatten(std::string const &text)
{
    std::string flat;
    for (char c : text) {
        bool space = c == ' ' || c == '\r' || c == '\n';
        if (!space)
            flat += c;
        else if (!flat.empty() && flat.back() != ' ')
            flat += ' ';
    }
    return flat;
}

class Install : public BlackBoxTest {
protected:
    void SetUp() override
    {
        HRESULT com = CoInitialize(NULL);
        ASSERT_TRUE(SUCCEEDED(com));
        BlackBoxTest::SetUp();
        ASSERT_NO_FATAL_FAILURE(RemoveInstallation());
    }

    void TearDown() override
    {
        // Every Chimelet of the case goes first, so that nothing holds the files.
        BlackBoxTest::TearDown();
        RemoveInstallation();
        CoUninitialize();
    }

    // Runs an installer of the bin directory silently; its exit code.
    DWORD RunSetup(char const *setup, std::string const &switches = std::string())
    {
        std::string arguments = "/S";
        if (!switches.empty())
            arguments += " " + switches;
        Child *run = StartProgram(Bin() + "\\" + setup, arguments, "");
        return run ? ExpectExit(run, kSetupMs) : 0xDEAD;
    }

    // Runs the installed uninstaller silently and waits for its real end.
    DWORD RunUninstaller()
    {
        std::string copy = CopyUninstaller();
        EXPECT_FALSE(copy.empty()) << "no uninstaller";
        Child *run = StartProgram(copy, UninstallerArguments(), "");
        return run ? ExpectExit(run, kSetupMs) : 0xDEAD;
    }

    // Started plainly, the uninstaller copies itself to %TEMP%, starts the
    // copy on its folder (_?=, last and unquoted) and returns at once: to wait
    // for the real end, the test starts such a copy itself. "" on failure.
    std::string CopyUninstaller()
    {
        std::string copy = Dir() + "\\Un_A.exe";
        return CopyFileA((InstallDir() + "\\Uninstall.exe").c_str(), copy.c_str(), FALSE) ? copy : "";
    }
    static std::string UninstallerArguments() { return "/S _?=" + InstallDir(); }

    // Chimelet as logon starts it: the Startup shortcut's command, in its
    // working directory.
    Child *StartAtLogon()
    {
        Shortcut logon = ReadShortcut(StartupShortcut());
        EXPECT_TRUE(logon.read) << "no logon start";
        return StartProgram(logon.target, logon.arguments, logon.workingDir);
    }

    // The uninstaller when there is one; then, by force, whatever is left, so
    // that a failed case leaves nothing to the next.
    void RemoveInstallation()
    {
        std::string copy = CopyUninstaller();
        Child run;
        if (!copy.empty() && StartChild(copy, UninstallerArguments(), Dir(), {}, &run))
            WaitChild(&run, kSetupMs);
        EndChild(&run);
        for (std::string const &name : FilesIn(InstallDir()))
            DeleteFileA((InstallDir() + "\\" + name).c_str());
        RemoveDirectoryA(InstallDir().c_str());
        for (std::string const &name : FilesIn(StartMenuDir()))
            DeleteFileA((StartMenuDir() + "\\" + name).c_str());
        RemoveDirectoryA(StartMenuDir().c_str());
        DeleteFileA(StartupShortcut().c_str());
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kUninstallKey);
        ASSERT_FALSE(Exists(InstallDir())) << "cannot clear " << InstallDir() << ", holding "
                                           << ::testing::PrintToString(FilesIn(InstallDir()));
    }

    // Everything an installation consists of, for comparing before and after.
    std::string Snapshot()
    {
        std::string facts;
        for (std::string const &name : FilesIn(InstallDir()))
            facts += name + "=" + std::to_string(Crc32(ReadFileText(InstallDir() + "\\" + name))) + " ";
        for (std::string const &name : FilesIn(StartMenuDir()))
            facts += "menu:" + name + " ";
        facts += Exists(StartupShortcut()) ? "logon " : "";
        facts += "entry:" + RegistryText(kUninstallKey, "DisplayVersion");
        return facts;
    }

    // The installer or uninstaller has returned: the Chimelet it found
    // running has ended by then, its icon gone and quit told to Java once.
    void ExpectChimeletClosedOnce(Child *chimelet)
    {
        EXPECT_EQ(ExpectExit(chimelet, 0), 0u) << "the running Chimelet was not closed";
        EXPECT_EQ(LogCount(kQuit), 1) << "quit did not reach Java exactly once";
        EXPECT_TRUE(WaitTrayIconGone());
    }
};

// A silent install puts the files, the shortcuts, the logon start and the
// Add/Remove Programs entry where Windows looks for them, with this version,
// and no Chimelet.ini: without one the registry decides.
TEST_F(Install, SilentInstallPutsEverythingInPlace)
{
    ASSERT_EQ(RunSetup(kSetup), 0u);
    std::string const dir = InstallDir();
    std::string const exe = dir + "\\Chimelet.exe";

    EXPECT_EQ(FilesIn(dir), kInstalledFiles);
    EXPECT_EQ(ReadFileText(exe), ReadFileText(Bin() + "\\Chimelet.exe")) << "not this build's Chimelet.exe";

    struct Row {
        char const *name;
        std::string path;
        std::string target;
    };
    Row const shortcuts[] = {
        {"StartMenuChimelet", StartMenuDir() + "\\Chimelet.lnk", exe},
        {"StartMenuReadMe", StartMenuDir() + "\\Chimelet ReadMe.lnk", dir + "\\ReadMe.txt"},
        {"LogonStart", StartupShortcut(), exe},
    };
    for (Row const &row : shortcuts) {
        SCOPED_TRACE(row.name);
        Shortcut shortcut = ReadShortcut(row.path);
        ASSERT_TRUE(shortcut.read) << row.path;
        EXPECT_PRED2(SamePath, shortcut.target, row.target);
        EXPECT_EQ(shortcut.arguments, "");
        EXPECT_PRED2(SamePath, shortcut.workingDir, dir);
    }
    EXPECT_EQ(FilesIn(StartMenuDir()), (std::vector<std::string>{"Chimelet ReadMe.lnk", "Chimelet.lnk"}));

    EXPECT_EQ(ChimeletEntries(), 1);
    EXPECT_EQ(RegistryText(kUninstallKey, "DisplayName"), "Chimelet");
    EXPECT_EQ(RegistryText(kUninstallKey, "DisplayVersion"), kVersion);
    EXPECT_NE(RegistryText(kUninstallKey, "Publisher"), "(missing)");
    EXPECT_PRED2(SamePath, RegistryText(kUninstallKey, "InstallLocation"), dir);
    EXPECT_PRED2(SamePath, RegistryText(kUninstallKey, "UninstallString"), "\"" + dir + "\\Uninstall.exe\"");
    EXPECT_PRED2(SamePath, RegistryText(kUninstallKey, "QuietUninstallString"), "\"" + dir + "\\Uninstall.exe\" /S");
    // The bell: the first icon of the installed Chimelet.exe.
    std::string icon = RegistryText(kUninstallKey, "DisplayIcon");
    EXPECT_PRED2(SamePath, icon, exe + ",0");
    EXPECT_GE(ExtractIconExA(exe.c_str(), -1, NULL, NULL, 0), 1u) << "no icon in " << exe;
}

// ReadMe.txt, the file the "requires Java" message sends the user to: plain
// CRLF text for Notepad, no line past 78 columns, of this version, and it
// tells about every message the shell can show.
TEST_F(Install, TheReadMeExplainsEveryMessage)
{
    ASSERT_EQ(RunSetup(kSetup), 0u);
    std::string text = ReadFileText(InstallDir() + "\\ReadMe.txt");
    ASSERT_FALSE(text.empty());

    size_t lineStart = 0;
    int lineNumber = 1;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            EXPECT_TRUE(i + 1 < text.size() && text[i + 1] == '\n') << "a CR without LF, line " << lineNumber;
        } else if (text[i] == '\n') {
            EXPECT_TRUE(i > 0 && text[i - 1] == '\r') << "a bare LF, line " << lineNumber;
            size_t width = i - 1 - lineStart;
            EXPECT_LE(width, 78u) << "line " << lineNumber << ": " << text.substr(lineStart, width);
            lineStart = i + 1;
            ++lineNumber;
        }
    }
    EXPECT_EQ(lineStart, text.size()) << "the last line has no CRLF";
    EXPECT_EQ(text.substr(0, text.find('\r')), std::string("Chimelet ") + kVersion);

    char const *const messages[] = {
        "Chimelet requires Java version 1.3 or 1.4 to be installed. Please see the ReadMe file for details.",
        "Cannot setup Java. Try installing the product again.  Error:",
        "Can't find class 'com/norvanta/kelvarin/main/TApplication'",
        "Can't find class 'TApplication'",
        "Unable to make monitor window",
        kCaptionExit,
        kTextExit,
        "[main]\r\n  javaversion=1.4",
    };
    std::string flat = Flatten(text);
    for (char const *message : messages) {
        SCOPED_TRACE(message);
        EXPECT_NE(flat.find(Flatten(message)), std::string::npos) << "the ReadMe does not explain it";
    }
}

// The portable zip holds exactly the installed files (but the uninstaller),
// in one folder, byte for byte as installed.
TEST_F(Install, TheZipHoldsTheInstalledFiles)
{
    ASSERT_EQ(RunSetup(kSetup), 0u);
    std::vector<ZipEntry> entries;
    ASSERT_TRUE(ReadZipDirectory(ReadFileText(Bin() + "\\" + kZip), &entries)) << kZip;

    std::string const folder = "Chimelet/";
    std::vector<std::string> names;
    for (ZipEntry const &entry : entries) {
        SCOPED_TRACE(entry.name);
        ASSERT_EQ(entry.name.compare(0, folder.size(), folder), 0) << "outside the folder Chimelet";
        std::string name = entry.name.substr(folder.size());
        if (name.empty())
            continue;  // the folder's own entry
        names.push_back(name);
        std::string installed = ReadFileText(InstallDir() + "\\" + name);
        EXPECT_EQ(entry.size, installed.size());
        EXPECT_EQ(entry.crc, Crc32(installed)) << "differs from the installed file";
    }
    std::sort(names.begin(), names.end());
    std::vector<std::string> installed = FilesIn(InstallDir());
    installed.erase(std::remove(installed.begin(), installed.end(), "Uninstall.exe"), installed.end());
    EXPECT_EQ(names, installed);
}

// The installed Chimelet, started as logon starts it, comes up with its tray
// bound, finding chimelet.jar beside itself and the stand-in runtime as a
// user's would: with the Startup shortcut's command in its working directory,
// and in another one (the system folder, which programs started from the Run
// key get, or wherever a shortcut without a working directory leaves it).
TEST_F(Install, LogonStartBringsUpTheTray)
{
    struct Row {
        char const *name;
        bool shortcutsDirectory;
    };
    static Row const rows[] = {
        {"InTheShortcutsWorkingDirectory", true},
        {"InTheSystemFolder", false},
    };
    ASSERT_EQ(RunSetup(kSetup), 0u);
    Shortcut logon = ReadShortcut(StartupShortcut());
    ASSERT_TRUE(logon.read) << "no logon start";
    char system[MAX_PATH];
    ASSERT_GT(GetSystemDirectoryA(system, sizeof system), 0u);
    for (Row const &row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_NO_FATAL_FAILURE(BeginCase(row.name));
        WriteScript("jar required\n");
        Child *chimelet = StartProgram(logon.target, logon.arguments,
                                       row.shortcutsDirectory ? logon.workingDir : std::string(system));
        ASSERT_TRUE(chimelet != NULL);
        WaitTrayIcon();
        WaitBound();
        EXPECT_EQ(LogCount(kInvokeMain), 1);
        CloseAndExpectCleanExit(chimelet);
        ExpectNoViolations();
    }
}

// The logon start follows the checkbox's switches, and an upgrade keeps it as
// the installation had it unless told otherwise.
TEST_F(Install, LogonStartFollowsTheSwitchesAndSurvivesUpgrades)
{
    struct Row {
        char const *name;
        char const *first;    // switches of the first (older) installation
        char const *upgrade;  // switches of the upgrade; NULL: none
        bool logonStart;
    };
    static Row const rows[] = {
        {"Unticked", "/NOLOGONSTART", NULL, false},
        {"UpgradeKeepsItOff", "/NOLOGONSTART", "", false},
        {"UpgradeTurnsItOff", "", "/NOLOGONSTART", false},
        {"UpgradeTurnsItBackOn", "/NOLOGONSTART", "/LOGONSTART", true},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_NO_FATAL_FAILURE(BeginCase(row.name));
        ASSERT_NO_FATAL_FAILURE(RemoveInstallation());
        ASSERT_EQ(RunSetup(row.upgrade ? kPreviousSetup : kSetup, row.first), 0u);
        if (row.upgrade) {
            ASSERT_EQ(RunSetup(kSetup, row.upgrade), 0u);
        }
        EXPECT_EQ(Exists(StartupShortcut()), row.logonStart);
        EXPECT_EQ(FilesIn(StartMenuDir()), (std::vector<std::string>{"Chimelet ReadMe.lnk", "Chimelet.lnk"}));
        EXPECT_EQ(RegistryText(kUninstallKey, "DisplayVersion"), kVersion);
    }
}

// An upgrade over a running Chimelet closes it the way Windows asks (its Java
// application is told to quit, once), replaces the files in the one
// installation there is, keeps the user's Chimelet.ini, and the new version
// starts.
TEST_F(Install, UpgradeOverARunningChimelet)
{
    ASSERT_EQ(RunSetup(kPreviousSetup), 0u);
    ASSERT_EQ(RegistryText(kUninstallKey, "DisplayVersion"), kPreviousVersion);
    std::string const ini = InstallDir() + "\\Chimelet.ini";
    ASSERT_TRUE(WriteFileText(ini, kUsersIni));
    WriteScript("jar required\n");
    Child *old = StartAtLogon();
    WaitTrayIcon();
    WaitBound();

    EXPECT_EQ(RunSetup(kSetup), 0u);
    ExpectChimeletClosedOnce(old);

    EXPECT_EQ(ChimeletEntries(), 1);
    EXPECT_EQ(ChimeletFolders(), 1);
    EXPECT_EQ(RegistryText(kUninstallKey, "DisplayVersion"), kVersion);
    std::vector<std::string> files = kInstalledFiles;
    files.push_back("Chimelet.ini");
    std::sort(files.begin(), files.end());
    EXPECT_EQ(FilesIn(InstallDir()), files);
    EXPECT_EQ(ReadFileText(ini), kUsersIni);
    std::string readMe = ReadFileText(InstallDir() + "\\ReadMe.txt");
    EXPECT_EQ(readMe.substr(0, readMe.find('\r')), std::string("Chimelet ") + kVersion) << "the files were not replaced";

    // The old one attached twice: to bind, and again to call quit.
    int attaches = LogCount("attach ");
    Child *upgraded = StartAtLogon();
    EXPECT_TRUE(WaitLog("attach ", attaches + 1)) << "the upgraded Chimelet did not bind";
    CloseAndExpectCleanExit(upgraded);
    ExpectNoViolations();
}

// A silent uninstall, over a running Chimelet or not, ends it as an upgrade
// does and removes every path and entry the installer made, and nothing
// else: the user's Chimelet.ini (and so its folder) and the runtime's
// registry keys stay. Run as Add/Remove Programs runs it, it returns at once;
// its work is then waited for.
TEST_F(Install, SilentUninstallRemovesExactlyWhatWasInstalled)
{
    struct Row {
        char const *name;
        bool running;
        bool usersIni;
        bool asAddRemovePrograms;  // its QuietUninstallString, which returns at once
    };
    static Row const rows[] = {
        {"OverARunningChimeletWithTheUsersIni", true, true, false},
        {"AsAddRemoveProgramsRunsIt", false, false, true},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_NO_FATAL_FAILURE(BeginCase(row.name));
        ASSERT_NO_FATAL_FAILURE(RemoveInstallation());
        ASSERT_EQ(RunSetup(kSetup), 0u);
        std::string const ini = InstallDir() + "\\Chimelet.ini";
        if (row.usersIni) {
            ASSERT_TRUE(WriteFileText(ini, kUsersIni));
        }
        Child *chimelet = NULL;
        if (row.running) {
            WriteScript("jar required\n");
            chimelet = StartAtLogon();
            WaitTrayIcon();
            WaitBound();
        }

        if (row.asAddRemovePrograms) {
            std::string command = RegistryText(kUninstallKey, "QuietUninstallString");
            size_t exeEnd = command.find('"', 1);
            ASSERT_NE(exeEnd, std::string::npos) << command;
            Child *run = StartProgram(command.substr(1, exeEnd - 1), command.substr(exeEnd + 2), "");
            EXPECT_EQ(ExpectExit(run, kSetupMs), 0u);
            EXPECT_TRUE(WaitUntil(kSetupMs, [] { return !KeyExists(kUninstallKey); }))
                << "the uninstaller never finished";
        } else {
            EXPECT_EQ(RunUninstaller(), 0u);
        }
        if (chimelet)
            ExpectChimeletClosedOnce(chimelet);

        for (std::string const &name : kInstalledFiles)
            EXPECT_FALSE(Exists(InstallDir() + "\\" + name)) << name << " is left";
        EXPECT_FALSE(Exists(StartMenuDir())) << "the Start menu folder is left";
        EXPECT_FALSE(Exists(StartupShortcut())) << "the logon start is left";
        EXPECT_FALSE(KeyExists(kUninstallKey)) << "the Add/Remove Programs entry is left";
        EXPECT_EQ(ChimeletEntries(), 0);
        if (row.usersIni) {
            EXPECT_EQ(FilesIn(InstallDir()), std::vector<std::string>{"Chimelet.ini"});
            EXPECT_EQ(ReadFileText(ini), kUsersIni);
        } else {
            EXPECT_FALSE(Exists(InstallDir())) << "the empty folder is left";
        }
        std::string runtime;
        EXPECT_TRUE(ReadRegistryText(kJavaVersionKey, "RuntimeLib", &runtime)) << "the runtime's keys went too";
    }
}

// A Chimelet that will not end when asked (its Java application ignores
// quit) stops an upgrade or an uninstall before anything is changed: the
// run fails with exit code 2 and the installation is as it was.
TEST_F(Install, AChimeletThatWillNotExitStopsEverythingBeforeAChange)
{
    struct Row {
        char const *name;
        bool uninstall;  // else an upgrade
    };
    static Row const rows[] = {
        {"Upgrade", false},
        {"Uninstall", true},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_NO_FATAL_FAILURE(BeginCase(row.name));
        ASSERT_NO_FATAL_FAILURE(RemoveInstallation());
        ASSERT_EQ(RunSetup(row.uninstall ? kSetup : kPreviousSetup), 0u);
        WriteScript("jar required\nquit stay\n");
        Child *chimelet = StartAtLogon();
        WaitTrayIcon();
        WaitBound();
        std::string before = Snapshot();

        EXPECT_EQ(row.uninstall ? RunUninstaller() : RunSetup(kSetup), 2u);
        EXPECT_EQ(LogCount(kQuit), 1) << "it was not asked to exit";
        EXPECT_TRUE(ChildRunning(*chimelet));
        EXPECT_EQ(Snapshot(), before);
    }
}

}  // namespace
}  // namespace blackbox
