// The process-wide state of the stand-in runtime: log and violations,
// references and their frames, and the start-up from environment variables.
#include "fakejvm_internal.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace fakejvm {

namespace {

// A thread's own record. Compared against the live VM's id before use, so a
// record of a destroyed VM is never touched.
thread_local ThreadRec *tlRec = nullptr;
thread_local uint64_t tlVmId = 0;

size_t const kMaxScriptFileBytes = 512u << 20;

jobject EncodeRef(uint64_t serial, RefKind kind) {
    return reinterpret_cast<jobject>(static_cast<uintptr_t>((serial << 3) | static_cast<uintptr_t>(kind)));
}

Frame *FrameById(ThreadRec *t, uint64_t id) {
    for (auto f = t->frames.rbegin(); f != t->frames.rend(); ++f) {
        if (f->id == id) return &*f;
    }
    return nullptr;
}

void AppendToLogFile(const std::string &path, const std::string &line) {
    // Opened per line, so that other processes reading the file see each line
    // as soon as it is written, and two writers never hold a stale offset.
    if (FILE *f = std::fopen(path.c_str(), "ab")) {
        std::fwrite(line.data(), 1, line.size(), f);
        std::fputc('\n', f);
        std::fclose(f);
    }
}

}  // namespace

std::string ThreadLabel(const ThreadRec *t) { return "thread \"" + t->name + "\""; }

std::string CallerLabel(const State &st) {
    if (const ThreadRec *t = CurrentThread(st)) return ThreadLabel(t);
    return "unattached thread " + std::to_string(PlatformThreadKey());
}

uint64_t RefSerial(jobject ref) { return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(ref) >> 3); }

unsigned RefTag(jobject ref) { return static_cast<unsigned>(reinterpret_cast<uintptr_t>(ref) & 7); }

State &S() {
    static State *state = new State;
    return *state;
}

ThreadRec *CurrentThread(const State &st) {
    if (!st.vm || tlVmId != st.vm->id || !tlRec || !tlRec->attached) return nullptr;
    return tlRec;
}

ThreadRec *DetachedThread(const State &st) {
    if (!st.vm || tlVmId != st.vm->id || !tlRec || tlRec->attached) return nullptr;
    return tlRec;
}

void SetCurrentThread(ThreadRec *rec, uint64_t vmId) {
    tlRec = rec;
    tlVmId = vmId;
}

std::string Printable(const std::string &bytes, size_t max) {
    static const char hex[] = "0123456789abcdef";
    std::string out;
    size_t n = bytes.size() < max ? bytes.size() : max;
    for (size_t i = 0; i < n; ++i) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c == '\\') {
            out += "\\\\";
        } else if (c < 0x20 || c >= 0x7f) {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    if (bytes.size() > max) out += "...(" + std::to_string(bytes.size()) + " bytes)";
    return out;
}

std::string Printable(const char *text, size_t max) {
    if (!text) return "(null)";
    // Read no further than needed: the text may be huge or unterminated junk.
    std::string s;
    for (size_t i = 0; text[i] && i <= max; ++i) s += text[i];
    return Printable(s, max);
}

std::string Hex32(uint32_t value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08lx", static_cast<unsigned long>(value));
    return buf;
}

std::string Dotted(const std::string &name) {
    std::string out = name;
    for (char &c : out) {
        if (c == '/') c = '.';
    }
    return out;
}

// Bounds of the in-memory records, so that a long run cannot eat the
// machine. With FAKEJVM_LOG the file still gets every line.
size_t const kMaxLogLines = 2000000;
size_t const kMaxViolations = 100000;

void Log(State &st, const std::string &line) {
    if (!st.logPath.empty()) AppendToLogFile(st.logPath, line);
    if (st.log.size() < kMaxLogLines) {
        st.log.push_back(line);
    } else if (!st.logFull) {
        st.logFull = true;
        std::string text = "the in-memory log is full (" + std::to_string(kMaxLogLines) +
                           " lines); FakeJvm_ClearLog makes room";
        st.violations.push_back(text);
        std::fprintf(stderr, "fakejvm: VIOLATION: %s\n", text.c_str());
    }
    st.cv.notify_all();
}

void Violation(State &st, const std::string &text) {
    if (st.violations.size() < kMaxViolations) st.violations.push_back(text);
    std::fprintf(stderr, "fakejvm: VIOLATION: %s\n", text.c_str());
    std::fflush(stderr);
    Log(st, "violation " + text);
}

void EnsureStarted(State &st) {
    if (st.started) return;
    st.started = true;
    const char *logPath = std::getenv("FAKEJVM_LOG");
    if (logPath && *logPath) st.logPath = logPath;
    if (st.scriptLoaded) return;

    const char *scriptPath = std::getenv("FAKEJVM_SCRIPT");
    std::string text = kDefaultScript;
    std::string origin = "built-in";
    if (scriptPath && *scriptPath) {
        origin = scriptPath;
        std::ifstream in(scriptPath, std::ios::binary);
        std::ostringstream content;
        if (in) content << in.rdbuf();
        if (!in || content.str().size() > kMaxScriptFileBytes) {
            Violation(st, "FAKEJVM_SCRIPT " + Printable(origin) + ": cannot read the file");
            return;
        }
        text = content.str();
    }
    int badLine = 0;
    std::string error;
    if (!ParseScript(text, st.config, badLine, error)) {
        st.scriptError = error;
        Violation(st, "FAKEJVM_SCRIPT " + Printable(origin) + ": " + error);
        return;
    }
    Log(st, "script " + Printable(origin));
}

void EndApplication(State &st) {
    if (!st.vm || st.vm->app == AppState::Ended) return;
    st.vm->app = AppState::Ended;
    Log(st, "application end");
}

void RefreshApplication(State &st) {
    if (st.vm && st.vm->app == AppState::Running && st.vm->appEndTimed && Clock::now() >= st.vm->appEndAt) {
        EndApplication(st);
    }
}

// ---------------------------------------------------------------- references

void PushFrame(State &st, ThreadRec *t, int capacity) {
    Frame f;
    f.id = st.nextFrameId++;
    f.capacity = capacity;
    t->frames.push_back(std::move(f));
}

int LiveLocals(const ThreadRec *t) {
    int n = 0;
    for (const Frame &f : t->frames) n += f.live;
    return n;
}

jobject NewRef(State &st, ThreadRec *t, const ObjPtr &obj, RefKind kind) {
    if (!obj) return nullptr;
    uint64_t serial = st.nextSerial++;
    RefEntry e{kind, obj, nullptr, 0};
    if (kind == RefKind::Local) {
        Frame &f = t->frames.back();
        e.thread = t;
        e.frameId = f.id;
        f.serials.push_back(serial);
        ++f.live;
        // Reported once per frame: a leak in a loop shows as one violation,
        // not thousands.
        if (f.live > f.capacity && !f.reported) {
            f.reported = true;
            Violation(st, "local references pile up: " + ThreadLabel(t) + " has " + std::to_string(f.live) +
                              " live in a frame of capacity " + std::to_string(f.capacity));
        }
    }
    st.vm->refs.emplace(serial, std::move(e));
    return EncodeRef(serial, kind);
}

Resolved Resolve(State &st, ThreadRec *t, jobject ref, const char *fn) {
    Resolved r;
    if (!ref) return r;
    uintptr_t v = reinterpret_cast<uintptr_t>(ref);
    unsigned tag = RefTag(ref);
    uint64_t serial = RefSerial(ref);
    // Every JNI call resolves its references: the message is made only for a
    // violation, or it would be most of a menu opening's cost.
    auto where = [fn] { return std::string(fn) + ": "; };
    r.bad = true;
    if (tag < 1 || tag > 3 || serial >= st.nextSerial || serial == 0) {
        Violation(st, where() + "unknown reference " + Hex32(static_cast<uint32_t>(v)));
        return r;
    }
    auto it = st.vm->refs.find(serial);
    if (it == st.vm->refs.end()) {
        if (serial < st.vm->firstSerial) {
            Violation(st, where() + "reference from a destroyed VM");
        } else if (tag == static_cast<unsigned>(RefKind::Local)) {
            Violation(st, where() + "stale local reference (deleted, or its frame was popped or its thread detached)");
        } else if (tag == static_cast<unsigned>(RefKind::Global)) {
            Violation(st, where() + "deleted global reference");
        } else {
            Violation(st, where() + "deleted weak global reference");
        }
        return r;
    }
    const RefEntry &e = it->second;
    if (e.kind == RefKind::Local && e.thread != t) {
        Violation(st, where() + "local reference of " + ThreadLabel(e.thread) + " used on " + CallerLabel(st));
        return r;
    }
    r.obj = e.obj;
    r.bad = false;
    return r;
}

void FreeThreadLocals(State &st, ThreadRec *t) {
    for (const Frame &f : t->frames) {
        for (uint64_t serial : f.serials) st.vm->refs.erase(serial);
    }
    t->frames.clear();
}

// Local reference bookkeeping used by DeleteLocalRef and PopLocalFrame.
void DropLocal(State &st, uint64_t serial) {
    auto it = st.vm->refs.find(serial);
    if (it == st.vm->refs.end()) return;
    if (Frame *f = FrameById(it->second.thread, it->second.frameId)) --f->live;
    st.vm->refs.erase(it);
}

}  // namespace fakejvm
