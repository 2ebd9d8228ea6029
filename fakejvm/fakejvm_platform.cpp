// The few things the stand-in runtime needs from the operating system.
#include "fakejvm_internal.h"

#include <cstdio>
#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace fakejvm {

#ifdef _WIN32

unsigned long PlatformThreadKey() { return GetCurrentThreadId(); }

bool PlatformIsFile(const std::string &path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

const char *PlatformPathSeparator() { return ";"; }

std::string PlatformWorkingDirectory() {
    char dir[MAX_PATH * 4];
    DWORD length = GetCurrentDirectoryA(sizeof dir, dir);
    return length > 0 && length < sizeof dir ? std::string(dir, length) : std::string();
}

namespace {

// Looked up at run time: Windows before 10 (1607) has none of these.
typedef HANDLE(WINAPI *GetThreadDpiAwarenessContextFn)(void);
typedef int(WINAPI *GetAwarenessFromDpiAwarenessContextFn)(HANDLE);
typedef HRESULT(WINAPI *SetThreadDescriptionFn)(HANDLE, PCWSTR);

// GetProcAddress's FARPROC cast through void (*)(void), which the compiler
// takes as "any function" without a warning.
template <typename Fn>
Fn Entry(const char *module, const char *name) {
    HMODULE library = GetModuleHandleA(module);
    return library ? reinterpret_cast<Fn>(reinterpret_cast<void (*)(void)>(GetProcAddress(library, name))) : nullptr;
}

}  // namespace

void PlatformNameThread(const char *name) {
    static SetThreadDescriptionFn const describe = Entry<SetThreadDescriptionFn>("kernel32.dll", "SetThreadDescription");
    if (!describe) return;
    wchar_t wide[64];
    size_t i = 0;
    for (; name[i] && i + 1 < sizeof wide / sizeof wide[0]; ++i) wide[i] = static_cast<unsigned char>(name[i]);
    wide[i] = L'\0';
    describe(GetCurrentThread(), wide);
}

int PlatformServeSentMessages(const FakeJvmWindowSystem &, unsigned long waitMs) {
    // Wakes for a message sent to this thread. A PeekMessage whose filter
    // holds only sent messages calls their window procedures and leaves
    // posted messages and timers queued for the thread's own loop.
    DWORD woke = MsgWaitForMultipleObjects(0, nullptr, FALSE, waitMs, QS_SENDMESSAGE);
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    return woke == WAIT_OBJECT_0 ? 1 : 0;
}

DpiView PlatformDpiView(const FakeJvmWindowSystem &) {
    static GetThreadDpiAwarenessContextFn const context =
        Entry<GetThreadDpiAwarenessContextFn>("user32.dll", "GetThreadDpiAwarenessContext");
    static GetAwarenessFromDpiAwarenessContextFn const awareness =
        Entry<GetAwarenessFromDpiAwarenessContextFn>("user32.dll", "GetAwarenessFromDpiAwarenessContext");
    DpiView view;
    if (context && awareness) view.awareness = awareness(context());
    view.width = GetSystemMetrics(SM_CXSCREEN);
    view.height = GetSystemMetrics(SM_CYSCREEN);
    return view;
}

#else

unsigned long PlatformThreadKey() { return static_cast<unsigned long>(syscall(SYS_gettid)); }

// The shell names files as Wine shows this machine's: "Z:" and the path with
// '\\' for '/'. The class path is split at ':' here, which leaves such a path
// without its drive: its backslashes still say what it is.
bool PlatformIsFile(const std::string &path) {
    std::string unixPath = path;
    if (path.size() > 2 && (path[0] == 'Z' || path[0] == 'z') && path[1] == ':') unixPath = path.substr(2);
    for (char &c : unixPath)
        if (c == '\\') c = '/';
    struct stat info;
    return stat(unixPath.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

const char *PlatformPathSeparator() { return ":"; }

std::string PlatformWorkingDirectory() {
    char dir[4096];
    return getcwd(dir, sizeof dir) ? std::string(dir) : std::string();
}

// Linux keeps at most 15 bytes of a thread's name; ours are shorter.
void PlatformNameThread(const char *name) { pthread_setname_np(pthread_self(), name); }

int PlatformServeSentMessages(const FakeJvmWindowSystem &ws, unsigned long waitMs) {
    return ws.serveSentMessages ? ws.serveSentMessages(waitMs) : -1;
}

DpiView PlatformDpiView(const FakeJvmWindowSystem &ws) {
    DpiView view;
    if (ws.threadDpiAwareness) view.awareness = ws.threadDpiAwareness();
    if (ws.systemMetrics) {
        view.width = ws.systemMetrics(0);   // SM_CXSCREEN
        view.height = ws.systemMetrics(1);  // SM_CYSCREEN
    }
    return view;
}

#endif

// The end of a System.exit: the process ends with the code, from whichever
// thread. The FAKEJVM_LOG file needs no flush (it is closed after each line);
// our own streams do.
void PlatformExit(int code) {
    std::fflush(nullptr);
#ifdef _WIN32
    // What a real VM ends with. std::exit here would run only this DLL's
    // own static C runtime's exit, not the process's.
    ExitProcess(static_cast<UINT>(code));
#else
    std::exit(code);
#endif
}

}  // namespace fakejvm
