// The runner's child process: the shell's real start-up on the main thread
// with the real VM library, a driver thread that acts as the user once the
// tray is bound, a watchdog thread that ends a stuck run, and the verdict
// once WinMain has returned.
//
// How the driver knows that a click has been handled: it posts the click,
// waits until the menu handler (on the monitor thread) has been called, then
// sends WM_NULL to the ghost window. The monitor thread serves sent messages
// only in its message loop and at the start of a modal loop (a message box),
// so the send returns once the chosen command has run, or once the Exit
// confirmation opens; for Exit the driver waits for the box and sends again.

#include "RealJvm.h"

#include <windows.h>

#include <jni.h>

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>

#include "TestSupport.h"
#include "kelvarin.h"
#include "winstub_control.h"

namespace {

using Clock = std::chrono::steady_clock;

// Phase limits: generous for a loaded machine, far below CTest's timeout, so
// that a hang ends with its phase named rather than with a kill.
int const kBindLimitMs = 20000;
int const kStepLimitMs = 10000;
int const kOpeningsLimitMs = 40000;
int const kEndLimitMs = 10000;
// "Within seconds": from the Exit click or WM_CLOSE to WinMain's return.
int const kEndPromptMs = 5000;
int const kDriverGraceMs = 5000;

// From JNI version 20 on, -Xcheck:jni no longer counts local references.
jint const kFirstUncountedJniVersion = 0x00140000;

std::vector<std::string> const kMenuQuestions = {"getTemplateList", "getEventsForToday", "isDoNotDisturbOn"};

// Everything the threads of the child share. Allocated once and never
// freed: a Java application that ends the process runs the static
// destructors while the other threads still run.
struct RunState {
    std::mutex lock;
    std::condition_variable changed;
    Scenario const *scenario = nullptr;
    RunOptions options;

    // The next opening of the menu.
    UINT choose = 0;
    int refs = 0;
    std::string expectedMenu;
    // What the openings showed.
    int tracked = 0;
    std::string lastMenu;
    bool chosenAbsent = false;
    int menuMismatches = 0;
    std::string firstMismatch;

    // Message boxes, and the answer to the next one.
    std::vector<WinStubMessageBox> boxes;
    int answer = 0;

    std::vector<std::string> failures;
    bool winMainReturned = false;
    bool driverDone = false;

    // The step that ends the run.
    bool endStarted = false;
    std::string endLabel;
    size_t endLogPos = 0;
    std::vector<std::string> endLines;
    Clock::time_point endAt;
};

RunState &R()
{
    static RunState *state = new RunState;
    return *state;
}

void Fail(std::string const &what)
{
    std::lock_guard<std::mutex> hold(R().lock);
    R().failures.push_back(what);
}

// ---- Watchdog ----

struct WatchdogState {
    std::mutex lock;
    std::condition_variable changed;
    bool armed = false;
    bool finished = false;
    Clock::time_point deadline;
    int limitMs = 0;
    std::string phase;
};

WatchdogState &Dog()
{
    static WatchdogState *state = new WatchdogState;
    return *state;
}

// From now on the run must get past `phase` within ms, or it is ended.
void ArmWatchdog(int ms, std::string const &phase)
{
    WatchdogState &dog = Dog();
    std::lock_guard<std::mutex> hold(dog.lock);
    dog.armed = true;
    dog.deadline = Clock::now() + std::chrono::milliseconds(ms);
    dog.limitMs = ms;
    dog.phase = phase;
    dog.changed.notify_all();
}

void FinishWatchdog()
{
    WatchdogState &dog = Dog();
    std::lock_guard<std::mutex> hold(dog.lock);
    dog.finished = true;
    dog.changed.notify_all();
}

[[noreturn]] void EndStuckRun(std::string const &phase, int limitMs)
{
    fprintf(stderr, "realjvm: watchdog: %s: no progress within %d ms; ending the run\n", phase.c_str(), limitMs);
    std::vector<std::string> log = ReadAppLog(R().options.logPath);
    size_t from = log.size() > 8 ? log.size() - 8 : 0;
    fprintf(stderr, "realjvm: the call log's last lines (%zu in all):\n", log.size());
    for (size_t i = from; i < log.size(); ++i)
        fprintf(stderr, "    %s\n", log[i].c_str());
    {
        // Not taken if a thread died holding it: the faults are only a help.
        std::unique_lock<std::mutex> hold(R().lock, std::try_to_lock);
        if (hold.owns_lock()) {
            for (std::string const &failure : R().failures)
                fprintf(stderr, "realjvm: earlier: %s\n", failure.c_str());
        }
    }
    fflush(NULL);
    _exit(kStatusWatchdog);
}

void Watch()
{
    WatchdogState &dog = Dog();
    std::unique_lock<std::mutex> hold(dog.lock);
    for (;;) {
        if (dog.finished)
            return;
        if (!dog.armed) {
            dog.changed.wait(hold);
            continue;
        }
        Clock::time_point deadline = dog.deadline;
        dog.changed.wait_until(hold, deadline);
        if (!dog.finished && dog.armed && dog.deadline == deadline && Clock::now() >= deadline)
            EndStuckRun(dog.phase, dog.limitMs);
    }
}

// ---- Handlers of the modal calls (run on the monitor thread) ----

// Makes `count` more local references in the monitor thread's current
// frame, then deletes them. -Xcheck:jni warns as soon as a frame holds more
// than 32, so 33 must warn even in an empty frame, and 32 warn only if the
// shell left a reference of its own behind: the soak's measure of growth.
void HoldLocalReferences(int count)
{
    JNIEnv *env = sg_pEnvThread;
    jint version = env->GetVersion();
    if (version >= kFirstUncountedJniVersion) {
        printf("realjvm: this VM (JNI version 0x%x) no longer counts local references\n", (unsigned)version);
        // A run that exists to see the warning has nothing to show.
        if (R().scenario->quiet == Output::WarnsLocalRefs) {
            printf("realjvm %s: skipped\n", R().scenario->name.c_str());
            fflush(NULL);
            _exit(kStatusSkipped);
        }
        return;
    }
    std::vector<jobject> held;
    for (int i = 0; i < count; ++i)
        held.push_back(env->NewStringUTF("held on purpose"));
    for (jobject ref : held)
        env->DeleteLocalRef(ref);
}

UINT OnTrackPopupMenu(HMENU menu, UINT, int, int, HWND)
{
    RunState &r = R();
    std::vector<MenuRow> rows = ReadMenu(menu);
    std::string shown = Describe(rows);
    UINT command;
    int refs;
    std::string expected;
    {
        std::lock_guard<std::mutex> hold(r.lock);
        command = r.choose;
        refs = r.refs;
        r.refs = 0;
        expected = r.expectedMenu;
    }
    if (refs > 0)
        HoldLocalReferences(refs);
    bool holds = command == 0 || HoldsCommand(rows, command);

    std::lock_guard<std::mutex> hold(r.lock);
    ++r.tracked;
    r.lastMenu = shown;
    r.chosenAbsent = !holds;
    if (!expected.empty() && shown != expected) {
        ++r.menuMismatches;
        if (r.firstMismatch.empty())
            r.firstMismatch = shown;
    }
    r.changed.notify_all();
    return holds ? command : 0;
}

int OnMessageBox(WinStubMessageBox const &box)
{
    RunState &r = R();
    std::lock_guard<std::mutex> hold(r.lock);
    r.boxes.push_back(box);
    int answer = r.answer;
    r.answer = 0;
    // A question nobody expected is declined, so that the run goes on; the
    // record of boxes shows it.
    if (!answer)
        answer = (box.type & MB_TYPEMASK) == MB_OK ? IDOK : IDNO;
    r.changed.notify_all();
    return answer;
}

// ---- The driver: the user ----

// Waits until `done` (evaluated under the lock) or WinMain's return.
bool WaitUntil(std::function<bool()> const &done, int ms)
{
    RunState &r = R();
    std::unique_lock<std::mutex> hold(r.lock);
    r.changed.wait_for(hold, std::chrono::milliseconds(ms), [&] { return done() || r.winMainReturned; });
    return done();
}

bool WinMainReturned()
{
    std::lock_guard<std::mutex> hold(R().lock);
    return R().winMainReturned;
}

bool Bound()
{
    if (!__atomic_load_n(&sg_trayBound, __ATOMIC_ACQUIRE))
        return false;
    return CountLines(ReadAppLog(R().options.logPath), "main") > 0;
}

std::string Join(std::vector<std::string> const &lines)
{
    std::string text = "[";
    for (size_t i = 0; i < lines.size(); ++i)
        text += (i ? ", \"" : "\"") + lines[i] + "\"";
    return text + "]";
}

std::string FirstDifference(std::vector<std::string> const &got, std::vector<std::string> const &expected)
{
    size_t i = 0;
    while (i < got.size() && i < expected.size() && got[i] == expected[i])
        ++i;
    return "line " + std::to_string(i + 1) + " is \"" + (i < got.size() ? got[i] : "(none)") + "\" where \""
           + (i < expected.size() ? expected[i] : "(none)") + "\" was expected (" + std::to_string(got.size())
           + " lines, expected " + std::to_string(expected.size()) + ")";
}

// What a failing comparison of call-log lines says: the lists themselves
// when short, else the first difference.
std::string Difference(std::vector<std::string> const &got, std::vector<std::string> const &expected)
{
    if (got.size() <= 12 && expected.size() <= 12)
        return "Java was asked " + Join(got) + ", expected " + Join(expected);
    return "in the call log, " + FirstDifference(got, expected);
}

std::vector<std::string> SplitLines(std::string const &text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    if (start < text.size())
        lines.push_back(text.substr(start));
    return lines;
}

std::vector<std::string> LinesSince(size_t pos)
{
    std::vector<std::string> log = ReadAppLog(R().options.logPath);
    return std::vector<std::string>(log.begin() + (long)(pos < log.size() ? pos : log.size()), log.end());
}

bool CheckCalls(std::string const &label, size_t pos, std::vector<std::string> const &expected)
{
    std::vector<std::string> got = LinesSince(pos);
    if (got == expected)
        return true;
    Fail(label + ": " + Difference(got, expected));
    return false;
}

std::vector<std::string> Opening(std::vector<std::string> const &calls)
{
    std::vector<std::string> lines = kMenuQuestions;
    lines.insert(lines.end(), calls.begin(), calls.end());
    return lines;
}

// One press on the icon, `command` chosen in the menu it opens (0:
// dismissed); `answer` answers the confirmation that the command asks;
// `refs` references are held on the monitor thread while the menu is open.
bool Click(HWND ghost, std::string const &label, UINT button, UINT command, int answer, int refs,
           std::string const &menu)
{
    RunState &r = R();
    int tracked;
    size_t boxes;
    {
        std::lock_guard<std::mutex> hold(r.lock);
        r.choose = command;
        r.refs = refs;
        r.expectedMenu = menu;
        r.answer = answer;
        tracked = r.tracked;
        boxes = r.boxes.size();
    }
    if (!WinStub_ClickTrayIcon(ghost, kNotifyIconId, button)) {
        Fail(label + ": there is no tray icon to press");
        return false;
    }
    if (!WaitUntil([&] { return r.tracked > tracked; }, kStepLimitMs)) {
        Fail(label + ": the press opened no menu");
        return false;
    }
    SendMessageA(ghost, WM_NULL, 0, 0);
    if (answer) {
        if (!WaitUntil([&] { return r.boxes.size() > boxes; }, kStepLimitMs)) {
            Fail(label + ": no confirmation was asked");
            return false;
        }
        SendMessageA(ghost, WM_NULL, 0, 0);
    }
    std::lock_guard<std::mutex> hold(r.lock);
    if (r.chosenAbsent) {
        Fail(label + ": the open menu has no command " + std::to_string(command) + ":\n" + r.lastMenu);
        return false;
    }
    return true;
}

bool CheckMenus(std::string const &label, std::string const &expected)
{
    RunState &r = R();
    std::lock_guard<std::mutex> hold(r.lock);
    int mismatches = r.menuMismatches;
    std::string first = r.firstMismatch;
    r.menuMismatches = 0;
    r.firstMismatch.clear();
    if (mismatches == 0)
        return true;
    r.failures.push_back(label + ": " + std::to_string(mismatches) + " opening(s) showed another menu; in the first, "
                         + FirstDifference(SplitLines(first), SplitLines(expected)));
    return false;
}

// The step that ends the run: what it must add to the call log by the end
// of WinMain, and by when.
void BeginEnd(std::string const &label, size_t pos, std::vector<std::string> const &lines, int limitMs)
{
    RunState &r = R();
    ArmWatchdog(limitMs, label + ": WinMain must return");
    std::lock_guard<std::mutex> hold(r.lock);
    r.endStarted = true;
    r.endLabel = label;
    r.endLogPos = pos;
    r.endLines = lines;
    r.endAt = Clock::now();
}

std::string Label(size_t index, Step const &step)
{
    std::string what;
    switch (step.act) {
    case Act::SecondStart: what = "second start"; break;
    case Act::Choose:
        what = step.command ? "choose " + std::to_string(step.command) : "dismiss the menu";
        what += step.button == WM_LBUTTONDOWN ? " (left button)" : "";
        break;
    case Act::ExitNo: what = "Exit, answered No"; break;
    case Act::ExitYes: what = "Exit, answered Yes"; break;
    case Act::Close: what = "WM_CLOSE from outside"; break;
    case Act::Openings: what = std::to_string(step.count) + " openings dismissed"; break;
    case Act::HoldRefs: what = "an opening with " + std::to_string(step.count) + " more local references"; break;
    case Act::AwaitEnd: what = "wait for Java to end by itself"; break;
    }
    return "step " + std::to_string(index + 1) + " (" + what + ")";
}

bool RunStep(HWND ghost, size_t index, Step const &step)
{
    std::string const label = Label(index, step);
    size_t const pos = ReadAppLog(R().options.logPath).size();
    int const limitMs = step.limitMs ? step.limitMs : kStepLimitMs;

    switch (step.act) {
    case Act::SecondStart:
        ArmWatchdog(limitMs, label);
        // Only while the ghost window exists: a start that finds none would
        // make a second monitor thread in this process.
        if (!FindWindowA(szProgName, NULL) || !FindOurWindow()) {
            Fail(label + ": the second start found no running instance");
            return false;
        }
        return CheckCalls(label, pos, step.calls);
    case Act::Choose:
        ArmWatchdog(limitMs, label);
        return Click(ghost, label, step.button, step.command, 0, 0, step.menu) && CheckMenus(label, step.menu)
               && CheckCalls(label, pos, Opening(step.calls));
    case Act::ExitNo:
        ArmWatchdog(limitMs, label);
        return Click(ghost, label, step.button, step.command, IDNO, 0, step.menu) && CheckMenus(label, step.menu)
               && CheckCalls(label, pos, Opening(step.calls));
    case Act::HoldRefs:
        ArmWatchdog(limitMs, label);
        return Click(ghost, label, step.button, 0, 0, step.count, step.menu) && CheckMenus(label, step.menu)
               && CheckCalls(label, pos, Opening(step.calls));
    case Act::Openings: {
        ArmWatchdog(kOpeningsLimitMs, label);
        std::vector<std::string> expected;
        for (int i = 0; i < step.count; ++i) {
            if (!Click(ghost, label + ", opening " + std::to_string(i + 1), step.button, 0, 0, 0, step.menu))
                return false;
            expected.insert(expected.end(), kMenuQuestions.begin(), kMenuQuestions.end());
        }
        return CheckMenus(label, step.menu) && CheckCalls(label, pos, expected);
    }
    case Act::ExitYes:
        BeginEnd(label, pos, Opening(step.calls), kEndLimitMs);
        // The calls are judged once WinMain has returned: quit's come later.
        return Click(ghost, label, step.button, step.command, IDYES, 0, step.menu) && CheckMenus(label, step.menu);
    case Act::Close:
        BeginEnd(label, pos, step.calls, kEndLimitMs);
        // From outside, as another program would: found by its class.
        if (!PostMessageA(FindWindowA(szProgName, NULL), WM_CLOSE, 0, 0)) {
            Fail(label + ": the ghost window is gone");
            return false;
        }
        return true;
    case Act::AwaitEnd:
        BeginEnd(label, pos, step.calls, R().scenario->endAfterMs + kEndLimitMs);
        return true;
    }
    return false;
}

// While main still runs. A second start is answered without reaching Java,
// and a press on the icon is taken from the queue before the bind message
// that main's return posts, so it must open nothing, even later. WM_CLOSE
// ends the monitor thread, and with it the tray, before it was ever bound.
void ActBeforeBind(BeforeBind what)
{
    ArmWatchdog(kBindLimitMs, "start-up: waiting for main in the call log");
    HWND ghost = NULL;
    while (!WinMainReturned()) {
        ghost = FindWindowA(szProgName, NULL);
        if (ghost && CountLines(ReadAppLog(R().options.logPath), "main") > 0)
            break;
        usleep(2000);
    }
    std::string const label = "before binding";
    if (!ghost || __atomic_load_n(&sg_trayBound, __ATOMIC_ACQUIRE)) {
        Fail(label + ": the tray was bound, or gone, before the driver could act");
        return;
    }
    ArmWatchdog(kStepLimitMs, label);
    if (what == BeforeBind::Close) {
        PostMessageA(ghost, WM_CLOSE, 0, 0);
        if (WaitForSingleObject(sg_hMonitorThread, kStepLimitMs) != WAIT_OBJECT_0)
            Fail(label + ": WM_CLOSE did not end the monitor thread");
        else if (WinStub_TrayIconCount() != 0)
            Fail(label + ": the monitor thread ended, its tray icon stays");
        return;
    }
    size_t pos = ReadAppLog(R().options.logPath).size();
    if (!FindOurWindow())
        Fail(label + ": the second start found no running instance");
    else
        CheckCalls(label + ", second start", pos, {});
    if (!WinStub_ClickTrayIcon(ghost, kNotifyIconId, WM_RBUTTONDOWN))
        Fail(label + ": there is no tray icon to press");
}

void Drive()
{
    RunState &r = R();
    Scenario const &scenario = *r.scenario;
    if (scenario.beforeBind != BeforeBind::Nothing)
        ActBeforeBind(scenario.beforeBind);
    if (!scenario.binds && scenario.endAfterMs)
        ArmWatchdog(scenario.endAfterMs + kEndLimitMs, "WinMain must return once Java ends by itself");
    if (scenario.binds) {
        ArmWatchdog(kBindLimitMs, "start-up: waiting for main in the call log and the monitor thread attached");
        while (!Bound() && !WinMainReturned())
            usleep(5000);
        HWND ghost = FindWindowA(szProgName, NULL);
        if (!Bound()) {
            Fail("WinMain returned before the tray was bound");
        } else if (!ghost) {
            Fail("the tray is bound, but there is no ghost window");
        } else {
            bool ok = true;
            {
                std::lock_guard<std::mutex> hold(r.lock);
                if (r.tracked != 0) {
                    r.failures.push_back("a press before binding opened a menu");
                    ok = false;
                }
            }
            for (size_t i = 0; ok && i < scenario.steps.size(); ++i)
                ok = RunStep(ghost, i, scenario.steps[i]);
            bool ending;
            {
                std::lock_guard<std::mutex> hold(r.lock);
                ending = r.endStarted;
            }
            if (!ok && !ending) {
                // A step failed: end the run the way a user could, so that
                // the verdict still comes from WinMain's return.
                ArmWatchdog(kEndLimitMs, "after a failed step: WM_CLOSE must end the run");
                PostMessageA(ghost, WM_CLOSE, 0, 0);
            }
        }
    }
    std::lock_guard<std::mutex> hold(r.lock);
    r.driverDone = true;
    r.changed.notify_all();
}

// ---- Start-up and verdict ----

std::string WindowsPath(std::string const &unixPath)
{
    std::string path = "Z:" + unixPath;
    for (char &c : path) {
        if (c == '/')
            c = '\\';
    }
    return path;
}

void SetText(HKEY key, char const *name, std::string const &value)
{
    RegSetValueExA(key, name, 0, REG_SZ, (BYTE const *)value.c_str(), (DWORD)value.size() + 1);
}

// What an installed runtime leaves in the registry, with the real VM
// library as its "RuntimeLib" (and its JDK as "JavaHome").
bool SeedRegistry(std::string const &jvmPath)
{
    std::string home = jvmPath;
    for (int i = 0; i < 3; ++i)
        home = home.substr(0, home.find_last_of('/'));

    HKEY root;
    HKEY version;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\JavaSoft\\Java Runtime Environment", 0, NULL, 0,
                        KEY_ALL_ACCESS, NULL, &root, NULL) != ERROR_SUCCESS)
        return false;
    SetText(root, "CurrentVersion", "1.4");
    bool made = RegCreateKeyExA(root, "1.4", 0, NULL, 0, KEY_ALL_ACCESS, NULL, &version, NULL) == ERROR_SUCCESS;
    if (made) {
        SetText(version, "JavaHome", WindowsPath(home));
        SetText(version, "MicroVersion", "0");
        SetText(version, "RuntimeLib", WindowsPath(jvmPath));
        RegCloseKey(version);
    }
    RegCloseKey(root);
    return made;
}

// The shell hands the VM the jar beside the program by its Windows path.
// Wine would map that path to a file of this machine; a Linux VM takes it as
// a plain file name (and a drive's colon as a class path separator). So the
// program is named as if installed on a share, \\server\Chimelet, and the
// jar by that name is made to be the one in this directory.
bool PlaceJarBesideProgram(Scenario const &scenario)
{
    char const program[] = "\\\\server\\Chimelet\\Chimelet.exe";
    WinStub_SetModuleFileName(program);
    char jar[kPathSize];
    GetJarFileName(GetModuleHandleA(NULL), jar, sizeof jar);
    if (scenario.jar == Jar::Absent || symlink("chimelet.jar", jar) == 0 || errno == EEXIST)
        return true;
    fprintf(stderr, "realjvm: cannot link %s to chimelet.jar\n", jar);
    return false;
}

// A fresh call log, and the scenario's data (or the sample data).
bool PrepareFiles(Scenario const &scenario, RunOptions const &options)
{
    // Java appends to it: emptied here, and made, so that a log Java could
    // not open shows now rather than as a tray that never binds.
    std::ofstream log(options.logPath, std::ios::binary | std::ios::trunc);
    if (!log) {
        fprintf(stderr, "realjvm: cannot write the call log %s\n", options.logPath.c_str());
        return false;
    }
    log.close();
    if (scenario.data.empty())
        return unsetenv("CHIMELET_APP_DATA") == 0;
    std::ofstream data(options.dataPath, std::ios::binary | std::ios::trunc);
    data << scenario.data;
    data.close();
    if (!data) {
        fprintf(stderr, "realjvm: cannot write %s\n", options.dataPath.c_str());
        return false;
    }
    return setenv("CHIMELET_APP_DATA", options.dataPath.c_str(), 1) == 0;
}

std::string DescribeBox(std::string const &text, std::string const &caption, UINT type)
{
    char hex[16];
    snprintf(hex, sizeof hex, "0x%x", type);
    return "\"" + text + "\" / \"" + caption + "\" / " + hex;
}

int Judge(Scenario const &scenario, int result, Clock::time_point returned)
{
    RunState &r = R();
    std::lock_guard<std::mutex> hold(r.lock);
    std::vector<std::string> faults = r.failures;

    if (result != 0)
        faults.push_back("WinMain returned " + std::to_string(result));
    if (!r.driverDone)
        faults.push_back("the driver was still busy " + std::to_string(kDriverGraceMs)
                         + " ms after WinMain returned");

    std::vector<std::string> shown;
    std::vector<std::string> expected;
    for (WinStubMessageBox const &box : r.boxes)
        shown.push_back(DescribeBox(box.text, box.caption, box.type));
    for (ExpectedBox const &box : scenario.boxes)
        expected.push_back(DescribeBox(box.text, box.caption, box.type));
    if (shown != expected)
        faults.push_back("message boxes " + Join(shown) + ", expected " + Join(expected));

    if (scenario.binds && !r.endStarted && r.failures.empty())
        faults.push_back("WinMain returned while no step had ended the run");
    if (r.endStarted) {
        std::vector<std::string> log = ReadAppLog(r.options.logPath);
        size_t pos = r.endLogPos < log.size() ? r.endLogPos : log.size();
        std::vector<std::string> got(log.begin() + (long)pos, log.end());
        if (got != r.endLines)
            faults.push_back(r.endLabel + ", by WinMain's return: " + Difference(got, r.endLines));
        long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(returned - r.endAt).count();
        long long limit = scenario.endAfterMs + kEndPromptMs;
        if (ms > limit) {
            faults.push_back(r.endLabel + ": WinMain returned " + std::to_string(ms) + " ms after it, more than "
                             + std::to_string(limit) + " ms");
        }
    }

    if (faults.empty()) {
        printf("realjvm %s: the run passed its checks\n", scenario.name.c_str());
        return kStatusPassed;
    }
    fprintf(stderr, "realjvm %s: FAILED:\n", scenario.name.c_str());
    for (std::string const &fault : faults)
        fprintf(stderr, "  - %s\n", fault.c_str());
    return kStatusFailed;
}

}  // namespace

void RunChild(Scenario const &scenario, RunOptions const &options)
{
    setvbuf(stdout, NULL, _IOLBF, 0);
    RunState &r = R();
    r.scenario = &scenario;
    r.options = options;
    printf("realjvm %s: %s\n", scenario.name.c_str(), scenario.purpose.c_str());
    printf("realjvm %s: VM library %s\n", scenario.name.c_str(), options.jvmPath.c_str());
    if (!PrepareFiles(scenario, options) || !PlaceJarBesideProgram(scenario) || !SeedRegistry(options.jvmPath)) {
        fflush(NULL);
        _exit(kStatusUsage);
    }
    WinStub_SetMessageBoxHandler(OnMessageBox);
    WinStub_SetTrackPopupMenuHandler(OnTrackPopupMenu);

    std::thread(Watch).detach();
    ArmWatchdog(kBindLimitMs, "start-up");
    std::thread(Drive).detach();

    // The process's own start-up: settings path, guard, monitor thread, and
    // the launch of the real VM, which returns when Java has ended.
    char commandLine[] = "";
    int result = WinMain(GetModuleHandleA(NULL), NULL, commandLine, SW_SHOWDEFAULT);
    Clock::time_point const returned = Clock::now();
    {
        std::unique_lock<std::mutex> hold(r.lock);
        r.winMainReturned = true;
        r.changed.notify_all();
        r.changed.wait_for(hold, std::chrono::milliseconds(kDriverGraceMs), [&] { return r.driverDone; });
    }
    FinishWatchdog();
    int verdict = Judge(scenario, result, returned);
    // As ExitProcess: the monitor thread and the VM's threads may still run.
    fflush(NULL);
    _exit(verdict);
}
