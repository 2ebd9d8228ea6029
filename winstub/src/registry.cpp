// ADVAPI32 registry: an in-memory tree under HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER, with
// Wine's answers for buffers that are too small, exactly full or roomy.
#include "state.h"

#include <map>
#include <vector>

namespace winstub {
namespace {

struct Value {
    std::string name;
    DWORD type;
    std::vector<BYTE> data;
};

struct Key {
    std::string name;
    std::map<std::string, std::shared_ptr<Key>> subkeys;  // by lower-case name
    std::vector<Value> values;                            // in the order they were made
    bool deleted = false;
};

struct Registry {
    std::map<uintptr_t, std::shared_ptr<Key>> roots;
    std::map<uintptr_t, std::shared_ptr<Key>> handles;
};
Registry& R() {
    static Registry* registry = new Registry;
    return *registry;
}

bool IsRoot(HKEY h) { return h == HKEY_LOCAL_MACHINE || h == HKEY_CURRENT_USER; }

std::shared_ptr<Key> Open(HKEY h) {
    uintptr_t value = reinterpret_cast<uintptr_t>(h);
    if (IsRoot(h)) {
        std::shared_ptr<Key>& root = R().roots[value];
        if (!root) root = std::make_shared<Key>();
        return root;
    }
    auto it = R().handles.find(value);
    return it == R().handles.end() ? nullptr : it->second;
}

HKEY AddHandle(std::shared_ptr<Key> key) {
    uintptr_t value = NewKernelHandle();
    R().handles[value] = std::move(key);
    return reinterpret_cast<HKEY>(value);
}

// Splits "a\\b\\c" into its parts. Empty parts (doubled or trailing backslashes) are skipped,
// but a leading backslash is ERROR_BAD_PATHNAME, as Wine answers.
LSTATUS Split(LPCSTR path, std::vector<std::string>* parts) {
    parts->clear();
    if (!path) return ERROR_SUCCESS;
    if (path[0] == '\\') return ERROR_BAD_PATHNAME;
    std::string part;
    for (const char* p = path;; ++p) {
        if (*p == '\\' || *p == 0) {
            if (!part.empty()) parts->push_back(part);
            part.clear();
            if (*p == 0) break;
        } else {
            part += *p;
        }
    }
    return ERROR_SUCCESS;
}

Value* FindValue(Key& key, LPCSTR name) {
    std::string wanted = name ? name : "";
    for (Value& v : key.values)
        if (EqualNoCase(v.name, wanted)) return &v;
    return nullptr;
}

bool IsString(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

void MarkDeleted(Key& key) {
    key.deleted = true;
    for (auto& sub : key.subkeys) MarkDeleted(*sub.second);
}

// Opens or (create) makes the key at `path` below `parent`; a new handle in *result.
LSTATUS OpenPath(HKEY parent, LPCSTR path, bool create, PHKEY result, LPDWORD disposition) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    std::shared_ptr<Key> key = Open(parent);
    if (!key) return ERROR_INVALID_HANDLE;
    if (key->deleted) return ERROR_KEY_DELETED;
    std::vector<std::string> parts;
    LSTATUS status = Split(path, &parts);
    if (status != ERROR_SUCCESS) return status;
    // No path below a root key gives the root's own handle back, as Wine does.
    if (parts.empty() && IsRoot(parent)) {
        *result = parent;
        if (disposition) *disposition = REG_OPENED_EXISTING_KEY;
        return ERROR_SUCCESS;
    }
    bool made = false;
    for (const std::string& part : parts) {
        std::shared_ptr<Key>& next = key->subkeys[Lower(part)];
        if (!next) {
            if (!create) {
                key->subkeys.erase(Lower(part));
                return ERROR_FILE_NOT_FOUND;
            }
            next = std::make_shared<Key>();
            next->name = part;
            made = true;
        }
        key = next;
    }
    *result = AddHandle(key);
    if (disposition) *disposition = made ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
}

}  // namespace

void ResetRegistry() {
    R().roots.clear();
    R().handles.clear();
}

int LiveRegKeys() { return static_cast<int>(R().handles.size()); }

}  // namespace winstub

using namespace winstub;

LSTATUS WINAPI RegOpenKeyExA(HKEY parent, LPCSTR path, DWORD, REGSAM, PHKEY result) {
    Guard lock(Lock());
    return OpenPath(parent, path, false, result, nullptr);
}

LSTATUS WINAPI RegCreateKeyExA(HKEY parent, LPCSTR path, DWORD, LPSTR, DWORD, REGSAM, const SECURITY_ATTRIBUTES*,
                               PHKEY result, LPDWORD disposition) {
    Guard lock(Lock());
    return OpenPath(parent, path, true, result, disposition);
}

LSTATUS WINAPI RegQueryValueExA(HKEY h, LPCSTR name, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD size) {
    Guard lock(Lock());
    if (data && !size) return ERROR_INVALID_PARAMETER;
    // Probed: a query for the size alone starts by setting it to 0, so a missing value answers
    // size 0 there; with a buffer the size is kept.
    if (!data && size) *size = 0;
    std::shared_ptr<Key> key = Open(h);
    if (!key) return ERROR_INVALID_HANDLE;
    if (key->deleted) return ERROR_KEY_DELETED;
    const Value* value = FindValue(*key, name);
    if (!value) {
        if (type) *type = REG_NONE;  // probed: Wine clears the type
        return ERROR_FILE_NOT_FOUND;
    }
    if (type) *type = value->type;
    DWORD length = static_cast<DWORD>(value->data.size());
    if (!data) {
        if (size) *size = length;
        return ERROR_SUCCESS;
    }
    if (*size < length) {
        *size = length;  // the buffer is left untouched
        return ERROR_MORE_DATA;
    }
    if (length) memcpy(data, value->data.data(), length);
    // A string that fills the buffer exactly comes back unterminated; with room to spare and
    // no terminator of its own it gets one. An empty string writes nothing at all.
    if (IsString(value->type) && length && *size > length && value->data[length - 1] != 0) data[length] = 0;
    *size = length;
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegSetValueExA(HKEY h, LPCSTR name, DWORD, DWORD type, const BYTE* data, DWORD size) {
    Guard lock(Lock());
    std::shared_ptr<Key> key = Open(h);
    if (!key) return ERROR_INVALID_HANDLE;
    if (key->deleted) return ERROR_KEY_DELETED;
    if (!data && size) return ERROR_NOACCESS;
    // Wine (and NT) count a forgotten terminator: when the data's last byte is not 0 but the
    // byte after it is, the terminator is stored too. Like Windows this reads that one byte
    // past the data.
    if (size && IsString(type) && data[size - 1] != 0 && data[size] == 0) ++size;
    Value* value = FindValue(*key, name);
    if (!value) {
        key->values.push_back(Value{name ? name : "", type, {}});
        value = &key->values.back();
    }
    value->type = type;
    value->data.assign(data, data + size);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegDeleteValueA(HKEY h, LPCSTR name) {
    Guard lock(Lock());
    std::shared_ptr<Key> key = Open(h);
    if (!key) return ERROR_INVALID_HANDLE;
    if (key->deleted) return ERROR_KEY_DELETED;
    Value* value = FindValue(*key, name);
    if (!value) return ERROR_FILE_NOT_FOUND;
    key->values.erase(key->values.begin() + (value - key->values.data()));
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegDeleteTreeA(HKEY h, LPCSTR path) {
    Guard lock(Lock());
    std::shared_ptr<Key> key = Open(h);
    if (!key) return ERROR_INVALID_HANDLE;
    if (key->deleted) return ERROR_KEY_DELETED;
    std::vector<std::string> parts;
    LSTATUS status = Split(path, &parts);
    if (status != ERROR_SUCCESS) return status;
    if (parts.empty()) {
        // No subkey: everything below the key goes, the key itself stays.
        for (auto& sub : key->subkeys) MarkDeleted(*sub.second);
        key->subkeys.clear();
        key->values.clear();
        return ERROR_SUCCESS;
    }
    std::shared_ptr<Key> parent = key;
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        auto it = parent->subkeys.find(Lower(parts[i]));
        if (it == parent->subkeys.end()) return ERROR_FILE_NOT_FOUND;
        parent = it->second;
    }
    auto it = parent->subkeys.find(Lower(parts.back()));
    if (it == parent->subkeys.end()) return ERROR_FILE_NOT_FOUND;
    MarkDeleted(*it->second);
    parent->subkeys.erase(it);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCloseKey(HKEY h) {
    Guard lock(Lock());
    if (IsRoot(h)) return ERROR_SUCCESS;
    return R().handles.erase(reinterpret_cast<uintptr_t>(h)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}
