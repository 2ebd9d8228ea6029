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
    explicit BoundJava(std::string const &script = "");
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

// The log line of a call of the interface method `method` with signature `sig`.
std::string InvokeLine(std::string const &method, std::string const &sig);

#endif
