// The host program entry: main hands over to the program's WinMain as Windows would, and
// ends the whole process with its result, every other thread included.
#include <windows.h>

#include <cstdio>
#include <string>
#include <unistd.h>

int main(int argc, char** argv) {
    // The command line without the program name, arguments with blanks quoted.
    std::string commandLine;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) commandLine += ' ';
        std::string arg = argv[i];
        bool quote = arg.empty() || arg.find_first_of(" \t") != std::string::npos;
        commandLine += quote ? "\"" + arg + "\"" : arg;
    }
    int result = WinMain(GetModuleHandleA(nullptr), nullptr, &commandLine[0], SW_SHOWDEFAULT);
    // As ExitProcess: threads still running must not run into destroyed globals, so no
    // static destructors run; buffered output is written first.
    fflush(nullptr);
    _exit(result);
}
