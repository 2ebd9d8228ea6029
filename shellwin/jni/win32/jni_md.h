/* Machine-dependent JNI types for 32-bit Windows, as the Java runtimes the
 * shell loads were built with: __stdcall entry points, 32-bit jint, 64-bit
 * jlong. The JDK installed on the build machine only ships the header for its
 * own platform, and jni.h includes this one by name. */
#ifndef CHIMELET_JNI_MD_H
#define CHIMELET_JNI_MD_H

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef long jint;
typedef __int64 jlong;
typedef signed char jbyte;

#endif
