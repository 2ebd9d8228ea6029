// What the shell's test suites share, on both platforms: the menu as tests
// see it (Menus.h), answering message boxes and choosing from popup menus
// without a person, scratch files, and the stand-in Java runtime in this
// process.
//
// Under Wine these use the real system (hooks, timers, keys); on the host
// they use the Win32 stand-in's controls. A test written against this runs
// unchanged in both places.
#ifndef CHIMELET_TEST_SUPPORT_H
#define CHIMELET_TEST_SUPPORT_H

#include <windows.h>

#include <string>
#include <vector>

#include "Menus.h"

bool RunningUnderWine();

// --- Menus ---

// The next popup menu that the calling thread tracks with owner `owner`
// (TrackPopupMenu) is read back while it is open, then `command` is chosen
// in it the way a user would (0: the menu is dismissed). A command that is
// not in the menu dismisses it.
void ChooseInNextMenu(HWND owner, UINT command);
// The menu as it was when the last choice was made; empty if none opened.
std::vector<MenuRow> LastTrackedMenu();
// Number of popup menus tracked by this process since the last Reset.
int TrackedMenuCount();

// A plain window of the calling thread, for a menu's owner or a ghost
// window's stand-in. The caller destroys it.
HWND MakeTestWindow();

// --- Message boxes ---

struct ShownBox {
    std::string text;
    std::string caption;
    UINT type = 0;
};

// From now on every message box of this process is recorded and answered
// with `answer` (an ID* button), on the thread that shows it.
void AnswerMessageBoxes(int answer);
std::vector<ShownBox> ShownMessageBoxes();

// --- Files ---

// A scratch directory of this test run, in Windows form (no trailing '\').
std::string ScratchDirectory();
// Writes bytes to a file named in Windows form; removes it with RemoveScratchFile.
void WriteScratchFile(std::string const &windowsPath, std::string const &bytes);
void RemoveScratchFile(std::string const &windowsPath);
// The process's current directory, in Windows form; changing it.
std::string CurrentDirectory();
void ChangeDirectory(std::string const &windowsPath);

// --- The stand-in Java runtime ---

// The path, in Windows form, of the stand-in runtime library this test
// program is linked with (the one the shell must load as "RuntimeLib").
std::string FakeJvmLibraryPath();

// Back to a clean process between tests: message boxes and menus no longer
// answered, records cleared, the stand-in runtime reset, the shell's globals
// as a fresh process has them.
void ResetTestProcess();

#endif
