// Java runtime host: finds an accepted installed Java runtime (1.3 or 1.4)
// and runs the Java application in a VM inside this process. Main thread only.
#ifndef CHIMELET_JAVA_INTERFACE_H
#define CHIMELET_JAVA_INTERFACE_H

#include <windows.h>

#include <jni.h>

// Runs the Java application and returns when it has ended, or at once when it
// could not start (the user has then been told why, where there is something
// to tell). Once main() of inMainClass has returned, inWindowMessage is posted
// to inWindowToBind. *outVM holds the VM from the moment it exists. Returns 0,
// -1, or the negative JNI code of a failed VM creation.
int StartupJava(char const *iniFileName, char const *inJarFileName, char const *inMainClass,
                HWND inWindowToBind, unsigned int inWindowMessage, JavaVM **outVM);

// The runtime discovery StartupJava starts with. Writes the VM library path
// (at most 511 characters and the terminator) into outJVMPath and returns 0;
// -1, with outJVMPath untouched, when no accepted runtime is installed.
int EnsureJava(char const *iniFileName, char *outJVMPath);

// The settings file's "javaversion" override of section "main", read into
// outJavaVersion. 1 when present (more than one character), else 0.
int UseSpecificVM(char const *iniFileName, char *outJavaVersion, unsigned long outSize);

#endif
