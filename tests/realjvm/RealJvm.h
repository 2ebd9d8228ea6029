// The shell against a real Java VM: one scenario per process, since a VM
// cannot be created twice in one. A scenario is a start of the real WinMain
// with the real VM library, what a user then does on the tray, and what must
// show: in the application's call log, in the message boxes, on the VM's
// output streams and in the exit status of the process.
//
// A run has two processes. The parent only supervises: it passes the child's
// output through (so a VM that aborts loses nothing), keeps a copy, and once
// the child has ended judges its exit status, that output and the final call
// log. The child runs the shell: WinMain on its main thread, a driver thread
// acting as the user, and a watchdog thread that ends a stuck run.
#ifndef CHIMELET_REALJVM_H
#define CHIMELET_REALJVM_H

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

// Exit statuses of the runner (the parent's, and the child's own verdict).
int const kStatusPassed = 0;
int const kStatusFailed = 1;
int const kStatusUsage = 2;       // bad arguments or environment: nothing was run
int const kStatusWatchdog = 3;    // the child's watchdog ended a stuck run
int const kStatusSkipped = 77;    // CTest's SKIP_RETURN_CODE

// What the user does, step by step, once the tray is bound.
enum class Act {
    SecondStart,   // a second start in this process: FindOurWindow() sends 1126
    Choose,        // button press on the icon, `command` chosen in the open menu (0: dismissed)
    ExitNo,        // "Exit" chosen, the confirmation answered No
    ExitYes,       // "Exit" chosen, answered Yes: the run ends
    Close,         // WM_CLOSE posted to the ghost window from outside: the run ends
    Openings,      // `count` openings, each menu dismissed
    HoldRefs,      // one opening (dismissed) during which the monitor thread holds `count`
                   // more local references: -Xcheck:jni warns when its frame then exceeds 32
    AwaitEnd,      // nothing more: the Java application ends by itself
};

struct Step {
    Act act = Act::Choose;
    UINT command = 0;
    UINT button = WM_RBUTTONDOWN;      // the mouse message the icon reports
    int count = 1;                     // Openings: openings; HoldRefs: references
    int limitMs = 0;                   // the watchdog's limit for the step; 0 = the usual
    // The lines the step adds to the call log, after the three questions
    // that every opening of the menu asks (templates, events, Do Not
    // Disturb); for a step that ends the run, up to the process's end.
    std::vector<std::string> calls;
    // The whole menu as Describe() prints it, at this opening; "" = any.
    std::string menu;
};

struct ExpectedBox {
    std::string text;
    std::string caption;
    UINT type;
};

enum class Jar { Present, Absent };

// What the user does while main still runs (the data delays it).
enum class BeforeBind {
    Nothing,
    Poke,    // a second start and a press: answered, neither reaches Java or opens a menu
    Close,   // WM_CLOSE: the icon goes and the monitor thread ends; Java runs on
};

// What the VM may print besides its "Picked up JAVA_TOOL_OPTIONS" line.
enum class Output {
    Quiet,                // no -Xcheck:jni complaint, no Java exception
    DescribesExceptions,  // Java exceptions described on stderr (listed in `output`)
    WarnsLocalRefs,       // the local-reference warning of -Xcheck:jni (the canary)
};

struct Scenario {
    std::string name;
    std::string purpose;
    Jar jar = Jar::Present;
    std::string data;                 // the CHIMELET_APP_DATA file; "" = the sample data
    bool binds = true;                // main runs and the tray binds
    BeforeBind beforeBind = BeforeBind::Nothing;
    std::vector<Step> steps;
    std::vector<ExpectedBox> boxes;   // every message box of the run, in order
    int status = 0;                   // exit status of the whole process
    Output quiet = Output::Quiet;
    std::vector<std::string> output;  // texts the VM's output must hold
    // Lines counted in the call log once the process has ended.
    std::vector<std::pair<std::string, int>> lines;
    int endAfterMs = 0;               // AwaitEnd: the data's end-after-ms
};

struct RunOptions {
    std::string jvmPath;   // the VM library, a unix path
    std::string logPath;   // CHIMELET_APP_LOG
    std::string dataPath;  // where the scenario's data file is written
};

std::vector<Scenario> const &Scenarios();
Scenario const *FindScenario(std::string const &name);

// The whole call log as lines; a line still being written is left out.
std::vector<std::string> ReadAppLog(std::string const &path);
int CountLines(std::vector<std::string> const &lines, std::string const &line);

// The parent: forks the child, passes its output through, judges the end.
// Returns the runner's exit status.
int Supervise(Scenario const &scenario, RunOptions const &options);

// The child: runs the scenario and ends the process with its verdict.
[[noreturn]] void RunChild(Scenario const &scenario, RunOptions const &options);

#endif
