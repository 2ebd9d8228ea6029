// Where the settings file and the jar are looked for: beside the program.

#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "TestSupport.h"
#include "kelvarin.h"

namespace {

struct IniCase {
    char const *name;
    std::string modulePath;
    unsigned long size;
    std::string expected;  // "" when the path must not be named
};

TEST(IniFileName, IsBuiltFromTheDirectoryOfTheModule)
{
    std::string const dir1010(1010, 'd');
    std::string const dir1011(1011, 'd');
    IniCase const cases[] = {
        {"nested", "C:\\Apps\\Reminders\\tray.exe", 1024, "C:\\Apps\\Reminders\\Chimelet.ini"},
        {"drive root", "C:\\tray.exe", 1024, "C:\\Chimelet.ini"},
        {"no backslash", "tray.exe", 1024, "tray.exe\\Chimelet.ini"},
        {"empty", "", 1024, "\\Chimelet.ini"},
        {"trailing backslash", "C:\\Apps\\", 1024, "C:\\Apps\\Chimelet.ini"},
        {"directory fills the buffer exactly", dir1010 + "\\x.exe", 1024, dir1010 + "\\Chimelet.ini"},
        {"directory one too long", dir1011 + "\\x.exe", 1024, ""},
        {"small buffer, fits", "C:\\a.exe", 16, "C:\\Chimelet.ini"},
        {"small buffer, one short", "C:\\a.exe", 15, ""},
        {"no room at all", "C:\\a.exe", 1, ""},
    };
    for (IniCase const &c : cases) {
        SCOPED_TRACE(c.name);
        std::string out(1100, '#');
        bool built = BuildPathBesideModule(c.modulePath.c_str(), "Chimelet.ini", &out[0], c.size);
        EXPECT_EQ(built, !c.expected.empty());
        EXPECT_EQ(std::string(out.c_str()), c.expected);
        // Nothing is written past the buffer.
        EXPECT_EQ(out.find_first_not_of('#', c.size), std::string::npos);
    }
}

TEST(IniFileName, LiesBesideTheRunningProgram)
{
    char module[1024];
    DWORD length = GetModuleFileNameA(NULL, module, sizeof module);
    ASSERT_GT(length, 0u);
    std::string dir(module, std::string(module).rfind('\\'));

    char path[1024];
    GetIniFileName(GetModuleHandleA(NULL), path, sizeof path);
    EXPECT_EQ(std::string(path), dir + "\\Chimelet.ini");
    GetJarFileName(GetModuleHandleA(NULL), path, sizeof path);
    EXPECT_EQ(std::string(path), dir + "\\chimelet.jar");
}

} // namespace

#ifndef _WIN32
#include "winstub_control.h"

namespace {

// A module path that cannot be read whole must not lead to some other
// directory's settings file.
TEST(IniFileName, IsNotNamedWhenTheModulePathCannotBeRead)
{
    struct {
        char const *name;
        std::string modulePath;  // "" = the call fails
        std::string expected;
    } const cases[] = {
        {"unreadable", "", ""},
        {"cut by the 1023-character read", "C:\\" + std::string(1100, 'x') + "\\a.exe", ""},
        {"just readable", "C:\\" + std::string(1000, 'x') + "\\a.exe", "C:\\" + std::string(1000, 'x') + "\\Chimelet.ini"},
        {"readable, no room for the name", "C:\\" + std::string(1010, 'x') + "\\a.exe", ""},
    };
    for (auto const &c : cases) {
        SCOPED_TRACE(c.name);
        ResetTestProcess();
        if (c.modulePath.empty())
            WinStub_FailNext(WinStubFault::GetModuleFileName);
        else
            WinStub_SetModuleFileName(c.modulePath.c_str());
        char path[1024];
        memset(path, '#', sizeof path);
        GetIniFileName(GetModuleHandleA(NULL), path, sizeof path);
        EXPECT_EQ(std::string(path), c.expected);
    }
    WinStub_SetModuleFileName(nullptr);
}

// In a double-byte code page the second byte of a character may be 0x5C,
// the backslash: "\x95\x5C" is one character of code page 932.
TEST(IniFileName, TheDirectoryEndsAtTheLastBackslashCharacter)
{
    struct {
        char const *name;
        UINT codePage;
        char const *modulePath;
        char const *expected;
    } const cases[] = {
        {"exe name", 932, "C:\\Apps\\\x95\x5C.exe", "C:\\Apps\\Chimelet.ini"},
        {"folder name", 932, "C:\\\x95\x5C\\tray.exe", "C:\\\x95\x5C\\Chimelet.ini"},
        {"lead byte at the end", 932, "C:\\Apps\\\x95", "C:\\Apps\\Chimelet.ini"},
        {"single-byte code page", 1252, "C:\\Apps\\\x95\x5C.exe", "C:\\Apps\\\x95\\Chimelet.ini"},
    };
    for (auto const &c : cases) {
        SCOPED_TRACE(c.name);
        WinStub_SetAnsiCodePage(c.codePage);
        char path[1024];
        EXPECT_TRUE(BuildPathBesideModule(c.modulePath, "Chimelet.ini", path, sizeof path));
        EXPECT_STREQ(path, c.expected);
    }
    WinStub_SetAnsiCodePage(1252);
}

} // namespace
#endif
