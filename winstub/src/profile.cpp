// KERNEL32 GetPrivateProfileStringA, reading the real file on every call, with Wine's parsing,
// trimming, quote removal and return values (probed under Wine 8).
#include "state.h"

#include <fstream>
#include <sstream>
#include <vector>

namespace winstub {
namespace {

struct Entry {
    std::string name;
    bool hasValue = false;  // a line without '=' is kept, but has no value
    std::string value;
};

struct Section {
    std::string name;
    std::vector<Entry> entries;
};

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' || c == 0x1a; }

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && IsSpace(s[b])) ++b;
    while (e > b && IsSpace(s[e - 1])) --e;
    return s.substr(b, e - b);
}

// The first section has no name and holds the keys written before any header.
std::vector<Section> Parse(const std::string& text) {
    std::vector<Section> sections(1);
    size_t start = 0;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) start = 3;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = Trim(text.substr(start, end - start));
        start = end + 1;
        if (line.empty()) continue;
        if (line[0] == '[') {
            size_t close = line.rfind(']');
            if (close != std::string::npos) {
                sections.push_back(Section{Trim(line.substr(1, close - 1)), {}});
                continue;
            }
        }
        Entry entry;
        size_t eq = line.find('=');
        if (eq == std::string::npos) {
            entry.name = line;
        } else {
            entry.name = Trim(line.substr(0, eq));
            entry.value = Trim(line.substr(eq + 1));
            entry.hasValue = true;
        }
        sections.back().entries.push_back(entry);
    }
    return sections;
}

// Wine's PROFILE_CopyEntry: a value quoted at both ends (same quote, ' or ") loses its quotes,
// but only if the whole value fits; a cut quoted value loses its last character instead.
std::string CopyEntry(const std::string& value, size_t len) {
    if (len == 0) return "";
    std::string v = value;
    bool quoted = false;
    if (v.size() >= 2 && (v[0] == '\'' || v[0] == '"') && v.back() == v[0]) {
        quoted = true;
        v.erase(0, 1);
    }
    std::string out = v.substr(0, len - 1);
    if (quoted && len >= v.size() && !out.empty()) out.pop_back();
    return out;
}

const Section* FindSection(const std::vector<Section>& sections, const std::string& name) {
    for (const Section& s : sections)
        if (EqualNoCase(s.name, name)) return &s;
    return nullptr;
}

// Key names of a section, each followed by a NUL (Wine's PROFILE_GetSection without values).
// Returns the W-level length; `out` holds what the W buffer of `len` characters would.
size_t KeyList(const Section& section, size_t len, std::string* out) {
    size_t oldLen = len;
    out->clear();
    for (const Entry& e : section.entries) {
        if (len <= 2) break;
        if (!e.name.empty() && e.name[0] == ';') continue;  // comments are kept, but not listed
        if (!e.hasValue) continue;
        std::string name = CopyEntry(e.name, len - 1);
        *out += name;
        *out += '\0';
        len -= name.size() + 1;
        if (len < 2) break;
    }
    out->push_back('\0');
    if (len <= 1) {
        (*out)[out->size() - 2] = '\0';
        out->pop_back();
        return oldLen - 2;
    }
    return oldLen - len;
}

size_t SectionList(const std::vector<Section>& sections, size_t len, std::string* out) {
    out->clear();
    if (len == 1) return 0;
    size_t room = len - 1;
    for (const Section& s : sections) {
        if (s.name.empty()) continue;
        size_t need = s.name.size() + 1;
        if (need >= room) {
            if (room > 0) {
                *out += s.name.substr(0, room - 1);
                *out += '\0';
            }
            return len - 2;
        }
        *out += s.name;
        *out += '\0';
        room -= need;
    }
    return out->size();
}

}  // namespace

std::string HostPath(const char* path, bool bareNameIsWindowsDir) {
    if (!path || !*path) return "";
    std::string p = path;
    if (p.size() >= 2 && (p[0] == 'Z' || p[0] == 'z') && p[1] == ':') {
        p.erase(0, 2);
        for (char& c : p)
            if (c == '\\') c = '/';
        return p.empty() || p[0] != '/' ? "" : p;
    }
    if (p.size() >= 2 && p[1] == ':') return "";  // another drive: nothing on the host
    if (bareNameIsWindowsDir && p.find('\\') == std::string::npos && p.find('/') == std::string::npos)
        return "";  // looked up in C:\windows, which the host has not got
    for (char& c : p)
        if (c == '\\') c = '/';
    return p;
}

}  // namespace winstub

using namespace winstub;

DWORD WINAPI GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR def, LPSTR buffer, DWORD size, LPCSTR file) {
    // Wine strips trailing blanks (only blanks) of the default, but keeps its first character.
    std::string defaultValue;
    bool hasDefault = def != nullptr;
    if (def) {
        defaultValue = def;
        while (defaultValue.size() > 1 && defaultValue.back() == ' ') defaultValue.pop_back();
    }
    std::string host = HostPath(file ? file : "win.ini", true);
    std::ifstream in;
    if (!host.empty()) in.open(host, std::ios::binary);
    std::string result;  // what the W buffer holds, terminators inside included
    size_t length = 0;   // the W-level result
    if (!in.is_open()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        // No file: the default as it is (no quote removal), cut to size - 1.
        if (buffer && size && hasDefault) {
            result = defaultValue.substr(0, size - 1);
            length = result.size();
        }
    } else {
        std::ostringstream text;
        text << in.rdbuf();
        std::vector<Section> sections = Parse(text.str());
        SetLastError(0);
        if (!buffer || !size) {
            length = 0;
        } else if (!section) {
            length = SectionList(sections, size, &result);
        } else if (key) {
            const Section* s = FindSection(sections, Trim(section));
            const Entry* found = nullptr;
            if (s)
                for (const Entry& e : s->entries)
                    if (EqualNoCase(e.name, Trim(key))) {
                        found = &e;
                        break;
                    }
            result = CopyEntry(found && found->hasValue ? found->value : defaultValue, size);
            length = result.size();
        } else {
            const Section* s = FindSection(sections, Trim(section));
            if (s) length = KeyList(*s, size, &result);
            if (!s || result.empty() || result[0] == 0) {
                result = CopyEntry(defaultValue, size);
                length = result.size();
            }
        }
    }
    if (!buffer || !size) return 0;
    // The A form copies the W result's characters into size - 1 bytes and terminates it.
    if (length > size - 1) length = size - 1;
    if (result.size() < length) result.resize(length, '\0');
    memcpy(buffer, result.data(), length);
    buffer[length] = 0;
    return static_cast<DWORD>(length);
}
