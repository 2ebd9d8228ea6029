// The JNI invocation interface: the exported JNI_* entries, and the JavaVM
// functions (attach, detach, GetEnv, DestroyJavaVM) with the VM's lifetime.
#include "fakejvm_internal.h"

#include "jdk11_init_args.h"

#include <cstring>

namespace fakejvm {

namespace {

jint const kVersion9 = 0x00090000;
jint const kVersion10 = 0x000a0000;

// The record versions each modelled VM accepts in JNI_CreateJavaVM. A
// classic 1.2-era VM took both records; HotSpot refuses the 1.1 one.
bool CreateAccepts(Mode mode, jint v) {
    switch (mode) {
    case Mode::Classic: return v == JNI_VERSION_1_1 || v == JNI_VERSION_1_2;
    case Mode::Modern:
        return v == JNI_VERSION_1_2 || v == JNI_VERSION_1_4 || v == JNI_VERSION_1_6 || v == JNI_VERSION_1_8;
    case Mode::Hotspot:
        return v == JNI_VERSION_1_2 || v == JNI_VERSION_1_4 || v == JNI_VERSION_1_6 || v == JNI_VERSION_1_8 ||
               v == kVersion9 || v == kVersion10;
    }
    return false;
}

// What GetVersion answers; also the newest version GetEnv accepts.
jint VmVersion(Mode mode) {
    switch (mode) {
    case Mode::Classic: return JNI_VERSION_1_2;
    case Mode::Modern: return JNI_VERSION_1_8;
    case Mode::Hotspot: return kVersion10;
    }
    return JNI_VERSION_1_2;
}

bool GetEnvAccepts(Mode mode, jint v) {
    bool known = v == JNI_VERSION_1_1 || v == JNI_VERSION_1_2 || v == JNI_VERSION_1_4 || v == JNI_VERSION_1_6 ||
                 v == JNI_VERSION_1_8 || v == kVersion9 || v == kVersion10;
    return known && v <= VmVersion(mode);
}

// Versions whose record is a JavaVMInitArgs in some VM: those are safe to
// read as one for the log, whatever the modelled VM then answers.
bool IsInitArgsVersion(jint v) {
    switch (v) {
    case JNI_VERSION_1_2:
    case JNI_VERSION_1_4:
    case JNI_VERSION_1_6:
    case JNI_VERSION_1_8:
    case kVersion9:
    case kVersion10:
    case 0x00130000:
    case 0x00140000:
    case 0x00150000:
    case 0x00180000: return true;
    default: return false;
    }
}

#ifdef _WIN32
char gDefaultClassPath[] = ".;C:\\jdk1.1.8\\lib\\classes.zip";
// HotSpot's default thread stack on 32-bit Windows, in bytes.
jint const kHotspotStackSize = 320 * 1024;
#else
char gDefaultClassPath[] = ".:/usr/lib/jdk1.1.8/lib/classes.zip";
jint const kHotspotStackSize = 1024 * 1024;
#endif

bool SameFileName(const std::string &a, const char *b) {
    if (a.size() != std::strlen(b)) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// The application classes load when an entry of the class path is the jar:
// its file name part is "chimelet.jar" (any case, as on Windows) and, when
// the script asks, the file exists (relative entries against the current
// directory).
bool ClassPathHasJar(const std::string &cp, bool mustExist) {
    const char *sep = PlatformPathSeparator();
    size_t start = 0;
    while (start <= cp.size()) {
        size_t end = cp.find(sep, start);
        if (end == std::string::npos) end = cp.size();
        std::string entry = cp.substr(start, end - start);
        size_t slash = entry.find_last_of("/\\");
        std::string name = slash == std::string::npos ? entry : entry.substr(slash + 1);
        if (SameFileName(name, "chimelet.jar") && (!mustExist || PlatformIsFile(entry))) return true;
        start = end + 1;
    }
    return false;
}

// Options a 1.2+ VM knows. Anything else is an error unless the record says
// ignoreUnrecognized.
bool KnownOption(const std::string &o) {
    static const char *const kExact[] = {"-Xcheck:jni", "-Xrs", "-Xint", "-Xbatch", "-Xnoclassgc", "-Xdebug",
                                         "-verbose", "-ea", "-da", "-esa", "-dsa", "vfprintf", "exit", "abort"};
    static const char *const kPrefixes[] = {"-D", "-Xmx", "-Xms", "-Xss", "-verbose:", "-ea:", "-da:"};
    for (const char *e : kExact) {
        if (o == e) return true;
    }
    for (const char *p : kPrefixes) {
        if (o.compare(0, std::strlen(p), p) == 0 && o.size() > std::strlen(p)) return true;
    }
    return false;
}

ThreadRec *NewThread(State &st, const std::string &name, bool daemon, bool creator) {
    Vm &vm = *st.vm;
    auto rec = std::make_unique<ThreadRec>();
    rec->key = PlatformThreadKey();
    rec->name = name;
    rec->tid = std::this_thread::get_id();
    rec->daemon = daemon;
    rec->creator = creator;
    PushFrame(st, rec.get(), 16);
    EnvBlock &b = st.envBlocks.emplace_back();
    b.env.functions = EnvTable();
    b.vmId = vm.id;
    b.owner = rec.get();
    st.envIndex[&b.env] = &b;
    rec->env = &b;
    SetCurrentThread(rec.get(), vm.id);
    vm.threads.push_back(std::move(rec));
    return vm.threads.back().get();
}

// ------------------------------------------------------------ JavaVM functions

struct VmCall {
    State &st;
    std::unique_lock<std::mutex> lock;
    bool ok = false;

    VmCall(JavaVM *vm, const char *fn) : st(S()), lock(st.mu) {
        RefreshApplication(st);
        auto it = st.vmIndex.find(vm);
        if (InExitHook()) {
            // The VM is stopping its threads: a hook that attaches or asks
            // for an env to call Java would hang or crash a real one.
            Violation(st, std::string(fn) + ": called from inside the exit hook");
        } else if (it == st.vmIndex.end()) {
            Violation(st, std::string(fn) + ": unknown JavaVM pointer");
        } else if (!st.vm || it->second->vmId != st.vm->id) {
            Violation(st, std::string(fn) + ": JavaVM used after DestroyJavaVM");
        } else {
            ok = true;
        }
    }
};

// Why DestroyJavaVM cannot return yet, "" when it can.
std::string WaitReason(const State &st) {
    if (st.vm->app == AppState::Running) return "the application is still running";
    for (const auto &t : st.vm->threads) {
        if (t->attached && !t->daemon && !t->creator) {
            return "non-daemon " + ThreadLabel(t.get()) + " is still attached";
        }
    }
    return "";
}

jint JNICALL DestroyJavaVM(JavaVM *vm) {
    VmCall c(vm, "DestroyJavaVM");
    State &st = c.st;
    Log(st, "destroy begin");
    auto refuse = [&](const std::string &why) {
        if (!why.empty()) Violation(st, "DestroyJavaVM: " + why);
        Log(st, "destroy end -> -1");
        return JNI_ERR;
    };
    if (!c.ok) return refuse("");
    if (std::this_thread::get_id() != st.vm->creatorTid) {
        return refuse("called on " + CallerLabel(st) + ", not on the thread that created the VM");
    }
    if (st.vm->destroying) return refuse("called again while an earlier call still waits");
    st.vm->destroying = true;
    uint64_t vmId = st.vm->id;
    int timeoutMs = st.config.destroyTimeoutMs;
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        RefreshApplication(st);
        std::string reason = WaitReason(st);
        if (reason.empty()) break;
        bool timed = timeoutMs >= 0;
        Clock::time_point wake = deadline;
        if (st.vm->app == AppState::Running && st.vm->appEndTimed && (!timed || st.vm->appEndAt < wake)) {
            wake = st.vm->appEndAt;
            timed = true;
        }
        if (timeoutMs >= 0 && Clock::now() >= deadline) {
            st.vm->destroying = false;
            return refuse("still waiting after " + std::to_string(timeoutMs) + " ms: " + reason);
        }
        if (timed) st.cv.wait_until(c.lock, wake);
        else st.cv.wait(c.lock);
        if (!st.vm || st.vm->id != vmId) return refuse("");  // FakeJvm_ForceDestroy: wanted, no violation
    }
    Log(st, "destroy end -> 0");
    for (auto &t : st.vm->threads) t->attached = false;
    st.vm.reset();
    st.cv.notify_all();
    return JNI_OK;
}

jint Attach(JavaVM *vm, void **penv, void *args, bool daemon) {
    const char *fn = daemon ? "AttachCurrentThreadAsDaemon" : "AttachCurrentThread";
    VmCall c(vm, fn);
    State &st = c.st;
    auto answer = [&](jint rc) {
        Log(st, std::string("attach daemon=") + (daemon ? "1" : "0") + " -> " + std::to_string(static_cast<long>(rc)));
        return rc;
    };
    if (!c.ok) return answer(JNI_ERR);
    if (daemon && st.vm->mode == Mode::Classic) {
        Violation(st, std::string(fn) + ": not offered by a JNI 1.2 VM");
        return answer(JNI_ERR);
    }
    if (!st.config.attachAnswers.empty()) {
        std::optional<jint> forced = st.config.attachAnswers.front();
        st.config.attachAnswers.pop_front();
        if (forced) return answer(*forced);
    }
    if (!penv) {
        Violation(st, std::string(fn) + ": NULL env pointer");
        return answer(JNI_ERR);
    }
    std::string name;
    if (args && st.vm->mode != Mode::Classic) {
        const JavaVMAttachArgs *aa = static_cast<const JavaVMAttachArgs *>(args);
        if (!CreateAccepts(Mode::Hotspot, aa->version) || aa->version > st.vm->version) {
            return answer(JNI_EVERSION);
        }
        if (aa->name) name = Printable(aa->name, 100);
    }
    if (ThreadRec *cur = CurrentThread(st)) {
        *penv = &cur->env->env;  // attached already: stays attached once, as it was
        return answer(JNI_OK);
    }
    if (ThreadRec *back = DetachedThread(st)) {
        // Attached again after a detach: the thread's record comes back, so
        // that a thread attaching for each call does not grow the model (a
        // real VM frees what it made for the thread when it detaches).
        back->attached = true;
        back->daemon = daemon;
        PushFrame(st, back, 16);
        st.lastAttachedKey = back->key;
        *penv = &back->env->env;
        return answer(JNI_OK);
    }
    if (name.empty()) name = "Thread-" + std::to_string(st.vm->nextThreadNumber++);
    // The creating thread may have detached and come back: DestroyJavaVM on
    // it must still not wait for itself.
    bool creator = std::this_thread::get_id() == st.vm->creatorTid;
    ThreadRec *t = NewThread(st, creator ? "main" : name, daemon, creator);
    st.lastAttachedKey = t->key;
    *penv = &t->env->env;
    return answer(JNI_OK);
}

jint JNICALL AttachCurrentThread(JavaVM *vm, void **penv, void *args) { return Attach(vm, penv, args, false); }

jint JNICALL AttachCurrentThreadAsDaemon(JavaVM *vm, void **penv, void *args) {
    return Attach(vm, penv, args, true);
}

jint JNICALL DetachCurrentThread(JavaVM *vm) {
    VmCall c(vm, "DetachCurrentThread");
    if (!c.ok) {
        Log(c.st, "detach -> -1");
        return JNI_ERR;
    }
    // Detaching a thread that is not attached is a no-op for HotSpot too.
    if (ThreadRec *t = CurrentThread(c.st)) {
        FreeThreadLocals(c.st, t);
        t->pending = nullptr;
        t->attached = false;
    }
    Log(c.st, "detach -> 0");
    return JNI_OK;
}

jint JNICALL GetEnv(JavaVM *vm, void **penv, jint version) {
    VmCall c(vm, "GetEnv");
    jint rc = JNI_ERR;
    if (!c.ok) {
        // nothing to hand out
    } else if (!penv) {
        Violation(c.st, "GetEnv: NULL env pointer");
    } else if (ThreadRec *t = CurrentThread(c.st)) {
        bool accepted = GetEnvAccepts(c.st.vm->mode, version);
        *penv = accepted ? &t->env->env : nullptr;
        rc = accepted ? JNI_OK : JNI_EVERSION;
    } else {
        *penv = nullptr;
        rc = JNI_EDETACHED;
    }
    Log(c.st, "getenv version=" + Hex32(static_cast<uint32_t>(version)) + " -> " + std::to_string(static_cast<long>(rc)));
    return rc;
}

JNIInvokeInterface_ BuildInvokeTable() {
    JNIInvokeInterface_ t;
    std::memset(&t, 0, sizeof t);
    t.DestroyJavaVM = DestroyJavaVM;
    t.AttachCurrentThread = AttachCurrentThread;
    t.DetachCurrentThread = DetachCurrentThread;
    t.GetEnv = GetEnv;
    t.AttachCurrentThreadAsDaemon = AttachCurrentThreadAsDaemon;
    return t;
}

// The record as the log shows it; reads only what the version says is there.
struct Record {
    jint version = 0;
    bool is11 = false;
    bool isInitArgs = false;
    bool readable = true;  // false: the pointers in it cannot be followed
    std::string classPath;
    bool unknownOption = false;
    bool ignoreUnrecognized = false;
    ExitHook exitHook = nullptr;
    std::string text;
};

int const kMaxOptions = 1024;

Record ReadRecord(State &st, void *args) {
    Record r;
    r.version = *static_cast<const jint *>(args);
    r.text = "version=" + Hex32(static_cast<uint32_t>(r.version));
    if (r.version == JNI_VERSION_1_1) {
        // A record labelled 1.1 is a whole JDK1_1InitArgs, as for any VM.
        r.is11 = true;
        const JDK1_1InitArgs *a = static_cast<const JDK1_1InitArgs *>(args);
        r.classPath = a->classpath ? a->classpath : "";
        r.text += " classpath=" + Printable(a->classpath, 1000);
        r.exitHook = a->exit;
        if (r.exitHook) r.text += " exit=hook";
        return r;
    }
    if (!IsInitArgsVersion(r.version)) return r;
    r.isInitArgs = true;
    const JavaVMInitArgs *a = static_cast<const JavaVMInitArgs *>(args);
    r.ignoreUnrecognized = a->ignoreUnrecognized != JNI_FALSE;
    std::string list;
    // A negative count reads as no options, as HotSpot's loop does.
    if (a->nOptions > kMaxOptions || (a->nOptions > 0 && !a->options)) {
        Violation(st, "JNI_CreateJavaVM: nOptions " + std::to_string(static_cast<long>(a->nOptions)) +
                          " with options " + (a->options ? "not NULL" : "NULL") + " cannot be read");
        r.readable = false;
    } else {
        for (jint i = 0; i < a->nOptions; ++i) {
            const char *o = a->options[i].optionString;
            if (!o) {
                Violation(st, "JNI_CreateJavaVM: option " + std::to_string(static_cast<long>(i)) + " is NULL");
                r.readable = false;
                break;
            }
            std::string option = o;
            if (!list.empty()) list += ", ";
            list += Printable(option, 1000);
            static const char kClassPath[] = "-Djava.class.path=";
            if (option.compare(0, sizeof kClassPath - 1, kClassPath) == 0) {
                r.classPath = option.substr(sizeof kClassPath - 1);  // the last one wins
            }
            // The last "exit" option counts, as the last class path does;
            // NULL extraInfo gives no hook.
            if (option == "exit") r.exitHook = reinterpret_cast<ExitHook>(a->options[i].extraInfo);
            if (!KnownOption(option)) r.unknownOption = true;
        }
    }
    r.text += " options=[" + list + "] ignoreUnrecognized=" + std::to_string(static_cast<int>(a->ignoreUnrecognized));
    return r;
}

}  // namespace

const JNIInvokeInterface_ *InvokeTable() {
    static const JNIInvokeInterface_ table = BuildInvokeTable();
    return &table;
}

}  // namespace fakejvm

using namespace fakejvm;

extern "C" JNIEXPORT jint JNICALL JNI_GetDefaultJavaVMInitArgs(void *args) {
    State &st = S();
    std::lock_guard<std::mutex> lock(st.mu);
    EnsureStarted(st);
    RefreshApplication(st);
    if (!args) {
        Violation(st, "JNI_GetDefaultJavaVMInitArgs: NULL record");
        Log(st, "getdefault version=(null) -> -1");
        return JNI_ERR;
    }
    jint version = *static_cast<jint *>(args);
    jint rc = JNI_ERR;
    Mode mode = st.config.mode;
    if (version == JNI_VERSION_1_1) {
        JDK1_1InitArgs *a = static_cast<JDK1_1InitArgs *>(args);
        if (mode == Mode::Classic) {
            a->properties = nullptr;
            a->checkSource = 0;
            a->nativeStackSize = 128 * 1024;
            a->javaStackSize = 400 * 1024;
            a->minHeapSize = 1024 * 1024;
            a->maxHeapSize = 16 * 1024 * 1024;
            a->verifyMode = 1;
            a->classpath = gDefaultClassPath;
            a->vfprintf = nullptr;
            a->exit = nullptr;
            a->abort = nullptr;
            a->enableClassGC = 1;
            a->enableVerboseGC = 0;
            a->disableAsyncGC = 0;
            a->verbose = 0;
            a->debugging = JNI_FALSE;
            a->debugPort = 0;
            rc = JNI_OK;
        } else if (mode == Mode::Modern) {
            rc = JNI_EVERSION;
        } else {
            // HotSpot refuses the record yet rewrites it: its launcher once
            // read the default stack size from there.
            a->version = JNI_VERSION_1_2;
            a->javaStackSize = kHotspotStackSize;
            rc = JNI_ERR;
        }
    } else if (CreateAccepts(mode, version)) {
        rc = JNI_OK;
    } else {
        rc = mode == Mode::Hotspot ? JNI_ERR : JNI_EVERSION;
    }
    Log(st, "getdefault version=" + Hex32(static_cast<uint32_t>(version)) + " -> " + std::to_string(static_cast<long>(rc)));
    return rc;
}

extern "C" JNIEXPORT jint JNICALL JNI_CreateJavaVM(JavaVM **pvm, void **penv, void *args) {
    State &st = S();
    std::lock_guard<std::mutex> lock(st.mu);
    EnsureStarted(st);
    RefreshApplication(st);
    if (!pvm || !penv || !args) {
        Violation(st, "JNI_CreateJavaVM: NULL argument");
        Log(st, "create version=(null) -> -1");
        return JNI_ERR;
    }
    Record r = ReadRecord(st, args);
    auto answer = [&](jint rc) {
        Log(st, "create " + r.text + " -> " + std::to_string(static_cast<long>(rc)));
        return rc;
    };
    if (!st.config.createAnswers.empty()) {
        std::optional<jint> forced = st.config.createAnswers.front();
        st.config.createAnswers.pop_front();
        if (forced) return answer(*forced);
    }
    Mode mode = st.config.mode;
    if (st.vm) return answer(JNI_EEXIST);
    if (!CreateAccepts(mode, r.version)) return answer(JNI_EVERSION);
    if (!r.readable) return answer(JNI_ERR);
    if (r.unknownOption && !r.ignoreUnrecognized) return answer(JNI_ERR);

    auto vm = std::make_unique<Vm>();
    vm->id = st.nextVmId++;
    vm->mode = mode;
    vm->version = VmVersion(mode);
    vm->creatorTid = std::this_thread::get_id();
    vm->firstSerial = st.nextSerial;
    vm->appVisible = ClassPathHasJar(r.classPath, st.config.jarRequired);
    vm->exitHook = r.exitHook;
    VmBlock &vb = st.vmBlocks.emplace_back();
    vb.vm.functions = InvokeTable();
    vb.vmId = vm->id;
    st.vmIndex[&vb.vm] = &vb;
    vm->block = &vb;
    st.vm = std::move(vm);
    ThreadRec *t = NewThread(st, "main", false, true);
    *pvm = &vb.vm;
    *penv = &t->env->env;
    jint rc = answer(JNI_OK);
    // The Java application's relative paths start here.
    Log(st, "workdir " + PlatformWorkingDirectory());
    return rc;
}

extern "C" JNIEXPORT jint JNICALL JNI_GetCreatedJavaVMs(JavaVM **vmBuf, jsize bufLen, jsize *nVMs) {
    State &st = S();
    std::lock_guard<std::mutex> lock(st.mu);
    EnsureStarted(st);
    if (InExitHook()) {
        // The way a hook without a JavaVM would find one to attach to.
        Violation(st, "JNI_GetCreatedJavaVMs: called from inside the exit hook");
        return JNI_ERR;
    }
    if (!nVMs) {
        Violation(st, "JNI_GetCreatedJavaVMs: NULL count pointer");
        return JNI_ERR;
    }
    *nVMs = st.vm ? 1 : 0;
    if (st.vm && vmBuf && bufLen > 0) vmBuf[0] = &st.vm->block->vm;
    Log(st, "getcreated -> " + std::to_string(static_cast<long>(*nVMs)));
    return JNI_OK;
}
