// Strings, formatting, module path, resources and kernel objects, against values probed
// under Wine 8.
#include <windows.h>

#include "winstub_control.h"

#include <gtest/gtest.h>

#include <cmath>
#include <dlfcn.h>
#include <string>

namespace {

class KernelTest : public ::testing::Test {
protected:
    void SetUp() override { WinStub_Reset(); }
    void TearDown() override {
        EXPECT_EQ(0, WinStub_LiveHandles().kernelHandles);
        EXPECT_EQ(0, WinStub_LiveHandles().icons);
        WinStub_Reset();
    }
};

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
    Dl_info info{};
    ASSERT_NE(0, dladdr(reinterpret_cast<void*>(static_cast<double (*)(double)>(&std::cos)), &info));
    std::string unixPath = info.dli_fname;
    std::string wine = "Z:" + unixPath;
    for (char& c : wine)
        if (c == '/') c = '\\';
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

}  // namespace
