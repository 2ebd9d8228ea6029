// A JNIEnv with no runtime behind it: the Java side's answers held in plain
// vectors, every JNI call a few instructions, no lock, no log, no reference
// bookkeeping. The shell's menu build run against it costs what the shell
// itself adds to the menu calls, with the Java runtime's own cost taken out.
//
// Only the calls the menu build makes are served here. Every other slot is
// the fallback table's (the stand-in runtime's), which answers an env it does
// not know with a violation and zero: a shell that starts using another call
// shows up as a stand-in violation, not as a crash.
#ifndef CHIMELET_BENCH_LEAN_JAVA_H
#define CHIMELET_BENCH_LEAN_JAVA_H

#include <jni.h>

#include <string>
#include <vector>

namespace bench {

struct LeanJavaAnswers {
    std::vector<std::string> templates;  // getTemplateList
    std::vector<std::string> events;     // getEventsForToday, pairs
    bool nullTemplates = false;          // getTemplateList answers null
    bool nullEvents = false;
    bool doNotDisturb = false;           // isDoNotDisturbOn
};

// Makes the lean env answer `answers` (copied) and returns it. `fallback`
// fills the slots it does not serve. One lean env per process; a second call
// replaces the answers. For one thread at a time: it counts its calls.
JNIEnv *MakeLeanJava(LeanJavaAnswers const &answers, JNINativeInterface_ const &fallback);

// Calls of the lean env's own slots since the last call of this function.
long TakeLeanJavaCallCount();

}  // namespace bench

#endif
