// Fuzz target: runtime discovery (EnsureJava, UseSpecificVM) over arbitrary
// registry data and settings-file text. Registry values come in every type,
// 0 to 5000 bytes long, with or without a terminator, or not at all; keys
// may be missing. The answer is compared with an independent reading of the
// same registry and settings file:
//  - EnsureJava answers 0 or -1, and 0 exactly when an accepted version's key
//    holds all three values;
//  - on 0 the output is a terminated string equal to that key's RuntimeLib
//    text, and nothing after its terminator is written; on -1 the output is
//    untouched;
//  - no registry key is left open;
//  - UseSpecificVM answers 0 or 1 and writes no more than it is given.

#include <windows.h>

#include <fuzzer/FuzzedDataProvider.h>

#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "JavaInterface.h"
#include "TestSupport.h"
#include "winstub_control.h"

namespace {

std::string const kRoot = "Software\\JavaSoft\\Java Runtime Environment";
char const kPoison = (char)0xA5;
size_t const kOutSize = 1024;            // the launch's jvmPath
size_t const kVersionBuffer = 1024;      // CurrentVersion and the override
size_t const kValueBuffer = 512;         // JavaHome, MicroVersion, RuntimeLib
size_t const kKeyPathBuffer = 512;       // root, backslash, version, terminator
size_t const kMaxValueBytes = 5000;

// --- What the input describes ---

struct ValueSpec {
    bool present = false;
    DWORD type = REG_SZ;
    std::string bytes;  // stored exactly as they are
};

struct VersionKey {
    std::string name;   // below the root
    ValueSpec javaHome, microVersion, runtimeLib;
};

struct Setup {
    bool rootPresent = false;
    ValueSpec currentVersion;
    std::vector<VersionKey> versionKeys;
    int iniForm = 0;    // 0 no file, 1 no file named, 2 a javaversion line, 3 any text
    std::string iniText;
};

DWORD PickType(FuzzedDataProvider &in)
{
    DWORD const types[] = {REG_SZ, REG_SZ, REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_BINARY, REG_DWORD, REG_NONE};
    int pick = in.ConsumeIntegralInRange(0, (int)(sizeof types / sizeof types[0]));
    return pick < (int)(sizeof types / sizeof types[0]) ? types[pick] : in.ConsumeIntegral<DWORD>();
}

// Likely texts come from a short list, so that the accepted paths are
// reached at once; the rest is whatever the input holds.
std::string PickText(FuzzedDataProvider &in)
{
    static char const *const common[] = {"1.3", "1.4", "1.4.2", "1.4.2_01", "1.30", "1.5", "1.", "7", "",
                                         "C:\\jre\\bin\\client\\jvm.dll", "C:\\jre"};
    int const count = (int)(sizeof common / sizeof common[0]);
    int pick = in.ConsumeIntegralInRange(0, 2 * count);
    return pick < count ? std::string(common[pick]) : in.ConsumeRandomLengthString(kMaxValueBytes);
}

ValueSpec PickValue(FuzzedDataProvider &in, size_t buffer)
{
    ValueSpec value;
    value.present = in.ConsumeIntegralInRange(0, 7) != 0;
    if (!value.present)
        return value;
    value.type = PickType(in);
    value.bytes = PickText(in);
    switch (in.ConsumeIntegralInRange(0, 5)) {
    case 0:
    case 1:
        value.bytes += '\0';  // terminated, as a well-behaved writer stores it
        break;
    case 2: {
        // Padded to just around the reading buffer's size.
        size_t length = buffer - 1 + in.ConsumeIntegralInRange<size_t>(0, 2);
        char fill = in.ConsumeIntegral<char>();
        if (value.bytes.size() < length)
            value.bytes.append(length - value.bytes.size(), fill);
        value.bytes.resize(length);
        break;
    }
    default:
        break;  // no terminator
    }
    if (value.bytes.size() > kMaxValueBytes)
        value.bytes.resize(kMaxValueBytes);
    return value;
}

std::string TextOf(ValueSpec const &value)
{
    return std::string(value.bytes.c_str());
}

Setup PickSetup(FuzzedDataProvider &in)
{
    Setup setup;
    setup.rootPresent = in.ConsumeIntegralInRange(0, 7) != 0;
    setup.currentVersion = PickValue(in, kVersionBuffer);

    setup.iniForm = in.ConsumeIntegralInRange(0, 3);
    std::string override = PickText(in);
    if (setup.iniForm == 2)
        setup.iniText = "[main]\r\njavaversion=" + override + "\r\n";
    else if (setup.iniForm == 3)
        setup.iniText = in.ConsumeRandomLengthString(kMaxValueBytes);

    int keys = in.ConsumeIntegralInRange(0, 3);
    for (int i = 0; i < keys; ++i) {
        VersionKey key;
        switch (in.ConsumeIntegralInRange(0, 3)) {
        case 0: key.name = TextOf(setup.currentVersion); break;
        case 1: key.name = override; break;
        default: key.name = PickText(in); break;
        }
        key.javaHome = PickValue(in, kValueBuffer);
        key.microVersion = PickValue(in, kValueBuffer);
        key.runtimeLib = PickValue(in, kValueBuffer);
        setup.versionKeys.push_back(key);
    }
    return setup;
}

// --- Putting it in place ---

std::string IniPath()
{
    return ScratchDirectory() + "\\discovery-fuzz.ini";
}

void Store(HKEY key, char const *name, ValueSpec const &value)
{
    if (!value.present)
        return;
    // A string type whose data is followed by a 0 byte gets that terminator
    // stored too: the byte after the data is made nonzero.
    std::string buffer = value.bytes + "X";
    RegSetValueExA(key, name, 0, value.type, (BYTE const *)buffer.data(), (DWORD)value.bytes.size());
}

void Install(Setup const &setup)
{
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\JavaSoft");
    RemoveScratchFile(IniPath());
    if (setup.iniForm >= 2)
        WriteScratchFile(IniPath(), setup.iniText);
    // Without the root there is nothing below it either.
    if (!setup.rootPresent)
        return;

    HKEY root;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kRoot.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &root, NULL)
        != ERROR_SUCCESS)
        return;
    Store(root, "CurrentVersion", setup.currentVersion);
    RegCloseKey(root);
    for (VersionKey const &wanted : setup.versionKeys) {
        std::string path = kRoot + "\\" + wanted.name;
        HKEY key;
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL)
            != ERROR_SUCCESS)
            continue;
        Store(key, "JavaHome", wanted.javaHome);
        Store(key, "MicroVersion", wanted.microVersion);
        Store(key, "RuntimeLib", wanted.runtimeLib);
        RegCloseKey(key);
    }
}

// --- The independent reading ---

enum class Read { Missing, TooLong, Text };

// A value read into a buffer of `size` bytes, as the rules for registry data
// say: missing (or no text: only REG_SZ and REG_EXPAND_SZ are), too long for
// the buffer, or a text (up to its first 0 byte). Data that fills the buffer
// exactly is a text when a 0 byte ends it anywhere inside. REG_EXPAND_SZ text
// is expanded, and must still fit.
Read ReadValue(HKEY key, char const *name, size_t size, std::string *text)
{
    DWORD length = 0;
    DWORD type = REG_NONE;
    if (RegQueryValueExA(key, name, NULL, &type, NULL, &length) != ERROR_SUCCESS)
        return Read::Missing;
    if (length <= size && type != REG_SZ && type != REG_EXPAND_SZ)
        return Read::Missing;
    if (length > size)
        return Read::TooLong;
    std::vector<char> data(length + 1, '\0');
    DWORD got = length;
    RegQueryValueExA(key, name, NULL, NULL, (BYTE *)data.data(), &got);
    size_t end = strnlen(data.data(), length);
    text->assign(data.data(), end);
    if (length == size && end == length)
        return Read::TooLong;  // no room for the terminator: never read past
    if (type == REG_EXPAND_SZ) {
        std::vector<char> expanded(32768);
        DWORD needed = ExpandEnvironmentStringsA(text->c_str(), expanded.data(), (DWORD)expanded.size());
        if (needed == 0 || needed > size)
            return Read::TooLong;
        text->assign(expanded.data());
    }
    return Read::Text;
}

bool Accepted(std::string const &version)
{
    return version == "1.3" || version == "1.4";
}

struct Expectation {
    bool found = false;
    std::string runtimeLib;
    std::string why;
};

void Judge(Read read, std::string const &what, Expectation *e, bool *ok)
{
    if (read == Read::Missing || read == Read::TooLong) {
        *ok = false;
        e->why += what + (read == Read::Missing ? " missing; " : " too long; ");
    }
}

Expectation Expect(char const *iniFileName)
{
    Expectation e;
    HKEY root;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRoot.c_str(), 0, KEY_QUERY_VALUE, &root) != ERROR_SUCCESS) {
        e.why = "no root key";
        return e;
    }

    std::string version;
    bool ok = true;
    char override[kVersionBuffer];
    DWORD overrideLength = iniFileName[0]
                               ? GetPrivateProfileStringA("main", "javaversion", "7", override, sizeof override - 1, iniFileName)
                               : 0;
    if (overrideLength > 1) {
        version = override;
        ok = Accepted(version.substr(0, 3));
        e.why = "override " + FuzzShow(version) + (ok ? " accepted; " : " refused; ");
    } else {
        Read read = ReadValue(root, "CurrentVersion", kVersionBuffer, &version);
        Judge(read, "CurrentVersion", &e, &ok);
        ok = ok && Accepted(version);
        e.why = "CurrentVersion " + FuzzShow(version) + (ok ? " accepted; " : " refused; ");
    }
    RegCloseKey(root);
    if (!ok)
        return e;

    std::string keyPath = kRoot + "\\" + version;
    if (keyPath.size() + 1 > kKeyPathBuffer) {
        e.why += "version key path too long";
        return e;
    }
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        e.why += "no version key";
        return e;
    }
    std::string ignored;
    Judge(ReadValue(key, "JavaHome", kValueBuffer, &ignored), "JavaHome", &e, &ok);
    if (ok)
        Judge(ReadValue(key, "MicroVersion", kValueBuffer, &ignored), "MicroVersion", &e, &ok);
    if (ok)
        Judge(ReadValue(key, "RuntimeLib", kValueBuffer, &e.runtimeLib), "RuntimeLib", &e, &ok);
    RegCloseKey(key);
    e.found = ok;
    return e;
}

// --- Checks ---

void CheckEnsureJava(Setup const &setup, char const *iniFileName)
{
    Expectation const e = Expect(iniFileName);
    int const keysBefore = WinStub_LiveHandles().regKeys;

    std::vector<char> out(kOutSize, kPoison);
    int const result = EnsureJava(iniFileName, out.data());

    std::string const context = "expected " + std::string(e.found ? "0, " + FuzzShow(e.runtimeLib) : "-1") + " ("
                                + e.why + ")\nsettings file form " + std::to_string(setup.iniForm) + ": "
                                + FuzzShow(setup.iniText);
    FUZZ_CHECK(result == 0 || result == -1, "EnsureJava answered " + std::to_string(result) + "\n" + context);
    FUZZ_CHECK(WinStub_LiveHandles().regKeys == keysBefore, "a registry key was left open\n" + context);

    if (result == -1) {
        FUZZ_CHECK(!e.found, "an accepted runtime was refused\n" + context);
        for (char c : out)
            FUZZ_CHECK(c == kPoison, "the output was written on failure\n" + context);
        return;
    }
    FUZZ_CHECK(e.found, "a runtime was accepted\n" + context);
    void const *end = memchr(out.data(), '\0', kValueBuffer);
    FUZZ_CHECK(end != NULL, "the library path is not terminated within 512 bytes\n" + context);
    std::string const text(out.data(), (char const *)end - out.data());
    FUZZ_CHECK(text == e.runtimeLib, "the library path is " + FuzzShow(text) + "\n" + context);
    for (size_t i = text.size() + 1; i < out.size(); ++i)
        FUZZ_CHECK(out[i] == kPoison, "written after the terminator of the library path\n" + context);
}

void CheckUseSpecificVM(char const *iniFileName, unsigned long outSize)
{
    // A block of the exact size: the sanitizer sees a write past it.
    std::vector<char> out(outSize, kPoison);
    std::unique_ptr<char[]> exact(new char[outSize]);
    memset(exact.get(), kPoison, outSize);
    int const result = UseSpecificVM(iniFileName, exact.get(), outSize);
    if (outSize)
        memcpy(out.data(), exact.get(), outSize);

    std::string const context = "buffer " + std::to_string(outSize);
    FUZZ_CHECK(result == 0 || result == 1, "UseSpecificVM answered " + std::to_string(result) + "; " + context);
    if (outSize < 2) {
        for (char c : out)
            FUZZ_CHECK(c == kPoison, "a buffer with no room for an override was written; " + context);
        FUZZ_CHECK(result == 0, "an override in a buffer with no room for one; " + context);
        return;
    }
    // It is given one byte less than its size: the last byte stays as it was.
    FUZZ_CHECK(out[outSize - 1] == kPoison, "the buffer's last byte was written; " + context);
    FUZZ_CHECK(memchr(out.data(), '\0', outSize - 1) != NULL, "the override is not terminated; " + context);

    std::vector<char> mine(outSize, '\0');
    DWORD length = iniFileName[0]
                       ? GetPrivateProfileStringA("main", "javaversion", "7", mine.data(), (DWORD)outSize - 1, iniFileName)
                       : 0;
    FUZZ_CHECK(result == (length > 1 ? 1 : 0),
               "answered " + std::to_string(result) + " for " + FuzzShow(mine.data()) + "; " + context);
    if (result == 1)
        FUZZ_CHECK(strcmp(out.data(), mine.data()) == 0,
                   "override " + FuzzShow(out.data()) + ", the file holds " + FuzzShow(mine.data()) + "; " + context);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    ResetTestProcess();
    unsigned long const outSize = in.ConsumeBool() ? in.ConsumeIntegralInRange<unsigned long>(0, 1100) : 1024;
    Setup const setup = PickSetup(in);
    Install(setup);

    std::string const iniPath = setup.iniForm == 1 ? std::string() : IniPath();
    CheckEnsureJava(setup, iniPath.c_str());
    CheckUseSpecificVM(iniPath.c_str(), outSize);
    return 0;
}
