// Fuzz target: the Schedule and Events For Today submenus and the whole
// popup menu, over arbitrary Java answers from the stand-in runtime: null
// arrays and elements, lengths around the caps of 999 templates and 800
// event elements, odd counts, strings of 0 to 100000 bytes of any value,
// unreadable elements, list methods that throw or are missing, any Do Not
// Disturb byte. (What a chosen item runs is a table of the unit tests.)
//
// The input is decoded into a script for the stand-in, either from a model
// (the menu it must give is then known exactly) or as raw script text (only
// the rules that hold for any answer are checked). After every build: no
// JNI misuse, no local reference, UTF buffer, pending exception or menu left
// behind, and texts of at most 1023 bytes.

#include <windows.h>

#include <fuzzer/FuzzedDataProvider.h>

#include <stdio.h>
#include <string.h>

#include <set>
#include <string>
#include <vector>

#include "BoundJava.h"
#include "FuzzCheck.h"
#include "JavaScript.h"
#include "TestSupport.h"
#include "fakejvm_control.h"
#include "kelvarin.h"
#include "winstub_control.h"

namespace {

int const kTemplateCap = 999;
int const kEventCap = 800;
size_t const kTextCap = 1023;
size_t const kMaxString = 100000;
// Element text materialised per input, by the stand-in and by the model.
size_t const kTextBudget = 4u << 20;

// The questions a build asks Java.
char const *const kMethods[] = {"getTemplateList", "getEventsForToday", "isDoNotDisturbOn"};

// --- The model: what Java answers ---

struct Element {
    bool isNull = false;
    bool oom = false;     // GetStringUTFChars fails for it
    std::string piece;    // the text is piece * repeat + tail
    size_t repeat = 1;
    std::string tail;

    std::string Text() const
    {
        std::string text;
        text.reserve(piece.size() * repeat + tail.size());
        for (size_t i = 0; i < repeat; ++i)
            text += piece;
        return text + tail;
    }
    size_t Size() const { return piece.size() * repeat + tail.size(); }
};

struct List {
    enum Kind { Null, Elements, Generated } kind = Elements;
    std::vector<Element> elements;
    int generated = 0;
    std::string prefix;
    std::set<int> unreadable;

    int Length() const { return kind == Null ? 0 : kind == Generated ? generated : (int)elements.size(); }
    bool IsNull(int i) const { return kind == Elements && elements[i].isNull; }
    bool Readable(int i) const
    {
        return !unreadable.count(i) && !(kind == Elements && elements[i].oom);
    }
    std::string Text(int i) const
    {
        return kind == Generated ? prefix + std::to_string(i) : elements[i].Text();
    }
};

struct Java {
    List templates, events;
    int doNotDisturb = 0;
    bool classMissing = false;
    std::set<std::string> missing, throwing;

    bool Answers(std::string const &method) const
    {
        return !classMissing && !missing.count(method) && !throwing.count(method);
    }
};

// --- Decoding the input ---

// Mostly short lists, which run fast; often enough one around the cap. (The
// stand-in inserts each item after a search of the whole menu, so a list at
// the cap costs as much as a hundred short ones.)
int PickCount(FuzzedDataProvider &in, int cap)
{
    // An input that has run out reads as 0s: the cheap case comes first.
    switch (in.ConsumeIntegralInRange(0, 19)) {
    case 10:
    case 11:
    case 12: return cap + in.ConsumeIntegralInRange(-3, 3);
    case 13: return cap + 1 + in.ConsumeIntegralInRange(0, 400);
    case 14:
    case 15: return in.ConsumeIntegralInRange(0, 1300);
    case 16:
    case 17:
    case 18:
    case 19: return in.ConsumeIntegralInRange(0, 40);
    default: return in.ConsumeIntegralInRange(0, 8);
    }
}

Element PickElement(FuzzedDataProvider &in, size_t *budget)
{
    Element e;
    int const form = in.ConsumeIntegralInRange(0, 9);
    if (form == 0) {
        e.isNull = true;
        return e;
    }
    e.oom = form == 1;
    if (form == 2 || form == 3) {
        // Long: around the 1023-byte cut, or anything up to 100000 bytes.
        e.piece = in.ConsumeRandomLengthString(16);
        if (e.piece.empty())
            e.piece = "x";
        size_t length = form == 2 ? kTextCap - 8 + in.ConsumeIntegralInRange<size_t>(0, 16)
                                  : in.ConsumeIntegralInRange<size_t>(0, kMaxString);
        e.repeat = length / e.piece.size();
        e.tail = in.ConsumeRandomLengthString(8);
        if (e.Size() > *budget) {
            e.repeat = 1;
            e.tail.clear();
        }
    } else {
        e.piece = in.ConsumeRandomLengthString(64);
    }
    *budget -= e.Size() <= *budget ? e.Size() : *budget;
    return e;
}

// A few element patterns from the input, repeated to the chosen length: long
// texts only at their first place, so that 1000 elements stay cheap.
List PickList(FuzzedDataProvider &in, int cap, size_t *budget)
{
    List list;
    switch (in.ConsumeIntegralInRange(0, 5)) {
    case 0:
        list.kind = List::Null;
        return list;
    case 1:
        list.kind = List::Generated;
        list.generated = PickCount(in, cap);
        list.prefix = in.ConsumeRandomLengthString(16);
        break;
    default: {
        list.kind = List::Elements;
        int const count = PickCount(in, cap);
        int const patterns = in.ConsumeIntegralInRange(1, 8);
        std::vector<Element> pattern;
        for (int i = 0; i < patterns && i < count; ++i)
            pattern.push_back(PickElement(in, budget));
        for (int i = 0; i < count; ++i) {
            Element e = pattern[i % pattern.size()];
            if (i >= (int)pattern.size() && e.Size() > 64) {
                e.piece = "f" + std::to_string(i);
                e.repeat = 1;
                e.tail.clear();
            }
            list.elements.push_back(e);
        }
        break;
    }
    }
    int const unreadable = in.ConsumeIntegralInRange(0, 3);
    for (int i = 0; i < unreadable; ++i) {
        int length = list.Length();
        int index = in.ConsumeBool() ? in.ConsumeIntegralInRange(0, 3)
                                     : in.ConsumeIntegralInRange(0, length + 2 > 1 ? length + 2 : 1);
        if (in.ConsumeBool() && length > 0)
            index = length - 1 - (index % length);
        list.unreadable.insert(index);
    }
    return list;
}

Java PickJava(FuzzedDataProvider &in)
{
    Java java;
    size_t budget = kTextBudget;
    java.templates = PickList(in, kTemplateCap, &budget);
    java.events = PickList(in, kEventCap, &budget);
    java.doNotDisturb = in.ConsumeIntegralInRange(0, 3) == 0 ? in.ConsumeIntegral<uint8_t>() : in.ConsumeIntegralInRange(0, 1);
    java.classMissing = in.ConsumeIntegralInRange(0, 15) == 0;
    int const changes = in.ConsumeIntegralInRange(0, 3);
    for (int i = 0; i < changes; ++i) {
        std::string method = kMethods[in.ConsumeIntegralInRange<size_t>(0, sizeof kMethods / sizeof kMethods[0] - 1)];
        (in.ConsumeBool() ? java.missing : java.throwing).insert(method);
    }
    return java;
}

// --- The model as a script ---


std::string ListLine(char const *command, List const &list)
{
    std::string line = command;
    if (list.kind == List::Null)
        return line + " null\n";
    if (list.kind == List::Generated)
        return line + " " + std::to_string(list.generated) + " named " + ScriptString(list.prefix) + "\n";
    for (Element const &e : list.elements) {
        if (e.isNull) {
            line += " null";
            continue;
        }
        line += e.oom ? " oom" : " ";
        line += ScriptString(e.piece);
        if (e.repeat != 1)
            line += "*" + std::to_string(e.repeat);
        if (!e.tail.empty())
            line += ScriptString(e.tail);
    }
    return line + "\n";
}

std::string ScriptOf(Java const &java)
{
    JavaScript script;
    for (int index : java.templates.unreadable)
        script.UnreadableElement("getTemplateList", index);
    for (int index : java.events.unreadable)
        script.UnreadableElement("getEventsForToday", index);
    script.DoNotDisturb(java.doNotDisturb);
    if (java.classMissing)
        script.WithoutInterfaceClass();
    for (std::string const &method : java.missing)
        script.Without(method);
    for (std::string const &method : java.throwing)
        script.Throwing(method);
    return script.Text() + ListLine("templates", java.templates) + ListLine("events", java.events);
}

// Raw script text from the input, with only the lines that shape Java's
// answers: the rest (delays, process exits, VM start-up) is not what this
// target is about and could stall it.
std::string RawScript(std::string const &text)
{
    static char const *const allowed[] = {"templates", "events", "unreadable", "donotdisturb",
                                          "remove", "restore", "throw", "nothrow"};
    std::string script;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || line.find('*') != std::string::npos)
            continue;  // no repetitions: they make strings of 16 MiB
        for (char const *command : allowed) {
            size_t length = strlen(command);
            if (line.compare(first, length, command) == 0 && (line.size() == first + length || line[first + length] == ' ')) {
                script += line + "\n";
                break;
            }
        }
    }
    return script;
}

// --- The menu the model must give ---

std::string MenuText(std::string const &bytes)
{
    std::string text = bytes.substr(0, kTextCap);
    return text.c_str();  // the menu keeps a C string
}

// Java numbers the templates by the elements that are not null: one whose
// text cannot be read makes no item but keeps its number.
std::vector<MenuRow> ExpectedSchedule(Java const &java)
{
    List const &list = java.templates;
    std::vector<MenuRow> rows = Schedule({});
    if (!java.Answers("getTemplateList") || list.kind == List::Null)
        return rows;
    int const count = list.Length() < kTemplateCap ? list.Length() : kTemplateCap;
    UINT number = 0;
    for (int i = 0; i < count; ++i) {
        if (list.IsNull(i))
            continue;
        UINT const command = kFirstTemplateItem + number++;
        if (!list.Readable(i))
            continue;
        if (i == 0)
            rows.push_back(Separator(1));
        rows.push_back(Item(MenuText(list.Text(i)), command));
    }
    return rows;
}

std::vector<MenuRow> ExpectedEvents(Java const &java)
{
    List const &list = java.events;
    if (!java.Answers("getEventsForToday") || list.kind == List::Null)
        return {};
    int const count = list.Length() < kEventCap ? list.Length() : kEventCap;
    if (count == 0)
        return NoEvents();
    std::vector<std::string> lines;
    for (int i = 0; i + 1 < count; i += 2) {
        if (list.IsNull(i) || list.IsNull(i + 1) || !list.Readable(i) || !list.Readable(i + 1))
            continue;
        lines.push_back(MenuText(list.Text(i) + "    " + list.Text(i + 1)));
    }
    return Events(lines);
}

std::vector<MenuRow> ExpectedMenu(Java const &java)
{
    bool const suspended = java.Answers("isDoNotDisturbOn") && java.doNotDisturb != 0;
    return FullMenu(ExpectedSchedule(java), ExpectedEvents(java), suspended);
}

// --- The rules that hold for any answer ---

// Items numbered from `first` on, one up each (or, with `gaps`, upwards
// below first + cap), item data equal to the ID.
void CheckNumbered(std::vector<MenuRow> const &rows, size_t from, UINT first, size_t cap, std::string const &menu,
                   bool gaps = false)
{
    FUZZ_CHECK(rows.size() - from <= cap, menu + " holds " + std::to_string(rows.size() - from) + " items");
    UINT id = first - 1;
    for (size_t i = from; i < rows.size(); ++i) {
        MenuRow const &row = rows[i];
        id = gaps && row.id > id && row.id < first + cap ? row.id : id + 1;
        FUZZ_CHECK(!(row.type & MFT_SEPARATOR) && !row.hasSubMenu, menu + ": row " + std::to_string(i) + " is no item");
        FUZZ_CHECK(row.id == id && row.data == id, menu + ": row " + std::to_string(i) + " has ID " + std::to_string(row.id)
                                                      + " and data " + std::to_string(row.data) + ", not " + std::to_string(id));
        FUZZ_CHECK(row.text.size() <= kTextCap, menu + ": a text of " + std::to_string(row.text.size()) + " bytes");
    }
}

void CheckShape(std::vector<MenuRow> const &rows)
{
    std::vector<MenuRow> skeleton = FullMenu({}, {}, false);
    FUZZ_CHECK(rows.size() == skeleton.size(), "the menu has " + std::to_string(rows.size()) + " rows\n" + Describe(rows));
    for (size_t i = 0; i < rows.size(); ++i) {
        MenuRow row = rows[i];
        row.sub.clear();
        if (row.id == 2001 && row.text == "Resume Reminders")
            row.text = "Do Not Disturb";
        FUZZ_CHECK(Describe({row}) == Describe({skeleton[i]}), "row " + std::to_string(i) + " is\n" + Describe({rows[i]}));
    }

    std::vector<MenuRow> const &schedule = rows[10].sub;
    FUZZ_CHECK(!schedule.empty() && Describe({schedule[0]}) == Describe(Schedule({})),
               "Schedule does not start with New Reminder\n" + Describe(schedule));
    size_t from = 1;
    if (schedule.size() > 1 && (schedule[1].type & MFT_SEPARATOR)) {
        FUZZ_CHECK(schedule[1].id == 1 && schedule[1].data == 0, "the template separator\n" + Describe(schedule));
        FUZZ_CHECK(schedule.size() > 2, "a separator with no template after it\n" + Describe(schedule));
        from = 2;
    }
    CheckNumbered(schedule, from, kFirstTemplateItem, kTemplateCap, "Schedule", true);

    std::vector<MenuRow> const &events = rows[12].sub;
    if (events.size() == 1 && events[0].id == IDS_NO_EVENTS)
        FUZZ_CHECK(Describe(events) == Describe(NoEvents()), "Events For Today\n" + Describe(events));
    else
        CheckNumbered(events, 0, kFirstEventItem, kEventCap / 2, "Events For Today");
}

// What must hold after every call into the shell.
void CheckJavaClean(int localRefs, std::string const &when)
{
    FUZZ_CHECK(FakeJvm_ViolationCount() == 0, when + ": JNI misuse\n" + BoundJava::Violations());
    FUZZ_CHECK(FakeJvm_LiveLocalRefs(0) == localRefs,
               when + ": " + std::to_string(FakeJvm_LiveLocalRefs(0) - localRefs) + " local references left");
    FUZZ_CHECK(FakeJvm_OutstandingUtfChars() == 0, when + ": UTF buffers not released");
    FUZZ_CHECK(FakeJvm_ExceptionPending(0) == 0, when + ": a Java exception left pending");
}

struct Run {
    bool modelled = false;
    Java java;
    std::string script;
};

std::string Context(Run const &run)
{
    return "\nscript:\n" + FuzzShow(run.script, 2000);
}

void CheckMenu(Run const &run, std::vector<MenuRow> const &rows)
{
    if (run.modelled) {
        std::string const expected = Describe(ExpectedMenu(run.java));
        std::string const built = Describe(rows);
        FUZZ_CHECK(built == expected, "the menu\n" + FuzzShow(built, 4000, true) + "\nexpected\n"
                                          + FuzzShow(expected, 4000, true) + Context(run));
    }
    CheckShape(rows);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    ResetTestProcess();

    Run run;
    run.modelled = in.ConsumeIntegralInRange(0, 7) != 0;
    if (run.modelled) {
        run.java = PickJava(in);
        run.script = ScriptOf(run.java);
    } else {
        run.script = RawScript(in.ConsumeBytesAsString(in.ConsumeIntegralInRange<size_t>(0, 4096)));
    }

    int const menusBefore = WinStub_LiveHandles().menus;
    {
        BoundJava java(run.script);
        if (!java.Started()) {
            FUZZ_CHECK(!run.modelled, "the stand-in refused the script" + Context(run));
            return 0;
        }
        int const localRefs = FakeJvm_LiveLocalRefs(0);
        HMENU menu = BuildNotifyIconMenu();
        FUZZ_CHECK(menu != NULL, "no menu");
        std::vector<MenuRow> const rows = ReadMenu(menu);
        DestroyMenu(menu);
        CheckJavaClean(localRefs, "after the build");
        CheckMenu(run, rows);
    }
    FUZZ_CHECK(WinStub_LiveHandles().menus == menusBefore,
               std::to_string(WinStub_LiveHandles().menus - menusBefore) + " menus left" + Context(run));
    return 0;
}
