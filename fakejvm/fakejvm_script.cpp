// The script language: one command a line, applied on top of a Config.
#include "fakejvm_internal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace fakejvm {

namespace {

// Bounds that keep a runaway script from eating the machine; far above what
// any test needs (1200 elements, strings of 100000 bytes).
size_t const kMaxStringBytes = 16u << 20;
size_t const kMaxListBytes = 256u << 20;
long long const kMaxElements = 200000;
long long const kMaxMillis = 24LL * 3600 * 1000;

struct Failure {
    std::string text;
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// Splits a line into raw tokens. Quoted parts stay in the token with their
// quotes, so that "a b" is one token and oom"x"*3 stays one element. A token
// that starts with '#' ends the line.
std::vector<std::string> Lex(const std::string &line) {
    std::vector<std::string> tokens;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && IsBlank(line[i])) ++i;
        if (i >= line.size() || line[i] == '#') break;
        std::string tok;
        bool quoted = false;
        while (i < line.size() && (quoted || !IsBlank(line[i]))) {
            char c = line[i++];
            tok += c;
            if (quoted && c == '\\' && i < line.size()) {
                tok += line[i++];
            } else if (c == '"') {
                quoted = !quoted;
            }
        }
        if (quoted) throw Failure{"unterminated string"};
        tokens.push_back(tok);
    }
    return tokens;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// One quoted piece starting at raw[pos] == '"'; pos ends after the quote.
std::string QuotedPiece(const std::string &raw, size_t &pos) {
    std::string out;
    ++pos;
    while (pos < raw.size() && raw[pos] != '"') {
        char c = raw[pos++];
        if (c != '\\') {
            out += c;
            continue;
        }
        if (pos >= raw.size()) throw Failure{"unterminated string"};
        char e = raw[pos++];
        switch (e) {
        case '\\': out += '\\'; break;
        case '"': out += '"'; break;
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        case 'x': {
            int hi = pos < raw.size() ? HexDigit(raw[pos]) : -1;
            int lo = pos + 1 < raw.size() ? HexDigit(raw[pos + 1]) : -1;
            if (hi < 0 || lo < 0) throw Failure{"\\x needs two hex digits"};
            out += static_cast<char>(hi * 16 + lo);
            pos += 2;
            break;
        }
        default: throw Failure{std::string("unknown escape \\") + e};
        }
    }
    if (pos >= raw.size()) throw Failure{"unterminated string"};
    ++pos;
    return out;
}

long long Integer(const std::string &raw, long long lo, long long hi, const char *what) {
    const char *s = raw.c_str();
    char *end = nullptr;
    errno = 0;
    long long v = std::strtoll(s, &end, 0);
    if (raw.empty() || end == s || *end != '\0' || errno == ERANGE || v < lo || v > hi) {
        throw Failure{std::string("bad ") + what + " '" + Printable(raw, 40) + "' (" +
                      std::to_string(lo) + ".." + std::to_string(hi) + ")"};
    }
    return v;
}

// "piece"*N"piece"... with no blanks between: concatenated, each repeated.
std::string StringExpr(const std::string &raw, size_t pos) {
    std::string out;
    if (pos >= raw.size() || raw[pos] != '"') {
        throw Failure{"expected a quoted string at '" + Printable(raw, 40) + "'"};
    }
    while (pos < raw.size()) {
        if (raw[pos] != '"') throw Failure{"unexpected text in '" + Printable(raw, 40) + "'"};
        std::string piece = QuotedPiece(raw, pos);
        long long count = 1;
        if (pos < raw.size() && raw[pos] == '*') {
            size_t end = pos + 1;
            while (end < raw.size() && raw[end] != '"') ++end;
            count = Integer(raw.substr(pos + 1, end - pos - 1), 0,
                            static_cast<long long>(kMaxStringBytes), "repeat count");
            pos = end;
        }
        if (!piece.empty() &&
            static_cast<unsigned long long>(count) > (kMaxStringBytes - out.size()) / piece.size()) {
            throw Failure{"string longer than " + std::to_string(kMaxStringBytes) + " bytes"};
        }
        for (long long k = 0; k < count; ++k) out += piece;
    }
    return out;
}

std::string SingleString(const std::string &raw) { return StringExpr(raw, 0); }

Element ParseElement(const std::string &raw) {
    Element e;
    if (raw == "null") {
        e.isNull = true;
    } else if (raw == "oom") {
        e.utfFails = true;
    } else if (raw.compare(0, 4, "oom\"") == 0) {
        e.utfFails = true;
        e.bytes = StringExpr(raw, 3);
    } else {
        e.bytes = StringExpr(raw, 0);
    }
    return e;
}

// templates null | templates <N> named "<prefix>" | templates <element>...
ListAnswer ParseList(const std::vector<std::string> &tok) {
    ListAnswer list;
    if (tok.size() == 2 && tok[1] == "null") {
        list.isNull = true;
        return list;
    }
    if (tok.size() >= 2 && tok[1][0] != '"' && tok[1] != "null" && tok[1].compare(0, 3, "oom") != 0) {
        if (tok.size() != 4 || tok[2] != "named") {
            throw Failure{"expected: " + tok[0] + " <count> named \"<prefix>\""};
        }
        long long n = Integer(tok[1], 0, kMaxElements, "element count");
        std::string prefix = SingleString(tok[3]);
        if (prefix.size() > 4096) throw Failure{"prefix longer than 4096 bytes"};
        if (static_cast<unsigned long long>(n) * (prefix.size() + 8) > kMaxListBytes) {
            throw Failure{"list longer than " + std::to_string(kMaxListBytes) + " bytes"};
        }
        list.elements.resize(static_cast<size_t>(n));
        for (long long k = 0; k < n; ++k) list.elements[k].bytes = prefix + std::to_string(k);
        return list;
    }
    size_t total = 0;
    for (size_t k = 1; k < tok.size(); ++k) {
        if (list.elements.size() >= static_cast<size_t>(kMaxElements)) throw Failure{"too many elements"};
        list.elements.push_back(ParseElement(tok[k]));
        total += list.elements.back().bytes.size();
        if (total > kMaxListBytes) throw Failure{"list longer than " + std::to_string(kMaxListBytes) + " bytes"};
    }
    return list;
}

// A timed or numbered answer list: each entry an int or "normal".
std::deque<std::optional<jint>> ParseAnswers(const std::vector<std::string> &tok) {
    if (tok.size() < 2) throw Failure{"expected: " + tok[0] + " <answer>... (an int or 'normal')"};
    std::deque<std::optional<jint>> answers;
    for (size_t k = 1; k < tok.size(); ++k) {
        if (tok[k] == "normal") {
            answers.push_back(std::nullopt);
        } else {
            answers.push_back(static_cast<jint>(Integer(tok[k], INT32_MIN, INT32_MAX, "answer")));
        }
    }
    return answers;
}

bool IsApplicationClass(const std::string &cls) { return cls == kMainClass || cls == kInterfaceClass; }

// [<class>.]<method>: the interface class when no class is named.
std::string MethodKey(const std::string &raw) {
    std::string cls = kInterfaceClass;
    std::string name = raw;
    size_t dot = raw.rfind('.');
    if (dot != std::string::npos) {
        cls = raw.substr(0, dot);
        name = raw.substr(dot + 1);
    }
    if (!FindModelMethod(cls, name)) {
        throw Failure{"no method '" + Printable(name, 60) + "' in " + Printable(cls, 80)};
    }
    return cls + "." + name;
}

// A JNI class name as a script may give it: no blanks, quotes or dots.
std::string ClassName(const std::string &raw) {
    if (raw.empty() || raw.find_first_of(".\"") != std::string::npos || raw.size() > 200) {
        throw Failure{"bad class name '" + Printable(raw, 60) + "' (use slashes)"};
    }
    return raw;
}

void Need(const std::vector<std::string> &tok, size_t lo, size_t hi, const char *usage) {
    if (tok.size() < lo || tok.size() > hi) throw Failure{std::string("expected: ") + usage};
}

int Millis(const std::string &raw) { return static_cast<int>(Integer(raw, 0, kMaxMillis, "milliseconds")); }

void ApplyLine(const std::vector<std::string> &tok, Config &cfg) {
    const std::string &cmd = tok[0];
    if (cmd == "mode") {
        Need(tok, 2, 2, "mode classic|modern|hotspot");
        if (tok[1] == "classic") cfg.mode = Mode::Classic;
        else if (tok[1] == "modern") cfg.mode = Mode::Modern;
        else if (tok[1] == "hotspot") cfg.mode = Mode::Hotspot;
        else throw Failure{"unknown mode '" + Printable(tok[1], 40) + "'"};
    } else if (cmd == "create") {
        cfg.createAnswers = ParseAnswers(tok);
    } else if (cmd == "attach") {
        cfg.attachAnswers = ParseAnswers(tok);
    } else if (cmd == "jar") {
        Need(tok, 2, 2, "jar required|optional");
        if (tok[1] == "required") cfg.jarRequired = true;
        else if (tok[1] == "optional") cfg.jarRequired = false;
        else throw Failure{"expected: jar required|optional"};
    } else if (cmd == "main") {
        Need(tok, 2, 4, "main run|end|end-after <ms>|throw <class> [\"<message>\"]|delay <ms>");
        const std::string &how = tok[1];
        if (how == "run" && tok.size() == 2) {
            cfg.main = MainBehaviour::Run;
        } else if (how == "end" && tok.size() == 2) {
            cfg.main = MainBehaviour::End;
        } else if (how == "end-after" && tok.size() == 3) {
            cfg.main = MainBehaviour::EndAfter;
            cfg.mainEndAfterMs = Millis(tok[2]);
        } else if (how == "delay" && tok.size() == 3) {
            cfg.delays[std::string(kMainClass) + ".main"] = Delay{Millis(tok[2]), false};
        } else if (how == "throw" && tok.size() >= 3) {
            ThrowRule r;
            r.exceptionClass = ClassName(tok[2]);
            if (tok.size() == 4) {
                r.hasMessage = true;
                r.message = SingleString(tok[3]);
            }
            cfg.throws[std::string(kMainClass) + ".main"] = r;
        } else {
            throw Failure{"expected: main run|end|end-after <ms>|throw <class> [\"<message>\"]|delay <ms>"};
        }
    } else if (cmd == "quit") {
        Need(tok, 2, 3, "quit end|stay|exit <code>");
        if (tok[1] == "end" && tok.size() == 2) cfg.quit = QuitBehaviour::End;
        else if (tok[1] == "stay" && tok.size() == 2) cfg.quit = QuitBehaviour::Stay;
        else if (tok[1] == "exit" && tok.size() == 3) {
            cfg.quit = QuitBehaviour::Exit;
            cfg.quitExitCode = static_cast<int>(Integer(tok[2], 0, 255, "exit code"));
        } else {
            throw Failure{"expected: quit end|stay|exit <code>"};
        }
    } else if (cmd == "remove" || cmd == "restore") {
        Need(tok, 3, 3, "remove|restore class <class> | remove|restore method [<class>.]<method>");
        bool remove = cmd == "remove";
        if (tok[1] == "class") {
            if (!IsApplicationClass(tok[2])) {
                throw Failure{"'" + Printable(tok[2], 80) + "' is not an application class"};
            }
            if (remove) cfg.removedClasses.insert(tok[2]);
            else cfg.removedClasses.erase(tok[2]);
        } else if (tok[1] == "method") {
            std::string key = MethodKey(tok[2]);
            if (remove) cfg.removedMethods.insert(key);
            else cfg.removedMethods.erase(key);
        } else {
            throw Failure{"expected: " + cmd + " class|method ..."};
        }
    } else if (cmd == "throw") {
        Need(tok, 3, 4, "throw [<class>.]<method> <exception-class> [\"<message>\"]");
        ThrowRule r;
        r.exceptionClass = ClassName(tok[2]);
        if (tok.size() == 4) {
            r.hasMessage = true;
            r.message = SingleString(tok[3]);
        }
        cfg.throws[MethodKey(tok[1])] = r;
    } else if (cmd == "nothrow") {
        Need(tok, 2, 2, "nothrow [<class>.]<method>");
        cfg.throws.erase(MethodKey(tok[1]));
    } else if (cmd == "delay") {
        Need(tok, 3, 4, "delay [<class>.]<method> <ms> [serving]");
        if (tok.size() == 4 && tok[3] != "serving") throw Failure{"expected: delay [<class>.]<method> <ms> [serving]"};
        cfg.delays[MethodKey(tok[1])] = Delay{Millis(tok[2]), tok.size() == 4};
    } else if (cmd == "donotdisturb") {
        Need(tok, 2, 3, "donotdisturb <0..255> [toggled]");
        if (tok.size() == 3 && tok[2] != "toggled") throw Failure{"expected: donotdisturb <0..255> [toggled]"};
        cfg.doNotDisturb = static_cast<int>(Integer(tok[1], 0, 255, "jboolean"));
        cfg.doNotDisturbToggles = tok.size() == 3;
    } else if (cmd == "templates") {
        cfg.templates = ParseList(tok);
    } else if (cmd == "events") {
        cfg.events = ParseList(tok);
    } else if (cmd == "unreadable") {
        Need(tok, 3, 1u << 20, "unreadable templates|events <index>...");
        std::set<long> *set = tok[1] == "templates" || tok[1] == "getTemplateList" ? &cfg.templatesUnreadable
                              : tok[1] == "events" || tok[1] == "getEventsForToday" ? &cfg.eventsUnreadable
                                                                                     : nullptr;
        if (!set) throw Failure{"expected: unreadable templates|events <index>..."};
        for (size_t k = 2; k < tok.size(); ++k) set->insert(static_cast<long>(Integer(tok[k], 0, kMaxElements, "index")));
    } else if (cmd == "exit") {
        if (tok.size() == 2 && tok[1] == "none") {
            cfg.exitAfterMs = -1;
        } else if (tok.size() == 4 && tok[1] == "after") {
            cfg.exitAfterMs = Millis(tok[2]);
            cfg.exitAfterCode = static_cast<int>(Integer(tok[3], 0, 255, "exit code"));
        } else {
            throw Failure{"expected: exit after <ms> <code>|none"};
        }
    } else if (cmd == "destroy") {
        if (tok.size() == 2 && tok[1] == "wait") {
            cfg.destroyTimeoutMs = -1;
        } else if (tok.size() == 3 && tok[1] == "timeout") {
            cfg.destroyTimeoutMs = Millis(tok[2]);
        } else {
            throw Failure{"expected: destroy wait|timeout <ms>"};
        }
    } else {
        throw Failure{"unknown command '" + Printable(cmd, 40) + "'"};
    }
}

}  // namespace

bool ParseScript(const std::string &text, Config &cfg, int &badLine, std::string &error) {
    Config work = cfg;
    int number = 0;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        ++number;
        std::string line = text.substr(start, end - start);
        try {
            if (line.find('\0') != std::string::npos) throw Failure{"NUL byte in line"};
            std::vector<std::string> tok = Lex(line);
            if (!tok.empty()) ApplyLine(tok, work);
        } catch (const Failure &f) {
            badLine = number;
            error = "line " + std::to_string(number) + ": " + f.text;
            return false;
        } catch (const std::bad_alloc &) {
            badLine = number;
            error = "line " + std::to_string(number) + ": out of memory";
            return false;
        }
        start = end + 1;
    }
    cfg = std::move(work);
    badLine = 0;
    error.clear();
    return true;
}

// The sample application for demos and black-box runs without a script.
const char kDefaultScript[] =
    "# Chimelet sample application\n"
    "mode hotspot\n"
    "templates \"Morning stand-up\" \"Water the plants\" \"Call Mum\"\n"
    "events \"09:30\" \"Dentist\" \"12:15\" \"Lunch with Sam\" \"18:00\" \"Piano lesson\"\n"
    "donotdisturb 0 toggled\n"
    "main run\n"
    "quit end\n";

}  // namespace fakejvm
