// Finding an accepted Java runtime through the registry and the settings
// file, on the real registry under Wine and on the stand-in's.

#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "JavaInterface.h"
#include "TestSupport.h"

#ifndef _WIN32
#include "winstub_control.h"
#endif

namespace {

std::string const kRoot = "Software\\JavaSoft\\Java Runtime Environment";
std::string const kLib = "C:\\jre\\bin\\client\\jvm.dll";

struct RegValue {
    std::string name;
    std::string bytes;        // stored exactly: a string value brings its own terminator
    bool terminated = true;   // false: nothing after the bytes, not even a 0
    DWORD type = REG_SZ;
};

struct RegKey {
    std::string path;
    std::vector<RegValue> values;
};

RegValue Text(std::string name, std::string text)
{
    return {std::move(name), text + std::string(1, '\0'), true};
}

RegValue Unterminated(std::string name, std::string text)
{
    return {std::move(name), std::move(text), false};
}

// A value of another type than REG_SZ: REG_EXPAND_SZ text, or data that is
// no text at all.
RegValue Typed(std::string name, DWORD type, std::string bytes)
{
    return {std::move(name), std::move(bytes), true, type};
}

RegKey Root(std::vector<RegValue> values = {})
{
    return {kRoot, std::move(values)};
}

RegKey Root(std::string currentVersion)
{
    return Root({Text("CurrentVersion", currentVersion)});
}

RegKey Version(std::string const &name, std::vector<RegValue> values)
{
    return {kRoot + "\\" + name, std::move(values)};
}

RegKey Version(std::string const &name, std::string const &lib = kLib)
{
    return Version(name, {Text("JavaHome", "C:\\jre"), Text("MicroVersion", "0"), Text("RuntimeLib", lib)});
}

void InstallKeys(std::vector<RegKey> const &keys)
{
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\JavaSoft");
    for (RegKey const &key : keys) {
        HKEY handle;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.path.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &handle, NULL),
                  ERROR_SUCCESS);
        for (RegValue const &value : key.values) {
            // A string written without terminator must not be followed by a 0
            // byte, or the registry stores the terminator after all.
            std::string buffer = value.bytes + (value.terminated ? "" : "X");
            RegSetValueExA(handle, value.name.c_str(), 0, value.type, (BYTE const *)buffer.data(),
                           (DWORD)value.bytes.size());
        }
        RegCloseKey(handle);
    }
}

class Discovery : public ::testing::Test {
protected:
    void SetUp() override { ResetTestProcess(); }
    void TearDown() override
    {
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\JavaSoft");
        RemoveScratchFile(IniPath());
    }

    static std::string IniPath() { return ScratchDirectory() + "\\Chimelet.ini"; }

    // nullptr: no settings file at all.
    static void WriteIni(char const *text)
    {
        RemoveScratchFile(IniPath());
        if (text)
            WriteScratchFile(IniPath(), text);
    }
};

struct DiscoveryCase {
    char const *name;
    char const *ini;
    std::vector<RegKey> keys;
    int expected;
    std::string path;  // RuntimeLib on success
};

std::string Override(std::string const &version)
{
    return "[main]\r\njavaversion=" + version + "\r\n";
}

TEST_F(Discovery, FollowsTheDecisionTable)
{
    std::string const v1422 = Override("1.4.2_01");
    std::string const v130 = Override("1.30");
    std::string const v15 = Override("1.5");
    std::string const v1dot = Override("1.");
    std::string const v7 = Override("7");
    std::string const vx = Override("x");
    std::string const vEmpty = Override("");
    std::string const vLong = Override("1.4" + std::string(466, 'x'));
    std::string const vUpper = "[MAIN]\r\nJavaVersion = 1.3 \r\n";
    std::string const libMax(511, 'L');
    std::string const libTooLong(512, 'L');
    // REG_EXPAND_SZ values name a variable's value; a value that is no text
    // at all counts as missing.
    SetEnvironmentVariableA("CHIMELET_TEST_JRE", "C:\\jre14");
    SetEnvironmentVariableA("CHIMELET_TEST_LONG", libMax.c_str());
    std::string const nul(1, '\0');
    auto withLib = [](RegValue lib) {
        return Version("1.4", {Text("JavaHome", "C:\\jre"), Text("MicroVersion", "0"), lib});
    };

    DiscoveryCase const cases[] = {
        {"no root key", nullptr, {}, -1, ""},
        {"no root key, override present", v1422.c_str(), {}, -1, ""},
        {"no CurrentVersion", nullptr, {Root(), Version("1.4")}, -1, ""},
        {"CurrentVersion 1.4", nullptr, {Root("1.4"), Version("1.4")}, 0, kLib},
        {"CurrentVersion 1.3", nullptr, {Root("1.3"), Version("1.3", "C:\\13\\jvm.dll")}, 0, "C:\\13\\jvm.dll"},
        {"CurrentVersion 1.5", nullptr, {Root("1.5"), Version("1.5")}, -1, ""},
        {"CurrentVersion 1.4.2 is not 1.4", nullptr, {Root("1.4.2"), Version("1.4.2")}, -1, ""},
        {"CurrentVersion 1.4 without terminator", nullptr,
         {Root({Unterminated("CurrentVersion", "1.4")}), Version("1.4")}, 0, kLib},
        {"CurrentVersion empty", nullptr, {Root(""), Version("1.4")}, -1, ""},
        {"override 1.4.2_01, whole text names the key", v1422.c_str(),
         {Root("1.3"), Version("1.4.2_01", "C:\\1422\\jvm.dll"), Version("1.4")}, 0, "C:\\1422\\jvm.dll"},
        {"override 1.30", v130.c_str(), {Root(), Version("1.30", "C:\\130\\jvm.dll")}, 0, "C:\\130\\jvm.dll"},
        {"override 1.30 without its key", v130.c_str(), {Root("1.3"), Version("1.3")}, -1, ""},
        {"override 1.5 beats a complete 1.4", v15.c_str(), {Root("1.4"), Version("1.4"), Version("1.5")}, -1, ""},
        {"override of two characters", v1dot.c_str(), {Root("1.4"), Version("1.4")}, -1, ""},
        {"override 7 is the default: no override", v7.c_str(), {Root("1.4"), Version("1.4")}, 0, kLib},
        {"one-character override is none", vx.c_str(), {Root("1.4"), Version("1.4")}, 0, kLib},
        {"empty override is none", vEmpty.c_str(), {Root("1.4"), Version("1.4")}, 0, kLib},
        {"section and key in any case, value trimmed", vUpper.c_str(),
         {Root("1.4"), Version("1.3", "C:\\13\\jvm.dll")}, 0, "C:\\13\\jvm.dll"},
        {"override too long for the key path", vLong.c_str(), {Root("1.4"), Version("1.4")}, -1, ""},
        {"settings file without section main", "[other]\r\njavaversion=1.5\r\n",
         {Root("1.4"), Version("1.4")}, 0, kLib},
        {"version key missing", nullptr, {Root("1.4")}, -1, ""},
        {"no JavaHome", nullptr,
         {Root("1.4"), Version("1.4", {Text("MicroVersion", "0"), Text("RuntimeLib", kLib)})}, -1, ""},
        {"no MicroVersion", nullptr,
         {Root("1.4"), Version("1.4", {Text("JavaHome", "C:\\jre"), Text("RuntimeLib", kLib)})}, -1, ""},
        {"no RuntimeLib", nullptr,
         {Root("1.4"), Version("1.4", {Text("JavaHome", "C:\\jre"), Text("MicroVersion", "0")})}, -1, ""},
        {"RuntimeLib of 511 characters fits", nullptr, {Root("1.4"), Version("1.4", libMax)}, 0, libMax},
        {"RuntimeLib of 512 characters does not", nullptr, {Root("1.4"), Version("1.4", libTooLong)}, -1, ""},
        {"RuntimeLib filling 512 bytes without terminator", nullptr,
         {Root("1.4"), Version("1.4", {Text("JavaHome", "C:\\jre"), Text("MicroVersion", "0"),
                                       Unterminated("RuntimeLib", libTooLong)})}, -1, ""},
        {"RuntimeLib filling its 512 bytes, ended inside", nullptr,
         {Root("1.4"), Version("1.4", {Text("JavaHome", "C:\\jre"), Text("MicroVersion", "0"),
                                       Unterminated("RuntimeLib", kLib + std::string(1, '\0') +
                                                                      std::string(511 - kLib.size(), 'x'))})},
         0, kLib},
        {"RuntimeLib as REG_EXPAND_SZ is expanded", nullptr,
         {Root("1.4"), withLib(Typed("RuntimeLib", REG_EXPAND_SZ, "%CHIMELET_TEST_JRE%\\bin\\jvm.dll" + nul))},
         0, "C:\\jre14\\bin\\jvm.dll"},
        {"RuntimeLib as REG_SZ is taken as stored", nullptr,
         {Root("1.4"), withLib(Text("RuntimeLib", "%CHIMELET_TEST_JRE%\\jvm.dll"))}, 0, "%CHIMELET_TEST_JRE%\\jvm.dll"},
        {"RuntimeLib too long once expanded", nullptr,
         {Root("1.4"), withLib(Typed("RuntimeLib", REG_EXPAND_SZ, "%CHIMELET_TEST_LONG%\\jvm.dll" + nul))}, -1, ""},
        {"JavaHome and MicroVersion as REG_EXPAND_SZ", nullptr,
         {Root("1.4"), Version("1.4", {Typed("JavaHome", REG_EXPAND_SZ, "%CHIMELET_TEST_JRE%" + nul),
                                       Typed("MicroVersion", REG_EXPAND_SZ, "2" + nul), Text("RuntimeLib", kLib)})},
         0, kLib},
        {"RuntimeLib as REG_BINARY is missing", nullptr,
         {Root("1.4"), withLib(Typed("RuntimeLib", REG_BINARY, kLib + nul))}, -1, ""},
        {"JavaHome as REG_DWORD is missing", nullptr,
         {Root("1.4"), Version("1.4", {Typed("JavaHome", REG_DWORD, std::string("\x01\0\0\0", 4)),
                                       Text("MicroVersion", "0"), Text("RuntimeLib", kLib)})}, -1, ""},
        {"CurrentVersion as REG_BINARY is missing", nullptr,
         {Root({Typed("CurrentVersion", REG_BINARY, "1.4" + nul)}), Version("1.4")}, -1, ""},
        {"JavaHome too long", nullptr,
         {Root("1.4"), Version("1.4", {Text("JavaHome", libTooLong), Text("MicroVersion", "0"),
                                       Text("RuntimeLib", kLib)})}, -1, ""},
    };

    for (DiscoveryCase const &c : cases) {
        SCOPED_TRACE(c.name);
        InstallKeys(c.keys);
        WriteIni(c.ini);
#ifndef _WIN32
        int const keysBefore = WinStub_LiveHandles().regKeys;
#endif
        char out[1024];
        memset(out, '#', sizeof out);
        int result = EnsureJava(IniPath().c_str(), out);
        EXPECT_EQ(result, c.expected);
        if (c.expected == 0) {
            EXPECT_EQ(std::string(out), c.path);
        } else {
            // Failure leaves the caller's buffer as it was.
            EXPECT_EQ(std::string(out, sizeof out), std::string(sizeof out, '#'));
        }
#ifndef _WIN32
        EXPECT_EQ(WinStub_LiveHandles().regKeys, keysBefore) << "a registry key was left open";
#endif
    }
    SetEnvironmentVariableA("CHIMELET_TEST_JRE", NULL);
    SetEnvironmentVariableA("CHIMELET_TEST_LONG", NULL);
}

TEST_F(Discovery, ReadsTheOverrideOnlyWhenLongerThanOneCharacter)
{
    struct {
        char const *name;
        char const *ini;
        int expected;
        std::string version;
    } const cases[] = {
        {"no file", nullptr, 0, "7"},
        {"no section", "[other]\njavaversion=1.4\n", 0, "7"},
        {"no key", "[main]\nother=1.4\n", 0, "7"},
        {"empty value", "[main]\njavaversion=\n", 0, ""},
        {"one character", "[main]\njavaversion=5\n", 0, "5"},
        {"two characters", "[main]\njavaversion=1.\n", 1, "1."},
        {"quoted", "[main]\njavaversion=\"1.4\"\n", 1, "1.4"},
        {"comment stays part of the value", "[main]\njavaversion=1.4 ; newest\n", 1, "1.4 ; newest"},
        {"first of two", "[main]\njavaversion=1.3\njavaversion=1.4\n", 1, "1.3"},
    };
    for (auto const &c : cases) {
        SCOPED_TRACE(c.name);
        WriteIni(c.ini);
        char version[1024];
        EXPECT_EQ(UseSpecificVM(IniPath().c_str(), version, sizeof version), c.expected);
        EXPECT_EQ(std::string(version), c.version);
    }

    // The settings file may be longer than the buffer: what is kept fits.
    WriteIni(("[main]\njavaversion=1.4" + std::string(2000, 'x') + "\n").c_str());
    std::string version(1100, '#');
    EXPECT_EQ(UseSpecificVM(IniPath().c_str(), &version[0], 1024), 1);
    EXPECT_EQ(strlen(version.c_str()), 1022u);
    EXPECT_EQ(version.find_first_not_of('#', 1024), std::string::npos);

    // No settings file named at all (its path did not fit): no override.
    char none[16];
    EXPECT_EQ(UseSpecificVM("", none, sizeof none), 0);
}

} // namespace
