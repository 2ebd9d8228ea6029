// Internals shared by the stand-in's modules: the one lock that guards all state, the
// per-thread message queues, handle numbering and injected faults.
#ifndef WINSTUB_STATE_H
#define WINSTUB_STATE_H

#include <windows.h>
#include <shellapi.h>

#include "winstub_control.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

namespace winstub {

// Every piece of state is guarded by this one lock, and every change that someone could be
// waiting for is announced on Changed() with notify_all. Window procedures, handlers and thread
// procedures are always called with the lock released: they may call back into the stand-in.
std::mutex& Lock();
std::condition_variable& Changed();
using Guard = std::unique_lock<std::mutex>;

// A message sent from another thread, waiting to be handled by the target window's thread.
struct SentMessage {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    LRESULT result = 0;
    bool done = false;
    bool receiverEnded = false;  // the target thread ended before handling it
};

using Clock = std::chrono::steady_clock;

struct ThreadState {
    DWORD id = 0;
    std::deque<MSG> posted;
    std::deque<std::shared_ptr<SentMessage>> sent;
    bool ended = false;
    // For the hung test: when the thread last asked for messages, and whether it is waiting for
    // them right now (a wait, not a busy procedure, is what a responsive thread does).
    Clock::time_point lastPump = Clock::now();
    int waiting = 0;
    UINT_PTR nextTimerId = 0x7FFF;  // ids of thread timers (SetTimer without a window) count down
    // The thread's DPI awareness as the DPI_AWARENESS_CONTEXT pseudo-handle's value: -1 unaware
    // (every thread's start, the process having no manifest), -2 system, -3/-4 per-monitor.
    int dpiAwareness = -1;
};

// The calling thread's state, made on first use. Lock held.
ThreadState& Me();
// A live thread by id, or nullptr once it has ended. Lock held.
std::shared_ptr<ThreadState> FindThread(DWORD id);
// Handles one sent message waiting for the calling thread, if any; releases the lock while the
// window procedure runs. Returns false when none was waiting. Lock held on entry and exit.
bool ServeOneSent(Guard& lock);
// Runs when a thread ends (CreateThread's threads and any other thread that used a queue).
void ThreadEnded(Guard& lock);

// Handle values: small numbers, never reused, never dereferenced. User objects (windows, menus,
// icons) count up in steps of 2 as Wine's do; kernel objects and registry keys in steps of 4.
uintptr_t NewUserHandle();
bool WasUserHandle(uintptr_t value);
uintptr_t NewKernelHandle();

// Consumes one pending fault of that kind. Lock held.
bool TakeFault(WinStubFault fault);
void ResetFaults();
// Consumes one pending delay of that kind: the milliseconds to wait, 0 for none. Lock held.
DWORD TakeDelay(WinStubDelay call);

// A thread has just asked for messages (or is in a modal loop). Lock held.
void Pumped(ThreadState& thread);
// Whether the thread counts as hung: see WinStub_SetHungTimeout. Lock held.
bool IsHung(const ThreadState& thread, Clock::time_point now);

// Per-module parts of the thread end and of WinStub_Reset. Lock held.
void DestroyThreadWindows(DWORD threadId);
void AbandonMutexes(DWORD threadId);
void ResetWindows();
void ResetMenus();
void ResetShell();
void ResetRegistry();
void ResetKernel();
void ResetModule();
void ResetStrings();
void ResetEnvironment();
void ResetSession();
int LiveWindows();
int LiveMenus();
int LiveIcons();
int LiveTrayIcons();
int LiveRegKeys();
int LiveKernelHandles();
int LiveModules();

// Window lookups for other modules. Lock held.
bool IsLiveWindow(HWND hwnd);
std::vector<HWND> LiveTopLevelWindows();
bool PostLocked(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
UINT RegisterMessageLocked(const char* name);

// ASCII case-insensitive equality, as Win32 compares class, key and section names.
bool EqualNoCase(const std::string& a, const std::string& b);
std::string Lower(std::string s);

// "Z:\\dir\\file" or "/dir/file" to a host path; "" when the name has no host meaning.
std::string HostPath(const char* windowsPath, bool bareNameIsWindowsDir);
// A host path as Wine names it: "Z:" and the path with '\\' for '/'.
std::string WindowsForm(const std::string& unixPath);

// The process's error mode (SetErrorMode). Lock held.
UINT ErrorMode();

// The session (session.cpp). Lock held.
// Whether a message from a process of lower integrity (Explorer) reaches this process.
bool PassesFromLowerIntegrity(UINT message);
// Whether the thread's GetSystemMetrics sees 96 DPI sizes instead of the real ones.
bool SeesVirtualizedDpi(const ThreadState& thread, SIZE realSmallIcon);
// The user32 or shell32 export of that name that this Windows has and the stand-in implements,
// or nullptr.
FARPROC User32Export(const char* name);
FARPROC Shell32Export(const char* name);
// Shell_NotifyIconGetRect (shell.cpp), reached only through Shell32Export: a program looks it up.
HRESULT WINAPI NotifyIconGetRect(const NOTIFYICONIDENTIFIER* identifier, RECT* iconLocation);

// What GetModuleFileNameA reports for the program. Lock held.
std::string ProgramPath();

}  // namespace winstub

#endif
