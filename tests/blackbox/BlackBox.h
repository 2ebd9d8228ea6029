// The fixture of the black-box suite: each case runs the real Chimelet.exe,
// copied from the bin directory beside this test into a directory of the
// row's own (its install folder), as separate processes in this Wine prefix,
// with the stand-in runtime registered, its own fakejvm script and log, and
// watchdogs on every wait.
//
// A case may hold several rows (BeginCase per row): each row starts from a
// clean world (no ghost window, no tray icon, no process of the last row).
#ifndef CHIMELET_BLACKBOX_H
#define CHIMELET_BLACKBOX_H

#include <windows.h>

#include <deque>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Menus.h"
#include "winrig.h"

namespace blackbox {

using winrig::kAppearMs;
using winrig::kExitMs;
// How long "nothing happens" is watched; stretched by the time scale, since
// a slow machine is slow to do the wrong thing too.
extern DWORD const kQuietMs;

char const kInterface[] = "com/norvanta/kelvarin/data/TExternalDataInterface.";
char const kInvokeInterface[] = "invoke com/norvanta/kelvarin/data/TExternalDataInterface.";
char const kInvokeMain[] = "invoke com/norvanta/kelvarin/main/TApplication.main([Ljava/lang/String;)V";
char const kCaptionExit[] = "Exit Chimelet?";
char const kTextExit[] = "Are you sure you wish to exit Chimelet? You will stop receiving any reminders!";

// The violations a run may show without failing the case that looks at
// something else: JNI calls that race the VM's destruction at exit. One case
// of its own guards against them.
bool IsExitRaceViolation(std::string const &line);

class BlackBoxTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Ends the last row (every process it started is gone after this) and
    // prepares a clean one: a fresh directory named after the test and row
    // holding a copy of Chimelet.exe, the stand-in runtime registered as
    // Java 1.4, an empty script.
    void BeginCase(std::string const &row = std::string());

    // The row's fakejvm script (replaces the empty one).
    void WriteScript(std::string const &text);

    // Puts an (empty) chimelet.jar into the row's directory, beside its
    // Chimelet.exe, or into another directory.
    void PutJar(std::string const &dir = std::string());

    // Starts the row's Chimelet.exe with FAKEJVM_SCRIPT and FAKEJVM_LOG set
    // (logPath overrides the log), in the row's directory or in workingDir.
    // The fixture ends it at the end of the row if it is still running.
    // Fails the test when it cannot.
    winrig::Child *StartChimelet(std::string const &logPath = std::string(),
                                 std::string const &workingDir = std::string());

    // Starts another program the same way: an installed Chimelet.exe, an
    // installer. An empty dir is the row's directory.
    winrig::Child *StartProgram(std::string const &exe, std::string const &arguments, std::string const &dir,
                                std::string const &logPath = std::string());

    // Waits for the child's end; the watchdog kills it on time-out, which
    // fails the test. Returns the exit code (0xDEAD after a kill).
    DWORD ExpectExit(winrig::Child *child, DWORD timeoutMs = kExitMs);

    // Watches until the child ends, answering (and recording) every message
    // box it shows meanwhile, so that a box where none is due fails the test
    // instead of hanging it. A box the caller has answered already (it lingers
    // a moment) is passed as `answered`.
    std::vector<winrig::MessageBoxFacts> WatchUntilExit(winrig::Child *child, DWORD timeoutMs = kExitMs,
                                                        HWND answered = NULL);

    // The child's ghost window, waited for; fails the test when none comes.
    HWND WaitGhostWindow(winrig::Child const &child);

    // The only tray icon, waited for; fails the test when none comes.
    HWND WaitTrayIcon();

    // True once no tray icon is left.
    bool WaitTrayIconGone(DWORD timeoutMs = kAppearMs);

    // Waits until the monitor thread has bound the tray to Java: the log
    // shows the attach that follows main().
    void WaitBound();

    // Returns once the child's monitor thread is back in its message loop:
    // whatever a tray click started (a menu command) has then finished.
    void SyncWithMonitor(winrig::Child const &child);

    // Opens the tray menu with a click and waits for it.
    void OpenMenu(winrig::Child const &child, bool rightButton = true);

    // Posts keys (VK_DOWN, VK_RIGHT, VK_RETURN, ...) to the open menu.
    void PressMenuKeys(winrig::Child const &child, std::vector<WPARAM> const &keys);

    // Chooses `command` in the open menu with the keys a user presses;
    // `menu` is what the row's script makes it show (the position of a row
    // such as Exit does not depend on it).
    void ChooseInMenu(winrig::Child const &child, UINT command,
                      std::vector<MenuRow> const &menu = FullMenu(Schedule({}), NoEvents()));

    // Opens the menu of a bound instance and chooses Exit: its confirmation.
    HWND ChooseExit(winrig::Child const &child);

    // Waits for a message box of the child with that caption.
    HWND WaitMessageBox(winrig::Child const &child, char const *caption);

    // WM_CLOSE to the ghost window: the icon goes, quit reaches Java, and the
    // process ends with 0.
    void CloseAndExpectCleanExit(winrig::Child *child);

    // --- The row's log ---
    std::string const &LogPath() const { return log_; }
    std::vector<std::string> LogLines() const;
    int LogCount(std::string const &prefix) const;
    bool WaitLog(std::string const &prefix, int count = 1, DWORD timeoutMs = kAppearMs) const;
    // Index of the first line starting with prefix, -1 if none.
    int LogIndex(std::string const &prefix) const;
    // The interface methods that ran, in order, each as "<name><sig>[ args]",
    // leaving out the three the menu asks while it is built.
    std::vector<std::string> CommandsRun() const;
    // Fails the test for each violation in the log except the exit race.
    void ExpectNoViolations() const;
    // Fails the test for each Java call that ran in another DPI awareness
    // than main(), which the main thread calls in the process's own.
    void ExpectJavaInTheProcessesDpi() const;

    std::string const &Dir() const { return dir_; }
    std::string const &Bin() const { return bin_; }

private:
    void EndCase();

    std::string bin_;
    std::string dir_;
    std::string script_;
    std::string log_;
    std::deque<winrig::Child> children_;  // deque: the pointers handed out stay valid
};

}  // namespace blackbox

#endif
