// The scenarios: one table, each row one process of the runner.

#include "RealJvm.h"

#include <stdio.h>

#include "TestSupport.h"

namespace {

using namespace cmd;

char const kMainClassMissing[] = "Can't find class 'com/norvanta/kelvarin/main/TApplication'";

ExpectedBox const kExitBox = {
    "Are you sure you wish to exit Chimelet? You will stop receiving any reminders!",
    "Exit Chimelet?",
    MB_YESNO | MB_ICONEXCLAMATION | MB_TASKMODAL,
};

std::string Menu(std::vector<MenuRow> schedule, std::vector<MenuRow> events, bool suspended = false)
{
    return Describe(FullMenu(std::move(schedule), std::move(events), suspended));
}

// What the application shows without a data file.
std::string SampleMenu(bool suspended = false)
{
    return Menu(Schedule({"Morning stand-up", "Take a break", "Water the plants"}),
                Events({"09:30    Dentist", "14:00    Call the bank"}), suspended);
}

// The data of the throwing cases. The template's bytes are UTF-8 and reach
// the ANSI menu unchanged; "&" stays as it is.
char const kThrowData[] = "template=Caf\xC3\xA9 & co\n"
                          "template=Second\n"
                          "event=09:30|Dentist\n";
std::vector<std::string> const kThrowTemplates = {"Caf\xC3\xA9 & co", "Second"};
std::vector<std::string> const kThrowEvents = {"09:30    Dentist"};

// "templates=1200" and "events=500": "Template <i>", and "HH:MM", "Event <p>"
// with the pair's index as minutes; the shell takes 999 and 800 elements.
std::string BigMenu()
{
    std::vector<std::string> templates;
    for (int i = 0; i < 999; ++i)
        templates.push_back("Template " + std::to_string(i));
    std::vector<std::string> events;
    for (int p = 0; p < 400; ++p) {
        char time[8];
        snprintf(time, sizeof time, "%02d:%02d", (p / 60) % 24, p % 60);
        events.push_back(std::string(time) + "    Event " + std::to_string(p));
    }
    return Menu(Schedule(templates), Events(events));
}

// A NUL character comes out of the VM as C0 80, a character beyond U+FFFF
// as its two surrogates of three bytes each; the menu gets the bytes as they
// are, cut so that 1023 and the terminator fit.
std::string const kTextsData = std::string("template=") + std::string(2000, 'a') + "\n"
                               + "template=A" + std::string(1, '\0') + "B\n"
                               + "template=\xF0\x9F\x98\x80 smile\n"
                               + "event=09:00|" + std::string(1100, 'b') + "\n"
                               + "event=\xC3\xA9t\xC3\xA9|\xE2\x82\xAC 5\n";
std::vector<std::string> const kTextsTemplates = {
    std::string(1023, 'a'),
    "A\xC0\x80" "B",
    "\xED\xA0\xBD\xED\xB8\x80 smile",
};
std::vector<std::string> const kTextsEvents = {
    "09:00    " + std::string(1023 - 9, 'b'),
    "\xC3\xA9t\xC3\xA9    \xE2\x82\xAC 5",
};

// A template item's line in the call log.
std::string TemplateCall(int index)
{
    return std::string(kTemplateMethod) + " " + std::to_string(index);
}

std::string Thrown(std::string const &method)
{
    return "java.lang.RuntimeException: test data asks " + method + " to throw";
}

Step Choose(UINT command, std::vector<std::string> calls, std::string menu = "")
{
    Step step;
    step.act = Act::Choose;
    step.command = command;
    step.calls = std::move(calls);
    step.menu = std::move(menu);
    return step;
}

Step ChooseLeft(UINT command, std::vector<std::string> calls, std::string menu = "")
{
    Step step = Choose(command, std::move(calls), std::move(menu));
    step.button = WM_LBUTTONDOWN;
    return step;
}

Step Do(Act act, std::vector<std::string> calls = {}, std::string menu = "")
{
    Step step;
    step.act = act;
    step.calls = std::move(calls);
    step.menu = std::move(menu);
    if (act == Act::ExitNo || act == Act::ExitYes)
        step.command = kExit;
    return step;
}

Step Openings(int count, std::string menu)
{
    Step step = Do(Act::Openings);
    step.count = count;
    step.menu = std::move(menu);
    return step;
}

// -Xcheck:jni of JDK 17 warns once a frame holds more than this many.
int const kLocalRefCapacity = 32;

Step HoldRefs(int count)
{
    Step step = Do(Act::HoldRefs);
    step.count = count;
    return step;
}

// The end of a run through quit: the application thread ends after it.
std::vector<std::string> const kQuitEnd = {"quit", "application end"};

std::vector<Scenario> BuildScenarios()
{
    std::vector<Scenario> table;
    Scenario s;

    s = Scenario();
    s.name = "main";
    s.purpose = "every tray command reaches Java; Exit No changes nothing, Exit Yes ends the run";
    s.steps = {Do(Act::SecondStart, {"showReminderList"})};
    // Java switches Do Not Disturb each time it is chosen.
    bool suspended = false;
    for (PlainCommand const &c : kPlainCommands) {
        s.steps.push_back(Choose(c.command, {c.method}, SampleMenu(suspended)));
        suspended = suspended != (c.command == kDoNotDisturb);
    }
    s.steps.insert(s.steps.end(), {
        Choose(kFirstTemplate, {TemplateCall(0)}, SampleMenu(suspended)),
        Choose(kFirstTemplate + 2, {TemplateCall(2)}),
        Choose(kFirstEvent, {}),
        Choose(0, {}),
        Choose(kDoNotDisturb, {"showDoNotDisturb"}, SampleMenu(true)),
        ChooseLeft(kReminders, {"showReminderList"}, SampleMenu(false)),
        Do(Act::ExitNo, {}, SampleMenu()),
        // No changed nothing: the same menu, and Java still answers.
        Do(Act::ExitYes, kQuitEnd, SampleMenu()),
    });
    s.boxes = {kExitBox, kExitBox};
    s.lines = {{"main", 1}, {"quit", 1}, {"application end", 1}};
    table.push_back(s);

    s = Scenario();
    s.name = "lacking_help";
    s.purpose = "Java lacks showHelpWindow: Help does nothing, the next commands work";
    s.steps = {
        Choose(kHelp, {}, SampleMenu()),
        Choose(kReminders, {"showReminderList"}, SampleMenu()),
        Choose(kHelp, {}),
        Do(Act::SecondStart, {"showReminderList"}),
        Choose(kSounds, {"showSoundList"}),
        Do(Act::ExitYes, kQuitEnd),
    };
    s.boxes = {kExitBox};
    s.quiet = Output::DescribesExceptions;
    s.output = {"java.lang.NoSuchMethodError", "showHelpWindow()V"};
    s.lines = {{"quit", 1}, {"showHelpWindow", 0}};
    table.push_back(s);

    s = Scenario();
    s.name = "throw_template_list";
    s.purpose = "getTemplateList throws: Schedule holds New Reminder alone, the rest works";
    s.data = std::string(kThrowData) + "throw=getTemplateList\n";
    s.steps = {
        Choose(kReminders, {"showReminderList"}, Menu(Schedule({}), Events(kThrowEvents))),
        Choose(kNewReminder, {"showNewReminderDialog"}, Menu(Schedule({}), Events(kThrowEvents))),
        Do(Act::SecondStart, {"showReminderList"}),
        Do(Act::ExitYes, kQuitEnd),
    };
    s.boxes = {kExitBox};
    s.quiet = Output::DescribesExceptions;
    s.output = {Thrown("getTemplateList")};
    s.lines = {{"quit", 1}};
    table.push_back(s);

    s = Scenario();
    s.name = "throw_events";
    s.purpose = "getEventsForToday throws: Events For Today is empty, the rest works";
    s.data = std::string(kThrowData) + "throw=getEventsForToday\n";
    s.steps = {
        Choose(kFirstTemplate + 1, {TemplateCall(1)},
               Menu(Schedule(kThrowTemplates), Events({}))),
        Choose(kCategories, {"showCategoryList"}, Menu(Schedule(kThrowTemplates), Events({}))),
        Do(Act::ExitYes, kQuitEnd),
    };
    s.boxes = {kExitBox};
    s.quiet = Output::DescribesExceptions;
    s.output = {Thrown("getEventsForToday")};
    s.lines = {{"quit", 1}};
    table.push_back(s);

    s = Scenario();
    s.name = "throw_do_not_disturb";
    s.purpose = "isDoNotDisturbOn throws: the item reads Do Not Disturb and still switches";
    s.data = std::string(kThrowData) + "dnd=true\nthrow=isDoNotDisturbOn\n";
    s.steps = {
        Choose(kDoNotDisturb, {"showDoNotDisturb"},
               Menu(Schedule(kThrowTemplates), Events(kThrowEvents))),
        Choose(kSounds, {"showSoundList"},
               Menu(Schedule(kThrowTemplates), Events(kThrowEvents))),
        Do(Act::ExitYes, kQuitEnd),
    };
    s.boxes = {kExitBox};
    s.quiet = Output::DescribesExceptions;
    s.output = {Thrown("isDoNotDisturbOn")};
    s.lines = {{"quit", 1}, {"showDoNotDisturb", 1}};
    table.push_back(s);

    s = Scenario();
    s.name = "throw_command";
    s.purpose = "showAboutWindow throws: the next commands and menus work";
    s.data = std::string(kThrowData) + "throw=showAboutWindow\n";
    s.steps = {
        Choose(kAbout, {"showAboutWindow"}, Menu(Schedule(kThrowTemplates), Events(kThrowEvents))),
        Choose(kAbout, {"showAboutWindow"}),
        Choose(kTemplates, {"showTemplateList"}, Menu(Schedule(kThrowTemplates), Events(kThrowEvents))),
        Do(Act::SecondStart, {"showReminderList"}),
        Do(Act::ExitYes, kQuitEnd),
    };
    s.boxes = {kExitBox};
    s.quiet = Output::DescribesExceptions;
    s.output = {Thrown("showAboutWindow")};
    s.lines = {{"quit", 1}, {"showAboutWindow", 2}};
    table.push_back(s);

    s = Scenario();
    s.name = "no_jar";
    s.purpose = "no chimelet.jar in the current directory: the class-not-found message, WinMain returns";
    s.jar = Jar::Absent;
    s.binds = false;
    s.boxes = {{kMainClassMissing, "Kelvarin", MB_ICONEXCLAMATION}};
    s.quiet = Output::DescribesExceptions;
    s.output = {"java.lang.NoClassDefFoundError: com/norvanta/kelvarin/main/TApplication"};
    s.lines = {{"main", 0}};
    table.push_back(s);

    s = Scenario();
    s.name = "soak";
    s.purpose = "a thousand openings: no -Xcheck:jni complaint, no local reference left behind";
    s.steps = {
        Openings(1000, SampleMenu()),
        // Quiet only if the monitor thread's frame is as empty as at the start.
        HoldRefs(kLocalRefCapacity),
        Choose(kReminders, {"showReminderList"}, SampleMenu()),
        Do(Act::ExitYes, kQuitEnd),
    };
    s.boxes = {kExitBox};
    s.lines = {{"quit", 1}, {"getTemplateList", 1003}};
    table.push_back(s);

    s = Scenario();
    s.name = "localref_canary";
    s.purpose = "one local reference too many on the monitor thread is reported: the soak would see a leak";
    s.steps = {
        HoldRefs(kLocalRefCapacity + 1),
        Do(Act::ExitYes, kQuitEnd),
    };
    s.boxes = {kExitBox};
    s.quiet = Output::WarnsLocalRefs;
    s.output = {"WARNING: JNI local refs: "};
    s.lines = {{"quit", 1}};
    table.push_back(s);

    s = Scenario();
    s.name = "ends_by_itself";
    s.purpose = "the Java application ends by itself: the process ends with 0, the tray idle";
    s.endAfterMs = 1500;
    s.data = "end-after-ms=1500\n";
    s.steps = {
        Choose(0, {}, Menu(Schedule({}), NoEvents())),
        Do(Act::AwaitEnd, {"application end"}),
    };
    s.lines = {{"quit", 0}, {"application end", 1}};
    table.push_back(s);

    s = Scenario();
    s.name = "wm_close";
    s.purpose = "WM_CLOSE posted to the ghost window from outside ends the run";
    s.steps = {
        Choose(kReminders, {"showReminderList"}, SampleMenu()),
        Do(Act::Close, kQuitEnd),
    };
    s.lines = {{"quit", 1}, {"application end", 1}};
    table.push_back(s);

    s = Scenario();
    s.name = "exit_on_quit";
    s.purpose = "quit ends the process itself (System.exit 7) while the main thread waits in DestroyJavaVM";
    s.data = "exit-on-quit=7\n";
    s.steps = {
        Choose(kReminders, {"showReminderList"}, Menu(Schedule({}), NoEvents())),
        Do(Act::ExitYes, {"quit", "exit 7"}),
    };
    s.boxes = {kExitBox};
    s.status = 7;
    s.lines = {{"quit", 1}, {"exit 7", 1}, {"application end", 0}};
    table.push_back(s);

    s = Scenario();
    s.name = "main_throws";
    s.purpose = "main throws once the application runs: nothing reported, the tray binds and works";
    s.data = "throw=main\n";
    s.steps = {
        Choose(kReminders, {"showReminderList"}, Menu(Schedule({}), NoEvents())),
        Do(Act::ExitYes, kQuitEnd),
    };
    s.boxes = {kExitBox};
    s.lines = {{"quit", 1}, {"application end", 1}};
    table.push_back(s);

    s = Scenario();
    s.name = "before_bind";
    s.purpose = "a second start and a press while main still runs: answered, nothing opens";
    s.data = "sleep=main|600\n";
    s.beforeBind = BeforeBind::Poke;
    s.steps = {
        Choose(kReminders, {"showReminderList"}, Menu(Schedule({}), NoEvents())),
        Do(Act::ExitYes, kQuitEnd),
    };
    s.boxes = {kExitBox};
    s.lines = {{"showReminderList", 1}, {"quit", 1}};
    table.push_back(s);

    s = Scenario();
    s.name = "close_before_bind";
    s.purpose = "WM_CLOSE while main still runs: the tray goes unbound, Java runs on until it ends";
    s.data = "sleep=main|600\nend-after-ms=1500\n";
    s.beforeBind = BeforeBind::Close;
    s.binds = false;
    s.endAfterMs = 1500;
    s.lines = {{"main", 1}, {"quit", 0}, {"application end", 1}};
    table.push_back(s);

    s = Scenario();
    s.name = "big_lists";
    s.purpose = "1200 templates and 500 events: 999 and 400 items, the frame's references kept low";
    s.data = "templates=1200\nevents=500\n";
    s.steps = {
        Choose(kFirstTemplate + 998, {TemplateCall(998)}, BigMenu()),
        Choose(kFirstEvent + 399, {}, BigMenu()),
        Openings(20, BigMenu()),
        HoldRefs(kLocalRefCapacity),
        Do(Act::ExitYes, kQuitEnd),
    };
    s.boxes = {kExitBox};
    s.lines = {{"quit", 1}};
    table.push_back(s);

    s = Scenario();
    s.name = "texts";
    s.purpose = "texts as the VM gives them: modified UTF-8, overlong ones cut at 1023 bytes";
    s.data = kTextsData;
    s.steps = {
        Choose(kFirstTemplate + 2, {TemplateCall(2)},
               Menu(Schedule(kTextsTemplates), Events(kTextsEvents))),
        Do(Act::ExitYes, kQuitEnd),
    };
    s.boxes = {kExitBox};
    s.lines = {{"quit", 1}};
    table.push_back(s);

    // The rig's own guard: a tray stuck in Java must end the run, named.
    s = Scenario();
    s.name = "watchdog_selftest";
    s.purpose = "a command stuck in Java: the watchdog ends the run with its step named";
    s.data = "sleep=showAboutWindow|30000\n";
    s.steps = {Choose(kAbout, {"showAboutWindow"})};
    s.steps[0].limitMs = 1000;
    s.status = kStatusWatchdog;
    s.output = {"realjvm: watchdog: step 1 (choose 999): no progress within 1000 ms"};
    s.lines = {{"showAboutWindow", 1}, {"quit", 0}};
    table.push_back(s);

    return table;
}

}  // namespace

std::vector<Scenario> const &Scenarios()
{
    // Never destroyed: a Java application that ends the process runs the
    // static destructors while the driver thread may still read its step.
    static std::vector<Scenario> const *table = new std::vector<Scenario>(BuildScenarios());
    return *table;
}

Scenario const *FindScenario(std::string const &name)
{
    for (Scenario const &scenario : Scenarios()) {
        if (scenario.name == name)
            return &scenario;
    }
    return nullptr;
}
