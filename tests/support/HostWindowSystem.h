// On the host, the stand-in Java runtime has no user32 to ask what the thread
// of a Java call sees. This hands it the Win32 stand-in instead: a "serving"
// Java call then serves what is sent to its thread, and each call's DPI
// record says what the stand-in gives that thread. Under Windows the runtime
// asks user32 itself, and there is nothing to hand.
#ifndef CHIMELET_HOST_WINDOW_SYSTEM_H
#define CHIMELET_HOST_WINDOW_SYSTEM_H

#ifndef _WIN32
void HandJavaTheHostWindowSystem();
#endif

#endif
