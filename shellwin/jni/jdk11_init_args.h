/* The JNI 1.1 start record. Current jni.h files no longer declare it, but a
 * 1.3 or 1.4 runtime still reads it, and current HotSpot writes into it
 * (version and javaStackSize) even while refusing it: the layout must be the
 * 1.1 one field for field, or those writes land outside the record. */
#ifndef CHIMELET_JDK11_INIT_ARGS_H
#define CHIMELET_JDK11_INIT_ARGS_H

#include <stdarg.h>
#include <stdio.h>

#include <jni.h>

typedef struct JDK1_1InitArgs {
    jint version;

    char **properties;
    jint checkSource;
    jint nativeStackSize;
    jint javaStackSize;
    jint minHeapSize;
    jint maxHeapSize;
    jint verifyMode;
    char *classpath;

    jint (JNICALL *vfprintf)(FILE *fp, const char *format, va_list args);
    void (JNICALL *exit)(jint code);
    void (JNICALL *abort)(void);

    jint enableClassGC;
    jint enableVerboseGC;
    jint disableAsyncGC;
    jint verbose;
    jboolean debugging;
    jint debugPort;
} JDK1_1InitArgs;

#endif
