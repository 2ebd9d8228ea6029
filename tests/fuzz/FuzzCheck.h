// Invariant checks for the fuzz targets. A broken invariant prints what was
// expected and what the shell did, then aborts, so that libFuzzer keeps the
// input as a crash artifact.
//
// The CTest runs close the targets' stderr (-close_fd_mask=2): the stand-in
// runtime describes every Java exception there, and at thousands of runs a
// second that output costs more than the shell does. libFuzzer keeps its own
// copy of the stream for its reports; FuzzKeepStderr keeps one for ours. It
// runs in LLVMFuzzerInitialize (FuzzStart.cpp, linked into every target),
// which libFuzzer calls before it closes the stream.
#ifndef CHIMELET_FUZZ_CHECK_H
#define CHIMELET_FUZZ_CHECK_H

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

inline int &FuzzReportFd()
{
    static int fd = 2;
    return fd;
}

inline void FuzzKeepStderr()
{
    int copy = dup(2);
    if (copy >= 0)
        FuzzReportFd() = copy;
}

[[noreturn]] inline void FuzzFail(char const *file, int line, char const *condition, std::string const &detail)
{
    std::string report = std::string("\n==== broken invariant at ") + file + ":" + std::to_string(line) + ": "
                         + condition + "\n" + detail + "\n";
    ssize_t written = write(FuzzReportFd(), report.data(), report.size());
    (void)written;
    abort();
}

// `detail` is only evaluated when the check fails: it may be costly.
#define FUZZ_CHECK(condition, detail)                                  \
    do {                                                               \
        if (!(condition))                                              \
            FuzzFail(__FILE__, __LINE__, #condition, (detail));        \
    } while (0)

// Printable form of bytes for a report: escapes, and long runs cut. With
// `lines`, line ends stay as they are (menus read back by Describe).
inline std::string FuzzShow(std::string const &bytes, size_t max = 300, bool lines = false)
{
    std::string out;
    for (size_t i = 0; i < bytes.size() && i < max; ++i) {
        unsigned char c = (unsigned char)bytes[i];
        if ((c >= 0x20 && c < 0x7f && c != '\\') || (lines && c == '\n')) {
            out += (char)c;
        } else {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    if (bytes.size() > max)
        out += "...(" + std::to_string(bytes.size()) + " bytes)";
    return lines ? out : "\"" + out + "\"";
}

#endif
