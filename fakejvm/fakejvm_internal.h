/* What the pieces of the stand-in Java runtime share: the script settings,
 * the modelled Java objects, references, threads and the one VM, all kept in
 * one process-wide State behind one mutex. Nothing here crosses the DLL
 * boundary; the exported surface is jni.h and fakejvm_control.h. */
#ifndef FAKEJVM_INTERNAL_H
#define FAKEJVM_INTERNAL_H

#include <jni.h>

#include "fakejvm_control.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace fakejvm {

using Clock = std::chrono::steady_clock;

// ---------------------------------------------------------------- the model

extern const char kMainClass[];       // "com/norvanta/kelvarin/main/TApplication"
extern const char kInterfaceClass[];  // "com/norvanta/kelvarin/data/TExternalDataInterface"

// One static method of an application class, as the real jar declares it.
struct ModelMethod {
    const char *cls;
    const char *name;
    const char *sig;
};
// All application methods; the table ends with a null name.
extern const ModelMethod kModelMethods[];
const ModelMethod *FindModelMethod(const std::string &cls, const std::string &name);

// ---------------------------------------------------------------- settings

enum class Mode { Classic, Modern, Hotspot };
enum class MainBehaviour { Run, End, EndAfter };
enum class QuitBehaviour { End, Stay, Exit };

struct Element {
    bool isNull = false;
    bool utfFails = false;  // GetStringUTFChars answers NULL + OutOfMemoryError
    std::string bytes;
};

struct ListAnswer {
    bool isNull = false;
    std::vector<Element> elements;
};

// A scripted delay: how long the method takes, and whether it serves the
// messages sent to its thread's windows meanwhile, as a thread waiting in
// SendMessage to AWT's toolkit thread does.
struct Delay {
    int ms = 0;
    bool serving = false;
};

struct ThrowRule {
    std::string exceptionClass;
    bool hasMessage = false;
    std::string message;
};

// What a script can set. Keys of the per-method maps are "<class>.<name>".
struct Config {
    Mode mode = Mode::Hotspot;
    std::deque<std::optional<jint>> createAnswers;  // nullopt: behave normally
    std::deque<std::optional<jint>> attachAnswers;
    bool jarRequired = false;
    MainBehaviour main = MainBehaviour::Run;
    int mainEndAfterMs = 0;
    QuitBehaviour quit = QuitBehaviour::End;
    int quitExitCode = 0;
    std::set<std::string> removedClasses;
    std::set<std::string> removedMethods;
    std::map<std::string, ThrowRule> throws;
    std::map<std::string, Delay> delays;
    int doNotDisturb = 0;
    bool doNotDisturbToggles = false;  // showDoNotDisturb flips the answer
    ListAnswer templates;
    ListAnswer events;
    // Elements (by index) whose GetStringUTFChars fails, whatever list the
    // method answers; kept apart so that a later list line keeps them.
    std::set<long> templatesUnreadable;
    std::set<long> eventsUnreadable;
    int destroyTimeoutMs = -1;  // -1: DestroyJavaVM waits for ever, as a real VM does
    // System.exit(exitAfterCode) on a Java thread of the application, that
    // long after main started it; -1: never.
    int exitAfterMs = -1;
    int exitAfterCode = 0;
};

// Applies script text on top of cfg. On a bad line returns false, leaves cfg
// as it was, and sets badLine (1-based) and error.
bool ParseScript(const std::string &text, Config &cfg, int &badLine, std::string &error);

extern const char kDefaultScript[];

// ---------------------------------------------------------------- objects

enum class Kind { Class, String, StringArray, Throwable };

struct Object {
    Kind kind;
    std::string text;  // class: its name; string: its bytes; throwable: its class
    bool hasMessage = false;
    std::string message;     // throwable
    bool utfFails = false;   // string
    std::vector<std::shared_ptr<Object>> elements;  // array; null entries allowed
    std::string origin;      // array: the Java method that made it
};
using ObjPtr = std::shared_ptr<Object>;

enum class RefKind { Local = 1, Global = 2, Weak = 3 };

struct ThreadRec;

struct RefEntry {
    RefKind kind;
    ObjPtr obj;
    ThreadRec *thread;  // local references only
    uint64_t frameId;
};

struct Frame {
    uint64_t id;
    int capacity;
    int live = 0;
    bool reported = false;
    std::vector<uint64_t> serials;  // every local made in it, deleted ones too
};

struct EnvBlock;
struct MethodRec;

struct ThreadRec {
    unsigned long key;
    std::string name;
    std::thread::id tid;
    bool attached = true;
    bool daemon = false;
    bool creator = false;
    EnvBlock *env = nullptr;
    std::vector<Frame> frames;
    ObjPtr pending;
    // The static methods invoked on this thread that have not returned yet,
    // innermost last: a call that begins inside another is logged as nested.
    std::vector<const MethodRec *> calls;
};

// A JNIEnv handed out. Never freed, so a stale env pointer still leads to our
// function table and into a violation rather than into freed memory.
struct EnvBlock {
    JNIEnv_ env;
    uint64_t vmId;
    ThreadRec *owner;  // valid only while vmId is the live VM's id
};

struct VmBlock {
    JavaVM_ vm;
    uint64_t vmId;
};

// A jmethodID. Never freed, for the same reason as EnvBlock.
struct MethodRec {
    uint64_t vmId;
    std::string cls;
    std::string name;
    std::string sig;
    std::vector<char> params;  // one JNI type letter per parameter ('L' for objects)
    char ret;                  // 'V', 'Z', 'I', 'L', ... ('L' also for arrays)
};

enum class AppState { NotStarted, Running, Ended };

// The JNI exit hook: the "exit" field of a 1.1 record, or the extraInfo of the
// "exit" option of a 1.2+ one.
typedef void(JNICALL *ExitHook)(jint code);

// One System.exit under way. Shared by the exiting thread and its watchdog,
// and outlives the VM: in-process, DestroyJavaVM may return while a hook that
// overran still runs.
struct ExitRun {
    uint64_t vmId;
    int code;
    bool hookReturned = false;
    bool ended = false;  // the process ended (in-process: the exit function was called)
    bool done = false;   // in-process: the exit function returned and the application ended
};

struct Vm {
    uint64_t id;
    VmBlock *block;
    Mode mode;
    jint version;
    std::thread::id creatorTid;
    bool appVisible;  // the class path made the application classes loadable
    AppState app = AppState::NotStarted;
    bool appEndTimed = false;
    Clock::time_point appEndAt;
    bool destroying = false;
    ExitHook exitHook = nullptr;
    std::shared_ptr<ExitRun> exitRun;  // set by the first System.exit
    int nextThreadNumber = 0;
    uint64_t firstSerial;
    std::map<std::string, ObjPtr> classes;
    std::map<std::string, MethodRec *> methods;
    std::vector<std::unique_ptr<ThreadRec>> threads;
    std::unordered_map<uint64_t, RefEntry> refs;
};

struct UtfLoan {
    ObjPtr str;
    size_t size;
};

struct State {
    std::mutex mu;
    std::condition_variable cv;
    // Wakes `delay`ed Java calls when an in-process exit has ended the VM's
    // process; apart from cv, which every log line notifies.
    std::condition_variable exitCv;
    void (*processExit)(int code) = nullptr;  // FakeJvm_SetProcessExit; null: end the process
    // FakeJvm_SetWindowSystem (the host's; Windows asks user32). The
    // process's platform, not a test's script: FakeJvm_Reset keeps it.
    FakeJvmWindowSystem windowSystem = {};

    Config config;
    bool scriptLoaded = false;  // an in-process script replaced the default one
    bool started = false;       // environment variables have been read
    std::string logPath;
    std::string scriptError;

    std::vector<std::string> log;
    std::vector<std::string> violations;
    bool logFull = false;

    std::unique_ptr<Vm> vm;
    uint64_t nextVmId = 1;
    uint64_t nextSerial = 0x1000;
    uint64_t nextFrameId = 1;
    unsigned long lastAttachedKey = 0;

    std::deque<EnvBlock> envBlocks;
    std::unordered_map<const void *, EnvBlock *> envIndex;
    std::deque<VmBlock> vmBlocks;
    std::unordered_map<const void *, VmBlock *> vmIndex;
    std::deque<MethodRec> methodRecs;
    std::unordered_set<const void *> methodIndex;

    std::unordered_map<const char *, UtfLoan> loans;
    std::deque<std::pair<char *, size_t>> quarantine;
    std::unordered_set<const char *> quarantined;
    size_t quarantineBytes = 0;
};

// The one state. Allocated once and never destroyed: threads still blocked in
// DestroyJavaVM at process exit must not find a destroyed mutex.
State &S();

// The calling thread's record in the VM with id vmId, or null.
ThreadRec *CurrentThread(const State &st);
// The calling thread's record in the live VM when it attached once and has
// detached since, else NULL.
ThreadRec *DetachedThread(const State &st);
void SetCurrentThread(ThreadRec *rec, uint64_t vmId);

// ---------------------------------------------------------------- helpers
// Every function below expects S().mu to be held by the caller.

void Log(State &st, const std::string &line);
void Violation(State &st, const std::string &text);
// Reads FAKEJVM_LOG and FAKEJVM_SCRIPT once, and falls back to the built-in
// script when no script was given.
void EnsureStarted(State &st);
// Ends the application when its scheduled end has come.
void RefreshApplication(State &st);
void EndApplication(State &st);
// Printable form of bytes for a log line: escapes, and cut at max bytes.
std::string Printable(const std::string &bytes, size_t max = 200);
std::string Printable(const char *text, size_t max = 200);
std::string Hex32(uint32_t value);
// Class names in messages and printouts, slashes turned into dots.
std::string Dotted(const std::string &name);

// References
jobject NewRef(State &st, ThreadRec *t, const ObjPtr &obj, RefKind kind);
struct Resolved {
    ObjPtr obj;
    bool bad = false;  // a violation was recorded; the caller gives up
};
Resolved Resolve(State &st, ThreadRec *t, jobject ref, const char *fn);
void FreeThreadLocals(State &st, ThreadRec *t);
void DropLocal(State &st, uint64_t serial);
// The parts of a reference value: its serial number and its kind tag (1 local,
// 2 global, 3 weak global; anything else is not one of ours).
uint64_t RefSerial(jobject ref);
unsigned RefTag(jobject ref);
std::string ThreadLabel(const ThreadRec *t);
std::string CallerLabel(const State &st);
void PushFrame(State &st, ThreadRec *t, int capacity);
int LiveLocals(const ThreadRec *t);

// Objects and classes
ObjPtr ClassObject(State &st, const std::string &name);
ObjPtr NewThrowable(const std::string &cls, const char *message);
void SetPending(State &st, ThreadRec *t, const ObjPtr &exc);
bool IsSubclass(const std::string &cls, const std::string &of);
// The superclass of a class, "" for java/lang/Object.
std::string SuperOf(const std::string &name);
std::string ClassOf(const Object &obj);
bool ClassLoadable(const State &st, const std::string &name);

// System.exit(code) called on the calling thread, named threadName in the
// log. The VM's own thread ("VM Thread") then calls the hook (lock released,
// watched for overrunning) and ends the process, while the caller waits.
// Returns only in-process (FakeJvm_SetProcessExit), once the run has ended,
// with the lock held; a second System.exit waits for the first, as Java's
// does.
void SystemExit(State &st, std::unique_lock<std::mutex> &lock, int code, const std::string &threadName);
// Starts the script's "exit after" thread, if any, for the application main
// has just started.
void ScheduleExit(State &st);
// True on the VM's thread while it runs the exit hook: any JNI call there is
// a violation.
bool InExitHook();

// Runs a modelled Java method. Releases and retakes lock (the window
// system's questions, delays, exit); afterwards the caller must check that
// st.vm is still the VM it was.
struct JavaValue {
    jint i = 0;
    ObjPtr obj;
};
JavaValue InvokeJava(State &st, std::unique_lock<std::mutex> &lock, ThreadRec *t,
                     const MethodRec &m, const std::vector<std::string> &args);

// The JNIEnv function table (every slot filled) and the invoke table.
const JNINativeInterface_ *EnvTable();
const JNIInvokeInterface_ *InvokeTable();

// Platform: thread key (GetCurrentThreadId on Windows, the kernel thread id
// elsewhere), file test, process exit.
unsigned long PlatformThreadKey();
bool PlatformIsFile(const std::string &path);
[[noreturn]] void PlatformExit(int code);
const char *PlatformPathSeparator();
std::string PlatformWorkingDirectory();  // as the platform names it; "" when unknown
// Gives the calling thread a name debuggers and the system show; best effort.
void PlatformNameThread(const char *name);

// The window system, asked without S().mu held: what it calls may run code
// of the program's that calls back into the VM. On Windows user32 answers and
// ws is not used; on the host ws (a copy of State::windowSystem) does.
//
// Serves the messages sent to the calling thread's windows, waiting up to
// waitMs for the first; posted messages and timers stay queued. Returns how
// many were served (on Windows 1 for "some"), -1 when nothing can serve them.
int PlatformServeSentMessages(const FakeJvmWindowSystem &ws, unsigned long waitMs);
// The calling thread's DPI awareness (0 unaware, 1 system, 2 per monitor,
// -1 unknown) and the screen size it is told (0 when unknown).
struct DpiView {
    int awareness = -1;
    int width = 0;
    int height = 0;
};
DpiView PlatformDpiView(const FakeJvmWindowSystem &ws);

}  // namespace fakejvm

#endif
