// KERNEL32 modules: the program's own module and path in Wine's form, and real shared
// libraries loaded with dlopen (the JVM, the stand-in JVM).
#include "state.h"

#include <dlfcn.h>
#include <link.h>
#include <map>
#include <unistd.h>

namespace winstub {
namespace {

HMODULE const kMainModule = reinterpret_cast<HMODULE>(0x400000);

struct ModuleState {
    bool overridden = false;
    std::string path;                  // the override, in Windows form
    std::map<void*, int> libraries;    // dlopen handles we gave out, with their counts
};
ModuleState& M() {
    static ModuleState* state = new ModuleState;
    return *state;
}

// The program as Wine names a unix file: "Z:" and the path with '\' for '/'.
std::string WindowsForm(const std::string& unixPath) {
    std::string p = "Z:" + unixPath;
    for (char& c : p)
        if (c == '/') c = '\\';
    return p;
}

std::string RealProgramPath() {
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return "";
    return WindowsForm(std::string(buf, static_cast<size_t>(n)));
}

}  // namespace

void ResetModule() {
    M().overridden = false;
    M().path.clear();
}

}  // namespace winstub

using namespace winstub;

void WinStub_SetModuleFileName(const char* windowsPath) {
    Guard lock(Lock());
    M().overridden = windowsPath != nullptr;
    M().path = windowsPath ? windowsPath : "";
}

HMODULE WINAPI GetModuleHandleA(LPCSTR name) {
    if (!name) return kMainModule;
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
    std::string path;
    {
        Guard lock(Lock());
        if (TakeFault(WinStubFault::GetModuleFileName)) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return 0;
        }
        if (!module || module == kMainModule) {
            path = M().overridden ? M().path : RealProgramPath();
        } else if (M().libraries.count(module)) {
            link_map* map = nullptr;
            if (dlinfo(module, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name) path = WindowsForm(map->l_name);
        } else {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return 0;
        }
    }
    // Probed on Wine 8: a buffer too small gets `size` bytes with no terminator, the call
    // answers `size` and ERROR_INSUFFICIENT_BUFFER; success clears the last error.
    if (!buffer || size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (path.size() >= size) {
        memcpy(buffer, path.data(), size);
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    memcpy(buffer, path.c_str(), path.size() + 1);
    SetLastError(0);
    return static_cast<DWORD>(path.size());
}

HMODULE WINAPI LoadLibraryA(LPCSTR name) {
    if (!name || !*name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string path = HostPath(name, false);
    if (path.empty()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        SetLastError(access(path.c_str(), F_OK) == 0 ? ERROR_BAD_EXE_FORMAT : ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    Guard lock(Lock());
    ++M().libraries[handle];
    return static_cast<HMODULE>(handle);
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
    {
        Guard lock(Lock());
        if (!module || !M().libraries.count(module)) {
            SetLastError(module == kMainModule ? ERROR_PROC_NOT_FOUND : ERROR_MOD_NOT_FOUND);
            return nullptr;
        }
    }
    if (!name || IS_INTRESOURCE(name)) {  // ordinals have no meaning for a shared library
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    void* symbol = dlsym(module, name);
    if (!symbol) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(symbol);
}

BOOL WINAPI FreeLibrary(HMODULE module) {
    if (module == kMainModule) return TRUE;
    {
        Guard lock(Lock());
        auto it = M().libraries.find(module);
        if (it == M().libraries.end()) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return FALSE;
        }
        if (--it->second == 0) M().libraries.erase(it);
    }
    dlclose(module);
    return TRUE;
}
