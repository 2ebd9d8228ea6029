// The runner's parent process: forks the child that runs the scenario,
// passes the child's stdout and stderr through as they come (so that a VM
// that aborts loses nothing), keeps a copy, and once the child has ended
// judges what only the end of the process can show.

#include "RealJvm.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace {

// Beyond the child's own watchdog: a child that cannot even run that is
// killed here, well before CTest's timeout would.
int const kHardLimitMs = 50000;
// The copy kept for the checks; the pass-through is never cut.
size_t const kMaxCopy = 8u << 20;

long long NowMs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (long long)now.tv_sec * 1000 + now.tv_nsec / 1000000;
}

void WriteAll(int fd, char const *bytes, size_t size)
{
    while (size > 0) {
        ssize_t written = write(fd, bytes, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        bytes += written;
        size -= (size_t)written;
    }
}

// Pumps both pipes until the child has closed them or the limit is reached.
// False on the limit.
bool PassThrough(int childOut, int childErr, std::string *copy)
{
    pollfd fds[2] = {{childOut, POLLIN, 0}, {childErr, POLLIN, 0}};
    int const targets[2] = {STDOUT_FILENO, STDERR_FILENO};
    int open = 2;
    long long const deadline = NowMs() + kHardLimitMs;
    char buf[16384];

    while (open > 0) {
        long long left = deadline - NowMs();
        if (left <= 0)
            return false;
        int ready = poll(fds, 2, (int)left);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return false;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            ssize_t got = read(fds[i].fd, buf, sizeof buf);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
                continue;
            }
            WriteAll(targets[i], buf, (size_t)got);
            if (copy->size() < kMaxCopy)
                copy->append(buf, (size_t)got);
        }
    }
    return true;
}

std::string DescribeStatus(int status)
{
    if (WIFEXITED(status))
        return "exit status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return std::string("killed by signal ") + strsignal(WTERMSIG(status));
    return "ended in an unknown way";
}

// What the VM printed that it must not have printed in this scenario.
std::vector<std::string> Forbidden(Output quiet)
{
    std::vector<std::string> texts = {"FATAL ERROR", "A fatal error has been detected"};
    if (quiet != Output::WarnsLocalRefs)
        texts.push_back("WARNING");
    if (quiet == Output::Quiet)
        texts.push_back("Exception in thread");
    return texts;
}

}  // namespace

int Supervise(Scenario const &scenario, RunOptions const &options)
{
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
        perror("realjvm: pipe");
        return kStatusUsage;
    }
    fflush(NULL);
    pid_t child = fork();
    if (child < 0) {
        perror("realjvm: fork");
        return kStatusUsage;
    }
    if (child == 0) {
        // dup2 leaves the new descriptors open across exec; the originals go.
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        close(out[0]);
        close(out[1]);
        close(err[0]);
        close(err[1]);
        RunChild(scenario, options);
    }
    close(out[1]);
    close(err[1]);

    std::string copy;
    bool ended = PassThrough(out[0], err[0], &copy);
    if (!ended) {
        fprintf(stderr, "realjvm %s: the child (pid %d) still runs after %d ms, its watchdog "
                "included; killing it\n", scenario.name.c_str(), (int)child, kHardLimitMs);
        kill(child, SIGKILL);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!ended)
        return kStatusWatchdog;
    // Skipped, or refused before anything ran: the child has said why.
    if (WIFEXITED(status) && (WEXITSTATUS(status) == kStatusSkipped || WEXITSTATUS(status) == kStatusUsage))
        return WEXITSTATUS(status);

    std::vector<std::string> faults;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != scenario.status) {
        faults.push_back("the process ended with " + DescribeStatus(status) + ", expected exit status "
                         + std::to_string(scenario.status));
    }
    for (std::string const &text : scenario.output) {
        if (copy.find(text) == std::string::npos)
            faults.push_back("the output lacks \"" + text + "\"");
    }
    for (std::string const &text : Forbidden(scenario.quiet)) {
        if (copy.find(text) != std::string::npos)
            faults.push_back("the output holds \"" + text + "\"");
    }
    // Counted only now: a second quit could come after WinMain returned.
    std::vector<std::string> log = ReadAppLog(options.logPath);
    for (auto const &expected : scenario.lines) {
        int count = CountLines(log, expected.first);
        if (count != expected.second) {
            faults.push_back("the call log holds \"" + expected.first + "\" " + std::to_string(count)
                             + " times, expected " + std::to_string(expected.second));
        }
    }

    if (faults.empty()) {
        printf("realjvm %s: passed (%s)\n", scenario.name.c_str(), DescribeStatus(status).c_str());
        return kStatusPassed;
    }
    fprintf(stderr, "realjvm %s: FAILED, as the whole process shows:\n", scenario.name.c_str());
    for (std::string const &fault : faults)
        fprintf(stderr, "  - %s\n", fault.c_str());
    return kStatusFailed;
}
