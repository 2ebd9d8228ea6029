// A VM of the stand-in Java runtime, made in this test process the way the
// launch makes one, with the calling thread bound as the tray's thread:
// sg_jvm and sg_pEnvThread are set while it lives.
#ifndef CHIMELET_BOUND_JAVA_H
#define CHIMELET_BOUND_JAVA_H

#include <jni.h>

#include <string>

class BoundJava {
public:
    // `script` is the stand-in runtime's script for this VM ("" = default).
    // With bindCaller false only sg_jvm is set: the monitor thread binds
    // itself when it gets the bind message.
    explicit BoundJava(std::string const &script = "", bool bindCaller = true);
    ~BoundJava();
    BoundJava(BoundJava const &) = delete;
    BoundJava &operator=(BoundJava const &) = delete;

    bool Started() const { return env_ != nullptr; }
    JNIEnv *Env() const { return env_; }

    // The stand-in's record of this VM: its log, lines starting with a
    // prefix, and the JNI misuse it caught.
    static std::string Log();
    static int Count(std::string const &prefix);
    static std::string Violations();

private:
    JavaVM *vm_ = nullptr;
    JNIEnv *env_ = nullptr;
};

// The log line of a call of the interface method `method` with signature
// `sig` and, if it takes one, its argument.
std::string InvokeLine(std::string const &method, std::string const &sig, std::string const &args = "");

// Waits (up to 10 s) until the stand-in's log has `count` lines starting
// with `prefix`; what another thread does is seen this way.
bool WaitForLog(std::string const &prefix, int count = 1);

#endif
