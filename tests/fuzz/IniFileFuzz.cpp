// Fuzz target: the settings-file path, built from module paths of 0 to 2000
// characters, with and without backslashes, into buffers of any size. The
// result either fits and is the module's directory followed by
// "\Chimelet.ini", or is empty; nothing is written past the buffer.

#include <windows.h>

#include <fuzzer/FuzzedDataProvider.h>

#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "kelvarin.h"
#include "winstub_control.h"

namespace {

char const kTail[] = "\\Chimelet.ini";
char const kPoison = (char)0xA5;
size_t const kGuard = 64;
size_t const kMaxModulePath = 2000;
// GetIniFileName reads the module path into 1023 bytes: a longer path, or
// one that fills them, may have been cut and names some other directory.
size_t const kLongestReadablePath = 1022;

std::string Expected(std::string const &modulePath)
{
    size_t slash = modulePath.rfind('\\');
    return (slash == std::string::npos ? modulePath : modulePath.substr(0, slash)) + kTail;
}

unsigned long PickSize(FuzzedDataProvider &in)
{
    switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0: return 1024;
    case 1: return in.ConsumeIntegralInRange<unsigned long>(0, 32);
    case 2: return in.ConsumeIntegralInRange<unsigned long>(1000, 1040);
    default: return in.ConsumeIntegralInRange<unsigned long>(0, 2100);
    }
}

// Short inputs reach long paths by repeating a piece; the lengths around the
// 1024-byte buffer come up often.
std::string PickModulePath(FuzzedDataProvider &in)
{
    int const form = in.ConsumeIntegralInRange(0, 3);
    size_t length = in.ConsumeIntegralInRange<size_t>(0, kMaxModulePath);
    if (form == 1)
        length = in.ConsumeIntegralInRange<size_t>(1005, 1030);
    std::string piece = in.ConsumeRandomLengthString(64);

    std::string path;
    switch (form) {
    case 0:
        path = piece;
        break;
    case 1:
    case 2:
        // A directory of `length` characters, then the piece as file name.
        path = "C:\\";
        while (path.size() < length)
            path += piece.empty() ? std::string("d") : piece;
        path.resize(length);
        path += "\\" + piece;
        break;
    default:
        while (!piece.empty() && path.size() < length)
            path += piece;
        break;
    }
    if (path.size() > kMaxModulePath)
        path.resize(kMaxModulePath);
    return path.c_str();  // the shell sees a C string
}

// What a call wrote into a buffer of `size` bytes followed by a guard.
struct Written {
    std::vector<char> bytes;
    unsigned long size;

    explicit Written(unsigned long size) : bytes(size + kGuard, kPoison), size(size) {}

    bool GuardIntact() const
    {
        for (size_t i = size; i < bytes.size(); ++i) {
            if (bytes[i] != kPoison)
                return false;
        }
        return true;
    }
    bool Untouched() const
    {
        for (char c : bytes) {
            if (c != kPoison)
                return false;
        }
        return true;
    }
    // The text, when a terminator lies inside the buffer.
    bool Text(std::string *out) const
    {
        void const *end = memchr(bytes.data(), '\0', size);
        if (!end)
            return false;
        out->assign(bytes.data(), (char const *)end - bytes.data());
        return true;
    }
};

std::string Detail(std::string const &modulePath, unsigned long size, std::string const &expected, Written const &out)
{
    std::string text;
    bool terminated = out.Text(&text);
    return "module path " + FuzzShow(modulePath) + " (" + std::to_string(modulePath.size()) + " characters), buffer "
           + std::to_string(size) + "\nexpected " + FuzzShow(expected) + "\nwritten  "
           + (terminated ? FuzzShow(text) : std::string("(no terminator in the buffer)"));
}

// Checks one call's output: either `expected` whole or an empty string, and
// the whole expected path whenever it fits.
void CheckResult(std::string const &modulePath, unsigned long size, std::string const &expected, bool mayName,
                 Written const &out)
{
    FUZZ_CHECK(out.GuardIntact(), "written past the buffer\n" + Detail(modulePath, size, expected, out));
    if (size == 0) {
        FUZZ_CHECK(out.Untouched(), "a buffer of size 0 was written\n" + Detail(modulePath, size, expected, out));
        return;
    }
    std::string text;
    FUZZ_CHECK(out.Text(&text), "result not terminated\n" + Detail(modulePath, size, expected, out));
    bool const fits = expected.size() + 1 <= size;
    if (mayName && fits)
        FUZZ_CHECK(text == expected, "a path that fits was not named\n" + Detail(modulePath, size, expected, out));
    else
        FUZZ_CHECK(text.empty(), "a path that must not be named was\n" + Detail(modulePath, size, expected, out));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    unsigned long const bufferSize = PickSize(in);
    std::string const modulePath = PickModulePath(in);
    std::string const expected = Expected(modulePath);

    // The module path in a heap block of its exact size, so that the
    // sanitizer sees any read past its terminator.
    std::unique_ptr<char[]> exactPath(new char[modulePath.size() + 1]);
    memcpy(exactPath.get(), modulePath.c_str(), modulePath.size() + 1);

    Written built(bufferSize);
    bool const named = BuildPathBesideModule(exactPath.get(), "Chimelet.ini", built.bytes.data(), bufferSize);
    CheckResult(modulePath, bufferSize, expected, true, built);
    FUZZ_CHECK(named == (bufferSize > 0 && expected.size() + 1 <= bufferSize),
               "BuildPathBesideModule answered " + std::to_string(named) + "\n"
                   + Detail(modulePath, bufferSize, expected, built));

    // The same through the module path the system reports.
    WinStub_SetModuleFileName(exactPath.get());
    Written read(bufferSize);
    GetIniFileName(GetModuleHandleA(NULL), read.bytes.data(), bufferSize);
    WinStub_SetModuleFileName(nullptr);
    bool const readable = !modulePath.empty() && modulePath.size() <= kLongestReadablePath;
    CheckResult(modulePath, bufferSize, expected, readable, read);
    return 0;
}
