// What the two platform halves of the test support share, and nothing else.
#ifndef CHIMELET_SUPPORT_INTERNAL_H
#define CHIMELET_SUPPORT_INTERNAL_H

#include "TestSupport.h"

// What a message box answers when its default button is pressed.
int DefaultButton(UINT type);

// The shell's globals as a fresh process has them; the stand-in runtime reset.
void ResetShellGlobals();

#endif
