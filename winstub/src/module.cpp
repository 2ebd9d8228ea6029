// KERNEL32 modules: the program's own module and path in Wine's form, and real shared
// libraries loaded with dlopen (the JVM, the stand-in JVM), counted and found by name as
// Windows counts and finds DLLs.
#include "state.h"

#include <climits>
#include <dlfcn.h>
#include <link.h>
#include <map>
#include <stdlib.h>
#include <unistd.h>
#include <vector>

namespace winstub {
namespace {

HMODULE const kMainModule = reinterpret_cast<HMODULE>(0x400000);
// user32.dll, and shell32.dll for a program that imports Shell_NotifyIconA, are mapped before
// its first line runs: always found, never unloaded. Fixed handles, below anything dlopen hands
// out.
HMODULE const kUser32 = reinterpret_cast<HMODULE>(0x7E410000);
HMODULE const kShell32 = reinterpret_cast<HMODULE>(0x7C9C0000);

struct Library {
    int count = 0;         // LoadLibraryA calls not yet matched by FreeLibrary
    std::string path;      // the host file as the loader took it: its file name is the module's
    std::string resolved;  // the same with links resolved, for a name with a directory
};

struct ModuleState {
    bool overridden = false;
    std::string path;                      // the override, in Windows form
    std::map<void*, Library> libraries;    // dlopen handles we gave out
    std::vector<UINT> loadErrorModes;      // the error mode at each LoadLibraryA
};
ModuleState& M() {
    static ModuleState* state = new ModuleState;
    return *state;
}

std::string RealProgramPath() {
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return "";
    return WindowsForm(std::string(buf, static_cast<size_t>(n)));
}

// The file a host path names, with links and dot parts resolved; the path itself when there is
// no such file.
std::string Resolved(const std::string& path) {
    char buf[PATH_MAX];
    return realpath(path.c_str(), buf) ? std::string(buf) : path;
}

std::string BaseName(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Windows' reading of a module name without a directory (probed): no dot means ".dll"; a final
// dot means "no extension" and is dropped.
std::string WithExtension(std::string name) {
    if (!name.empty() && name.back() == '.')
        name.pop_back();
    else if (name.find('.') == std::string::npos)
        name += ".dll";
    return name;
}

// The system DLL a bare name means ("user32", "SHELL32.DLL"; probed: "user32." is not user32),
// or nullptr.
HMODULE SystemModule(const std::string& name) {
    if (name.find_first_of("/\\") != std::string::npos) return nullptr;
    std::string file = WithExtension(name);
    if (EqualNoCase(file, "user32.dll")) return kUser32;
    if (EqualNoCase(file, "shell32.dll")) return kShell32;
    return nullptr;
}

bool IsSystemModule(HMODULE module) { return module == kUser32 || module == kShell32; }

}  // namespace

// The program as Wine names a unix file.
std::string WindowsForm(const std::string& unixPath) {
    std::string p = "Z:" + unixPath;
    for (char& c : p)
        if (c == '/') c = '\\';
    return p;
}

std::string ProgramPath() { return M().overridden ? M().path : RealProgramPath(); }

// Loaded libraries are forgotten, not unloaded: a thread may still run their code.
void ResetModule() {
    M().overridden = false;
    M().path.clear();
    M().libraries.clear();
    M().loadErrorModes.clear();
}

int LiveModules() { return static_cast<int>(M().libraries.size()); }

}  // namespace winstub

using namespace winstub;

void WinStub_SetModuleFileName(const char* windowsPath) {
    Guard lock(Lock());
    M().overridden = windowsPath != nullptr;
    M().path = windowsPath ? windowsPath : "";
}

std::vector<UINT> WinStub_LoadLibraryErrorModes() {
    Guard lock(Lock());
    return M().loadErrorModes;
}

// A name with a directory is compared whole, one without by file name only; both without
// regard to case, as Windows compares module names. Only the program and the libraries loaded
// through LoadLibraryA are known, and of the system DLLs only user32 and shell32 by their bare
// names (kernel32.dll is not found).
HMODULE WINAPI GetModuleHandleA(LPCSTR name) {
    if (!name) return kMainModule;
    Guard lock(Lock());
    std::string wanted = name;
    if (HMODULE system = SystemModule(wanted)) return system;
    if (wanted.find_first_of("/\\") != std::string::npos) {
        std::string host = Resolved(HostPath(name, false));
        for (auto& library : M().libraries)
            if (EqualNoCase(library.second.resolved, host)) return static_cast<HMODULE>(library.first);
        if (EqualNoCase(HostPath(ProgramPath().c_str(), false), host)) return kMainModule;
    } else {
        std::string base = WithExtension(wanted);
        for (auto& library : M().libraries)
            if (EqualNoCase(BaseName(library.second.path), base)) return static_cast<HMODULE>(library.first);
        if (EqualNoCase(BaseName(ProgramPath()), base)) return kMainModule;
    }
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
            path = ProgramPath();
        } else if (IsSystemModule(module)) {
            path = module == kUser32 ? "C:\\windows\\system32\\user32.dll" : "C:\\windows\\system32\\shell32.dll";
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
    {
        Guard lock(Lock());
        M().loadErrorModes.push_back(ErrorMode());
        // Already loaded: one more reference, never the last.
        if (HMODULE system = name ? SystemModule(name) : nullptr) return system;
    }
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
    // The file the loader really took, even for a bare name it found on its search path.
    link_map* map = nullptr;
    std::string loaded = dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name && *map->l_name
                             ? std::string(map->l_name)
                             : path;
    Guard lock(Lock());
    Library& library = M().libraries[handle];
    if (!library.count++) {
        library.path = loaded;
        library.resolved = Resolved(loaded);
    }
    return static_cast<HMODULE>(handle);
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
    {
        Guard lock(Lock());
        if (IsSystemModule(module)) {
            // Only the exports a program looks up at run time, because older Windows lacks them.
            bool named = name && !IS_INTRESOURCE(name);
            FARPROC found = !named ? nullptr : module == kUser32 ? User32Export(name) : Shell32Export(name);
            if (!found) SetLastError(ERROR_PROC_NOT_FOUND);
            return found;
        }
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
    if (module == kMainModule || IsSystemModule(module)) return TRUE;
    {
        Guard lock(Lock());
        auto it = M().libraries.find(module);
        if (it == M().libraries.end()) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return FALSE;
        }
        if (--it->second.count == 0) M().libraries.erase(it);
    }
    dlclose(module);
    return TRUE;
}
