// The menu build against its floor with a real Java VM instead of the
// stand-in runtime (host only): this machine's HotSpot runs chimelet.jar with
// the largest data, and the shell's BuildNotifyIconMenu asks it as it would
// ask any runtime. What a real VM's JNI costs per opening, next to what the
// stand-in's costs; and what a tray click costs as the monitor thread makes
// it: on a thread that did not make the VM, attached for the click and
// detached after it, against the same build on a thread left attached.
//
//   chimelet_bench_menu_realjvm [--reps N] [--warmup N] [--jvm <libjvm.so>] [--jar <chimelet.jar>]
//
// A process of its own: one VM per process, and the stand-in runtime's
// library must not be loaded beside a real one (both export the JNI entries).
// Exit code 77 when the VM library or the jar is missing (nothing was timed).

#include <windows.h>

#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "BenchStats.h"
#include "MenuFloor.h"
#include "TestSupport.h"
#include "TrayThread.h"
#include "kelvarin.h"

using namespace bench;

namespace {

int const kDefaultReps = 500;
int const kDefaultWarmup = 200;  // HotSpot compiles the list methods meanwhile
int const kStatusSkipped = 77;

typedef jint(JNICALL *CreateJavaVMEntry)(JavaVM **, void **, void *);

// The application's data file: 999 templates and 400 events (800 elements),
// the most the menu shows.
bool WriteLargestData(std::string const &path)
{
    FILE *file = fopen(path.c_str(), "w");
    if (!file)
        return false;
    fprintf(file, "templates=999\nevents=400\ndnd=false\n");
    return fclose(file) == 0;
}

JNIEnv *StartVm(char const *jvmPath, char const *jarPath)
{
    void *library = dlopen(jvmPath, RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        fprintf(stderr, "chimelet_bench_menu_realjvm: cannot load %s: %s\n", jvmPath, dlerror());
        return NULL;
    }
    CreateJavaVMEntry create = (CreateJavaVMEntry)dlsym(library, "JNI_CreateJavaVM");
    if (!create)
        return NULL;

    std::string classPath = std::string("-Djava.class.path=") + jarPath;
    JavaVMOption options[1];
    options[0].optionString = const_cast<char *>(classPath.c_str());
    options[0].extraInfo = NULL;
    JavaVMInitArgs args;
    args.version = JNI_VERSION_1_2;
    args.nOptions = 1;
    args.options = options;
    args.ignoreUnrecognized = JNI_FALSE;
    JavaVM *vm = NULL;
    JNIEnv *env = NULL;
    if (create(&vm, (void **)&env, &args) != JNI_OK)
        return NULL;
    sg_jvm = vm;
    return env;
}

}  // namespace

int main(int argc, char **argv)
{
    int reps = 0;
    int warmup = 0;
    if (!ReadRepsAndWarmup(argc, argv, kDefaultReps, kDefaultWarmup,
                           "chimelet_bench_menu_realjvm [--reps N] [--warmup N] [--jvm <libjvm.so>] [--jar <chimelet.jar>]",
                           &reps, &warmup))
        return 2;
    char const *jvmPath = TextOption(argc, argv, "--jvm", CHIMELET_BENCH_JVM);
    char const *jarPath = TextOption(argc, argv, "--jar", CHIMELET_BENCH_JAR);
    if (access(jvmPath, R_OK) != 0 || access(jarPath, R_OK) != 0) {
        fprintf(stderr, "chimelet_bench_menu_realjvm: no %s or no %s: skipped\n", jvmPath, jarPath);
        return kStatusSkipped;
    }

    char dataPath[] = "/tmp/chimelet-bench-data-XXXXXX";
    int fd = mkstemp(dataPath);
    if (fd < 0 || close(fd) != 0 || !WriteLargestData(dataPath)) {
        fprintf(stderr, "chimelet_bench_menu_realjvm: cannot write the application's data\n");
        return 1;
    }
    setenv("CHIMELET_APP_DATA", dataPath, 1);
    unsetenv("CHIMELET_APP_LOG");  // the application would write a line per call

    sg_pEnvThread = StartVm(jvmPath, jarPath);
    if (!sg_pEnvThread) {
        unlink(dataPath);
        fprintf(stderr, "chimelet_bench_menu_realjvm: the VM did not start\n");
        return 1;
    }

    // The application reads its data when first asked.
    HMENU menu = BuildNotifyIconMenu();
    unlink(dataPath);
    std::vector<MenuRow> const rows = ReadMenu(menu);
    DestroyMenu(menu);
    if (!MenuHasSize(rows, 1000 + 1, 400)) {
        fprintf(stderr, "check failed: the menu is not the one the data asks for\n%s\n", Describe(rows).c_str());
        return 1;
    }
    if (!FloorBuildsTheSame(rows)) {
        fprintf(stderr, "check failed: the floor builds another menu\n");
        return 1;
    }

    // A click on a thread of its own, and the build alone on another that
    // attached once and stays attached. Both must make the menu the VM's own
    // thread made: a class the system class loader cannot find there would
    // leave the lists out.
    JNIEnv *const creator = sg_pEnvThread;
    CallThread clicking, holding;
    JNIEnv *held = NULL;
    if (clicking.Started() && holding.Started())
        holding.Run([&] { sg_jvm->AttachCurrentThread((void **)&held, NULL); });
    if (!held) {
        fprintf(stderr, "chimelet_bench_menu_realjvm: no second thread attached to the VM\n");
        return 1;
    }
    std::string const expected = Describe(rows);
    std::string clicked, built;
    clicking.Run([&] {
        if (sg_jvm->AttachCurrentThread((void **)&sg_pEnvThread, NULL) < 0)
            return;
        HMENU menu = BuildNotifyIconMenu();
        clicked = Describe(ReadMenu(menu));
        DestroyMenu(menu);
        sg_pEnvThread = NULL;
        sg_jvm->DetachCurrentThread();
    });
    holding.Run([&] {
        sg_pEnvThread = held;
        HMENU menu = BuildNotifyIconMenu();
        built = Describe(ReadMenu(menu));
        DestroyMenu(menu);
    });
    if (clicked != expected || built != expected) {
        fprintf(stderr, "check failed: a second thread builds another menu\n%s\n",
                (clicked != expected ? clicked : built).c_str());
        return 1;
    }

    int const cpu = KeepOnOneCpu(-1);
    clicking.Run([&] { KeepOnOneCpu(cpu); });
    holding.Run([&] { KeepOnOneCpu(cpu); });
    PrintFact("menu-realjvm.cpu",
              cpu >= 0 ? "timing threads kept on CPU " + std::to_string(cpu) : "timing threads on any CPU");
    Place const onClicking = [&](std::function<void()> const &call) { clicking.Run(call); };
    Place const onHolding = [&](std::function<void()> const &call) { holding.Run(call); };
    std::vector<TimedCall> builds = {
        {"menu-realjvm.shell", [&] { sg_pEnvThread = creator; DestroyMenu(BuildNotifyIconMenu()); }, {}},
        {"menu-realjvm.floor", [&] { DestroyMenu(BuildFloorMenu(rows)); }, {}},
        {"menu-realjvm.click", [] { ClickAttached(); }, {}, onClicking},
        {"menu-realjvm.held", [&] { sg_pEnvThread = held; DestroyMenu(BuildNotifyIconMenu()); }, {}, onHolding},
    };
    TimeCalls(builds, reps, warmup);
    PrintFact("menu-realjvm.vm", jvmPath);
    for (TimedCall const &b : builds)
        PrintResult(b.name, Summarize(b.times));
    for (TimedCall const &b : builds)
        PrintSamples(b.name, b.times);
    PrintRatio("menu-realjvm.shell/floor", Summarize(PairedRatios(builds[0].times, builds[1].times)));
    PrintRatio("menu-realjvm.click/floor", Summarize(PairedRatios(builds[2].times, builds[1].times)));
    PrintRatio("menu-realjvm.click/held", Summarize(PairedRatios(builds[2].times, builds[3].times)));
    PrintRatio("menu-realjvm.held/floor", Summarize(PairedRatios(builds[3].times, builds[1].times)));
    holding.Run([] { sg_jvm->DetachCurrentThread(); });
    // The VM's own threads keep running; ending the process ends them.
    fflush(stdout);
    _exit(0);
}
