// Strings and code pages, formatting, the environment, modules, resources, icon sizes and
// kernel objects, against values probed under Wine 8.
#include <windows.h>

#include "winstub_control.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <dlfcn.h>
#include <set>
#include <string>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

class KernelTest : public ::testing::Test {
protected:
    void SetUp() override { WinStub_Reset(); }
    void TearDown() override {
        EXPECT_EQ(0, WinStub_LiveHandles().kernelHandles);
        EXPECT_EQ(0, WinStub_LiveHandles().icons);
        EXPECT_EQ(0, WinStub_LiveHandles().modules);
        WinStub_Reset();
    }
};

// The bytes of a buffer, the unprintable ones as \xNN: C:\A\x00xx.
std::string Bytes(const char* buf, size_t n) {
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        unsigned char c = static_cast<unsigned char>(buf[i]);
        if (c >= 32 && c < 127) {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

// The shared library that holds cos(): a real file to load.
std::string MathLibraryPath() {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(static_cast<double (*)(double)>(&std::cos)), &info)) return "";
    return info.dli_fname;
}

std::string WineForm(std::string unixPath) {
    for (char& c : unixPath)
        if (c == '/') c = '\\';
    return "Z:" + unixPath;
}

// user32's exports that only newer Windows has, found as the shell finds them.
typedef HANDLE(WINAPI* SetThreadDpiAwarenessContextEntry)(HANDLE);
FARPROC User32Entry(const char* name) { return GetProcAddress(GetModuleHandleA("user32.dll"), name); }
SetThreadDpiAwarenessContextEntry SetAwarenessEntry() {
    return reinterpret_cast<SetThreadDpiAwarenessContextEntry>(
        reinterpret_cast<void*>(User32Entry("SetThreadDpiAwarenessContext")));
}
HANDLE Context(intptr_t pseudo) { return reinterpret_cast<HANDLE>(pseudo); }

TEST_F(KernelTest, LstrcmpAIsALocaleComparison) {
    struct Case {
        const char* a;
        const char* b;
        int result;
    };
    // Every row was measured with lstrcmpA under Wine 8 (English locale).
    const Case cases[] = {
        {"1.3", "1.3", 0},   {"1.4", "1.3", 1},    {"1.3", "1.4", -1},    {"1.4.2", "1.4", 1},
        {"1.10", "1.9", -1}, {"1.-3", "1.3", 1},   {"1.3", "1.-3", -1},   {"co-op", "coop", 1},
        {"a", "B", -1},      {"A", "a", 1},        {"aB", "Ab", -1},      {"Ab", "a-b", 1},
        {"'ab", "a-b", 1},   {"a-b", "ab-", 1},    {"a'b", "a-b", -1},    {"a--b", "a-b", 1},
        {"_", "a", -1},      {".", "1", -1},       {"1.4", "1_4", -1},    {"Z", "a", 1},
        {"1.3", "1.3 ", -1}, {"ab", "a b", 1},     {"a b", "a\tb", -1},   {"ab", "a\x01" "b", -1},
        {"", "", 0},         {"", "a", -1},        {nullptr, "a", -1},    {"a", nullptr, 1},
        {nullptr, nullptr, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.a ? c.a : "NULL") + " vs " + (c.b ? c.b : "NULL"));
        EXPECT_EQ(c.result, lstrcmpA(c.a, c.b));
    }
}

TEST_F(KernelTest, WsprintfAFormatsAsWine) {
    char buf[2048];
    struct Case {
        std::string got;
        const char* expected;
    };
    auto f = [&](int n, const char* expected) { return Case{std::to_string(n) + ":" + buf, expected}; };
    const Case cases[] = {
        f(wsprintfA(buf, "-Xmx%d", 33554432), "12:-Xmx33554432"),
        f(wsprintfA(buf, "%5d|%-5d|%05d", 42, 255, 3), "17:   42|255  |00003"),
        f(wsprintfA(buf, "%x %X %#x %#X", 255, 255, 255, 255), "15:ff FF 0xff 0XFF"),
        f(wsprintfA(buf, "%.3s|%5.2s|%-6s|%s", "abcdef", "xyz", "ab", static_cast<char*>(nullptr)), "23:abc|   xy|ab    |(null)"),
        f(wsprintfA(buf, "%c%c|%5c|%-3c|", 'A', 'B', 'C', 'D'), "13:AB|    C|D  |"),
        f(wsprintfA(buf, "%d %i %u %ld %lu", -5, -6, -7, -8, -9), "30:-5 -6 4294967289 -8 4294967287"),
        f(wsprintfA(buf, "%*d|", 5, 3), "3:*d|"),
        f(wsprintfA(buf, "%5%|%z|%"), "8:     |z|"),
        f(wsprintfA(buf, "%.0d|%.0d|%5.0d|", 0, 1, 0), "10:0|1|    0|"),
        f(wsprintfA(buf, "%-+5d|%05x|%-05d|%5.3x|%.2x", 3, 255, 7, 10, 1), "24:+5d|00003|255  |  007|0a"),
        f(wsprintfA(buf, "%d", static_cast<int>(0x80000000u)), "11:-2147483648"),
    };
    for (const Case& c : cases) EXPECT_EQ(c.expected, c.got);

    // 1024 bytes at most, terminator included; a full buffer answers 1024.
    std::string arg(2000, 'a');
    EXPECT_EQ(1024, wsprintfA(buf, "%s", arg.c_str()));
    EXPECT_EQ(1023u, strlen(buf));
    EXPECT_EQ(1024, wsprintfA(buf, "%s", arg.substr(0, 1023).c_str()));
    EXPECT_EQ(1022, wsprintfA(buf, "%s", arg.substr(0, 1022).c_str()));
}

TEST_F(KernelTest, StringCopies) {
    char buf[8];
    memset(buf, 'x', sizeof buf);
    EXPECT_EQ(buf, lstrcpynA(buf, "hello", 0));
    EXPECT_EQ('x', buf[0]) << "n = 0 writes nothing";
    lstrcpynA(buf, "hello", 4);
    EXPECT_STREQ("hel", buf);
    lstrcatA(buf, "p!");
    EXPECT_STREQ("help!", buf);
    EXPECT_EQ(0, lstrlenA(nullptr));
}

TEST_F(KernelTest, ModuleFileNameIsCutAsWineCutsIt) {
    WinStub_SetModuleFileName("Z:\\opt\\Chimelet.exe");  // 19 characters
    struct Case {
        DWORD size;
        DWORD result;
        DWORD error;
        const char* bytes;  // first 22 bytes of a buffer poisoned with 'x'
    };
    // Probed: too small a buffer gets `size` bytes and no terminator.
    const Case cases[] = {
        {0, 0, ERROR_INSUFFICIENT_BUFFER, "xxxxxxxxxxxxxxxxxxxxxx"},
        {5, 5, ERROR_INSUFFICIENT_BUFFER, "Z:\\opxxxxxxxxxxxxxxxxx"},
        {19, 19, ERROR_INSUFFICIENT_BUFFER, "Z:\\opt\\Chimelet.exexxx"},
        {20, 19, 0, "Z:\\opt\\Chimelet.exe\0xx"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("size " + std::to_string(c.size));
        char buf[32];
        memset(buf, 'x', sizeof buf);
        SetLastError(0xdeadbeef);
        EXPECT_EQ(c.result, GetModuleFileNameA(nullptr, buf, c.size));
        EXPECT_EQ(c.error, GetLastError());
        EXPECT_EQ(std::string(c.bytes, 22), std::string(buf, 22));
    }
    WinStub_FailNext(WinStubFault::GetModuleFileName);
    char buf[64];
    EXPECT_EQ(0u, GetModuleFileNameA(nullptr, buf, sizeof buf));
    WinStub_SetModuleFileName(nullptr);
    ASSERT_GT(GetModuleFileNameA(GetModuleHandleA(nullptr), buf, sizeof buf), 2u);
    EXPECT_EQ(std::string("Z:\\"), std::string(buf, 3)) << "the real path in Wine's form";
}

TEST_F(KernelTest, LibrariesLoadFromUnixAndWineStylePaths) {
    std::string unixPath = MathLibraryPath();
    ASSERT_FALSE(unixPath.empty());
    std::string wine = WineForm(unixPath);
    struct Case {
        std::string path;
        bool loads;
        DWORD error;
    };
    const Case cases[] = {
        {unixPath, true, 0},
        {wine, true, 0},
        {"Z:\\nowhere\\jvm.dll", false, ERROR_MOD_NOT_FOUND},
        {"C:\\Program Files\\Java\\bin\\jvm.dll", false, ERROR_MOD_NOT_FOUND},
        {"/proc/self/status", false, ERROR_BAD_EXE_FORMAT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        SetLastError(0xdeadbeef);
        HMODULE module = LoadLibraryA(c.path.c_str());
        EXPECT_EQ(c.loads, module != nullptr);
        if (!module) {
            EXPECT_EQ(c.error, GetLastError());
            continue;
        }
        EXPECT_NE(nullptr, GetProcAddress(module, "cos"));
        SetLastError(0xdeadbeef);
        EXPECT_EQ(nullptr, GetProcAddress(module, "JNI_CreateJavaVM"));
        EXPECT_EQ(static_cast<DWORD>(ERROR_PROC_NOT_FOUND), GetLastError());
        EXPECT_TRUE(FreeLibrary(module));
    }
    EXPECT_FALSE(FreeLibrary(reinterpret_cast<HMODULE>(0x1234))) << "not ours: never handed to dlclose";
}

TEST_F(KernelTest, ResourcesComeFromTheResourceScript) {
    HMODULE self = GetModuleHandleA(nullptr);
    struct Case {
        UINT id;
        int size;
        int result;
        const char* text;
    };
    const Case cases[] = {
        {995, 64, 5, "Plain"},
        {1001, 64, 24, "Through a chained define"},
        {17, 64, 10, "Numeric id"},
        {2000, 64, 20, "Comma after a hex id"},
        {2001, 64, 20, "Say \"hi\"; then \"bye\""},
        {2002, 64, 26, "Tab\there\nand a backslash \\"},
        {9999, 64, 16, "a@b@ #1 [x] ${y}"},
        {995, 3, 2, "Pl"},     // at most size - 1 bytes and a terminator
        {995, 1, 0, ""},
        {2003, 64, 0, ""},
        {4242, 64, 0, ""},     // unknown id
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("id " + std::to_string(c.id) + " size " + std::to_string(c.size));
        char buf[64];
        memset(buf, 'x', sizeof buf);
        EXPECT_EQ(c.result, LoadStringA(self, c.id, buf, c.size));
        EXPECT_STREQ(c.text, buf);
    }
    char buf[4] = "xyz";
    EXPECT_EQ(-1, LoadStringA(self, 995, buf, 0)) << "probed: size 0 answers -1";
    EXPECT_EQ('x', buf[0]);

    HANDLE icon = LoadImageA(self, "icon_1", IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR);
    HANDLE numeric = LoadImageA(self, MAKEINTRESOURCEA(101), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR);
    EXPECT_NE(nullptr, icon);
    EXPECT_NE(nullptr, numeric);
    EXPECT_EQ(2, WinStub_LiveHandles().icons);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(nullptr, LoadImageA(self, "ICON_2", IMAGE_ICON, 16, 16, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND), GetLastError());
    EXPECT_TRUE(DestroyIcon(static_cast<HICON>(icon)));
    EXPECT_TRUE(DestroyIcon(static_cast<HICON>(numeric)));
    EXPECT_FALSE(DestroyIcon(static_cast<HICON>(icon)));
    EXPECT_TRUE(DestroyIcon(LoadIconA(nullptr, IDI_APPLICATION))) << "shared: harmless";
    EXPECT_EQ(LoadIconA(nullptr, IDI_APPLICATION), LoadIconA(nullptr, IDI_APPLICATION));
}

TEST_F(KernelTest, NamedMutexesAndEvents) {
    HANDLE first = CreateMutexA(nullptr, FALSE, "ChimeletLoadMutex");
    EXPECT_EQ(0u, GetLastError());
    HANDLE second = CreateMutexA(nullptr, TRUE, "ChimeletLoadMutex");
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
    EXPECT_EQ(nullptr, CreateEventA(nullptr, FALSE, FALSE, "ChimeletLoadMutex"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError()) << "probed: a name of another kind";
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(ReleaseMutex(second)) << "ownership was not taken for an existing mutex";
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_OWNER), GetLastError());

    // A mutex left owned by an ended thread is abandoned for its next waiter.
    struct Owner {
        HANDLE mutex;
        static DWORD WINAPI Run(LPVOID param) {
            WaitForSingleObject(static_cast<Owner*>(param)->mutex, INFINITE);
            return 0;
        }
    } owner{first};
    HANDLE thread = CreateThread(nullptr, 0, Owner::Run, &owner, 0, nullptr);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 5000));
    EXPECT_EQ(WAIT_ABANDONED, WaitForSingleObject(second, 0));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(first, 0)) << "now ours, recursively";
    EXPECT_TRUE(ReleaseMutex(first));
    EXPECT_TRUE(ReleaseMutex(first));
    EXPECT_FALSE(ReleaseMutex(first));

    HANDLE manual = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE autoReset = CreateEventA(nullptr, FALSE, TRUE, nullptr);
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(manual, 10));
    SetEvent(manual);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(manual, 0));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(manual, 0)) << "manual reset stays signalled";
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(autoReset, 0));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(autoReset, 0)) << "auto reset is consumed";

    for (HANDLE h : {first, second, thread, manual, autoReset}) EXPECT_TRUE(CloseHandle(h));
    SetLastError(0xdeadbeef);
    EXPECT_EQ(WAIT_FAILED, WaitForSingleObject(first, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    EXPECT_FALSE(CloseHandle(first));

    WinStub_FailNext(WinStubFault::CreateEvent, 2);
    EXPECT_EQ(nullptr, CreateEventA(nullptr, FALSE, FALSE, nullptr));
    EXPECT_EQ(nullptr, CreateEventA(nullptr, FALSE, FALSE, nullptr));
    HANDLE third = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    EXPECT_NE(nullptr, third);
    CloseHandle(third);
}

TEST_F(KernelTest, DoubleByteCodePagesAsWindows) {
    EXPECT_EQ(1252u, GetACP());
    // Lead bytes, probed with IsDBCSLeadByteEx under Wine 8.
    struct Lead {
        UINT codePage;
        BYTE byte;
        BOOL lead;
    };
    const Lead leads[] = {
        {1252, 0x81, FALSE}, {1252, 0x95, FALSE}, {932, 0x80, FALSE}, {932, 0x81, TRUE},
        {932, 0x9F, TRUE},   {932, 0xA0, FALSE},  {932, 0xDF, FALSE}, {932, 0xE0, TRUE},
        {932, 0xFC, TRUE},   {932, 0xFD, FALSE},  {936, 0x80, FALSE}, {936, 0x81, TRUE},
        {936, 0xFE, TRUE},   {936, 0xFF, FALSE},  {949, 0xA0, TRUE},  {950, 0xFE, TRUE},
        {1251, 0xC0, FALSE}, {932, '\\', FALSE},
    };
    for (const Lead& l : leads) {
        SCOPED_TRACE("code page " + std::to_string(l.codePage) + " byte " + std::to_string(l.byte));
        ASSERT_TRUE(WinStub_SetAnsiCodePage(l.codePage));
        EXPECT_EQ(l.codePage, GetACP());
        EXPECT_EQ(l.lead, IsDBCSLeadByte(l.byte));
    }
    EXPECT_FALSE(WinStub_SetAnsiCodePage(65001)) << "not a code page the stand-in knows";
    EXPECT_EQ(932u, GetACP()) << "unchanged";

    // "C:\Apps\" and the Shift-JIS character 0x95 0x5C, whose second byte is a backslash.
    const char path[] = "C:\\Apps\\\x95\x5C.exe";
    const char leadAtEnd[] = "a\x95";
    struct Walk {
        UINT codePage;
        const char* text;
        const char* steps;  // offsets CharNextA visits up to the terminator, where it stays
    };
    const Walk walks[] = {
        {932, path, "1 2 3 4 5 6 7 8 10 11 12 13 14 14"},
        {1252, path, "1 2 3 4 5 6 7 8 9 10 11 12 13 14 14"},
        {932, leadAtEnd, "1 2 2"},  // a lead byte before the terminator: one character, no further
        {936, "\x81\x40x", "2 3 3"},
        {932, "", "0"},
    };
    for (const Walk& w : walks) {
        SCOPED_TRACE(std::to_string(w.codePage) + " " + Bytes(w.text, strlen(w.text)));
        WinStub_SetAnsiCodePage(w.codePage);
        std::string steps;
        const char* p = w.text;
        for (int i = 0; i < 20; ++i) {
            const char* next = CharNextA(p);
            steps += (steps.empty() ? "" : " ") + std::to_string(next - w.text);
            if (next == p) break;
            p = next;
        }
        EXPECT_EQ(w.steps, steps);
    }
    struct Back {
        UINT codePage;
        const char* text;
        size_t from, to;
    };
    const Back backs[] = {
        {932, path, 14, 13}, {932, path, 10, 8}, {932, path, 9, 8},  // from inside the pair: its start
        {1252, path, 10, 9}, {932, path, 1, 0},  {932, path, 0, 0},   // at the start it stays
        {932, "ab", 5, 2},   // past the end: the walk stops at the terminator (probed)
    };
    for (const Back& b : backs) {
        SCOPED_TRACE(std::to_string(b.codePage) + " from " + std::to_string(b.from));
        WinStub_SetAnsiCodePage(b.codePage);
        EXPECT_EQ(b.text + b.to, CharPrevA(b.text, b.text + b.from));
    }

    // What a shell looking for the folder of a path must get: the last real backslash.
    struct Folder {
        UINT codePage;
        size_t lastBackslash;
    };
    for (const Folder& f : {Folder{932, 7}, Folder{1252, 9}}) {
        SCOPED_TRACE(f.codePage);
        WinStub_SetAnsiCodePage(f.codePage);
        const char* last = nullptr;
        for (const char* p = path; *p; p = CharNextA(p))
            if (*p == '\\') last = p;
        EXPECT_EQ(path + f.lastBackslash, last);
    }
    WinStub_Reset();
    EXPECT_EQ(1252u, GetACP());
}

TEST_F(KernelTest, EnvironmentVariablesAsWindowsNamesThem) {
    ASSERT_TRUE(SetEnvironmentVariableA("WinStubApps", "C:\\Apps"));
    ASSERT_TRUE(SetEnvironmentVariableA("WINSTUBB", "bee"));
    // Probed with ExpandEnvironmentStringsA under 64-bit Wine 8: the answer counts the terminator.
    struct Expansion {
        const char* source;
        const char* result;
    };
    const Expansion expansions[] = {
        {"%WinStubApps%\\x", "C:\\Apps\\x"},
        {"%winstubapps%\\x", "C:\\Apps\\x"},  // names ignore case
        {"%WINSTUBNOPE%\\x", "%WINSTUBNOPE%\\x"},
        {"50% off", "50% off"},
        {"%", "%"},
        {"%%", "%%"},
        {"a%%b", "a%%b"},
        {"%WINSTUBNOPE%WINSTUBB%", "%WINSTUBNOPE%WINSTUBB%"},  // an unknown name's % closes nothing new
        {"%WINSTUBB%WINSTUBB%", "beeWINSTUBB%"},
        {"x%WINSTUBB%%WINSTUBB%y", "xbeebeey"},
        {"%WinStubApps", "%WinStubApps"},
        {"% WinStubApps%", "% WinStubApps%"},
        {"", ""},
    };
    for (const Expansion& e : expansions) {
        SCOPED_TRACE(e.source);
        char buf[64];
        memset(buf, 'x', sizeof buf);
        SetLastError(0xdeadbeef);
        EXPECT_EQ(strlen(e.result) + 1, ExpandEnvironmentStringsA(e.source, buf, sizeof buf));
        EXPECT_STREQ(e.result, buf);
        EXPECT_EQ(0xdeadbeefu, GetLastError());
    }
    // Too small: what fits, terminated, and the size needed (10) with ERROR_INSUFFICIENT_BUFFER.
    struct Small {
        DWORD size;
        const char* bytes;  // the first 11, as Bytes shows them
    };
    const Small smalls[] = {
        {0, "xxxxxxxxxxx"},
        {1, "\\x00xxxxxxxxxx"},
        {5, "C:\\A\\x00xxxxxx"},
        {9, "C:\\Apps\\\\x00xx"},
        {10, "C:\\Apps\\x\\x00x"},
    };
    for (const Small& c : smalls) {
        SCOPED_TRACE("size " + std::to_string(c.size));
        char buf[16];
        memset(buf, 'x', sizeof buf);
        SetLastError(0xdeadbeef);
        EXPECT_EQ(10u, ExpandEnvironmentStringsA("%WinStubApps%\\x", buf, c.size));
        EXPECT_EQ(c.size < 10 ? static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER) : 0xdeadbeefu, GetLastError());
        EXPECT_EQ(c.bytes, Bytes(buf, 11));
    }
    EXPECT_EQ(10u, ExpandEnvironmentStringsA("%WinStubApps%\\x", nullptr, 0));

    ASSERT_TRUE(SetEnvironmentVariableA("WINSTUBAPPS", "D:\\Other")) << "replaces the other spelling";
    ASSERT_TRUE(SetEnvironmentVariableA("WinStubEmpty", ""));
    struct Read {
        const char* name;
        DWORD size;
        DWORD result;
        DWORD error;         // 0xdeadbeef: left alone
        const char* bytes;   // the first 10
    };
    const Read reads[] = {
        {"winstubapps", 64, 8, 0xdeadbeef, "D:\\Other\\x00x"},
        {"WinStubApps", 9, 8, 0xdeadbeef, "D:\\Other\\x00x"},
        {"WinStubApps", 8, 9, 0xdeadbeef, "xxxxxxxxxx"},  // no room for the terminator: untouched
        {"WinStubApps", 0, 9, 0xdeadbeef, "xxxxxxxxxx"},
        {"WinStubEmpty", 64, 0, 0xdeadbeef, "\\x00xxxxxxxxx"},
        {"WinStubNope", 64, 0, ERROR_ENVVAR_NOT_FOUND, "xxxxxxxxxx"},
    };
    for (const Read& r : reads) {
        SCOPED_TRACE(std::string(r.name) + " into " + std::to_string(r.size));
        char buf[64];
        memset(buf, 'x', sizeof buf);
        SetLastError(0xdeadbeef);
        EXPECT_EQ(r.result, GetEnvironmentVariableA(r.name, buf, r.size));
        EXPECT_EQ(r.error, GetLastError());
        EXPECT_EQ(r.bytes, Bytes(buf, 10));
    }
    int spellings = 0;
    for (char** e = environ; *e; ++e)
        if (strncasecmp(*e, "WinStubApps=", 12) == 0) ++spellings;
    EXPECT_EQ(1, spellings);

    struct Change {
        const char* name;
        const char* value;
        BOOL result;
        DWORD error;
    };
    const Change changes[] = {
        {"WinStubEmpty", nullptr, TRUE, 0xdeadbeef},  // deleted
        {"WinStubEmpty", nullptr, TRUE, 0xdeadbeef},  // deleting nothing succeeds too
        {"Win=Stub", "v", FALSE, ERROR_INVALID_PARAMETER},
        {"", "v", FALSE, ERROR_INVALID_PARAMETER},
    };
    for (const Change& c : changes) {
        SCOPED_TRACE(c.name);
        SetLastError(0xdeadbeef);
        EXPECT_EQ(c.result, SetEnvironmentVariableA(c.name, c.value));
        EXPECT_EQ(c.error, GetLastError());
    }
    char buf[8];
    EXPECT_EQ(0u, GetEnvironmentVariableA("WinStubEmpty", buf, sizeof buf));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ENVVAR_NOT_FOUND), GetLastError());

    // Reset gives every variable its value from before the first change.
    setenv("WINSTUB_KEPT", "before", 1);
    SetEnvironmentVariableA("WinStub_Kept", "after");
    WinStub_Reset();
    ASSERT_NE(nullptr, getenv("WINSTUB_KEPT"));
    EXPECT_STREQ("before", getenv("WINSTUB_KEPT"));
    EXPECT_EQ(nullptr, getenv("WinStub_Kept"));
    EXPECT_EQ(nullptr, getenv("WINSTUBAPPS"));
    unsetenv("WINSTUB_KEPT");
}

TEST_F(KernelTest, ModulesAreCountedAndFoundByNameAsWindowsFindsThem) {
    std::string unixPath = MathLibraryPath();
    ASSERT_FALSE(unixPath.empty());
    std::string base = unixPath.substr(unixPath.rfind('/') + 1);  // "libm.so.6"
    std::string upper = base;
    for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    std::string dir = unixPath.substr(0, unixPath.rfind('/') + 1);

    HMODULE first = LoadLibraryA(unixPath.c_str());
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(first, LoadLibraryA(WineForm(unixPath).c_str())) << "the same library, counted twice";
    EXPECT_EQ(1, WinStub_LiveHandles().modules);
    WinStub_SetModuleFileName("Z:\\opt\\Chimelet.exe");
    HMODULE self = GetModuleHandleA(nullptr);
    HMODULE user32 = GetModuleHandleA("user32.dll");
    ASSERT_NE(nullptr, user32) << "loaded in every GUI process";
    EXPECT_NE(self, user32);
    EXPECT_NE(first, user32);
    // Probed with a DLL under Wine 8: no dot adds ".dll", a final dot is dropped and means no
    // extension, a directory must be the library's own.
    struct Name {
        std::string name;
        HMODULE module;
    };
    const Name names[] = {
        {base, first},
        {upper, first},
        {base + ".", first},
        {unixPath, first},
        {WineForm(unixPath), first},
        {dir + "./" + base, first},
        {"Z:\\nowhere\\" + base, nullptr},
        {base.substr(0, base.size() - 1), nullptr},
        {"libm", nullptr},               // libm.dll
        {"chimelet.EXE", self},
        {"Z:\\opt\\Chimelet.exe", self},
        {"Chimelet", nullptr},           // Chimelet.dll
        {"Chimelet.", nullptr},
        {"kernel32.dll", nullptr},       // system DLLs are not modelled
        {"USER32", user32},              // but user32 is, by its bare name
        {"User32.Dll", user32},
        {"user32.", nullptr},            // probed: no extension, not user32.dll
        {"user32.so", nullptr},
    };
    for (const Name& n : names) {
        SCOPED_TRACE(n.name);
        SetLastError(0xdeadbeef);
        EXPECT_EQ(n.module, GetModuleHandleA(n.name.c_str()));
        if (!n.module) EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());
    }
    EXPECT_TRUE(FreeLibrary(first));
    EXPECT_EQ(first, GetModuleHandleA(base.c_str())) << "one reference left";
    EXPECT_EQ(1, WinStub_LiveHandles().modules);
    EXPECT_TRUE(FreeLibrary(first));
    EXPECT_EQ(nullptr, GetModuleHandleA(base.c_str()));
    EXPECT_EQ(0, WinStub_LiveHandles().modules);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(FreeLibrary(first));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());

    // user32 is loaded already: LoadLibraryA answers it, and freeing it never unloads it.
    EXPECT_EQ(user32, LoadLibraryA("user32.dll"));
    EXPECT_TRUE(FreeLibrary(user32));
    EXPECT_TRUE(FreeLibrary(user32));
    EXPECT_EQ(user32, GetModuleHandleA("user32"));
    EXPECT_EQ(0, WinStub_LiveHandles().modules);

    // Reset forgets a library left loaded (it stays mapped).
    ASSERT_NE(nullptr, LoadLibraryA(unixPath.c_str()));
    EXPECT_EQ(1, WinStub_LiveHandles().modules);
    WinStub_Reset();
    EXPECT_EQ(0, WinStub_LiveHandles().modules);
}

TEST_F(KernelTest, IconSizesFollowTheDpiAndLoadImageRecordsTheAsk) {
    SetThreadDpiAwarenessContextEntry setAwareness = SetAwarenessEntry();  // found on Windows 10
    ASSERT_NE(nullptr, setAwareness);
    // Windows virtualizes the metrics of DPI-unaware code (Wine 8 does not: there every row
    // shows the real size).
    struct Dpi {
        WinStubWindowsVersion version;
        int small;         // the screen's; 0: as after Reset
        intptr_t context;  // the thread's awareness
        int smallIcon, icon;
    };
    using V = WinStubWindowsVersion;
    const Dpi dpis[] = {
        {V::Win10, 0, -1, 16, 32},  {V::Win10, 20, -1, 16, 32}, {V::Win10, 24, -1, 16, 32},
        {V::Win10, 20, -2, 20, 40}, {V::Win10, 24, -2, 24, 48}, {V::Win10, 32, -3, 32, 64},
        {V::Win10, 32, -4, 32, 64}, {V::Win10, 0, -2, 16, 32},  {V::Vista, 20, -1, 20, 40},
        {V::Vista, 24, -1, 16, 32}, {V::Xp, 32, -1, 32, 64},
    };
    for (const Dpi& d : dpis) {
        SCOPED_TRACE("version " + std::to_string(static_cast<int>(d.version)) + " small " + std::to_string(d.small) +
                     " context " + std::to_string(d.context));
        WinStub_Reset();
        WinStub_SetWindowsVersion(d.version);
        if (d.small) WinStub_SetSmallIconSize(d.small, d.small);
        ASSERT_NE(nullptr, setAwareness(Context(d.context)));
        EXPECT_EQ(d.smallIcon, GetSystemMetrics(SM_CXSMICON));
        EXPECT_EQ(d.smallIcon, GetSystemMetrics(SM_CYSMICON));
        EXPECT_EQ(d.icon, GetSystemMetrics(SM_CXICON));
        EXPECT_EQ(d.icon, GetSystemMetrics(SM_CYICON));
        // The screen, 1920x1080, in the same pixels: 96 DPI ones where the icon is 16.
        int const real = d.small ? d.small : 16;
        EXPECT_EQ(1920 * d.smallIcon / real, GetSystemMetrics(SM_CXSCREEN));
        EXPECT_EQ(1080 * d.smallIcon / real, GetSystemMetrics(SM_CYSCREEN));
    }
    WinStub_Reset();
    EXPECT_EQ(-1, WinStub_ThreadDpiAwareness(GetCurrentThreadId())) << "Reset makes every thread unaware again";

    // Awareness is the thread's: one made aware sees the real size, the others do not.
    WinStub_SetSmallIconSize(24, 24);
    static int seen;
    HANDLE thread = CreateThread(nullptr, 0, [](LPVOID) -> DWORD {
        SetAwarenessEntry()(Context(-2));
        seen = GetSystemMetrics(SM_CXSMICON);
        return 0;
    }, nullptr, 0, nullptr);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 5000));
    CloseHandle(thread);
    EXPECT_EQ(24, seen);
    EXPECT_EQ(16, GetSystemMetrics(SM_CXSMICON));
    EXPECT_EQ(-1, WinStub_ThreadDpiAwareness(GetCurrentThreadId()));
    EXPECT_EQ(0, WinStub_ThreadDpiAwareness(0x7FFFFFF0)) << "no such thread";
    WinStub_SetSmallIconSize(32, 32);
    setAwareness(Context(-2));  // the first load below asks for the real size
    SetLastError(0xdeadbeef);
    EXPECT_EQ(0, GetSystemMetrics(9999));
    EXPECT_EQ(0, GetSystemMetrics(-1));
    EXPECT_EQ(0xdeadbeefu, GetLastError()) << "probed: left alone";

    HMODULE self = GetModuleHandleA(nullptr);
    HANDLE small = LoadImageA(self, "icon_1", IMAGE_ICON, GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0);
    HANDLE numeric = LoadImageA(self, MAKEINTRESOURCEA(101), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE);
    EXPECT_EQ(nullptr, LoadImageA(self, "ICON_2", IMAGE_ICON, 16, 16, 0));
    HICON shared = LoadIconA(self, "icon_1");
    std::vector<WinStubLoadImageCall> calls = WinStub_LoadImageCalls();
    struct Call {
        std::string name;
        UINT id;
        int cx, cy;
        UINT flags;
        HANDLE result;
    };
    const Call expected[] = {
        {"icon_1", 0, 32, 32, 0, small},
        {"", 101, 0, 0, LR_DEFAULTSIZE, numeric},
        {"ICON_2", 0, 16, 16, 0, nullptr},
        {"icon_1", 0, 0, 0, LR_SHARED | LR_DEFAULTSIZE, shared},  // LoadIconA, as Wine makes it
    };
    ASSERT_EQ(ARRAYSIZE(expected), calls.size());
    for (size_t i = 0; i < calls.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(self, calls[i].module);
        EXPECT_EQ(expected[i].name, calls[i].name);
        EXPECT_EQ(expected[i].id, calls[i].id);
        EXPECT_EQ(static_cast<UINT>(IMAGE_ICON), calls[i].type);
        EXPECT_EQ(expected[i].cx, calls[i].cx);
        EXPECT_EQ(expected[i].cy, calls[i].cy);
        EXPECT_EQ(expected[i].flags, calls[i].flags);
        EXPECT_EQ(expected[i].result, calls[i].result);
    }
    EXPECT_TRUE(DestroyIcon(static_cast<HICON>(small)));
    EXPECT_TRUE(DestroyIcon(static_cast<HICON>(numeric)));
    WinStub_Reset();
    EXPECT_TRUE(WinStub_LoadImageCalls().empty());
    EXPECT_EQ(16, GetSystemMetrics(SM_CXSMICON));
}

TEST_F(KernelTest, User32ExportsFollowTheWindowsVersion) {
    using V = WinStubWindowsVersion;
    struct Case {
        V version;
        const char* name;
        bool found;
    };
    const Case cases[] = {
        {V::Win10, "ChangeWindowMessageFilter", true}, {V::Win10, "SetThreadDpiAwarenessContext", true},
        {V::Vista, "ChangeWindowMessageFilter", true}, {V::Vista, "SetThreadDpiAwarenessContext", false},
        {V::Xp, "ChangeWindowMessageFilter", false},   {V::Xp, "SetThreadDpiAwarenessContext", false},
        {V::Win10, "changewindowmessagefilter", false},  // export names keep their case
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(static_cast<int>(c.version)) + " " + c.name);
        WinStub_SetWindowsVersion(c.version);
        SetLastError(0xdeadbeef);
        EXPECT_EQ(c.found, User32Entry(c.name) != nullptr);
        EXPECT_EQ(c.found ? 0xdeadbeefu : static_cast<DWORD>(ERROR_PROC_NOT_FOUND), GetLastError());
    }
}

TEST_F(KernelTest, SetThreadDpiAwarenessContextAnswersThePreviousContext) {
    SetThreadDpiAwarenessContextEntry set = SetAwarenessEntry();
    ASSERT_NE(nullptr, set);
    // The context passed: a pseudo-handle, or (0x100 + n) what step n answered.
    struct Step {
        intptr_t context;
        int after;    // the thread's awareness
        bool valid;   // else NULL, ERROR_INVALID_PARAMETER, nothing changed
    };
    const Step steps[] = {{-2, -2, true}, {-3, -3, true}, {-4, -4, true}, {-5, -4, false}, {0, -4, false},
                          {0x100 + 0, -1, true}, {0x100 + 1, -2, true}};  // step 0 answered unaware's
    std::vector<HANDLE> answers;
    for (const Step& s : steps) {
        SCOPED_TRACE("context " + std::to_string(s.context));
        SetLastError(0xdeadbeef);
        answers.push_back(set(s.context >= 0x100 ? answers.at(s.context - 0x100) : Context(s.context)));
        EXPECT_EQ(s.valid, answers.back() != nullptr);
        EXPECT_EQ(s.valid ? 0xdeadbeefu : static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
        EXPECT_EQ(s.after, WinStub_ThreadDpiAwareness(GetCurrentThreadId()));
    }
    // Unaware, system, per-monitor, per-monitor v2: four distinct contexts.
    EXPECT_EQ(4u, std::set<HANDLE>({answers[0], answers[1], answers[2], answers[3]}).size());
}

TEST_F(KernelTest, TheWorkingDirectoryInWindowsForm) {
    char original[4096], resolved[4096], tmpl[] = "/tmp/winstub-cwd-XXXXXX";
    ASSERT_NE(nullptr, getcwd(original, sizeof original));
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    ASSERT_NE(nullptr, realpath(tmpl, resolved));  // the host names the folder with links resolved
    std::string root = resolved, win = WineForm(root);
    ASSERT_EQ(0, mkdir((root + "/sub").c_str(), 0755));
    fclose(fopen((root + "/file.txt").c_str(), "w"));
    // Each row from the last row's directory; the errors as probed under Wine 8.
    struct Case {
        std::string path;
        DWORD error;      // 0: done
        std::string cwd;  // afterwards, below the test's folder
    };
    const Case cases[] = {
        {win + "\\sub\\", 0, "\\sub"}, {win, 0, ""}, {"sub", 0, "\\sub"},  // relative to the working directory
        {win + "\\nope", ERROR_FILE_NOT_FOUND, "\\sub"},  {win + "\\nope\\deeper", ERROR_PATH_NOT_FOUND, "\\sub"},
        {win + "\\file.txt", ERROR_DIRECTORY, "\\sub"},   {win + "\\file.txt\\x", ERROR_PATH_NOT_FOUND, "\\sub"},
        {"Q:\\", ERROR_PATH_NOT_FOUND, "\\sub"},          {"", ERROR_INVALID_NAME, "\\sub"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        SetLastError(0xdeadbeef);
        EXPECT_EQ(c.error == 0, SetCurrentDirectoryA(c.path.c_str()) != FALSE);
        EXPECT_EQ(c.error ? c.error : 0xdeadbeefu, GetLastError());
        char buf[4096], host[4096];
        EXPECT_EQ(win.size() + c.cwd.size(), GetCurrentDirectoryA(sizeof buf, buf));
        EXPECT_EQ(win + c.cwd, buf);
        EXPECT_EQ(root + (c.cwd.empty() ? "" : "/sub"), getcwd(host, sizeof host)) << "the real working directory";
    }
    // Too small: the size with terminator, nothing written, the last error left alone (probed).
    DWORD length = static_cast<DWORD>(win.size() + 4);
    for (DWORD size : {0u, length, length + 1}) {
        char buf[4096] = "x";
        SetLastError(0xdeadbeef);
        EXPECT_EQ(size > length ? length : length + 1, GetCurrentDirectoryA(size, buf)) << size;
        EXPECT_EQ(size > length ? win + "\\sub" : "x", buf);
        EXPECT_EQ(0xdeadbeefu, GetLastError());
    }
    WinStub_Reset();
    EXPECT_STREQ(original, getcwd(resolved, sizeof resolved)) << "Reset goes back to the directory from before";
    EXPECT_EQ(0, unlink((root + "/file.txt").c_str()) | rmdir((root + "/sub").c_str()) | rmdir(root.c_str()));
}

DWORD WINAPI SetErrorModeOnThread(LPVOID mode) { return SetErrorMode(static_cast<UINT>(reinterpret_cast<uintptr_t>(mode))); }

TEST_F(KernelTest, TheErrorModeIsTheProcesssAndEachLoadRecordsIt) {
    std::string library = MathLibraryPath();
    struct Step {
        UINT mode;
        bool onOtherThread;
        const char* load;  // nullptr: a real library
    };
    const Step steps[] = {{SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, false, nullptr},
                          {SEM_FAILCRITICALERRORS, true, "Z:\\nowhere\\jvm.dll"},  // failed loads count too
                          {0, false, nullptr}};
    std::vector<UINT> expected;
    for (const Step& s : steps) {
        SCOPED_TRACE(s.mode);
        LPVOID mode = reinterpret_cast<LPVOID>(static_cast<uintptr_t>(s.mode));
        if (s.onOtherThread) {
            HANDLE thread = CreateThread(nullptr, 0, SetErrorModeOnThread, mode, 0, nullptr);
            EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 5000));
            CloseHandle(thread);
        } else {
            EXPECT_EQ(expected.empty() ? 0u : expected.back(), SetErrorMode(s.mode)) << "the previous mode";
        }
        HMODULE module = LoadLibraryA(s.load ? s.load : library.c_str());
        if (module) FreeLibrary(module);
        expected.push_back(s.mode);
    }
    EXPECT_EQ(expected, WinStub_LoadLibraryErrorModes());
    SetErrorMode(SEM_NOOPENFILEERRORBOX);
    WinStub_Reset();
    EXPECT_TRUE(WinStub_LoadLibraryErrorModes().empty());
    EXPECT_EQ(0u, SetErrorMode(0)) << "0 after Reset";
}

}  // namespace
