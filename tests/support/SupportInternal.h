// What the two platform halves of the test support share, and nothing else.
#ifndef CHIMELET_SUPPORT_INTERNAL_H
#define CHIMELET_SUPPORT_INTERNAL_H

#include "TestSupport.h"

// The records of what the process showed, kept once for both halves; any
// thread may call these. RecordShownBox returns the button to answer with:
// the one AnswerMessageBoxes set, else the box's default button.
int RecordShownBox(ShownBox const &box);
void RecordTrackedMenu(std::vector<MenuRow> const &rows);

// The platform's part of ResetTestProcess: its handlers and hooks as a
// fresh test needs them.
void ResetPlatform();

#endif
