// KERNEL32 environment: the real process environment (what a JVM started in this process
// reads too), with Windows' case-insensitive names and Wine's answers for short buffers, and
// the real working directory, named as Wine names host folders.
#include "state.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <map>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace winstub {
namespace {

// What a variable was before the first SetEnvironmentVariableA of it, so that Reset can give
// it back: one test's settings must not reach the next.
struct Original {
    bool existed = false;
    std::string name, value;
};
std::map<std::string, Original>& Originals() {  // by lower-case name
    static auto* originals = new std::map<std::string, Original>;
    return *originals;
}

// The variable whose name equals `name` without regard to case, as Windows names compare.
// Lock held.
bool Lookup(const std::string& name, std::string* actualName, std::string* value) {
    for (char** entry = environ; entry && *entry; ++entry) {
        const char* eq = strchr(*entry, '=');
        if (!eq) continue;
        std::string have(*entry, static_cast<size_t>(eq - *entry));
        if (!EqualNoCase(have, name)) continue;
        if (actualName) *actualName = have;
        if (value) *value = eq + 1;
        return true;
    }
    return false;
}

// A host environment can hold "Path" and "PATH" side by side; Windows cannot. Lock held.
void RemoveAllSpellings(const std::string& name) {
    std::string actual;
    while (Lookup(name, &actual, nullptr)) unsetenv(actual.c_str());
}

// Wine's expansion (probed): %NAME% of a known variable is replaced; an unknown name and its
// two percent signs are copied as they are, and the copy goes on after the second one (so in
// "%NOPE%B%" that second % opens nothing); a % without a partner is plain text.
std::string Expand(const char* src) {
    std::string out;
    while (*src) {
        if (*src != '%') {
            const char* next = strchr(src, '%');
            size_t n = next ? static_cast<size_t>(next - src) : strlen(src);
            out.append(src, n);
            src += n;
            continue;
        }
        const char* close = strchr(src + 1, '%');
        if (!close) {
            out += src;
            break;
        }
        std::string name(src + 1, close);
        std::string value;
        if (!name.empty() && Lookup(name, nullptr, &value))
            out += value;
        else
            out.append(src, close + 1);
        src = close + 1;
    }
    return out;
}

// The working directory before the first SetCurrentDirectoryA, for Reset; "" while none was made.
std::string& OriginalDirectory() {
    static auto* original = new std::string;
    return *original;
}

bool IsDirectory(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Windows's error for a folder it cannot enter, from chdir's errno (probed under Wine 8): the
// last part missing ERROR_FILE_NOT_FOUND, a part before it missing or a file
// ERROR_PATH_NOT_FOUND, the folder itself a file ERROR_DIRECTORY.
DWORD DirectoryError(int error, std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    switch (error) {
    case EACCES: return ERROR_ACCESS_DENIED;
    case ENOENT: {
        size_t slash = path.find_last_of('/');
        std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
        return IsDirectory(parent) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    }
    case ENOTDIR: {
        struct stat st;
        return stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode) ? ERROR_DIRECTORY : ERROR_PATH_NOT_FOUND;
    }
    default: return ERROR_PATH_NOT_FOUND;
    }
}

}  // namespace

void ResetEnvironment() {
    if (!OriginalDirectory().empty()) {
        if (chdir(OriginalDirectory().c_str()) != 0) {
            // gone meanwhile: there is nothing to go back to
        }
        OriginalDirectory().clear();
    }
    for (auto& entry : Originals()) {
        RemoveAllSpellings(entry.first);
        if (entry.second.existed) setenv(entry.second.name.c_str(), entry.second.value.c_str(), 1);
    }
    Originals().clear();
}

}  // namespace winstub

using namespace winstub;

DWORD WINAPI GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size) {
    Guard lock(Lock());
    std::string value;
    if (!name || !Lookup(name, nullptr, &value)) {
        SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return 0;
    }
    // Probed: too small a buffer is left untouched and the answer counts the terminator; an empty
    // value answers 0 like a missing one, but writes the terminator and leaves the last error.
    DWORD length = static_cast<DWORD>(value.size());
    if (!buffer || size < length + 1) return length + 1;
    memcpy(buffer, value.c_str(), length + 1);
    return length;
}

BOOL WINAPI SetEnvironmentVariableA(LPCSTR name, LPCSTR value) {
    // Wine refuses an empty name or one with '=' inside (ERROR_INVALID_PARAMETER), yet accepts
    // one that starts with '=', where Windows keeps its per-drive directories. A host environment
    // cannot hold such a name: refused too, a case the shell has no use for.
    if (!name || !*name || strchr(name, '=')) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Guard lock(Lock());
    std::string key = Lower(name);
    if (!Originals().count(key)) {
        Original original;
        original.existed = Lookup(name, &original.name, &original.value);
        Originals()[key] = original;
    }
    RemoveAllSpellings(name);
    if (value && setenv(name, value, 1) != 0) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    return TRUE;  // deleting a variable that is not there succeeds too (probed)
}

DWORD WINAPI ExpandEnvironmentStringsA(LPCSTR src, LPSTR dst, DWORD size) {
    Guard lock(Lock());
    std::string out = Expand(src);
    DWORD needed = static_cast<DWORD>(out.size() + 1);  // bytes, the terminator included
    if (dst && size >= needed) {
        memcpy(dst, out.c_str(), needed);
        return needed;
    }
    // Probed on 64-bit Wine 8: what fits is written and terminated, the answer is the size
    // needed, and the last error is ERROR_INSUFFICIENT_BUFFER. Callers should rely only on
    // "answer > size: it did not fit".
    if (dst && size) {
        memcpy(dst, out.data(), size - 1);
        dst[size - 1] = 0;
    }
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return needed;
}

// "Z:\\dir", "Z:\\dir\\" (a trailing backslash is taken, as on Windows) or a path relative to
// the working directory.
BOOL WINAPI SetCurrentDirectoryA(LPCSTR path) {
    if (!path || !*path) {
        SetLastError(ERROR_INVALID_NAME);  // probed: "" answers 123
        return FALSE;
    }
    std::string host = HostPath(path, false);
    if (host.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);  // another drive: the host has none (probed: Q:\\ answers 3)
        return FALSE;
    }
    Guard lock(Lock());
    char before[PATH_MAX];
    bool known = getcwd(before, sizeof before) != nullptr;
    if (chdir(host.c_str()) != 0) {
        SetLastError(DirectoryError(errno, host));
        return FALSE;
    }
    if (OriginalDirectory().empty() && known) OriginalDirectory() = before;
    return TRUE;
}

// The length without terminator; too small a buffer: the size needed with the terminator, the
// buffer and the last error untouched (probed). Windows keeps the spelling it was given
// ("c:\\PROBE" stays so); the host names the folder by its real path, links resolved.
DWORD WINAPI GetCurrentDirectoryA(DWORD size, LPSTR buffer) {
    char cwd[PATH_MAX];
    {
        Guard lock(Lock());
        if (!getcwd(cwd, sizeof cwd)) {
            SetLastError(ERROR_FILE_NOT_FOUND);  // removed from under us
            return 0;
        }
    }
    std::string current = WindowsForm(cwd);
    DWORD length = static_cast<DWORD>(current.size());
    if (!buffer || size <= length) return length + 1;
    memcpy(buffer, current.c_str(), length + 1);
    return length;
}
