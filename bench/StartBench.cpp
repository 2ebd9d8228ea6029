// Start-up and second start of the real Chimelet.exe under Wine, against
// floor programs, all measured the same way by this harness: the clock
// starts just before CreateProcessA and stops when the harness, polling
// every millisecond, first sees the milestone.
//
//   chimelet_bench_start [--runs N] [--second-runs N] [--warmup N] [--breakdown]
//
// Start-up: Chimelet.exe (the stand-in runtime registered as Java 1.4)
// against bench_floor_tray.exe; milestones: its window exists, the tray icon
// exists. With --breakdown also the floor with Chimelet's own start-up steps
// put back one at a time (bench_floor_steps.exe) and Chimelet's start-up
// without the Java start (bench_shell_nojava.exe). Every run is closed with
// WM_CLOSE to that window and must end with exit code 0 and take its icon
// with it.
// Second start: with one Chimelet.exe running, a second Chimelet.exe against
// bench_floor_second.exe (FindWindowA + SendMessageA to the same instance)
// and bench_empty.exe (a process and nothing else), each until it has ended.
//
// A check comes first: a first instance with the stand-in's log, to see that
// both second starts reach it and how soon after its icon it is bound to
// Java. Runs in the same Wine prefix as no other Chimelet (exit code 1 when
// one is found, or a run fails).

#include <windows.h>

#include <stdio.h>

#include <string>
#include <vector>

#include "BenchStats.h"
#include "FloorWindow.h"
#include "winrig.h"

using namespace bench;
using namespace winrig;

namespace {

char const kInvokeShowReminders[] = "invoke com/norvanta/kelvarin/data/TExternalDataInterface.showReminderList()V";
char const kInvokeQuit[] = "invoke com/norvanta/kelvarin/data/TExternalDataInterface.quit()V";

// A Chimelet is closed only once its tray is bound to Java: closed before,
// it never tells the application to quit, and its VM never ends. The check
// measures how long binding takes; every run waits five times that, and at
// least this long, before it is closed.
DWORD const kLeastSettleMs = 250;
int const kDefaultRuns = 40;
int const kDefaultSecondRuns = 100;
int const kDefaultWarmup = 3;
// A run that fails is reported; this many end the benchmark.
int const kMaxFailures = 3;

struct Program {
    char const *name;          // in RESULT lines
    std::string exe;
    char const *windowClass;   // the window it makes; NULL when none
    char const *arguments;
};

struct Series {
    Program const *program;
    std::vector<double> window;  // start-up: until its window exists
    std::vector<double> icon;    // start-up: until the tray icon exists; second start: until it ended
};

std::string sBin;
std::string sRuns;
int sFailures;
DWORD sSettleMs = kLeastSettleMs;

// Neither FAKEJVM_SCRIPT nor FAKEJVM_LOG: the stand-in's built-in sample
// application, and no log file written on every JNI call.
std::vector<std::string> QuietJava()
{
    return {"FAKEJVM_SCRIPT", "FAKEJVM_LOG"};
}

std::vector<std::string> LoggedJava(std::string const &log)
{
    return {"FAKEJVM_SCRIPT", "FAKEJVM_LOG=" + log};
}

// The cheapest look at the tray the harness can take: two window lookups.
bool TrayIconShown()
{
    HWND tray = FindWindowA(kTrayWindowClass, NULL);
    return tray && FindWindowExA(tray, NULL, kTrayIconClass, NULL) != NULL;
}

// The tray window itself stays once made (hidden while it holds no icon).
bool TrayEmpty()
{
    return !TrayIconShown();
}

bool Failed(std::string const &what)
{
    fprintf(stderr, "chimelet_bench_start: %s\n", what.c_str());
    ++sFailures;
    return false;
}

bool Start(Program const &program, std::vector<std::string> const &environment, Child *child)
{
    std::string error;
    if (!StartChild(program.exe, program.arguments, sRuns, environment, child, &error))
        return Failed(error);
    return true;
}

// Starts the program and polls for its window and the tray icon.
bool TimeStart(Program const &program, std::vector<std::string> const &environment, Child *child,
               double *windowUs, double *iconUs)
{
    *windowUs = -1;
    Clock::time_point start = Clock::now();
    if (!Start(program, environment, child))
        return false;
    for (;;) {
        if (*windowUs < 0 && FindWindowA(program.windowClass, NULL))
            *windowUs = MicrosecondsSince(start);
        if (TrayIconShown()) {
            *iconUs = MicrosecondsSince(start);
            if (*windowUs < 0)
                *windowUs = *iconUs;
            return true;
        }
        if (!ChildRunning(*child))
            return Failed(std::string(program.name) + " ended before its tray icon showed");
        if (MicrosecondsSince(start) > kAppearMs * 1000.0)
            return Failed(std::string(program.name) + ": no tray icon after " + std::to_string(kAppearMs) + " ms");
        Sleep(1);
    }
}

// WM_CLOSE to the program's window; it must end with 0 and its icon go.
bool CloseCleanly(Program const &program, Child *child)
{
    bool clean = true;
    HWND window = NULL;
    for (HWND candidate : FindTopLevelWindows(program.windowClass, child->pid))
        window = candidate;
    if (!window || !PostMessageA(window, WM_CLOSE, 0, 0))
        clean = Failed(std::string(program.name) + ": no window to close");
    DWORD code = 0;
    if (WaitChild(child, kExitMs, &code) != WaitResult::Exited)
        clean = Failed(std::string(program.name) + " did not end after WM_CLOSE; the watchdog ended it");
    else if (code != 0)
        clean = Failed(std::string(program.name) + " ended with exit code " + std::to_string(code));
    EndChild(child);
    // Each start finds the tray as the last did: empty, its window hidden.
    if (!WaitUntil(kExitMs, TrayEmpty, 5))
        clean = Failed(std::string(program.name) + ": the tray icon stayed after the end");
    return clean;
}

bool NothingRunning()
{
    if (FindWindowA(kGhostWindowClass, NULL) || FindWindowA(kFloorClassName, NULL) || !TrayEmpty())
        return Failed("a Chimelet, a floor or a tray icon is already running in this prefix");
    return true;
}

// A first instance with the stand-in's log: both kinds of second start must
// reach it (showReminderList once each) and leave it the only instance;
// closing it must tell Java to quit. Prints how long after the icon the tray
// was bound.
bool CheckFirstInstance(Program const &chimelet, Program const &second)
{
    std::string log = sRuns + "\\check-fakejvm.log";
    DeleteFileA(log.c_str());
    Child first;
    double windowUs = 0, iconUs = 0;
    if (!TimeStart(chimelet, LoggedJava(log), &first, &windowUs, &iconUs)) {
        EndChild(&first);
        return false;
    }
    Clock::time_point iconSeen = Clock::now();
    if (!WaitForLines(log, "attach ", 1, kAppearMs)) {
        EndChild(&first);
        return Failed("the first instance never bound its tray to Java");
    }
    DWORD boundMs = (DWORD)(MicrosecondsSince(iconSeen) / 1000);
    PrintFact("start.bound-after-icon-ms", std::to_string(boundMs));
    if (boundMs * 5 > sSettleMs)
        sSettleMs = boundMs * 5;

    bool ok = true;
    Program const *starts[] = {&chimelet, &second};
    for (Program const *program : starts) {
        Child child;
        DWORD code = 1;
        if (!Start(*program, QuietJava(), &child) || WaitChild(&child, kExitMs, &code) != WaitResult::Exited
            || code != 0)
            ok = Failed(std::string(program->name) + ": the second start did not end with 0");
        EndChild(&child);
    }
    if (!WaitForLines(log, kInvokeShowReminders, 2, kAppearMs))
        ok = Failed("the second starts did not both reach the first instance");
    if (FindTopLevelWindows(kGhostWindowClass).size() != 1)
        ok = Failed("a second start left a second ghost window");
    ok = CloseCleanly(chimelet, &first) && ok;
    if (CountLinesWithPrefix(log, kInvokeQuit) != 1)
        ok = Failed("closing the first instance did not tell Java to quit once");
    return ok;
}

std::vector<Series> SeriesOf(std::vector<Program const *> const &programs)
{
    std::vector<Series> series;
    for (Program const *program : programs)
        series.push_back({program, {}, {}});
    return series;
}

// Before a round: whether the failures so far still let the timings go on.
bool FewFailures(int)
{
    return sFailures < kMaxFailures;
}

// Every program once a round (RunRounds). A round a program failed in holds
// -1 for it.
void TimeStartUp(std::vector<Program const *> const &programs, int runs, int warmup)
{
    std::vector<Series> series = SeriesOf(programs);
    size_t const count = series.size();
    RunRounds(count, warmup + runs, [&](size_t entry, int round) {
        Series &s = series[entry];
        Child child;
        double windowUs = -1, iconUs = -1;
        bool shown = TimeStart(*s.program, QuietJava(), &child, &windowUs, &iconUs);
        if (shown) {
            Sleep(sSettleMs);
            CloseCleanly(*s.program, &child);
        } else {
            EndChild(&child);
            WaitUntil(kExitMs, TrayEmpty, 5);
            windowUs = iconUs = -1;
        }
        if (round >= warmup) {
            s.window.push_back(windowUs);
            s.icon.push_back(iconUs);
        }
    }, FewFailures);
    for (Series const &s : series) {
        PrintResult(std::string("start.") + s.program->name + ".window", Summarize(s.window));
        PrintResult(std::string("start.") + s.program->name + ".icon", Summarize(s.icon));
        PrintSamples(std::string("start.") + s.program->name + ".icon", s.icon);
    }
    // The first program is the one measured, the second its floor: every
    // other program against the floor, and the first against every other.
    for (size_t i = 0; i < count; ++i) {
        if (i == 1)
            continue;
        std::string name = std::string("start.") + series[i].program->name + "/" + series[1].program->name;
        PrintRatio(name + ".window", Summarize(PairedRatios(series[i].window, series[1].window)));
        PrintRatio(name + ".icon", Summarize(PairedRatios(series[i].icon, series[1].icon)));
    }
    for (size_t i = 2; i < count; ++i) {
        std::string name = std::string("start.") + series[0].program->name + "/" + series[i].program->name;
        PrintRatio(name + ".icon", Summarize(PairedRatios(series[0].icon, series[i].icon)));
    }
}

// With one Chimelet running (bound to Java), each program is started and
// timed until it has ended.
void TimeSecondStart(Program const &chimelet, std::vector<Program const *> const &programs, int runs, int warmup)
{
    Child first;
    double windowUs = 0, iconUs = 0;
    if (!TimeStart(chimelet, QuietJava(), &first, &windowUs, &iconUs)) {
        EndChild(&first);
        return;
    }
    Sleep(sSettleMs);

    std::vector<Series> series = SeriesOf(programs);
    size_t const count = series.size();
    RunRounds(count, warmup + runs, [&](size_t entry, int round) {
        Series &s = series[entry];
        Child child;
        double us = -1;
        Clock::time_point start = Clock::now();
        if (Start(*s.program, QuietJava(), &child)) {
            DWORD code = 1;
            WaitResult result = WaitChild(&child, kExitMs, &code);
            us = MicrosecondsSince(start);
            if (result != WaitResult::Exited || code != 0) {
                Failed(std::string(s.program->name) + ": a second start did not end with 0");
                us = -1;
            }
        }
        EndChild(&child);
        if (round >= warmup)
            s.icon.push_back(us);
    }, FewFailures);
    if (!ChildRunning(first) || FindTopLevelWindows(kGhostWindowClass).size() != 1)
        Failed("the first instance did not stay the only one through the second starts");
    CloseCleanly(chimelet, &first);
    for (Series const &s : series) {
        PrintResult(std::string("second.") + s.program->name, Summarize(s.icon));
        PrintSamples(std::string("second.") + s.program->name, s.icon);
    }
    for (size_t i = 0; i < count; ++i) {
        if (i != 1)
            PrintRatio(std::string("second.") + series[i].program->name + "/" + series[1].program->name,
                       Summarize(PairedRatios(series[i].icon, series[1].icon)));
    }
}

}  // namespace

int main(int argc, char **argv)
{
    int runs = 0;
    int secondRuns = 0;
    int warmup = 0;
    if (!ReadCountOption(argc, argv, "--runs", kDefaultRuns, 1, &runs)
        || !ReadCountOption(argc, argv, "--second-runs", kDefaultSecondRuns, 1, &secondRuns)
        || !ReadCountOption(argc, argv, "--warmup", kDefaultWarmup, 0, &warmup)) {
        fprintf(stderr, "usage: chimelet_bench_start [--runs N] [--second-runs N] [--warmup N] [--breakdown]\n");
        return 2;
    }

    sBin = ProgramDirectory();
    sRuns = sBin + "\\bench-runs";
    CreateDirectoryA(sRuns.c_str(), NULL);
    if (!NothingRunning())
        return 1;
    if (!RegisterJavaRuntime(sBin + "\\fakejvm.dll", "1.4")) {
        Failed("cannot register the stand-in runtime");
        return 1;
    }

    Program const chimelet = {"chimelet", sBin + "\\Chimelet.exe", kGhostWindowClass, ""};
    Program const floorTray = {"floor", sBin + "\\bench_floor_tray.exe", kFloorClassName, ""};
    Program const shellOnly = {"shell-nojava", sBin + "\\bench_shell_nojava.exe", kGhostWindowClass, ""};
    Program const floorSecond = {"floor", sBin + "\\bench_floor_second.exe", NULL, ""};
    Program const empty = {"empty", sBin + "\\bench_empty.exe", NULL, ""};
    std::string const steps = sBin + "\\bench_floor_steps.exe";
    Program const stepsImports = {"floor+imports", steps, kFloorClassName, ""};
    Program const stepsGuard = {"floor+imports+guard", steps, kFloorClassName, "guard"};
    Program const stepsThread = {"floor+imports+guard+thread", steps, kFloorClassName, "guard thread"};
    Program const stepsClass = {"floor+imports+guard+thread+class", steps, kFloorClassName, "guard thread class"};

    if (CheckFirstInstance(chimelet, floorSecond)) {
        std::vector<Program const *> startUp = {&chimelet, &floorTray};
        if (HasFlag(argc, argv, "--breakdown"))
            startUp.insert(startUp.end(), {&stepsImports, &stepsGuard, &stepsThread, &stepsClass, &shellOnly});
        TimeStartUp(startUp, runs, warmup);
        TimeSecondStart(chimelet, {&chimelet, &floorSecond, &empty}, secondRuns, warmup);
    }

    UnregisterJavaRuntimes();
    PrintFact("start.failed-runs", std::to_string(sFailures));
    return sFailures == 0 ? 0 : 1;
}
