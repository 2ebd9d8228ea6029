// The menu build against its floor, in one process: each opening's
// BuildNotifyIconMenu + DestroyMenu with the stand-in runtime bound, against
// the same menu tree made directly with the menu calls (the floor), and, to
// split the difference, the shell's build against a JNIEnv that costs
// nothing (the lean env). And a tray click as the monitor thread makes it:
// on a thread of its own, attached to the stand-in for the click alone,
// against the build on a thread left attached. Runs on the host against the
// Win32 stand-in and, cross-built, under Wine.
//
//   chimelet_bench_menu [--reps N] [--warmup N]   time the largest data
//   chimelet_bench_menu --check                   only check the instruments
//   chimelet_bench_menu --only shell|floor|lean|click|held
//                                                 time one build alone (for a
//                                                 profiler: nothing else runs)
//
// Before timing, the three builds are checked to make the very same menu
// tree, for the timed data and a few other shapes; a difference, or any JNI
// misuse the stand-in saw, fails the run (exit code 1).

#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "BenchStats.h"
#include "BoundJava.h"
#include "JavaScript.h"
#include "LeanJava.h"
#include "MenuFloor.h"
#include "TestSupport.h"
#include "TrayThread.h"
#include "fakejvm_control.h"
#include "kelvarin.h"

using namespace bench;

namespace {

// The largest data the menu shows: 999 templates, 800 event elements (400
// events). More is cut by the shell, so this is the most work an opening does.
int const kTemplates = 999;
int const kEventElements = 800;
char const kTemplatePrefix[] = "Reminder template ";
char const kEventPrefix[] = "Event ";

int const kDefaultReps = 200;
int const kDefaultWarmup = 20;
// The stand-in keeps its log in memory (up to 2 million lines) and an
// opening adds about 1800: emptied this often, outside the timed calls.
int const kRepsPerLogClear = 100;

// One shape of Java data, for the stand-in (script) and the lean env alike.
struct JavaData {
    char const *name;
    int templates;         // generated templates; -1: getTemplateList answers null
    int eventElements;     // generated event elements; -1: null
    int doNotDisturb;
    size_t scheduleRows;   // rows of the Schedule submenu the shell must show
    size_t eventRows;      // rows of Events For Today
};

JavaData const kLargest = {"largest data", kTemplates, kEventElements, 0, 2 + kTemplates, kEventElements / 2};

std::string ScriptFor(JavaData const &data)
{
    JavaScript script;
    if (data.templates < 0)
        script.NullTemplates();
    else
        script.GeneratedTemplates(data.templates, kTemplatePrefix);
    if (data.eventElements < 0)
        script.NullEvents();
    else
        script.GeneratedEvents(data.eventElements, kEventPrefix);
    script.DoNotDisturb(data.doNotDisturb);
    return script.Text();
}

LeanJavaAnswers AnswersFor(JavaData const &data)
{
    LeanJavaAnswers answers;
    answers.nullTemplates = data.templates < 0;
    answers.nullEvents = data.eventElements < 0;
    if (data.templates > 0)
        answers.templates = Numbered(kTemplatePrefix, data.templates);
    if (data.eventElements > 0)
        answers.events = Numbered(kEventPrefix, data.eventElements);
    answers.doNotDisturb = data.doNotDisturb != 0;
    return answers;
}

// The shell's whole menu as one opening builds it, read back and destroyed.
std::vector<MenuRow> ShellMenuRows()
{
    HMENU menu = BuildNotifyIconMenu();
    std::vector<MenuRow> rows = ReadMenu(menu);
    DestroyMenu(menu);
    return rows;
}

int Fail(char const *what, std::string const &detail)
{
    fprintf(stderr, "check failed: %s\n%s\n", what, detail.c_str());
    return 1;
}

// The three builds must make the same tree, or the timings compare
// different work: the floor is fed what the shell built, the lean env the
// data the stand-in was scripted with.
int CheckBuildsAgree()
{
    JavaData const cases[] = {
        kLargest,
        {"beyond the limits: cut to 999 and 400", 1200, 1000, 0, 2 + kTemplates, kEventElements / 2},
        {"no lists from Java", -1, -1, 0, 1, 0},
        {"empty lists, Do Not Disturb on", 0, 0, 1, 1, 1},
    };

    int failed = 0;
    for (JavaData const &data : cases) {
        std::string const name = data.name;
        BoundJava java(ScriptFor(data));
        if (!java.Started()) {
            failed += Fail(("stand-in runtime did not start: " + name).c_str(), BoundJava::Violations());
            continue;
        }
        std::vector<MenuRow> shell = ShellMenuRows();
        std::string const expected = Describe(shell);
        if (!MenuHasSize(shell, data.scheduleRows, data.eventRows))
            failed += Fail(("the shell's menu is not the one scripted: " + name).c_str(), expected);
        if (!FloorBuildsTheSame(shell))
            failed += Fail(("the floor builds another menu: " + name).c_str(), "");

        JNIEnv *stand = sg_pEnvThread;
        sg_pEnvThread = MakeLeanJava(AnswersFor(data), *stand->functions);
        std::string const lean = Describe(ShellMenuRows());
        sg_pEnvThread = stand;
        if (lean != expected)
            failed += Fail(("the shell with the lean env builds another menu: " + name).c_str(), lean);

        // The lean env hands every call it does not serve to the stand-in,
        // which reports it: the lean timing would leave work out.
        if (FakeJvm_ViolationCount() != 0)
            failed += Fail(("the stand-in saw JNI misuse: " + name).c_str(), BoundJava::Violations());
    }
    return failed;
}

int TimeLargestMenu(int reps, int warmup, char const *only)
{
    BoundJava java(ScriptFor(kLargest));
    if (!java.Started())
        return Fail("stand-in runtime did not start", BoundJava::Violations());
    JNIEnv *stand = sg_pEnvThread;
    JNIEnv *lean = MakeLeanJava(AnswersFor(kLargest), *stand->functions);
    std::vector<MenuRow> const rows = ShellMenuRows();

    // The click's thread and the one left attached. The VM waits for the
    // latter when it is destroyed: it detaches before `java` goes.
    CallThread clicking, holding;
    JNIEnv *held = NULL;
    if (clicking.Started() && holding.Started())
        holding.Run([&] { sg_jvm->AttachCurrentThread((void **)&held, NULL); });
    if (!held)
        return Fail("no second thread attached to the stand-in", BoundJava::Violations());
    struct Detach {
        CallThread &thread;
        ~Detach() { thread.Run([] { sg_jvm->DetachCurrentThread(); }); }
    } detachHeld{holding};
    std::string clicked;
    clicking.Run([&] {
        sg_jvm->AttachCurrentThread((void **)&sg_pEnvThread, NULL);
        clicked = Describe(ShellMenuRows());
        sg_pEnvThread = NULL;
        sg_jvm->DetachCurrentThread();
    });
    sg_pEnvThread = stand;
    if (clicked != Describe(rows))
        return Fail("a click on a thread of its own builds another menu", clicked);

    int const cpu = KeepOnOneCpu(-1);
    clicking.Run([&] { KeepOnOneCpu(cpu); });
    holding.Run([&] { KeepOnOneCpu(cpu); });
    PrintFact("menu.cpu", cpu >= 0 ? "timing threads kept on CPU " + std::to_string(cpu) : "timing threads on any CPU");
    Place const onClicking = [&](std::function<void()> const &call) { clicking.Run(call); };
    Place const onHolding = [&](std::function<void()> const &call) { holding.Run(call); };
    // One opening each: build and destroy.
    std::vector<TimedCall> variants = {
        {"menu.shell", [&] { sg_pEnvThread = stand; DestroyMenu(BuildNotifyIconMenu()); }, {}},
        {"menu.floor", [&] { DestroyMenu(BuildFloorMenu(rows)); }, {}},
        {"menu.lean", [&] { sg_pEnvThread = lean; DestroyMenu(BuildNotifyIconMenu()); }, {}},
        {"menu.click", [] { ClickAttached(); }, {}, onClicking},
        {"menu.held", [&] { sg_pEnvThread = held; DestroyMenu(BuildNotifyIconMenu()); }, {}, onHolding},
    };
    if (only) {
        size_t chosen = 0;
        while (chosen < variants.size() && variants[chosen].name != std::string("menu.") + only)
            ++chosen;
        if (chosen == variants.size())
            return Fail("no such build to time alone", only);
        variants = {variants[chosen]};
    }

    int violations = 0;
    TimeCalls(variants, reps, warmup, [&](int round) {
        if (round % kRepsPerLogClear == 0) {
            // Clearing the log clears the violations too: count them first.
            violations += FakeJvm_ViolationCount();
            FakeJvm_ClearLog();
        }
        return true;
    });
    sg_pEnvThread = stand;

    // How much JNI one opening makes, as the lean env counted it.
    TakeLeanJavaCallCount();
    sg_pEnvThread = lean;
    DestroyMenu(BuildNotifyIconMenu());
    sg_pEnvThread = stand;
    PrintFact("menu.jni-calls", std::to_string(TakeLeanJavaCallCount()));
    PrintFact("menu.rows", std::to_string(rows.size()) + " top, " + std::to_string(SubMenuRows(rows, "Schedule"))
                               + " Schedule, " + std::to_string(SubMenuRows(rows, "Events For Today"))
                               + " Events For Today");
    for (TimedCall const &v : variants) {
        PrintResult(v.name, Summarize(v.times));
        PrintSamples(v.name, v.times);
    }
    if (!only) {
        PrintRatio("menu.shell/floor", Summarize(PairedRatios(variants[0].times, variants[1].times)));
        PrintRatio("menu.lean/floor", Summarize(PairedRatios(variants[2].times, variants[1].times)));
        PrintRatio("menu.click/floor", Summarize(PairedRatios(variants[3].times, variants[1].times)));
        PrintRatio("menu.click/held", Summarize(PairedRatios(variants[3].times, variants[4].times)));
        PrintRatio("menu.held/floor", Summarize(PairedRatios(variants[4].times, variants[1].times)));
    }

    violations += FakeJvm_ViolationCount();
    if (violations != 0)
        return Fail("the stand-in saw JNI misuse while timing", BoundJava::Violations());
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    int reps = 0;
    int warmup = 0;
    if (!ReadRepsAndWarmup(argc, argv, kDefaultReps, kDefaultWarmup,
                           "chimelet_bench_menu [--reps N] [--warmup N] [--check | --only shell|floor|lean|click|held]",
                           &reps, &warmup))
        return 2;

    // Timing one build alone is for a profiler, which should see nothing
    // but that build: the checks belong to the normal run.
    if (char const *only = TextOption(argc, argv, "--only", NULL))
        return TimeLargestMenu(reps, warmup, only);

    int failed = CheckStats() + CheckBuildsAgree();
    if (failed != 0) {
        fprintf(stderr, "chimelet_bench_menu: %d check(s) failed\n", failed);
        return 1;
    }
    if (HasFlag(argc, argv, "--check")) {
        printf("chimelet_bench_menu: all checks passed\n");
        return 0;
    }
    return TimeLargestMenu(reps, warmup, NULL);
}
