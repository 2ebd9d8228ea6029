// Java runtime host: finds an accepted installed Java runtime (1.3 or 1.4)
// and runs the Java application in a VM inside this process. Main thread only.
#ifndef CHIMELET_JAVA_INTERFACE_H
#define CHIMELET_JAVA_INTERFACE_H

#include <windows.h>

#include <jni.h>

// Buffer sizes in bytes, the terminator included. The shell's other module
// sizes its paths and message texts by the same numbers.
int const kPathSize = 1024;           // a file's full path
int const kShortTextSize = 256;       // a caption, a question, a text from the string table
int const kLongTextSize = 1024;       // a message that quotes a path or a class name
int const kRegistryValueSize = 512;   // a registry value read as text
int const kVersionTextSize = 1024;    // the Java version asked for, from the settings file or the registry

// What the VM calls when the Java application ends the process itself
// (System.exit), just before the process ends with `code`: on HotSpot from
// the VM's own thread, after the shutdown hooks, while the thread that
// called exit waits.
typedef void(JNICALL *JavaExitHook)(jint code);

// Runs the Java application and returns when it has ended, or at once when it
// could not start (the user has then been told why). inJarFileName is the
// jar's full path, which the VM gets as its class path. Once main() of
// inMainClass has returned, inWindowMessage is posted to inWindowToBind.
// inExitHook (may be NULL) is handed to the VM as its exit hook.
// *outVM holds the VM from the moment it exists. Returns 0, -1, or the
// negative JNI code of a failed VM creation.
int StartupJava(char const *iniFileName, char const *inJarFileName, char const *inMainClass,
                HWND inWindowToBind, unsigned int inWindowMessage, JavaExitHook inExitHook, JavaVM **outVM);

// The runtime discovery StartupJava starts with. Writes the VM library path
// into outJVMPath, a buffer of kPathSize bytes, and returns 0; -1, with
// outJVMPath untouched, when no accepted runtime is installed.
int EnsureJava(char const *iniFileName, char *outJVMPath);

// The settings file's "javaversion" override of section "main", read into
// outJavaVersion. 1 when present (more than one character), else 0.
int UseSpecificVM(char const *iniFileName, char *outJavaVersion, unsigned long outSize);

// Loads text `id` of the program's string table into buf (size bytes, the
// terminator included); the LoadStringA result. Any thread.
int LoadProgramString(unsigned int id, char *buf, int size);

#endif
