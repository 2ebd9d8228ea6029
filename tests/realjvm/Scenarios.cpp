// The scenarios: one table, each row one process of the runner.

#include "RealJvm.h"

#include <stdio.h>

#include "TestSupport.h"

namespace {

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
        step.command = IDS_EXIT;
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

// A run that ends through Exit answered Yes: `steps`, then Exit; one box,
// quit once. The caller adds what else the run must show.
Scenario EndedByExit(char const *name, char const *purpose, std::vector<Step> steps)
{
    Scenario s;
    s.name = name;
    s.purpose = purpose;
    s.steps = std::move(steps);
    s.steps.push_back(Do(Act::ExitYes, kQuitEnd));
    s.boxes = {kExitBox};
    s.lines = {{"quit", 1}};
    return s;
}

// The same with kThrowData and `more` as data, asking `method` to throw:
// the exception is described on stderr.
Scenario Throwing(char const *name, char const *purpose, std::string const &method, std::vector<Step> steps,
                  std::string const &more = "")
{
    Scenario s = EndedByExit(name, purpose, std::move(steps));
    s.data = std::string(kThrowData) + more + "throw=" + method + "\n";
    s.quiet = Output::DescribesExceptions;
    s.output = {Thrown(method)};
    return s;
}

std::vector<Scenario> BuildScenarios()
{
    std::vector<Scenario> table;
    Scenario s;

    std::vector<Step> mainSteps = {Do(Act::SecondStart, {"showReminderList"})};
    // Java switches Do Not Disturb each time it is chosen.
    bool suspended = false;
    for (PlainCommand const &c : kPlainCommands) {
        mainSteps.push_back(Choose(c.command, {c.method}, SampleMenu(suspended)));
        suspended = suspended != (c.command == IDS_DO_NOT_DISTURB);
    }
    mainSteps.insert(mainSteps.end(), {
        Choose(kFirstTemplateItem, {TemplateCall(0)}, SampleMenu(suspended)),
        Choose(kFirstTemplateItem + 2, {TemplateCall(2)}),
        Choose(kFirstEventItem, {}),
        Choose(0, {}),
        Choose(IDS_DO_NOT_DISTURB, {"showDoNotDisturb"}, SampleMenu(true)),
        ChooseLeft(IDS_REMINDERS, {"showReminderList"}, SampleMenu(false)),
        Do(Act::ExitNo, {}, SampleMenu()),
    });
    s = EndedByExit("main", "every tray command reaches Java; Exit No changes nothing, Exit Yes ends the run", mainSteps);
    // No changed nothing: the same menu, and Java still answers.
    s.steps.back().menu = SampleMenu();
    s.boxes = {kExitBox, kExitBox};
    s.lines.insert(s.lines.end(), {{"main", 1}, {"application end", 1}});
    table.push_back(s);

    s = EndedByExit("lacking_help", "Java lacks showHelpWindow: Help does nothing, the next commands work", {
        Choose(IDS_HELP, {}, SampleMenu()),
        Choose(IDS_REMINDERS, {"showReminderList"}, SampleMenu()),
        Choose(IDS_HELP, {}),
        Do(Act::SecondStart, {"showReminderList"}),
        Choose(IDS_SOUNDS, {"showSoundList"}),
    });
    s.quiet = Output::DescribesExceptions;
    s.output = {"java.lang.NoSuchMethodError", "showHelpWindow()V"};
    s.lines.push_back({"showHelpWindow", 0});
    table.push_back(s);

    table.push_back(Throwing("throw_template_list", "getTemplateList throws: Schedule holds New Reminder alone, the rest works",
                             "getTemplateList", {
        Choose(IDS_REMINDERS, {"showReminderList"}, Menu(Schedule({}), Events(kThrowEvents))),
        Choose(IDS_NEW_REMINDER, {"showNewReminderDialog"}, Menu(Schedule({}), Events(kThrowEvents))),
        Do(Act::SecondStart, {"showReminderList"}),
    }));

    table.push_back(Throwing("throw_events", "getEventsForToday throws: Events For Today is empty, the rest works",
                             "getEventsForToday", {
        Choose(kFirstTemplateItem + 1, {TemplateCall(1)}, Menu(Schedule(kThrowTemplates), Events({}))),
        Choose(IDS_CATEGORIES, {"showCategoryList"}, Menu(Schedule(kThrowTemplates), Events({}))),
    }));

    s = Throwing("throw_do_not_disturb", "isDoNotDisturbOn throws: the item reads Do Not Disturb and still switches",
                 "isDoNotDisturbOn", {
        Choose(IDS_DO_NOT_DISTURB, {"showDoNotDisturb"}, Menu(Schedule(kThrowTemplates), Events(kThrowEvents))),
        Choose(IDS_SOUNDS, {"showSoundList"}, Menu(Schedule(kThrowTemplates), Events(kThrowEvents))),
    }, "dnd=true\n");
    s.lines.push_back({"showDoNotDisturb", 1});
    table.push_back(s);

    s = Throwing("throw_command", "showAboutWindow throws: the next commands and menus work", "showAboutWindow", {
        Choose(IDS_ABOUT, {"showAboutWindow"}, Menu(Schedule(kThrowTemplates), Events(kThrowEvents))),
        Choose(IDS_ABOUT, {"showAboutWindow"}),
        Choose(IDS_TEMPLATES, {"showTemplateList"}, Menu(Schedule(kThrowTemplates), Events(kThrowEvents))),
        Do(Act::SecondStart, {"showReminderList"}),
    });
    s.lines.push_back({"showAboutWindow", 2});
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

    s = EndedByExit("soak", "a thousand openings: no -Xcheck:jni complaint, no local reference left behind", {
        Openings(1000, SampleMenu()),
        // Quiet only if the monitor thread's frame is as empty as at the start.
        HoldRefs(kLocalRefCapacity),
        Choose(IDS_REMINDERS, {"showReminderList"}, SampleMenu()),
    });
    s.lines.push_back({"getTemplateList", 1003});
    table.push_back(s);

    s = EndedByExit("localref_canary",
                    "one local reference too many on the monitor thread is reported: the soak would see a leak",
                    {HoldRefs(kLocalRefCapacity + 1)});
    s.quiet = Output::WarnsLocalRefs;
    s.output = {"WARNING: JNI local refs: "};
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
        Choose(IDS_REMINDERS, {"showReminderList"}, SampleMenu()),
        Do(Act::Close, kQuitEnd),
    };
    s.lines = {{"quit", 1}, {"application end", 1}};
    table.push_back(s);

    s = EndedByExit("exit_on_quit",
                    "quit ends the process itself (System.exit 7) while the main thread waits in DestroyJavaVM",
                    {Choose(IDS_REMINDERS, {"showReminderList"}, Menu(Schedule({}), NoEvents()))});
    s.data = "exit-on-quit=7\n";
    s.steps.back().calls = {"quit", "exit 7"};
    s.status = 7;
    s.lines.insert(s.lines.end(), {{"exit 7", 1}, {"application end", 0}});
    table.push_back(s);

    s = EndedByExit("main_throws", "main throws once the application runs: nothing reported, the tray binds and works",
                    {Choose(IDS_REMINDERS, {"showReminderList"}, Menu(Schedule({}), NoEvents()))});
    s.data = "throw=main\n";
    s.lines.push_back({"application end", 1});
    table.push_back(s);

    s = EndedByExit("before_bind", "a second start and a press while main still runs: answered, nothing opens",
                    {Choose(IDS_REMINDERS, {"showReminderList"}, Menu(Schedule({}), NoEvents()))});
    s.data = "sleep=main|600\n";
    s.beforeBind = BeforeBind::Poke;
    s.lines.push_back({"showReminderList", 1});
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

    s = EndedByExit("big_lists", "1200 templates and 500 events: 999 and 400 items, the frame's references kept low", {
        Choose(kFirstTemplateItem + 998, {TemplateCall(998)}, BigMenu()),
        Choose(kFirstEventItem + 399, {}, BigMenu()),
        Openings(20, BigMenu()),
        HoldRefs(kLocalRefCapacity),
    });
    s.data = "templates=1200\nevents=500\n";
    table.push_back(s);

    s = EndedByExit("texts", "texts as the VM gives them: modified UTF-8, overlong ones cut at 1023 bytes", {
        Choose(kFirstTemplateItem + 2, {TemplateCall(2)}, Menu(Schedule(kTextsTemplates), Events(kTextsEvents))),
    });
    s.data = kTextsData;
    table.push_back(s);

    // The rig's own guard: a tray stuck in Java must end the run, named.
    s = Scenario();
    s.name = "watchdog_selftest";
    s.purpose = "a command stuck in Java: the watchdog ends the run with its step named";
    s.data = "sleep=showAboutWindow|30000\n";
    s.steps = {Choose(IDS_ABOUT, {"showAboutWindow"})};
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
