// The JNIEnv function table. Every slot is filled: what the model needs is
// implemented strictly, everything else reports itself as unimplemented and
// answers zero, so that a call never jumps through a null pointer.
#include "fakejvm_internal.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <type_traits>

namespace fakejvm {

namespace {

// ------------------------------------------------------------ slot names
// The slots of JNINativeInterface_ after its four reserved ones, in order.
#define FAKEJVM_SLOTS_BASE(X) \
    X(GetVersion) X(DefineClass) X(FindClass) X(FromReflectedMethod) X(FromReflectedField) \
    X(ToReflectedMethod) X(GetSuperclass) X(IsAssignableFrom) X(ToReflectedField) X(Throw) X(ThrowNew) \
    X(ExceptionOccurred) X(ExceptionDescribe) X(ExceptionClear) X(FatalError) X(PushLocalFrame) \
    X(PopLocalFrame) X(NewGlobalRef) X(DeleteGlobalRef) X(DeleteLocalRef) X(IsSameObject) X(NewLocalRef) \
    X(EnsureLocalCapacity) X(AllocObject) X(NewObject) X(NewObjectV) X(NewObjectA) X(GetObjectClass) \
    X(IsInstanceOf) X(GetMethodID) \
    X(CallObjectMethod) X(CallObjectMethodV) X(CallObjectMethodA) \
    X(CallBooleanMethod) X(CallBooleanMethodV) X(CallBooleanMethodA) \
    X(CallByteMethod) X(CallByteMethodV) X(CallByteMethodA) \
    X(CallCharMethod) X(CallCharMethodV) X(CallCharMethodA) \
    X(CallShortMethod) X(CallShortMethodV) X(CallShortMethodA) \
    X(CallIntMethod) X(CallIntMethodV) X(CallIntMethodA) \
    X(CallLongMethod) X(CallLongMethodV) X(CallLongMethodA) \
    X(CallFloatMethod) X(CallFloatMethodV) X(CallFloatMethodA) \
    X(CallDoubleMethod) X(CallDoubleMethodV) X(CallDoubleMethodA) \
    X(CallVoidMethod) X(CallVoidMethodV) X(CallVoidMethodA) \
    X(CallNonvirtualObjectMethod) X(CallNonvirtualObjectMethodV) X(CallNonvirtualObjectMethodA) \
    X(CallNonvirtualBooleanMethod) X(CallNonvirtualBooleanMethodV) X(CallNonvirtualBooleanMethodA) \
    X(CallNonvirtualByteMethod) X(CallNonvirtualByteMethodV) X(CallNonvirtualByteMethodA) \
    X(CallNonvirtualCharMethod) X(CallNonvirtualCharMethodV) X(CallNonvirtualCharMethodA) \
    X(CallNonvirtualShortMethod) X(CallNonvirtualShortMethodV) X(CallNonvirtualShortMethodA) \
    X(CallNonvirtualIntMethod) X(CallNonvirtualIntMethodV) X(CallNonvirtualIntMethodA) \
    X(CallNonvirtualLongMethod) X(CallNonvirtualLongMethodV) X(CallNonvirtualLongMethodA) \
    X(CallNonvirtualFloatMethod) X(CallNonvirtualFloatMethodV) X(CallNonvirtualFloatMethodA) \
    X(CallNonvirtualDoubleMethod) X(CallNonvirtualDoubleMethodV) X(CallNonvirtualDoubleMethodA) \
    X(CallNonvirtualVoidMethod) X(CallNonvirtualVoidMethodV) X(CallNonvirtualVoidMethodA) \
    X(GetFieldID) X(GetObjectField) X(GetBooleanField) X(GetByteField) X(GetCharField) X(GetShortField) \
    X(GetIntField) X(GetLongField) X(GetFloatField) X(GetDoubleField) X(SetObjectField) X(SetBooleanField) \
    X(SetByteField) X(SetCharField) X(SetShortField) X(SetIntField) X(SetLongField) X(SetFloatField) \
    X(SetDoubleField) X(GetStaticMethodID) \
    X(CallStaticObjectMethod) X(CallStaticObjectMethodV) X(CallStaticObjectMethodA) \
    X(CallStaticBooleanMethod) X(CallStaticBooleanMethodV) X(CallStaticBooleanMethodA) \
    X(CallStaticByteMethod) X(CallStaticByteMethodV) X(CallStaticByteMethodA) \
    X(CallStaticCharMethod) X(CallStaticCharMethodV) X(CallStaticCharMethodA) \
    X(CallStaticShortMethod) X(CallStaticShortMethodV) X(CallStaticShortMethodA) \
    X(CallStaticIntMethod) X(CallStaticIntMethodV) X(CallStaticIntMethodA) \
    X(CallStaticLongMethod) X(CallStaticLongMethodV) X(CallStaticLongMethodA) \
    X(CallStaticFloatMethod) X(CallStaticFloatMethodV) X(CallStaticFloatMethodA) \
    X(CallStaticDoubleMethod) X(CallStaticDoubleMethodV) X(CallStaticDoubleMethodA) \
    X(CallStaticVoidMethod) X(CallStaticVoidMethodV) X(CallStaticVoidMethodA) \
    X(GetStaticFieldID) X(GetStaticObjectField) X(GetStaticBooleanField) X(GetStaticByteField) \
    X(GetStaticCharField) X(GetStaticShortField) X(GetStaticIntField) X(GetStaticLongField) \
    X(GetStaticFloatField) X(GetStaticDoubleField) X(SetStaticObjectField) X(SetStaticBooleanField) \
    X(SetStaticByteField) X(SetStaticCharField) X(SetStaticShortField) X(SetStaticIntField) \
    X(SetStaticLongField) X(SetStaticFloatField) X(SetStaticDoubleField) X(NewString) X(GetStringLength) \
    X(GetStringChars) X(ReleaseStringChars) X(NewStringUTF) X(GetStringUTFLength) X(GetStringUTFChars) \
    X(ReleaseStringUTFChars) X(GetArrayLength) X(NewObjectArray) X(GetObjectArrayElement) \
    X(SetObjectArrayElement) X(NewBooleanArray) X(NewByteArray) X(NewCharArray) X(NewShortArray) \
    X(NewIntArray) X(NewLongArray) X(NewFloatArray) X(NewDoubleArray) X(GetBooleanArrayElements) \
    X(GetByteArrayElements) X(GetCharArrayElements) X(GetShortArrayElements) X(GetIntArrayElements) \
    X(GetLongArrayElements) X(GetFloatArrayElements) X(GetDoubleArrayElements) \
    X(ReleaseBooleanArrayElements) X(ReleaseByteArrayElements) X(ReleaseCharArrayElements) \
    X(ReleaseShortArrayElements) X(ReleaseIntArrayElements) X(ReleaseLongArrayElements) \
    X(ReleaseFloatArrayElements) X(ReleaseDoubleArrayElements) X(GetBooleanArrayRegion) \
    X(GetByteArrayRegion) X(GetCharArrayRegion) X(GetShortArrayRegion) X(GetIntArrayRegion) \
    X(GetLongArrayRegion) X(GetFloatArrayRegion) X(GetDoubleArrayRegion) X(SetBooleanArrayRegion) \
    X(SetByteArrayRegion) X(SetCharArrayRegion) X(SetShortArrayRegion) X(SetIntArrayRegion) \
    X(SetLongArrayRegion) X(SetFloatArrayRegion) X(SetDoubleArrayRegion) X(RegisterNatives) \
    X(UnregisterNatives) X(MonitorEnter) X(MonitorExit) X(GetJavaVM) X(GetStringRegion) \
    X(GetStringUTFRegion) X(GetPrimitiveArrayCritical) X(ReleasePrimitiveArrayCritical) \
    X(GetStringCritical) X(ReleaseStringCritical) X(NewWeakGlobalRef) X(DeleteWeakGlobalRef) \
    X(ExceptionCheck) X(NewDirectByteBuffer) X(GetDirectBufferAddress) X(GetDirectBufferCapacity) \
    X(GetObjectRefType) X(GetModule)

// Newer jni.h files append slots; their version macros tell which.
#ifdef JNI_VERSION_21
#define FAKEJVM_SLOTS_21(X) X(IsVirtualThread)
#else
#define FAKEJVM_SLOTS_21(X)
#endif
#ifdef JNI_VERSION_24
#define FAKEJVM_SLOTS_24(X) X(GetStringUTFLengthAsLong)
#else
#define FAKEJVM_SLOTS_24(X)
#endif
#define FAKEJVM_SLOTS(X) FAKEJVM_SLOTS_BASE(X) FAKEJVM_SLOTS_21(X) FAKEJVM_SLOTS_24(X)

#define FAKEJVM_SLOT_ENUM(name) kSlot_##name,
enum SlotIndex { FAKEJVM_SLOTS(FAKEJVM_SLOT_ENUM) kSlotCount };
#define FAKEJVM_SLOT_NAME(name) #name,
const char *const kSlotNames[] = {FAKEJVM_SLOTS(FAKEJVM_SLOT_NAME)};

// A jni.h with more slots than listed would leave some null: refuse to build.
static_assert(sizeof(JNINativeInterface_) == (4 + kSlotCount) * sizeof(void *),
              "the JNIEnv slot list does not match this jni.h");

void ReportUnimplemented(int slot) {
    State &st = S();
    std::lock_guard<std::mutex> lock(st.mu);
    Violation(st, std::string("unimplemented JNI function ") + kSlotNames[slot]);
}

// Stubs typed from the slot itself, so that a __stdcall stub pops exactly the
// arguments its caller pushed. The variadic slots are cdecl whatever jni.h
// says, and get a variadic stub.
template <int I, typename R, typename... A>
R JNICALL Unimplemented(A...) {
    ReportUnimplemented(I);
    if constexpr (!std::is_void_v<R>) return R{};
}
template <int I, typename R, typename... A>
R JNICALL UnimplementedVariadic(A..., ...) {
    ReportUnimplemented(I);
    if constexpr (!std::is_void_v<R>) return R{};
}
template <int I, typename R, typename... A>
void Fill(R(JNICALL *&slot)(A...)) {
    slot = &Unimplemented<I, R, A...>;
}
template <int I, typename R, typename... A>
void Fill(R(JNICALL *&slot)(A..., ...)) {
    slot = &UnimplementedVariadic<I, R, A...>;
}

// ------------------------------------------------------------ entering a call

// Holds the lock for one JNI function and says whether the env may be used.
// A bad env is one violation and the function answers zero; an exception
// pending where JNI forbids calls is a violation but the call goes on, as a
// VM without checks would.
struct Call {
    State &st;
    std::unique_lock<std::mutex> lock;
    ThreadRec *t = nullptr;
    const char *fn;

    Call(JNIEnv *env, const char *name, bool allowedWhilePending = false)
        : st(S()), lock(st.mu), fn(name) {
        RefreshApplication(st);
        if (InExitHook()) {
            // Whatever env the hook kept, the VM is stopping its threads and
            // runs no more Java for it.
            Violation(st, Where() + "called from inside the exit hook");
            return;
        }
        auto it = st.envIndex.find(env);
        if (it == st.envIndex.end()) {
            Violation(st, Where() + "unknown JNIEnv pointer");
            return;
        }
        EnvBlock *b = it->second;
        if (!st.vm || b->vmId != st.vm->id) {
            Violation(st, Where() + "JNIEnv used after DestroyJavaVM");
            return;
        }
        ThreadRec *owner = b->owner;
        if (!owner->attached) {
            Violation(st, Where() + "JNIEnv of " + ThreadLabel(owner) + " used after that thread detached");
            return;
        }
        if (CurrentThread(st) != owner) {
            Violation(st, Where() + "JNIEnv of " + ThreadLabel(owner) + " used on " + CallerLabel(st));
            return;
        }
        t = owner;
        if (t->pending && !allowedWhilePending) {
            Violation(st, Where() + "called with an exception pending (" + Describe(*t->pending) + ")");
        }
    }
    bool ok() const { return t != nullptr; }
    std::string Where() const { return std::string(fn) + ": "; }
    void Fail(const std::string &text) { Violation(st, Where() + text); }
    static std::string Describe(const Object &exc) {
        return Printable(exc.text) + ": " + (exc.hasMessage ? Printable(exc.message) : std::string("(null)"));
    }
    // The VM this call began in is still there (a Java method may have
    // released the lock for a while).
    bool SameVm(uint64_t vmId) const { return st.vm && st.vm->id == vmId; }
};

// An argument that must be a non-null reference of a given kind; null after a
// violation has been recorded.
ObjPtr ObjectArg(Call &c, jobject ref, Kind kind, const char *what) {
    if (!ref) {
        c.Fail(std::string("NULL ") + what);
        return nullptr;
    }
    Resolved r = Resolve(c.st, c.t, ref, c.fn);
    if (r.bad) return nullptr;
    if (r.obj->kind != kind) {
        c.Fail(std::string("not a ") + what + " but a " + Printable(ClassOf(*r.obj)));
        return nullptr;
    }
    return r.obj;
}

ObjPtr ClassArg(Call &c, jclass cls) { return ObjectArg(c, cls, Kind::Class, "class"); }

bool TextArg(Call &c, const char *text, const char *what) {
    if (text) return true;
    c.Fail(std::string("NULL ") + what);
    return false;
}

jobject Local(Call &c, const ObjPtr &obj) { return NewRef(c.st, c.t, obj, RefKind::Local); }

// ------------------------------------------------------------ classes and exceptions

jint JNICALL GetVersion(JNIEnv *env) {
    Call c(env, "GetVersion");
    return c.ok() ? c.st.vm->version : 0;
}

jclass JNICALL FindClass(JNIEnv *env, const char *name) {
    Call c(env, "FindClass");
    if (!c.ok() || !TextArg(c, name, "class name")) return nullptr;
    std::string n = name;
    bool found = ClassLoadable(c.st, n);
    Log(c.st, "findclass " + Printable(n) + (found ? " -> found" : " -> missing"));
    if (!found) {
        SetPending(c.st, c.t, NewThrowable("java/lang/NoClassDefFoundError", n.c_str()));
        return nullptr;
    }
    return static_cast<jclass>(Local(c, ClassObject(c.st, n)));
}

jclass JNICALL GetSuperclass(JNIEnv *env, jclass cls) {
    Call c(env, "GetSuperclass");
    if (!c.ok()) return nullptr;
    ObjPtr k = ClassArg(c, cls);
    if (!k) return nullptr;
    std::string super = SuperOf(k->text);
    return super.empty() ? nullptr : static_cast<jclass>(Local(c, ClassObject(c.st, super)));
}

jboolean JNICALL IsAssignableFrom(JNIEnv *env, jclass sub, jclass sup) {
    Call c(env, "IsAssignableFrom");
    if (!c.ok()) return JNI_FALSE;
    ObjPtr a = ClassArg(c, sub);
    ObjPtr b = a ? ClassArg(c, sup) : nullptr;
    return a && b && IsSubclass(a->text, b->text) ? JNI_TRUE : JNI_FALSE;
}

jint JNICALL Throw(JNIEnv *env, jthrowable obj) {
    Call c(env, "Throw");
    if (!c.ok()) return JNI_ERR;
    ObjPtr e = ObjectArg(c, obj, Kind::Throwable, "throwable");
    if (!e) return JNI_ERR;
    SetPending(c.st, c.t, e);
    return JNI_OK;
}

jint JNICALL ThrowNew(JNIEnv *env, jclass cls, const char *msg) {
    Call c(env, "ThrowNew");
    if (!c.ok()) return JNI_ERR;
    ObjPtr k = ClassArg(c, cls);
    if (!k) return JNI_ERR;
    if (!IsSubclass(k->text, "java/lang/Throwable")) {
        c.Fail("class " + Printable(k->text) + " is not a Throwable");
        return JNI_ERR;
    }
    SetPending(c.st, c.t, NewThrowable(k->text, msg));
    return JNI_OK;
}

jthrowable JNICALL ExceptionOccurred(JNIEnv *env) {
    Call c(env, "ExceptionOccurred", true);
    if (!c.ok() || !c.t->pending) return nullptr;
    return static_cast<jthrowable>(Local(c, c.t->pending));
}

void JNICALL ExceptionDescribe(JNIEnv *env) {
    Call c(env, "ExceptionDescribe", true);
    if (!c.ok() || !c.t->pending) return;
    const Object &e = *c.t->pending;
    std::string line = "Exception in thread \"" + c.t->name + "\" " + Dotted(Printable(e.text));
    if (e.hasMessage) line += ": " + Printable(e.message, 2000);
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
    Log(c.st, "describe " + Call::Describe(e));
    c.t->pending = nullptr;
}

void JNICALL ExceptionClear(JNIEnv *env) {
    Call c(env, "ExceptionClear", true);
    if (!c.ok() || !c.t->pending) return;
    Log(c.st, "exceptionclear " + Printable(c.t->pending->text));
    c.t->pending = nullptr;
}

jboolean JNICALL ExceptionCheck(JNIEnv *env) {
    Call c(env, "ExceptionCheck", true);
    return c.ok() && c.t->pending ? JNI_TRUE : JNI_FALSE;
}

void JNICALL FatalError(JNIEnv *env, const char *msg) {
    // A real VM ends the process here; the stand-in records it and returns,
    // so that the test that provoked it can report what happened.
    Call c(env, "FatalError", true);
    Violation(c.st, "FatalError: " + Printable(msg));
}

// ------------------------------------------------------------ references

int const kMaxFrameCapacity = 65536;

jint JNICALL PushLocalFrame(JNIEnv *env, jint capacity) {
    Call c(env, "PushLocalFrame", true);
    if (!c.ok()) return JNI_ERR;
    if (capacity < 0 || capacity > kMaxFrameCapacity) {
        SetPending(c.st, c.t, NewThrowable("java/lang/OutOfMemoryError", "requested local frame capacity too large"));
        return JNI_ERR;
    }
    PushFrame(c.st, c.t, static_cast<int>(capacity));
    return JNI_OK;
}

jobject JNICALL PopLocalFrame(JNIEnv *env, jobject result) {
    Call c(env, "PopLocalFrame", true);
    if (!c.ok()) return nullptr;
    Resolved r = Resolve(c.st, c.t, result, c.fn);
    if (c.t->frames.size() <= 1) {
        c.Fail("no frame pushed by PushLocalFrame");
        return nullptr;
    }
    for (uint64_t serial : c.t->frames.back().serials) c.st.vm->refs.erase(serial);
    c.t->frames.pop_back();
    return r.obj ? Local(c, r.obj) : nullptr;
}

jint JNICALL EnsureLocalCapacity(JNIEnv *env, jint capacity) {
    Call c(env, "EnsureLocalCapacity");
    if (!c.ok()) return JNI_ERR;
    if (capacity < 0 || capacity > kMaxFrameCapacity) {
        SetPending(c.st, c.t, NewThrowable("java/lang/OutOfMemoryError", "requested local capacity too large"));
        return JNI_ERR;
    }
    Frame &f = c.t->frames.back();
    int wanted = f.live + static_cast<int>(capacity);
    if (wanted > f.capacity) f.capacity = wanted;
    return JNI_OK;
}

jobject JNICALL NewGlobalRef(JNIEnv *env, jobject obj) {
    Call c(env, "NewGlobalRef");
    if (!c.ok()) return nullptr;
    Resolved r = Resolve(c.st, c.t, obj, c.fn);
    return r.obj ? NewRef(c.st, c.t, r.obj, RefKind::Global) : nullptr;
}

jweak JNICALL NewWeakGlobalRef(JNIEnv *env, jobject obj) {
    Call c(env, "NewWeakGlobalRef");
    if (!c.ok()) return nullptr;
    Resolved r = Resolve(c.st, c.t, obj, c.fn);
    return r.obj ? NewRef(c.st, c.t, r.obj, RefKind::Weak) : nullptr;
}

// DeleteGlobalRef, DeleteWeakGlobalRef: the reference must be of that kind.
void DeleteNonLocal(JNIEnv *env, jobject ref, RefKind kind, const char *fn) {
    Call c(env, fn, true);
    if (!c.ok() || !ref) return;
    if (RefTag(ref) != static_cast<unsigned>(kind) && RefTag(ref) >= 1 && RefTag(ref) <= 3) {
        static const char *const kNames[] = {"", "a local", "a global", "a weak global"};
        c.Fail(std::string("given ") + kNames[RefTag(ref)] + " reference");
        return;
    }
    if (Resolve(c.st, c.t, ref, c.fn).bad) return;
    c.st.vm->refs.erase(RefSerial(ref));
}

void JNICALL DeleteGlobalRef(JNIEnv *env, jobject ref) { DeleteNonLocal(env, ref, RefKind::Global, "DeleteGlobalRef"); }

void JNICALL DeleteWeakGlobalRef(JNIEnv *env, jweak ref) {
    DeleteNonLocal(env, ref, RefKind::Weak, "DeleteWeakGlobalRef");
}

void JNICALL DeleteLocalRef(JNIEnv *env, jobject ref) {
    Call c(env, "DeleteLocalRef", true);
    if (!c.ok() || !ref) return;
    if (RefTag(ref) == static_cast<unsigned>(RefKind::Global) || RefTag(ref) == static_cast<unsigned>(RefKind::Weak)) {
        c.Fail("given a global reference");
        return;
    }
    if (Resolve(c.st, c.t, ref, c.fn).bad) return;
    DropLocal(c.st, RefSerial(ref));
}

jboolean JNICALL IsSameObject(JNIEnv *env, jobject a, jobject b) {
    Call c(env, "IsSameObject");
    if (!c.ok()) return JNI_FALSE;
    Resolved ra = Resolve(c.st, c.t, a, c.fn);
    Resolved rb = Resolve(c.st, c.t, b, c.fn);
    if (ra.bad || rb.bad) return JNI_FALSE;
    return ra.obj == rb.obj ? JNI_TRUE : JNI_FALSE;
}

jobject JNICALL NewLocalRef(JNIEnv *env, jobject ref) {
    Call c(env, "NewLocalRef");
    if (!c.ok()) return nullptr;
    Resolved r = Resolve(c.st, c.t, ref, c.fn);
    return r.obj ? Local(c, r.obj) : nullptr;
}

jobjectRefType JNICALL GetObjectRefType(JNIEnv *env, jobject ref) {
    // Asking is allowed for any value, stale ones included: no violation.
    Call c(env, "GetObjectRefType");
    if (!c.ok() || !ref) return JNIInvalidRefType;
    auto it = c.st.vm->refs.find(RefSerial(ref));
    if (it == c.st.vm->refs.end() || static_cast<unsigned>(it->second.kind) != RefTag(ref)) return JNIInvalidRefType;
    switch (it->second.kind) {
    case RefKind::Local: return it->second.thread == c.t ? JNILocalRefType : JNIInvalidRefType;
    case RefKind::Global: return JNIGlobalRefType;
    case RefKind::Weak: return JNIWeakGlobalRefType;
    }
    return JNIInvalidRefType;
}

jclass JNICALL GetObjectClass(JNIEnv *env, jobject obj) {
    Call c(env, "GetObjectClass");
    if (!c.ok()) return nullptr;
    if (!obj) {
        c.Fail("NULL object");
        return nullptr;
    }
    Resolved r = Resolve(c.st, c.t, obj, c.fn);
    if (r.bad) return nullptr;
    return static_cast<jclass>(Local(c, ClassObject(c.st, ClassOf(*r.obj))));
}

jboolean JNICALL IsInstanceOf(JNIEnv *env, jobject obj, jclass cls) {
    Call c(env, "IsInstanceOf");
    if (!c.ok()) return JNI_FALSE;
    ObjPtr k = ClassArg(c, cls);
    if (!k) return JNI_FALSE;
    if (!obj) return JNI_TRUE;  // null is an instance of every class
    Resolved r = Resolve(c.st, c.t, obj, c.fn);
    if (r.bad) return JNI_FALSE;
    return IsSubclass(ClassOf(*r.obj), k->text) ? JNI_TRUE : JNI_FALSE;
}

jint JNICALL GetJavaVM(JNIEnv *env, JavaVM **vm) {
    Call c(env, "GetJavaVM");
    if (!c.ok()) return JNI_ERR;
    if (!vm) {
        c.Fail("NULL JavaVM pointer");
        return JNI_ERR;
    }
    *vm = &c.st.vm->block->vm;
    return JNI_OK;
}

// ------------------------------------------------------------ methods

// One type letter per parameter and for the result; objects and arrays are
// 'L'. Returns false for a malformed signature.
bool ParseSignature(const std::string &sig, std::vector<char> &params, char &ret) {
    size_t i = 0;
    if (sig.empty() || sig[i++] != '(') return false;
    auto one = [&](char &out) -> bool {
        size_t start = i;
        while (i < sig.size() && sig[i] == '[') ++i;
        if (i >= sig.size()) return false;
        char c = sig[i++];
        if (c == 'L') {
            size_t semi = sig.find(';', i);
            if (semi == std::string::npos) return false;
            i = semi + 1;
        } else if (!std::strchr("ZBCSIJFD", c) || c == '\0') {
            return false;
        }
        out = (i - start > 1 || c == 'L') ? 'L' : c;
        return true;
    };
    while (i < sig.size() && sig[i] != ')') {
        char p;
        if (!one(p)) return false;
        params.push_back(p);
    }
    if (i >= sig.size()) return false;
    ++i;
    if (i < sig.size() && sig[i] == 'V') {
        ret = 'V';
        ++i;
    } else if (!one(ret)) {
        return false;
    }
    return i == sig.size();
}

MethodRec *MethodFor(State &st, const std::string &cls, const std::string &name, const std::string &sig) {
    std::string key = cls + "." + name + sig;
    MethodRec *&slot = st.vm->methods[key];
    if (!slot) {
        MethodRec &m = st.methodRecs.emplace_back();
        m.vmId = st.vm->id;
        m.cls = cls;
        m.name = name;
        m.sig = sig;
        ParseSignature(sig, m.params, m.ret);
        st.methodIndex.insert(&m);
        slot = &m;
    }
    return slot;
}

jmethodID JNICALL GetStaticMethodID(JNIEnv *env, jclass cls, const char *name, const char *sig) {
    Call c(env, "GetStaticMethodID");
    if (!c.ok()) return nullptr;
    ObjPtr k = ClassArg(c, cls);
    if (!k || !TextArg(c, name, "method name") || !TextArg(c, sig, "signature")) return nullptr;
    const ModelMethod *m = FindModelMethod(k->text, name);
    bool found = m && sig == std::string(m->sig) && !c.st.config.removedMethods.count(k->text + "." + name);
    Log(c.st, "getstaticmethodid " + Printable(k->text) + "." + Printable(name) + Printable(sig) +
                  (found ? " -> found" : " -> missing"));
    if (!found) {
        SetPending(c.st, c.t, NewThrowable("java/lang/NoSuchMethodError", name));
        return nullptr;
    }
    return reinterpret_cast<jmethodID>(MethodFor(c.st, k->text, name, sig));
}

jmethodID JNICALL GetMethodID(JNIEnv *env, jclass cls, const char *name, const char *sig) {
    // The model has no instance methods the shell could want.
    Call c(env, "GetMethodID");
    if (!c.ok()) return nullptr;
    ObjPtr k = ClassArg(c, cls);
    if (!k || !TextArg(c, name, "method name") || !TextArg(c, sig, "signature")) return nullptr;
    Log(c.st, "getmethodid " + Printable(k->text) + "." + Printable(name) + Printable(sig) + " -> missing");
    SetPending(c.st, c.t, NewThrowable("java/lang/NoSuchMethodError", name));
    return nullptr;
}

const char *TypeName(char letter) {
    switch (letter) {
    case 'V': return "void";
    case 'Z': return "boolean";
    case 'B': return "byte";
    case 'C': return "char";
    case 'S': return "short";
    case 'I': return "int";
    case 'J': return "long";
    case 'F': return "float";
    case 'D': return "double";
    default: return "an object";
    }
}

std::string ObjectArgText(Call &c, jobject ref) {
    if (!ref) return "null";
    Resolved r = Resolve(c.st, c.t, ref, c.fn);
    if (r.bad) return "?";
    switch (r.obj->kind) {
    case Kind::String: return "\"" + Printable(r.obj->text, 80) + "\"";
    case Kind::StringArray: return "String[" + std::to_string(r.obj->elements.size()) + "]";
    case Kind::Class: return "class " + Printable(r.obj->text);
    case Kind::Throwable: return Printable(r.obj->text);
    }
    return "?";
}

std::string NumberText(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%g", v);
    return buf;
}

// Reads the arguments the signature announces; va_list is taken by value, as
// vprintf does, so that it works whatever va_list is on this platform.
std::vector<std::string> ArgsFromVa(Call &c, const MethodRec &m, va_list ap) {
    std::vector<std::string> out;
    for (char p : m.params) {
        switch (p) {
        case 'I': out.push_back(std::to_string(static_cast<long>(va_arg(ap, jint)))); break;
        case 'J': out.push_back(std::to_string(static_cast<long long>(va_arg(ap, jlong)))); break;
        case 'F':
        case 'D': out.push_back(NumberText(va_arg(ap, double))); break;
        case 'L': out.push_back(ObjectArgText(c, va_arg(ap, jobject))); break;
        default: out.push_back(std::to_string(va_arg(ap, int))); break;  // Z B C S, promoted
        }
    }
    return out;
}

std::vector<std::string> ArgsFromArray(Call &c, const MethodRec &m, const jvalue *args) {
    std::vector<std::string> out;
    if (!m.params.empty() && !args) {
        c.Fail("NULL argument array for " + m.cls + "." + m.name + m.sig);
        return out;
    }
    for (size_t k = 0; k < m.params.size(); ++k) {
        const jvalue &v = args[k];
        switch (m.params[k]) {
        case 'Z': out.push_back(std::to_string(v.z)); break;
        case 'B': out.push_back(std::to_string(v.b)); break;
        case 'C': out.push_back(std::to_string(v.c)); break;
        case 'S': out.push_back(std::to_string(v.s)); break;
        case 'I': out.push_back(std::to_string(static_cast<long>(v.i))); break;
        case 'J': out.push_back(std::to_string(static_cast<long long>(v.j))); break;
        case 'F': out.push_back(NumberText(v.f)); break;
        case 'D': out.push_back(NumberText(v.d)); break;
        default: out.push_back(ObjectArgText(c, v.l)); break;
        }
    }
    return out;
}

template <typename R>
R Zero() {
    if constexpr (!std::is_void_v<R>) return R{};
}

// The common body of every CallStatic<Type>Method{,V,A}. readArgs reads the
// arguments only once the method ID is known to be good.
template <typename R, typename ReadArgs>
R CallStatic(JNIEnv *env, jclass cls, jmethodID mid, const char *fn, char want, ReadArgs readArgs) {
    Call c(env, fn);
    if (!c.ok()) return Zero<R>();
    ObjPtr k = ClassArg(c, cls);
    if (!k) return Zero<R>();
    if (!mid) {
        c.Fail("NULL method ID");
        return Zero<R>();
    }
    if (!c.st.methodIndex.count(mid)) {
        c.Fail("unknown method ID");
        return Zero<R>();
    }
    const MethodRec &m = *reinterpret_cast<const MethodRec *>(mid);
    std::string full = m.cls + "." + m.name + m.sig;
    if (m.vmId != c.st.vm->id) {
        c.Fail("method ID " + full + " from a destroyed VM");
        return Zero<R>();
    }
    if (m.cls != k->text) {
        c.Fail("method ID of " + full + " used with class " + Printable(k->text));
        return Zero<R>();
    }
    // A wrong call type is recorded; the method still runs, as it would in a
    // VM without checks, so the log shows what was meant. Its result is lost.
    bool typeOk = m.ret == want;
    if (!typeOk) c.Fail(full + " returns " + TypeName(m.ret) + ", not " + TypeName(want));
    std::vector<std::string> args = readArgs(c, m);
    uint64_t vmId = c.st.vm->id;
    JavaValue v = InvokeJava(c.st, c.lock, c.t, m, args);
    if (!c.SameVm(vmId) || !typeOk) return Zero<R>();
    if constexpr (std::is_void_v<R>) {
        return;
    } else if constexpr (std::is_pointer_v<R>) {
        return v.obj ? static_cast<R>(Local(c, v.obj)) : nullptr;
    } else if constexpr (std::is_same_v<R, jboolean>) {
        return static_cast<jboolean>(v.i & 0xff);
    } else {
        return static_cast<R>(v.i);
    }
}

// Lets one macro body serve void and value results alike.
template <typename R>
struct Result {
    R value{};
    template <typename F>
    void Run(F f) { value = f(); }
    R Get() { return value; }
};
template <>
struct Result<void> {
    template <typename F>
    void Run(F f) { f(); }
    void Get() {}
};

#define FAKEJVM_CALL_STATIC(Type, R, letter)                                                              \
    R JNICALL CallStatic##Type##Method(JNIEnv *env, jclass cls, jmethodID mid, ...) {                    \
        va_list ap;                                                                                      \
        va_start(ap, mid);                                                                               \
        auto read = [&ap](Call &c, const MethodRec &m) { return ArgsFromVa(c, m, ap); };                 \
        Result<R> result;                                                                                \
        result.Run([&] { return CallStatic<R>(env, cls, mid, "CallStatic" #Type "Method", letter, read); }); \
        va_end(ap);                                                                                      \
        return result.Get();                                                                             \
    }                                                                                                    \
    R JNICALL CallStatic##Type##MethodV(JNIEnv *env, jclass cls, jmethodID mid, va_list args) {          \
        /* A method without parameters may come with a null va_list; it is never touched then. */       \
        auto read = [&args](Call &c, const MethodRec &m) {                                               \
            std::vector<std::string> out;                                                                \
            if (m.params.empty()) return out;                                                            \
            va_list ap;                                                                                  \
            va_copy(ap, args);                                                                           \
            out = ArgsFromVa(c, m, ap);                                                                  \
            va_end(ap);                                                                                  \
            return out;                                                                                  \
        };                                                                                               \
        return CallStatic<R>(env, cls, mid, "CallStatic" #Type "MethodV", letter, read);                 \
    }                                                                                                    \
    R JNICALL CallStatic##Type##MethodA(JNIEnv *env, jclass cls, jmethodID mid, const jvalue *args) {    \
        auto read = [args](Call &c, const MethodRec &m) { return ArgsFromArray(c, m, args); };           \
        return CallStatic<R>(env, cls, mid, "CallStatic" #Type "MethodA", letter, read);                 \
    }

FAKEJVM_CALL_STATIC(Object, jobject, 'L')
FAKEJVM_CALL_STATIC(Boolean, jboolean, 'Z')
FAKEJVM_CALL_STATIC(Byte, jbyte, 'B')
FAKEJVM_CALL_STATIC(Char, jchar, 'C')
FAKEJVM_CALL_STATIC(Short, jshort, 'S')
FAKEJVM_CALL_STATIC(Int, jint, 'I')
FAKEJVM_CALL_STATIC(Long, jlong, 'J')
FAKEJVM_CALL_STATIC(Float, jfloat, 'F')
FAKEJVM_CALL_STATIC(Double, jdouble, 'D')
FAKEJVM_CALL_STATIC(Void, void, 'V')

// ------------------------------------------------------------ strings and arrays

ObjPtr StringArg(Call &c, jstring str) { return ObjectArg(c, str, Kind::String, "string"); }

// UTF-16 units in modified UTF-8 bytes: one per lead byte, two for a 4-byte
// sequence (a surrogate pair); stray bytes count as one each.
jsize Utf16Length(const std::string &bytes) {
    jsize n = 0;
    for (unsigned char c : bytes) {
        if ((c & 0xc0) != 0x80) n += (c >= 0xf0 && c <= 0xf7) ? 2 : 1;
    }
    return n;
}

jsize JNICALL GetStringLength(JNIEnv *env, jstring str) {
    Call c(env, "GetStringLength");
    if (!c.ok()) return 0;
    ObjPtr s = StringArg(c, str);
    return s ? Utf16Length(s->text) : 0;
}

jsize JNICALL GetStringUTFLength(JNIEnv *env, jstring str) {
    Call c(env, "GetStringUTFLength");
    if (!c.ok()) return 0;
    ObjPtr s = StringArg(c, str);
    return s ? static_cast<jsize>(s->text.size()) : 0;
}

const char *JNICALL GetStringUTFChars(JNIEnv *env, jstring str, jboolean *isCopy) {
    Call c(env, "GetStringUTFChars");
    if (!c.ok()) return nullptr;
    ObjPtr s = StringArg(c, str);
    if (!s) return nullptr;
    if (s->utfFails) {
        SetPending(c.st, c.t, NewThrowable("java/lang/OutOfMemoryError", "could not allocate the UTF-8 bytes"));
        return nullptr;
    }
    // Exactly the bytes and a terminator: a reader that runs past the end
    // meets the allocator's guard under the sanitizers.
    char *buf = static_cast<char *>(std::malloc(s->text.size() + 1));
    if (!buf) {
        SetPending(c.st, c.t, NewThrowable("java/lang/OutOfMemoryError", nullptr));
        return nullptr;
    }
    std::memcpy(buf, s->text.data(), s->text.size());
    buf[s->text.size()] = '\0';
    c.st.loans[buf] = UtfLoan{s, s->text.size() + 1};
    if (isCopy) *isCopy = JNI_TRUE;
    return buf;
}

// Released buffers are kept a while before they are freed, so that a second
// release of the same pointer is told apart from a pointer never handed out.
size_t const kQuarantineEntries = 4096;
size_t const kQuarantineBytes = 16u << 20;

void JNICALL ReleaseStringUTFChars(JNIEnv *env, jstring str, const char *chars) {
    Call c(env, "ReleaseStringUTFChars", true);
    if (!c.ok()) return;
    if (!chars) {
        c.Fail("NULL chars pointer");
        return;
    }
    auto it = c.st.loans.find(chars);
    if (it == c.st.loans.end()) {
        c.Fail(c.st.quarantined.count(chars) ? "pointer released twice"
                                             : "pointer that GetStringUTFChars did not give");
        return;
    }
    Resolved r = Resolve(c.st, c.t, str, c.fn);
    if (!str) c.Fail("NULL string");
    else if (!r.bad && r.obj != it->second.str) c.Fail("pointer belongs to another string");
    char *buf = const_cast<char *>(chars);
    c.st.quarantine.emplace_back(buf, it->second.size);
    c.st.quarantined.insert(buf);
    c.st.quarantineBytes += it->second.size;
    c.st.loans.erase(it);
    while (c.st.quarantine.size() > kQuarantineEntries || c.st.quarantineBytes > kQuarantineBytes) {
        auto old = c.st.quarantine.front();
        c.st.quarantine.pop_front();
        c.st.quarantined.erase(old.first);
        c.st.quarantineBytes -= old.second;
        std::free(old.first);
    }
}

jstring JNICALL NewStringUTF(JNIEnv *env, const char *bytes) {
    Call c(env, "NewStringUTF");
    if (!c.ok() || !bytes) return nullptr;
    auto s = std::make_shared<Object>();
    s->kind = Kind::String;
    s->text = bytes;
    return static_cast<jstring>(Local(c, s));
}

ObjPtr ArrayArg(Call &c, jarray arr) { return ObjectArg(c, arr, Kind::StringArray, "array"); }

jsize JNICALL GetArrayLength(JNIEnv *env, jarray arr) {
    Call c(env, "GetArrayLength");
    if (!c.ok()) return 0;
    ObjPtr a = ArrayArg(c, arr);
    return a ? static_cast<jsize>(a->elements.size()) : 0;
}

jobject JNICALL GetObjectArrayElement(JNIEnv *env, jobjectArray arr, jsize index) {
    Call c(env, "GetObjectArrayElement");
    if (!c.ok()) return nullptr;
    ObjPtr a = ArrayArg(c, arr);
    if (!a) return nullptr;
    Log(c.st, "element " + a->origin + " " + std::to_string(static_cast<long>(index)));
    if (index < 0 || static_cast<size_t>(index) >= a->elements.size()) {
        std::string msg = "Index " + std::to_string(static_cast<long>(index)) + " out of bounds for length " +
                          std::to_string(a->elements.size());
        SetPending(c.st, c.t, NewThrowable("java/lang/ArrayIndexOutOfBoundsException", msg.c_str()));
        return nullptr;
    }
    const ObjPtr &e = a->elements[static_cast<size_t>(index)];
    return e ? Local(c, e) : nullptr;
}

JNINativeInterface_ BuildTable() {
    JNINativeInterface_ t;
    std::memset(&t, 0, sizeof t);
#define FAKEJVM_SLOT_FILL(name) Fill<kSlot_##name>(t.name);
    FAKEJVM_SLOTS(FAKEJVM_SLOT_FILL)
#define FAKEJVM_SET(name) t.name = name;
    FAKEJVM_SET(GetVersion)
    FAKEJVM_SET(FindClass)
    FAKEJVM_SET(GetSuperclass)
    FAKEJVM_SET(IsAssignableFrom)
    FAKEJVM_SET(Throw)
    FAKEJVM_SET(ThrowNew)
    FAKEJVM_SET(ExceptionOccurred)
    FAKEJVM_SET(ExceptionDescribe)
    FAKEJVM_SET(ExceptionClear)
    FAKEJVM_SET(ExceptionCheck)
    FAKEJVM_SET(FatalError)
    FAKEJVM_SET(PushLocalFrame)
    FAKEJVM_SET(PopLocalFrame)
    FAKEJVM_SET(EnsureLocalCapacity)
    FAKEJVM_SET(NewGlobalRef)
    FAKEJVM_SET(DeleteGlobalRef)
    FAKEJVM_SET(NewWeakGlobalRef)
    FAKEJVM_SET(DeleteWeakGlobalRef)
    FAKEJVM_SET(DeleteLocalRef)
    FAKEJVM_SET(IsSameObject)
    FAKEJVM_SET(NewLocalRef)
    FAKEJVM_SET(GetObjectRefType)
    FAKEJVM_SET(GetObjectClass)
    FAKEJVM_SET(IsInstanceOf)
    FAKEJVM_SET(GetJavaVM)
    FAKEJVM_SET(GetMethodID)
    FAKEJVM_SET(GetStaticMethodID)
#define FAKEJVM_SET_CALLS(Type)                 \
    FAKEJVM_SET(CallStatic##Type##Method)       \
    FAKEJVM_SET(CallStatic##Type##MethodV)      \
    FAKEJVM_SET(CallStatic##Type##MethodA)
    FAKEJVM_SET_CALLS(Object)
    FAKEJVM_SET_CALLS(Boolean)
    FAKEJVM_SET_CALLS(Byte)
    FAKEJVM_SET_CALLS(Char)
    FAKEJVM_SET_CALLS(Short)
    FAKEJVM_SET_CALLS(Int)
    FAKEJVM_SET_CALLS(Long)
    FAKEJVM_SET_CALLS(Float)
    FAKEJVM_SET_CALLS(Double)
    FAKEJVM_SET_CALLS(Void)
    FAKEJVM_SET(GetStringLength)
    FAKEJVM_SET(GetStringUTFLength)
    FAKEJVM_SET(GetStringUTFChars)
    FAKEJVM_SET(ReleaseStringUTFChars)
    FAKEJVM_SET(NewStringUTF)
    FAKEJVM_SET(GetArrayLength)
    FAKEJVM_SET(GetObjectArrayElement)
    return t;
}

}  // namespace

const JNINativeInterface_ *EnvTable() {
    static const JNINativeInterface_ table = BuildTable();
    return &table;
}

}  // namespace fakejvm
