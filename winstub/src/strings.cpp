// KERNEL32 and USER32 string helpers: lstr*, wsprintfA and the ANSI code page's double-byte
// characters, with Wine's results.
#include "state.h"

#include <atomic>
#include <cstdarg>
#include <vector>

namespace {

// The ANSI code page and its lead bytes (probed with IsDBCSLeadByteEx under Wine 8). A code
// page a test cannot set is never current, so no other lookup is needed.
struct CodePage {
    UINT id;
    BYTE leadRanges[4];  // pairs of first and last lead byte; 0, 0 where there are none
};
const CodePage kCodePages[] = {
    {1252, {0, 0, 0, 0}},       {874, {0, 0, 0, 0}},        {1250, {0, 0, 0, 0}},
    {1251, {0, 0, 0, 0}},       {1253, {0, 0, 0, 0}},       {1254, {0, 0, 0, 0}},
    {1255, {0, 0, 0, 0}},       {1256, {0, 0, 0, 0}},       {1257, {0, 0, 0, 0}},
    {1258, {0, 0, 0, 0}},       {932, {0x81, 0x9F, 0xE0, 0xFC}},
    {936, {0x81, 0xFE, 0, 0}},  {949, {0x81, 0xFE, 0, 0}},  {950, {0x81, 0xFE, 0, 0}},
};
std::atomic<const CodePage*> gCodePage{&kCodePages[0]};

// lstrcmpA is a locale comparison (Wine: CompareStringA with the user locale, English here),
// modelled for ASCII from a probe that sorted every character and many pairs under Wine 8:
//  1. Hyphen, apostrophe and the control characters other than \t..\r have no weight of their
//     own at first; the other characters compare by the order below, letters ignoring case.
//  2. Then case: at the first letter that differs only in case, lower case is less.
//  3. Then the ignored characters: an earlier position weighs more, then the character
//     (controls < ' < -), then the longer list is greater. So "1.-3" > "1.3", "co-op" > "coop".
// Bytes from 0x80 on sort after 'z' by value (Wine knows their letters; the shell never needs it).
const char kOrder[] =
    " \t\n\v\f\r!\"#$%&()*,./:;?@[\\]^_`{|}~+<=>0123456789abcdefghijklmnopqrstuvwxyz";

int Primary(unsigned char c) {
    if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
    if (c >= 0x80) return 200 + c;
    for (int i = 0; kOrder[i]; ++i)
        if (static_cast<unsigned char>(kOrder[i]) == c) return i + 1;
    return 0;  // ignorable at the first level
}

int Special(unsigned char c) {
    if (c == '-') return 200;
    if (c == '\'') return 199;
    return c == 0x7f ? 198 : c;
}

struct Keys {
    std::vector<int> primary;
    std::vector<int> lowercase;                   // per primary character: 1 lower, 2 upper, 0 other
    std::vector<std::pair<int, int>> special;     // (position, weight)
};

Keys MakeKeys(const char* s) {
    Keys k;
    for (int i = 0; s[i]; ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        int p = Primary(c);
        if (p) {
            k.primary.push_back(p);
            k.lowercase.push_back(c >= 'a' && c <= 'z' ? 1 : c >= 'A' && c <= 'Z' ? 2 : 0);
        } else {
            k.special.emplace_back(i, Special(c));
        }
    }
    return k;
}

int Sign(int v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

// wsprintfA's format parser and output, after Wine's user32 wsprintf.c: flags '-', '#', '0'
// (in that order only), a width, a precision, 'l'/'h' sizes, and an unknown conversion prints
// its padding and nothing else, leaving the character itself to be copied. '*' is not known.
enum class Type { Char, String, Signed, Unsigned, Hex, Unknown };

struct Format {
    bool left = false, prefix = false, zero = false, upper = false, wide = false;
    unsigned width = 0, precision = 0;
    Type type = Type::Unknown;
};

size_t Parse(const char* p0, Format* f) {
    const char* p = p0;
    if (*p == '-') { f->left = true; ++p; }
    if (*p == '#') { f->prefix = true; ++p; }
    if (*p == '0') { f->zero = true; ++p; }
    while (*p >= '0' && *p <= '9') { f->width = f->width * 10 + static_cast<unsigned>(*p - '0'); ++p; if (f->width > 100000) f->width = 100000; }
    if (*p == '.') {
        ++p;
        while (*p >= '0' && *p <= '9') { f->precision = f->precision * 10 + static_cast<unsigned>(*p - '0'); ++p; if (f->precision > 100000) f->precision = 100000; }
    }
    if (*p == 'l' || *p == 'w') { f->wide = *p == 'w'; ++p; }
    else if (*p == 'h') ++p;
    switch (*p) {
    case 'c': f->type = Type::Char; break;
    case 'd': case 'i': f->type = Type::Signed; break;
    case 's': f->type = f->wide ? Type::Unknown : Type::String; break;
    case 'u': f->type = Type::Unsigned; break;
    case 'X': f->upper = true; f->type = Type::Hex; break;
    case 'x': f->type = Type::Hex; break;
    default: f->type = Type::Unknown; --p; break;  // the character is printed as plain text
    }
    return static_cast<size_t>(p - p0) + 1;
}

}  // namespace

namespace winstub {
void ResetStrings() { gCodePage = &kCodePages[0]; }
}  // namespace winstub

bool WinStub_SetAnsiCodePage(UINT codePage) {
    for (const CodePage& page : kCodePages)
        if (page.id == codePage) {
            gCodePage = &page;
            return true;
        }
    return false;
}

UINT WINAPI GetACP(void) { return gCodePage.load()->id; }

BOOL WINAPI IsDBCSLeadByte(BYTE c) {
    const BYTE* r = gCodePage.load()->leadRanges;
    return (r[1] && c >= r[0] && c <= r[1]) || (r[3] && c >= r[2] && c <= r[3]) ? TRUE : FALSE;
}

// A lead byte before the terminator is a character of its own: the walk never steps past the
// end (probed, as Wine's CharNextA: "\x95" then NUL moves one byte).
LPSTR WINAPI CharNextA(LPCSTR p) {
    if (!*p) return const_cast<LPSTR>(p);
    if (IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1]) return const_cast<LPSTR>(p + 2);
    return const_cast<LPSTR>(p + 1);
}

// The character before `current`, found by walking from `start`: a trail byte that equals '\'
// (0x5C, as in Shift-JIS 0x95 0x5C) is never taken for a character. The walk stops at a
// terminator, so a `current` past the end answers the end (probed).
LPSTR WINAPI CharPrevA(LPCSTR start, LPCSTR current) {
    while (*start && start < current) {
        LPCSTR next = CharNextA(start);
        if (next >= current) break;
        start = next;
    }
    return const_cast<LPSTR>(start);
}

int WINAPI lstrlenA(LPCSTR s) { return s ? static_cast<int>(strlen(s)) : 0; }

LPSTR WINAPI lstrcpynA(LPSTR dst, LPCSTR src, int n) {
    if (!dst || !src) return nullptr;  // Wine catches the fault and answers NULL
    if (n <= 0) return dst;
    int i = 0;
    for (; i < n - 1 && src[i]; ++i) dst[i] = src[i];
    dst[i] = 0;
    return dst;
}

LPSTR WINAPI lstrcatA(LPSTR dst, LPCSTR src) {
    if (!dst || !src) return nullptr;
    memmove(dst + strlen(dst), src, strlen(src) + 1);
    return dst;
}

int WINAPI lstrcmpA(LPCSTR a, LPCSTR b) {
    if (!a || !b) return a == b ? 0 : a ? 1 : -1;
    Keys ka = MakeKeys(a), kb = MakeKeys(b);
    size_t n = std::min(ka.primary.size(), kb.primary.size());
    for (size_t i = 0; i < n; ++i)
        if (ka.primary[i] != kb.primary[i]) return Sign(ka.primary[i] - kb.primary[i]);
    if (ka.primary.size() != kb.primary.size()) return ka.primary.size() < kb.primary.size() ? -1 : 1;
    for (size_t i = 0; i < n; ++i)
        if (ka.lowercase[i] != kb.lowercase[i]) return Sign(ka.lowercase[i] - kb.lowercase[i]);
    size_t m = std::min(ka.special.size(), kb.special.size());
    for (size_t i = 0; i < m; ++i) {
        if (ka.special[i].first != kb.special[i].first) return ka.special[i].first < kb.special[i].first ? 1 : -1;
        if (ka.special[i].second != kb.special[i].second) return Sign(ka.special[i].second - kb.special[i].second);
    }
    if (ka.special.size() != kb.special.size()) return ka.special.size() < kb.special.size() ? -1 : 1;
    return 0;
}

// Output is limited to 1024 bytes with the terminator, as Windows limits it. An output of
// 1023 bytes or more answers 1024 (probed: Wine's wvsnprintfA returns -1 once the buffer is
// full, even exactly full, and wsprintfA turns that into 1024).
int WINAPIV wsprintfA(LPSTR buffer, LPCSTR format, ...) {
    if (!buffer) return 0;
    if (!format) {
        buffer[0] = 0;
        return 0;
    }
    size_t const limit = 1023;
    std::string out;
    va_list args;
    va_start(args, format);
    const char* cursor = format;
    while (*cursor && out.size() < limit) {
        if (*cursor != '%') {
            out += *cursor++;
            continue;
        }
        ++cursor;
        if (*cursor == '%') {
            out += *cursor++;
            continue;
        }
        Format f;
        cursor += Parse(cursor, &f);
        std::string body;  // digits or text, without padding
        char sign = 0;
        switch (f.type) {
        case Type::Char:
            body.assign(1, static_cast<char>(va_arg(args, int)));
            f.precision = 1;
            break;
        case Type::String: {
            const char* s = va_arg(args, const char*);
            if (!s) s = "(null)";
            size_t len = 0;
            while (s[len] && (!f.precision || len < f.precision)) ++len;
            body.assign(s, len);
            f.precision = static_cast<unsigned>(len);
            break;
        }
        case Type::Signed:
        case Type::Unsigned:
        case Type::Hex: {
            // Arguments are 32-bit, as on Windows where long is 32-bit too.
            int value = va_arg(args, int);
            unsigned magnitude = static_cast<unsigned>(value);
            if (f.type == Type::Signed && value < 0) {
                sign = '-';
                magnitude = 0u - magnitude;
            }
            const char* digits = f.upper ? "0123456789ABCDEF" : "0123456789abcdef";
            unsigned base = f.type == Type::Hex ? 16 : 10;
            do {
                body.insert(body.begin(), digits[magnitude % base]);
                magnitude /= base;
            } while (magnitude);
            break;
        }
        case Type::Unknown:
            break;
        }
        if (f.left) f.zero = false;
        if (f.type == Type::Unknown) {
            if (!f.left)
                for (unsigned i = 0; i < f.width; ++i) out += ' ';
            continue;
        }
        bool numeric = f.type == Type::Signed || f.type == Type::Unsigned || f.type == Type::Hex;
        unsigned len = static_cast<unsigned>(body.size()) + (sign ? 1u : 0u);
        if (numeric) {
            if (f.precision < len) f.precision = len;
            if (f.zero && f.width > f.precision) f.precision = f.width;
        }
        std::string field;
        if (numeric) {
            if (f.type == Type::Hex && f.prefix) field += f.upper ? "0X" : "0x";
            if (sign) field += sign;
            for (unsigned i = len; i < f.precision; ++i) field += '0';
            field += body;
        } else {
            field = body;
        }
        // The padding is measured against the precision (the digits), not the prefix: "%#6x"
        // of 255 is "    0xff", as in Wine.
        std::string pad(f.width > f.precision ? f.width - f.precision : 0, ' ');
        out += f.left ? field + pad : pad + field;
    }
    va_end(args);
    int result = out.size() >= limit ? 1024 : static_cast<int>(out.size());
    if (out.size() > limit) out.resize(limit);
    memcpy(buffer, out.data(), out.size());
    buffer[out.size()] = 0;
    return result;
}
