// GetPrivateProfileStringA against a real file, with the answers Wine 8 gave for the same file.
#include <windows.h>

#include "winstub_control.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

class ProfileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/winstub-ini-XXXXXX";
        int fd = mkstemp(name);
        ASSERT_GE(fd, 0);
        path = name;
        // CRLF lines, a key before any section, blanks around names, quotes, comments,
        // duplicates and a second [main] whose keys are never seen.
        const char text[] =
            "before=1\r\n  [ main ]  \r\njavaversion = 1.4 \r\nquoted=\"  q  \"\r\nsq='single'\r\nhalf=\"abc\r\n"
            "comment=val ; c\r\n;commented=1\r\nnoeq\r\nempty=\r\nquotedcut=\"abcdef\"\r\ntwoq=\"\"\r\n"
            "DUP=first\r\ndup=second\r\n[other]\r\nk=o\r\n[main]\r\nlater=yes\r\n";
        ASSERT_EQ(static_cast<ssize_t>(sizeof text - 1), write(fd, text, sizeof text - 1));
        close(fd);
        windowsPath = "Z:" + path;
        for (char& c : windowsPath)
            if (c == '/') c = '\\';
    }
    void TearDown() override { unlink(path.c_str()); }
    std::string path, windowsPath;
};

TEST_F(ProfileTest, ValuesDefaultsAndSizes) {
    struct Case {
        const char* section;
        const char* key;
        const char* def;
        DWORD size;
        DWORD result;
        const char* text;
    };
    const Case cases[] = {
        {"main", "javaversion", "7", 100, 3, "1.4"},
        {" MAIN ", " JavaVersion ", "7", 100, 3, "1.4"},  // names trimmed, case ignored
        {"main", "quoted", "d", 100, 5, "  q  "},
        {"main", "sq", "d", 100, 6, "single"},
        {"main", "half", "d", 100, 4, "\"abc"},
        {"main", "comment", "d", 100, 7, "val ; c"},
        {"main", ";commented", "d", 100, 1, "1"},          // Wine keeps comment lines as keys
        {"main", "noeq", "d", 100, 1, "d"},
        {"main", "empty", "d", 100, 0, ""},
        {"main", "twoq", "d", 100, 0, ""},
        {"main", "dup", "d", 100, 5, "first"},
        {"main", "later", "d", 100, 1, "d"},               // only the first [main] counts
        {"", "before", "d", 100, 1, "1"},
        {"other", "k", "d", 100, 1, "o"},
        {"main", "missing", "7", 100, 1, "7"},
        {"main", "missing", nullptr, 100, 0, ""},
        {"main", "missing", "  def  ", 100, 5, "  def"},   // trailing blanks of the default go
        {"main", "missing", "\"qd\"", 100, 2, "qd"},
        {"nosection", "k", "dd", 100, 2, "dd"},
        {"main", "quotedcut", "d", 4, 3, "abc"},
        {"main", "quotedcut", "d", 7, 5, "abcde"},         // a cut quoted value loses a character
        {"main", "quotedcut", "d", 8, 6, "abcdef"},
        {"main", "javaversion", "7", 3, 2, "1."},
        {"main", "javaversion", "7", 1, 0, ""},
        {"main", "missing", "defdef", 4, 3, "def"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("[") + c.section + "] " + c.key + " size " + std::to_string(c.size));
        char buf[128];
        memset(buf, 'x', sizeof buf);
        EXPECT_EQ(c.result, GetPrivateProfileStringA(c.section, c.key, c.def, buf, c.size, windowsPath.c_str()));
        EXPECT_STREQ(c.text, buf);
    }
    char buf[8] = "xxxxxxx";
    EXPECT_EQ(0u, GetPrivateProfileStringA("main", "javaversion", "7", buf, 0, windowsPath.c_str()));
    EXPECT_EQ('x', buf[0]) << "size 0 writes nothing";
}

TEST_F(ProfileTest, FileNamesAndLists) {
    struct Case {
        std::string file;
        DWORD error;
        const char* text;
    };
    const Case cases[] = {
        {windowsPath, 0, "1.4"},
        {path, 0, "1.4"},                              // a plain unix path works too
        {"Z:\\tmp\\winstub-no-such-file.ini", ERROR_FILE_NOT_FOUND, "\"7\""},  // no quote removal
        {"Chimelet.ini", ERROR_FILE_NOT_FOUND, "\"7\""},  // bare names mean C:\windows
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        char buf[16];
        SetLastError(0xdeadbeef);
        GetPrivateProfileStringA("main", "javaversion", "\"7\"", buf, sizeof buf, c.file.c_str());
        EXPECT_EQ(c.error, GetLastError());
        EXPECT_STREQ(c.text, buf);
    }
    // Lists (probed): names separated by NULs; when cut, the answer is size - 2.
    char list[64];
    DWORD n = GetPrivateProfileStringA(nullptr, nullptr, "d", list, sizeof list, windowsPath.c_str());
    EXPECT_EQ(std::string("main\0other\0main\0\0", 17), std::string(list, n + 1));
    n = GetPrivateProfileStringA(nullptr, nullptr, "d", list, 8, windowsPath.c_str());
    EXPECT_EQ(std::string("main\0o\0", 7), std::string(list, n + 1));
    n = GetPrivateProfileStringA("other", nullptr, "d", list, sizeof list, windowsPath.c_str());
    EXPECT_EQ(std::string("k\0\0", 3), std::string(list, n + 1));
    n = GetPrivateProfileStringA("main", nullptr, "d", list, 10, windowsPath.c_str());
    EXPECT_EQ(std::string("javavers\0", 9), std::string(list, n + 1));
}

TEST_F(ProfileTest, LongLinesAreReadWhole) {
    std::string value(70000, 'v');
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(nullptr, f);
    fprintf(f, "[s]\nlong=%s\nafter=1\n", value.c_str());
    fclose(f);
    std::string buf(80000, 'x');
    EXPECT_EQ(70000u, GetPrivateProfileStringA("s", "long", "", &buf[0], 80000, path.c_str()));
    EXPECT_EQ(value, buf.c_str());
    char small[4];
    EXPECT_EQ(1u, GetPrivateProfileStringA("s", "after", "", small, sizeof small, path.c_str()));
}

}  // namespace
