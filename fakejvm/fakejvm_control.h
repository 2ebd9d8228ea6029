/* Control surface of the stand-in Java runtime (fakejvm.dll / libfakejvm.so).
 *
 * The library exports the JNI invocation entries (JNI_GetDefaultJavaVMInitArgs,
 * JNI_CreateJavaVM, JNI_GetCreatedJavaVMs) over a scripted Java side, logs every
 * call, and records each JNI misuse as a violation instead of crashing. Tests
 * drive it through the functions below. Only C types cross the boundary: the
 * library and its user each carry their own C++ runtime.
 *
 * All functions are thread-safe and may be called at any time, also while a
 * VM runs and from threads that are not attached to it.
 *
 * Script format (fakejvm/README.md has the full list): one command a line,
 * '#' starts a comment, strings in double quotes with \xNN \\ \" \n \t \r.
 *
 *     mode modern
 *     create normal -4
 *     templates "Morning stand-up" null oom"Call Mum" "x"*2000
 *     events 1200 named "Event "
 *     donotdisturb 255 toggled
 *     throw showHelpWindow java/lang/RuntimeException "help is broken"
 *     remove method showSoundList
 *     delay showReminderList 60000 serving
 *     main end-after 500
 *     exit after 3000 1
 *     destroy timeout 10000
 */
#ifndef FAKEJVM_CONTROL_H
#define FAKEJVM_CONTROL_H

#include <stddef.h>

#if defined(_WIN32)
#  if defined(FAKEJVM_BUILDING)
#    define FAKEJVM_API __declspec(dllexport)
#  else
#    define FAKEJVM_API __declspec(dllimport)
#  endif
#else
#  define FAKEJVM_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Forgets script, log and violations, and reads FAKEJVM_SCRIPT / FAKEJVM_LOG
 * again at the next invocation call. Refused (a violation) while a VM exists. */
FAKEJVM_API void FakeJvm_Reset(void);

/* Applies a script on top of the current settings, all lines or none.
 * Returns 0, or the 1-based number of the first bad line. Once any script has
 * been loaded, the built-in sample application is not used. */
FAKEJVM_API int FakeJvm_Script(const char *text);

/* Why the last FakeJvm_Script call failed ("line 3: ..."), "" after success.
 * Copied like FakeJvm_CopyLog. */
FAKEJVM_API size_t FakeJvm_CopyScriptError(char *out, size_t size);

/* Number of log lines starting with prefix (NULL or "": all lines). */
FAKEJVM_API int FakeJvm_CountLog(const char *prefix);

/* Waits until FakeJvm_CountLog(prefix) reaches count or timeoutMs passes;
 * returns the count reached. */
FAKEJVM_API int FakeJvm_WaitLog(const char *prefix, int count, int timeoutMs);

/* The whole log, each line ended by '\n', NUL terminated, cut to fit size.
 * Returns the full length (without the NUL), so a caller can size a buffer. */
FAKEJVM_API size_t FakeJvm_CopyLog(char *out, size_t size);

/* The violations, one a line, copied the same way; and how many there are. */
FAKEJVM_API size_t FakeJvm_CopyViolations(char *out, size_t size);
FAKEJVM_API int FakeJvm_ViolationCount(void);

/* Empties log and violations but keeps the script and the VM (long runs). */
FAKEJVM_API void FakeJvm_ClearLog(void);

/* Live local references of a thread, all its frames together; threadKey 0
 * means the calling thread. -1 when no VM exists or that thread never
 * attached to it. */
FAKEJVM_API int FakeJvm_LiveLocalRefs(unsigned long threadKey);

/* Live global and weak global references of the VM (0 when no VM). */
FAKEJVM_API int FakeJvm_LiveGlobalRefs(void);

/* Buffers from GetStringUTFChars not yet given back (all threads). */
FAKEJVM_API int FakeJvm_OutstandingUtfChars(void);

/* 1 when an exception is pending on that thread (0 = calling thread). */
FAKEJVM_API int FakeJvm_ExceptionPending(unsigned long threadKey);

/* 1 while the simulated Java application runs: from its main on, until it
 * ends (quit, the script's main behaviour, or FakeJvm_EndApplication). */
FAKEJVM_API int FakeJvm_ApplicationRunning(void);

/* The Java side ends by itself, as if its last thread ended. */
FAKEJVM_API void FakeJvm_EndApplication(void);

/* Cleanup after a deliberately stuck VM (a thread that ended attached can
 * never let DestroyJavaVM return): tears the VM down at once, whatever it
 * waits for; a DestroyJavaVM still waiting then returns -1. Logs
 * "destroy forced". Envs and references of that VM become stale. */
FAKEJVM_API void FakeJvm_ForceDestroy(void);

/* What ends the process when the Java side calls System.exit (the script's
 * "exit after" or "quit exit"), after the JNI exit hook. As in HotSpot, the
 * VM's own thread ("VM Thread") calls the hook and then ends the process, at
 * the very end, while the thread that called exit waits. NULL (the default,
 * also after FakeJvm_Reset) ends it as a VM does, ExitProcess on Windows,
 * exit() elsewhere. In-process tests set fn: it is called with the code
 * instead, on the VM Thread (on the hook's watchdog thread when the hook
 * overran), then the application ends, so that DestroyJavaVM on the creating
 * thread returns once the other attached threads have detached; the thread
 * that called exit returns then, and Java calls still sleeping in a scripted
 * delay return at once. */
FAKEJVM_API void FakeJvm_SetProcessExit(void (*fn)(int code));

/* The host's window system, as the program under test sees it; each member
 * may be NULL. Called on the thread inside the Java call, never with the
 * stand-in's lock held, so they may call back into it.
 *   serveSentMessages: serves the messages sent to the calling thread's
 *     windows (not posted ones), waiting up to waitMs for the first; returns
 *     how many it served. A "delay ... serving" call asks it again and again.
 *   threadDpiAwareness: the calling thread's DPI awareness: 0 unaware,
 *     1 system, 2 per monitor, -1 unknown.
 *   systemMetrics: GetSystemMetrics (the "dpi" log line asks SM_CXSCREEN 0
 *     and SM_CYSCREEN 1). */
typedef struct FakeJvmWindowSystem {
    int (*serveSentMessages)(unsigned long waitMs);
    int (*threadDpiAwareness)(void);
    int (*systemMetrics)(int index);
} FakeJvmWindowSystem;

/* Hands the host's window system in; copied, NULL forgets it. The process's
 * platform, not a test's script: FakeJvm_Reset keeps it. Host only: on
 * Windows the library asks user32 itself and ignores this. */
FAKEJVM_API void FakeJvm_SetWindowSystem(const FakeJvmWindowSystem *windowSystem);

/* 1 while a VM exists (created and not yet destroyed). */
FAKEJVM_API int FakeJvm_VmExists(void);

/* Threads attached to the VM other than the one that created it. */
FAKEJVM_API int FakeJvm_AttachedThreadCount(void);

/* The key under which the calling thread is known: GetCurrentThreadId() on
 * Windows, the kernel thread id (gettid) elsewhere. */
FAKEJVM_API unsigned long FakeJvm_CurrentThreadKey(void);

/* Key of the thread that attached most recently (0 if none yet). */
FAKEJVM_API unsigned long FakeJvm_LastAttachedThreadKey(void);

#ifdef __cplusplus
}
#endif

#endif
