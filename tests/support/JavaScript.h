// Builds the stand-in Java runtime's script: what its Java side holds and
// how its VM behaves, for one test. Every setter returns *this.
#ifndef CHIMELET_JAVA_SCRIPT_H
#define CHIMELET_JAVA_SCRIPT_H

#include <optional>
#include <string>
#include <vector>

// A String[] element: a string of any bytes, or Java's null.
using JavaText = std::optional<std::string>;

// Any bytes as a string of the stand-in runtime's script: quoted, \xNN escapes.
std::string ScriptString(std::string const &bytes);

class JavaScript {
public:
    // String[] answers of getTemplateList / getEventsForToday.
    JavaScript &Templates(std::vector<JavaText> const &elements);
    JavaScript &NullTemplates();
    JavaScript &GeneratedTemplates(int count, std::string const &prefix);  // prefix + index
    JavaScript &Events(std::vector<JavaText> const &elements);
    JavaScript &NullEvents();
    JavaScript &GeneratedEvents(int count, std::string const &prefix);
    // GetStringUTFChars of that element of that list method's answer fails.
    JavaScript &UnreadableElement(std::string const &method, int index);

    JavaScript &DoNotDisturb(int jboolean);
    JavaScript &DoNotDisturbSwitchedByJava();                    // showDoNotDisturb flips it
    JavaScript &Without(std::string const &method);              // interface method missing
    JavaScript &WithoutInterfaceClass();
    JavaScript &WithoutMainClass();
    JavaScript &WithoutMain();                                   // main class lacks main(String[])
    JavaScript &Throwing(std::string const &method);             // interface method throws
    JavaScript &Taking(std::string const &method, int milliseconds);  // interface method takes that long
    // ... and meanwhile serves what is sent to its thread, as AWT's natives do waiting in SendMessage.
    JavaScript &Serving(std::string const &method, int milliseconds);

    // How the VM starts: "classic" (takes a 1.1 record), "modern" (1.2 only),
    // "hotspot" (refuses 1.1 but relabels the record 1.2).
    JavaScript &Mode(std::string const &mode);
    // What the next JNI_CreateJavaVM calls answer, one each: "-1" fails the
    // first attempt only, "-3 -3" both, "normal -6" only the second.
    JavaScript &CreateAnswers(std::string const &answers);
    JavaScript &JarMustExist();                                  // chimelet.jar must be in the current directory
    JavaScript &AttachFails();

    // What main() does: by default it returns at once and the application
    // runs until quit().
    JavaScript &MainThrows();
    JavaScript &ApplicationEndsAfterMain();                      // nothing keeps running
    JavaScript &ApplicationEndsAfter(int milliseconds);
    JavaScript &EndsProcessAfter(int milliseconds, int code);   // System.exit(code) on a thread of its own

    std::string const &Text() const { return text_; }

private:
    JavaScript &Line(std::string const &line);
    std::string text_;
};

#endif
