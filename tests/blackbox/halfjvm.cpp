// A VM library that lacks JNI_GetDefaultJavaVMInitArgs. The shell must free
// it and show nothing; were it to create a VM with it anyway, the failure
// would show as a "Cannot setup Java" box, which the tests watch for.
#include <jni.h>

extern "C" JNIEXPORT jint JNICALL JNI_CreateJavaVM(JavaVM **, void **, void *)
{
    return JNI_ERR;
}
