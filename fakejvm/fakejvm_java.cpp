// The modelled Java side: which classes exist, and what each application
// method does when native code calls it.
#include "fakejvm_internal.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace fakejvm {

const char kMainClass[] = "com/norvanta/kelvarin/main/TApplication";
const char kInterfaceClass[] = "com/norvanta/kelvarin/data/TExternalDataInterface";

const ModelMethod kModelMethods[] = {
    {kMainClass, "main", "([Ljava/lang/String;)V"},
    {kInterfaceClass, "getTemplateList", "()[Ljava/lang/String;"},
    {kInterfaceClass, "getEventsForToday", "()[Ljava/lang/String;"},
    {kInterfaceClass, "isDoNotDisturbOn", "()Z"},
    {kInterfaceClass, "showDoNotDisturb", "()V"},
    {kInterfaceClass, "showEditReminderWithTemplate", "(I)V"},
    {kInterfaceClass, "showNewReminderDialog", "()V"},
    {kInterfaceClass, "showQuickReminder", "()V"},
    {kInterfaceClass, "showReminderList", "()V"},
    {kInterfaceClass, "showTemplateList", "()V"},
    {kInterfaceClass, "showCategoryList", "()V"},
    {kInterfaceClass, "showSoundList", "()V"},
    {kInterfaceClass, "showAboutWindow", "()V"},
    {kInterfaceClass, "showHelpWindow", "()V"},
    {kInterfaceClass, "quit", "()V"},
    {nullptr, nullptr, nullptr},
};

const ModelMethod *FindModelMethod(const std::string &cls, const std::string &name) {
    for (const ModelMethod *m = kModelMethods; m->name; ++m) {
        if (cls == m->cls && name == m->name) return m;
    }
    return nullptr;
}

namespace {

// The system classes a program may look up, each with its superclass.
struct SystemClass {
    const char *name;
    const char *super;
};
const SystemClass kSystemClasses[] = {
    {"java/lang/Object", nullptr},
    {"java/lang/String", "java/lang/Object"},
    {"java/lang/Class", "java/lang/Object"},
    {"java/lang/Throwable", "java/lang/Object"},
    {"java/lang/Exception", "java/lang/Throwable"},
    {"java/lang/Error", "java/lang/Throwable"},
    {"java/lang/RuntimeException", "java/lang/Exception"},
    {"java/lang/ReflectiveOperationException", "java/lang/Exception"},
    {"java/lang/ClassNotFoundException", "java/lang/ReflectiveOperationException"},
    {"java/lang/IllegalArgumentException", "java/lang/RuntimeException"},
    {"java/lang/IllegalStateException", "java/lang/RuntimeException"},
    {"java/lang/NullPointerException", "java/lang/RuntimeException"},
    {"java/lang/IndexOutOfBoundsException", "java/lang/RuntimeException"},
    {"java/lang/ArrayIndexOutOfBoundsException", "java/lang/IndexOutOfBoundsException"},
    {"java/lang/LinkageError", "java/lang/Error"},
    {"java/lang/NoClassDefFoundError", "java/lang/LinkageError"},
    {"java/lang/IncompatibleClassChangeError", "java/lang/LinkageError"},
    {"java/lang/NoSuchMethodError", "java/lang/IncompatibleClassChangeError"},
    {"java/lang/VirtualMachineError", "java/lang/Error"},
    {"java/lang/OutOfMemoryError", "java/lang/VirtualMachineError"},
    {"[Ljava/lang/String;", "java/lang/Object"},
    {kMainClass, "java/lang/Object"},
    {kInterfaceClass, "java/lang/Object"},
};

const SystemClass *FindKnownClass(const std::string &name) {
    for (const SystemClass &c : kSystemClasses) {
        if (name == c.name) return &c;
    }
    return nullptr;
}

}  // namespace

// Exceptions that scripts throw may name classes the model does not list;
// they count as unchecked exceptions.
std::string SuperOf(const std::string &name) {
    if (const SystemClass *c = FindKnownClass(name)) return c->super ? c->super : "";
    if (name == "java/lang/Object") return "";
    return name.find("Exception") != std::string::npos || name.find("Error") != std::string::npos
               ? "java/lang/RuntimeException"
               : "java/lang/Object";
}

namespace {

ObjPtr NewString(const Element &e) {
    auto s = std::make_shared<Object>();
    s->kind = Kind::String;
    s->text = e.bytes;
    s->utfFails = e.utfFails;
    return s;
}

ObjPtr NewArray(const ListAnswer &list, const std::set<long> &unreadable, const char *origin) {
    if (list.isNull) return nullptr;
    auto a = std::make_shared<Object>();
    a->kind = Kind::StringArray;
    a->text = "[Ljava/lang/String;";
    a->origin = origin;
    a->elements.reserve(list.elements.size());
    for (const Element &e : list.elements) {
        a->elements.push_back(e.isNull ? nullptr : NewString(e));
    }
    for (long index : unreadable) {
        if (index < static_cast<long>(a->elements.size()) && a->elements[index]) a->elements[index]->utfFails = true;
    }
    return a;
}

}  // namespace

bool IsSubclass(const std::string &cls, const std::string &of) {
    std::string c = cls;
    for (int depth = 0; !c.empty() && depth < 32; ++depth) {
        if (c == of) return true;
        c = SuperOf(c);
    }
    return false;
}

std::string ClassOf(const Object &obj) {
    switch (obj.kind) {
    case Kind::Class: return "java/lang/Class";
    case Kind::String: return "java/lang/String";
    case Kind::StringArray: return "[Ljava/lang/String;";
    case Kind::Throwable: return obj.text;
    }
    return "java/lang/Object";
}

bool ClassLoadable(const State &st, const std::string &name) {
    if (name == kMainClass || name == kInterfaceClass) {
        return st.vm && st.vm->appVisible && !st.config.removedClasses.count(name);
    }
    return FindKnownClass(name) != nullptr;
}

ObjPtr ClassObject(State &st, const std::string &name) {
    ObjPtr &slot = st.vm->classes[name];
    if (!slot) {
        slot = std::make_shared<Object>();
        slot->kind = Kind::Class;
        slot->text = name;
    }
    return slot;
}

ObjPtr NewThrowable(const std::string &cls, const char *message) {
    auto e = std::make_shared<Object>();
    e->kind = Kind::Throwable;
    e->text = cls;
    if (message) {
        e->hasMessage = true;
        e->message = message;
    }
    return e;
}

void SetPending(State &st, ThreadRec *t, const ObjPtr &exc) {
    t->pending = exc;
    Log(st, "exception " + Printable(exc->text) + ": " +
                (exc->hasMessage ? Printable(exc->message) : std::string("(null)")));
}

namespace {

// How long a serving delay waits for sent messages at a time: short enough
// that an in-process exit ends the call soon, long enough not to spin.
unsigned long const kServeSliceMs = 30;

std::string MethodName(const MethodRec &m) { return m.cls + "." + m.name + m.sig; }

const char *AwarenessWord(int awareness) {
    switch (awareness) {
    case 0: return "unaware";
    case 1: return "system";
    case 2: return "per-monitor";
    }
    return "unknown";
}

// Takes the call off its thread's stack on every way out of InvokeJava, the
// lock held. A VM gone meanwhile took the thread's record with it.
struct CallFrame {
    State &st;
    ThreadRec *t;
    uint64_t vmId;
    ~CallFrame() {
        if (st.vm && st.vm->id == vmId) t->calls.pop_back();
    }
};

// Waits out a scripted delay with the lock released. A serving delay serves
// the messages sent to this thread meanwhile, as a thread blocked in
// SendMessage to AWT's toolkit thread does, so that a window procedure of the
// program may run inside the call and call Java itself. Either kind ends
// early once an in-process exit has ended the VM's process: in a real process
// exit a call still in Java never returns, in-process it returns at once so
// that its thread can detach and the test end; what it answers then means
// nothing.
void WaitOut(State &st, std::unique_lock<std::mutex> &lock, uint64_t vmId, const Delay &delay) {
    Clock::time_point until = Clock::now() + std::chrono::milliseconds(delay.ms);
    auto over = [&] { return !st.vm || st.vm->id != vmId || (st.vm->exitRun && st.vm->exitRun->ended); };
    if (!delay.serving) {
        st.exitCv.wait_until(lock, until, over);
        return;
    }
    while (!over()) {
        Clock::time_point now = Clock::now();
        if (now >= until) return;
        Clock::time_point sliceEnd = std::min(until, now + std::chrono::milliseconds(kServeSliceMs));
        auto waitMs = std::chrono::ceil<std::chrono::milliseconds>(sliceEnd - now).count();
        FakeJvmWindowSystem ws = st.windowSystem;
        lock.unlock();
        int served = PlatformServeSentMessages(ws, static_cast<unsigned long>(waitMs));
        lock.lock();
        // After a message, look again at once: more may have come. Without
        // one the slice is waited out here, also when the window system
        // returned early or there is none (the host's without one: a plain
        // delay then).
        if (served <= 0) st.exitCv.wait_until(lock, sliceEnd, over);
    }
}

}  // namespace

JavaValue InvokeJava(State &st, std::unique_lock<std::mutex> &lock, ThreadRec *t,
                     const MethodRec &m, const std::vector<std::string> &args) {
    JavaValue result;
    uint64_t vmId = st.vm->id;

    // What AWT measures the screen with from this thread. The window system
    // is asked without the lock: a host's may take locks of its own that a
    // thread inside a JNI call holds.
    FakeJvmWindowSystem ws = st.windowSystem;
    lock.unlock();
    DpiView view = PlatformDpiView(ws);
    lock.lock();
    if (!st.vm || st.vm->id != vmId) return result;

    std::string name = MethodName(m);
    if (!t->calls.empty()) Log(st, "nested " + name + " inside " + MethodName(*t->calls.back()));
    std::string line = "invoke " + name;
    for (const std::string &a : args) line += " " + a;
    Log(st, line);
    Log(st, std::string("dpi ") + AwarenessWord(view.awareness) + " " + std::to_string(view.width) + "x" +
                std::to_string(view.height) + " " + name);
    t->calls.push_back(&m);
    CallFrame frame{st, t, vmId};

    std::string key = m.cls + "." + m.name;
    auto delay = st.config.delays.find(key);
    if (delay != st.config.delays.end() && delay->second.ms > 0) {
        Delay wait = delay->second;  // a script run meanwhile may change the entry
        WaitOut(st, lock, vmId, wait);
        // The VM may have gone meanwhile (a daemon thread's call outlives it).
        if (!st.vm || st.vm->id != vmId) return result;
        RefreshApplication(st);
    }

    Config &cfg = st.config;
    auto thrown = cfg.throws.find(key);
    bool throws = thrown != cfg.throws.end();
    if (throws) {
        const ThrowRule &r = thrown->second;
        SetPending(st, t, NewThrowable(r.exceptionClass, r.hasMessage ? r.message.c_str() : nullptr));
    }

    if (m.cls == kMainClass) {
        // The application's lifetime follows the main line of the script
        // whether or not main throws: a main may start its threads and then
        // fail, or fail with nothing started ("main end").
        switch (cfg.main) {
        case MainBehaviour::Run:
            if (st.vm->app == AppState::NotStarted) {
                st.vm->app = AppState::Running;
                ScheduleExit(st);
            }
            break;
        case MainBehaviour::EndAfter:
            if (st.vm->app == AppState::NotStarted) {
                st.vm->app = AppState::Running;
                st.vm->appEndTimed = true;
                st.vm->appEndAt = Clock::now() + std::chrono::milliseconds(cfg.mainEndAfterMs);
                ScheduleExit(st);
            }
            break;
        case MainBehaviour::End:
            EndApplication(st);
            break;
        }
        return result;
    }
    // A method that throws does nothing else.
    if (throws) return result;
    if (m.name == "getTemplateList") {
        result.obj = NewArray(cfg.templates, cfg.templatesUnreadable, "getTemplateList");
    } else if (m.name == "getEventsForToday") {
        result.obj = NewArray(cfg.events, cfg.eventsUnreadable, "getEventsForToday");
    } else if (m.name == "isDoNotDisturbOn") {
        result.i = cfg.doNotDisturb;
    } else if (m.name == "showDoNotDisturb") {
        if (cfg.doNotDisturbToggles) cfg.doNotDisturb = cfg.doNotDisturb ? 0 : 1;
    } else if (m.name == "quit") {
        switch (cfg.quit) {
        case QuitBehaviour::End:
            EndApplication(st);
            break;
        case QuitBehaviour::Stay:
            break;
        case QuitBehaviour::Exit:
            // quit calls System.exit itself, on the caller's thread; in-process
            // the call then returns, the application ended.
            SystemExit(st, lock, cfg.quitExitCode, t->name);
            break;
        }
    }
    return result;
}

}  // namespace fakejvm
