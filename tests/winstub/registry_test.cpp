// Registry answers the runtime discovery relies on: terminators, short buffers, missing
// values and keys, value types, all as Wine 8 gives them (probed).
#include <windows.h>

#include "winstub_control.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        WinStub_Reset();
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\JavaSoft\\Java Runtime Environment", 0,
                                                 nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    }
    void TearDown() override {
        RegCloseKey(key);
        EXPECT_EQ(0, WinStub_LiveHandles().regKeys);
        WinStub_Reset();
    }
    HKEY key = nullptr;
};

TEST_F(RegistryTest, QueryValueAnswersAsWine) {
    // Stored values: "sz3" holds "abc" without terminator, "sz4" holds "abc\0", "bin3" binary abc.
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "sz3", 0, REG_SZ, reinterpret_cast<const BYTE*>("abcX"), 3));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "sz4", 0, REG_SZ, reinterpret_cast<const BYTE*>("abc"), 4));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "bin3", 0, REG_BINARY, reinterpret_cast<const BYTE*>("abc"), 3));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "empty", 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 0));
    struct Case {
        const char* value;
        DWORD bufferSize;
        LSTATUS status;
        DWORD sizeAfter;
        const char* bytes;  // first 5 bytes of a buffer poisoned with 'x'
    };
    const Case cases[] = {
        {"sz3", 2, ERROR_MORE_DATA, 3, "xxxxx"},   // too small: size set, buffer untouched
        {"sz3", 3, ERROR_SUCCESS, 3, "abcxx"},     // exactly full: no terminator
        {"sz3", 4, ERROR_SUCCESS, 3, "abc\0x"},    // room to spare: terminated
        {"sz4", 3, ERROR_MORE_DATA, 4, "xxxxx"},
        {"sz4", 8, ERROR_SUCCESS, 4, "abc\0x"},    // its own terminator, no second one
        {"bin3", 8, ERROR_SUCCESS, 3, "abcxx"},    // binary data is never terminated
        {"empty", 8, ERROR_SUCCESS, 0, "xxxxx"},   // empty string: nothing written
        {"missing", 8, ERROR_FILE_NOT_FOUND, 8, "xxxxx"},
        {"SZ3", 8, ERROR_SUCCESS, 3, "abc\0x"},    // value names ignore case
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.value) + " into " + std::to_string(c.bufferSize));
        BYTE buf[16];
        memset(buf, 'x', sizeof buf);
        DWORD size = c.bufferSize;
        DWORD type = 99;
        EXPECT_EQ(c.status, RegQueryValueExA(key, c.value, nullptr, &type, buf, &size));
        EXPECT_EQ(c.sizeAfter, size);
        EXPECT_EQ(std::string(c.bytes, 5), std::string(reinterpret_cast<char*>(buf), 5));
        if (c.status == ERROR_FILE_NOT_FOUND) EXPECT_EQ(static_cast<DWORD>(REG_NONE), type);
    }
    DWORD size = 0;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "sz3", nullptr, nullptr, nullptr, &size)) << "size only";
    EXPECT_EQ(3u, size);
    BYTE buf[4];
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegQueryValueExA(key, "sz3", nullptr, nullptr, buf, nullptr));
}

TEST_F(RegistryTest, SetValueCountsAForgottenTerminator) {
    // Probed: for string types, when the data's last byte is not 0 and the byte after it is,
    // Wine stores that terminator too.
    struct Case {
        const char* name;
        DWORD type;
        const char* data;
        DWORD length;
        DWORD stored;
    };
    const Case cases[] = {
        {"next byte 0", REG_SZ, "abc", 3, 4},
        {"next byte not 0", REG_SZ, "abcX", 3, 3},
        {"terminator given", REG_SZ, "abc", 4, 4},
        {"expand string", REG_EXPAND_SZ, "abc", 3, 4},
        {"multi string", REG_MULTI_SZ, "abc", 3, 4},
        {"binary", REG_BINARY, "abc", 3, 3},
        {"empty", REG_SZ, "", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "v", 0, c.type, reinterpret_cast<const BYTE*>(c.data), c.length));
        DWORD size = 0;
        ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "v", nullptr, nullptr, nullptr, &size));
        EXPECT_EQ(c.stored, size);
    }
    std::string big(5000, 'z');
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "big", 0, REG_BINARY, reinterpret_cast<const BYTE*>(big.data()), 5000));
    std::string back(5000, 0);
    DWORD size = 5000;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "big", nullptr, nullptr, reinterpret_cast<BYTE*>(&back[0]), &size));
    EXPECT_EQ(big, back);
}

TEST_F(RegistryTest, KeysOpenAndGoAsWineDoes) {
    struct Case {
        HKEY parent;
        const char* path;
        LSTATUS status;
    };
    const Case cases[] = {
        {HKEY_LOCAL_MACHINE, "software\\JAVASOFT\\java runtime environment", ERROR_SUCCESS},
        {HKEY_LOCAL_MACHINE, "Software\\JavaSoft\\Java Runtime Environment\\", ERROR_SUCCESS},
        {HKEY_LOCAL_MACHINE, "Software\\\\JavaSoft", ERROR_SUCCESS},
        {HKEY_LOCAL_MACHINE, "\\Software", ERROR_BAD_PATHNAME},
        {HKEY_LOCAL_MACHINE, "Software\\Nothing", ERROR_FILE_NOT_FOUND},
        {HKEY_CURRENT_USER, "Software\\JavaSoft", ERROR_FILE_NOT_FOUND},  // another tree
        {reinterpret_cast<HKEY>(0x1234), "x", ERROR_INVALID_HANDLE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        HKEY opened = reinterpret_cast<HKEY>(0x55);
        EXPECT_EQ(c.status, RegOpenKeyExA(c.parent, c.path, 0, KEY_READ, &opened));
        if (c.status == ERROR_SUCCESS)
            EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(opened));
        else
            EXPECT_EQ(nullptr, opened);
    }
    HKEY root = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "", 0, KEY_READ, &root));
    EXPECT_EQ(HKEY_LOCAL_MACHINE, root) << "probed: an empty path below a root gives the root back";

    HKEY sub = nullptr;
    DWORD disposition = 0;
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(key, "1.4\\deeper", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, &disposition));
    EXPECT_EQ(static_cast<DWORD>(REG_CREATED_NEW_KEY), disposition);
    RegSetValueExA(sub, "x", 0, REG_DWORD, reinterpret_cast<const BYTE*>("\1\0\0\0"), 4);
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeA(key, "1.4"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteTreeA(key, "1.4"));
    DWORD size = 0;
    EXPECT_EQ(ERROR_KEY_DELETED, RegQueryValueExA(sub, "x", nullptr, nullptr, nullptr, &size)) << "open handle of a deleted key";
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(sub));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(sub));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueA(key, "none"));
}

TEST_F(RegistryTest, ValuesKeepTheirTypes) {
    struct Case {
        const char* name;
        DWORD type;
        std::string data;
    };
    const Case cases[] = {
        {"sz", REG_SZ, std::string("C:\\jre\\bin\\jvm.dll\0", 20)},
        {"expand", REG_EXPAND_SZ, std::string("%JAVA_HOME%\\bin\0", 16)},  // not expanded on the way
        {"dword", REG_DWORD, std::string("\x04\x01\x00\x00", 4)},
        {"binary", REG_BINARY, std::string("\x00\xff\x10", 3)},
        {"multi", REG_MULTI_SZ, std::string("1.3\0" "1.4\0\0", 9)},
        {"none", REG_NONE, std::string()},
    };
    for (const Case& c : cases)
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, c.name, 0, c.type, reinterpret_cast<const BYTE*>(c.data.data()),
                                                static_cast<DWORD>(c.data.size())));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DWORD type = 99;
        EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, c.name, nullptr, &type, nullptr, nullptr)) << "type alone";
        EXPECT_EQ(c.type, type);
        BYTE buf[32];
        memset(buf, 'x', sizeof buf);
        DWORD size = sizeof buf;
        type = 99;
        EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, c.name, nullptr, &type, buf, &size));
        EXPECT_EQ(c.type, type);
        EXPECT_EQ(c.data, std::string(reinterpret_cast<char*>(buf), size));
    }
    DWORD value = 0, size = sizeof value;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "dword", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size));
    EXPECT_EQ(0x104u, value) << "little-endian, as written";

    // A missing value: REG_NONE; probed, a size-only query sets the size to 0, one with a
    // buffer keeps it.
    DWORD type = 99;
    size = 77;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(key, "missing", nullptr, &type, nullptr, &size));
    EXPECT_EQ(static_cast<DWORD>(REG_NONE), type);
    EXPECT_EQ(0u, size);
    type = 99;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(key, "missing", nullptr, &type, nullptr, nullptr));
    EXPECT_EQ(static_cast<DWORD>(REG_NONE), type);
}

}  // namespace
