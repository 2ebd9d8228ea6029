#include "JavaScript.h"

#include <stdio.h>

static std::string const kInterfaceClass = "com/norvanta/kelvarin/data/TExternalDataInterface";
static std::string const kMainClass = "com/norvanta/kelvarin/main/TApplication";

std::string ScriptString(std::string const &text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7f && c != '"' && c != '\\') {
            out += (char)c;
        } else {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out + "\"";
}

static std::string Elements(std::vector<JavaText> const &elements)
{
    std::string out;
    for (JavaText const &element : elements)
        out += " " + (element ? ScriptString(*element) : std::string("null"));
    return out;
}

static std::string ListName(std::string const &method)
{
    return method == "getTemplateList" ? "templates" : "events";
}

JavaScript &JavaScript::Line(std::string const &line)
{
    text_ += line + "\n";
    return *this;
}

JavaScript &JavaScript::Templates(std::vector<JavaText> const &elements) { return Line("templates" + Elements(elements)); }
JavaScript &JavaScript::NullTemplates() { return Line("templates null"); }
JavaScript &JavaScript::GeneratedTemplates(int count, std::string const &prefix)
{
    return Line("templates " + std::to_string(count) + " named " + ScriptString(prefix));
}
JavaScript &JavaScript::Events(std::vector<JavaText> const &elements) { return Line("events" + Elements(elements)); }
JavaScript &JavaScript::NullEvents() { return Line("events null"); }
JavaScript &JavaScript::GeneratedEvents(int count, std::string const &prefix)
{
    return Line("events " + std::to_string(count) + " named " + ScriptString(prefix));
}
JavaScript &JavaScript::UnreadableElement(std::string const &method, int index)
{
    return Line("unreadable " + ListName(method) + " " + std::to_string(index));
}

JavaScript &JavaScript::DoNotDisturb(int jboolean) { return Line("donotdisturb " + std::to_string(jboolean)); }
JavaScript &JavaScript::DoNotDisturbSwitchedByJava() { return Line("donotdisturb 0 toggled"); }
JavaScript &JavaScript::Without(std::string const &method) { return Line("remove method " + method); }
JavaScript &JavaScript::WithoutInterfaceClass() { return Line("remove class " + kInterfaceClass); }
JavaScript &JavaScript::WithoutMainClass() { return Line("remove class " + kMainClass); }
JavaScript &JavaScript::WithoutMain() { return Line("remove method " + kMainClass + ".main"); }
JavaScript &JavaScript::Throwing(std::string const &method)
{
    return Line("throw " + method + " java/lang/RuntimeException \"broken on purpose\"");
}

JavaScript &JavaScript::Taking(std::string const &method, int milliseconds)
{
    return Line("delay " + method + " " + std::to_string(milliseconds));
}

JavaScript &JavaScript::Serving(std::string const &method, int milliseconds)
{
    return Line("delay " + method + " " + std::to_string(milliseconds) + " serving");
}

JavaScript &JavaScript::Mode(std::string const &mode) { return Line("mode " + mode); }
JavaScript &JavaScript::CreateAnswers(std::string const &answers)
{
    return Line("create " + answers);
}
JavaScript &JavaScript::JarMustExist() { return Line("jar required"); }
JavaScript &JavaScript::AttachFails() { return Line("attach -1"); }

JavaScript &JavaScript::MainThrows() { return Line("main throw java/lang/IllegalStateException \"main broke\""); }
JavaScript &JavaScript::ApplicationEndsAfterMain() { return Line("main end"); }
JavaScript &JavaScript::ApplicationEndsAfter(int milliseconds)
{
    return Line("main end-after " + std::to_string(milliseconds));
}

JavaScript &JavaScript::EndsProcessAfter(int milliseconds, int code)
{
    return Line("exit after " + std::to_string(milliseconds) + " " + std::to_string(code));
}
