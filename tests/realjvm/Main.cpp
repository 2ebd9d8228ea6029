// chimelet_realjvm <scenario> [--jvm <libjvm.so>]: runs one scenario of the
// shell against a real Java VM and answers 0 when it passed (77: skipped).
// `--list` names the scenarios.

#include "RealJvm.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <fstream>

#ifndef REALJVM_DEFAULT_JVM
#error "the build names the VM library: REALJVM_DEFAULT_JVM"
#endif

std::vector<std::string> ReadAppLog(std::string const &path)
{
    std::vector<std::string> lines;
    std::ifstream file(path, std::ios::binary);
    std::string line;
    while (std::getline(file, line)) {
        // Without its "\n" the line is still being written.
        if (file.eof())
            break;
        lines.push_back(line);
    }
    return lines;
}

int CountLines(std::vector<std::string> const &lines, std::string const &line)
{
    int count = 0;
    for (std::string const &candidate : lines)
        count += candidate == line;
    return count;
}

namespace {

int Usage()
{
    fprintf(stderr, "usage: chimelet_realjvm <scenario> [--jvm <libjvm.so>] | --list\n"
                    "  run in a directory that holds chimelet.jar (or not, as the scenario wants), with\n"
                    "  JAVA_TOOL_OPTIONS=-Xcheck:jni and CHIMELET_APP_LOG naming this run's call log\n"
                    "scenarios:\n");
    for (Scenario const &scenario : Scenarios())
        fprintf(stderr, "  %-22s %s\n", scenario.name.c_str(), scenario.purpose.c_str());
    return kStatusUsage;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc == 2 && strcmp(argv[1], "--list") == 0) {
        for (Scenario const &scenario : Scenarios())
            printf("%s\n", scenario.name.c_str());
        return kStatusPassed;
    }
    if (argc != 2 && !(argc == 4 && strcmp(argv[2], "--jvm") == 0))
        return Usage();
    Scenario const *scenario = FindScenario(argv[1]);
    if (!scenario)
        return Usage();

    RunOptions options;
    options.jvmPath = argc == 4 ? argv[3] : REALJVM_DEFAULT_JVM;
    if (access(options.jvmPath.c_str(), R_OK) != 0) {
        printf("realjvm %s: skipped: no VM library at %s\n", scenario->name.c_str(), options.jvmPath.c_str());
        return kStatusSkipped;
    }

    // Without the checks a run proves little: refuse rather than pass.
    char const *toolOptions = getenv("JAVA_TOOL_OPTIONS");
    if (!toolOptions || !strstr(toolOptions, "-Xcheck:jni")) {
        fprintf(stderr, "realjvm: JAVA_TOOL_OPTIONS must hold -Xcheck:jni\n");
        return Usage();
    }
    char const *log = getenv("CHIMELET_APP_LOG");
    if (!log || !*log) {
        fprintf(stderr, "realjvm: CHIMELET_APP_LOG must name this run's call log\n");
        return Usage();
    }
    options.logPath = log;
    options.dataPath = options.logPath + ".data";

    bool hasJar = access("chimelet.jar", R_OK) == 0;
    if (hasJar != (scenario->jar == Jar::Present)) {
        fprintf(stderr, "realjvm %s: run me in a directory %s chimelet.jar\n", scenario->name.c_str(),
                hasJar ? "without" : "that holds");
        return kStatusUsage;
    }
    return Supervise(*scenario, options);
}
