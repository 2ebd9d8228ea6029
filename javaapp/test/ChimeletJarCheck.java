// Runs chimelet.jar in child VMs as the shell would and compares what it answers and logs.
import java.io.File;
import java.io.IOException;
import java.io.PrintStream;
import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;
import java.util.concurrent.TimeUnit;

/**
 * Parent: {@code ChimeletJarCheck <java> <jar> <lacking jar> <work dir>} runs every case
 * of the table in a child VM and exits 1 if any differs.
 * Child: {@code ChimeletJarCheck child <call>...}, with the jar on the class path, makes
 * the calls by reflection, as JNI would, and prints one "<call> -> <result>" line each.
 */
public final class ChimeletJarCheck {
    static final String kInterface = "com.norvanta.kelvarin.data.TExternalDataInterface";
    static final String kMain = "com.norvanta.kelvarin.main.TApplication";
    /** A case whose child must still run this long after its calls is expected to stay. */
    static final long kStayMs = 1500;
    static final long kEndTimeoutMs = 10000;

    static final String[] kSignatures = {
        "getEventsForToday ()[Ljava/lang/String;", "getTemplateList ()[Ljava/lang/String;",
        "isDoNotDisturbOn ()Z", "main ([Ljava/lang/String;)V", "quit ()V",
        "showAboutWindow ()V", "showCategoryList ()V", "showDoNotDisturb ()V",
        "showEditReminderWithTemplate (I)V", "showHelpWindow ()V", "showNewReminderDialog ()V",
        "showQuickReminder ()V", "showReminderList ()V", "showSoundList ()V",
        "showTemplateList ()V"};

    static final class Case {
        final String name;
        boolean lacking;
        String data;          // the data file's text; null: no CHIMELET_APP_DATA
        String dataPath;      // CHIMELET_APP_DATA as given, when data is null
        String[] calls = {};
        String[] answers = {};
        String[] log = {};    // a line ending in "*" matches by prefix
        Integer exit = 0;     // null: the VM must still be running kStayMs after the calls

        Case(String name) { this.name = name; }
        Case lacking() { lacking = true; return this; }
        Case data(String... lines) { data = String.join("\r\n", lines); return this; }
        Case dataPath(String path) { dataPath = path; return this; }
        Case calls(String... c) { calls = c; return this; }
        Case answers(String... a) { answers = a; return this; }
        Case log(String... l) { log = l; return this; }
        Case exit(Integer status) { exit = status; return this; }
    }

    static List<Case> cases() {
        List<String> lackingSignatures = new ArrayList<>(Arrays.asList(kSignatures));
        lackingSignatures.remove("showHelpWindow ()V");
        return Arrays.asList(
            new Case("sample data, every method, quit ends the VM")
                .calls("main", "getTemplateList", "getEventsForToday", "isDoNotDisturbOn",
                       "showDoNotDisturb", "isDoNotDisturbOn", "showEditReminderWithTemplate 3",
                       "showEditReminderWithTemplate -1", "showNewReminderDialog",
                       "showQuickReminder", "showReminderList", "showTemplateList",
                       "showCategoryList", "showSoundList", "showAboutWindow", "showHelpWindow",
                       "quit")
                .answers("main -> returned",
                         "getTemplateList -> [\"Morning stand-up\", \"Take a break\", \"Water the plants\"]",
                         "getEventsForToday -> [\"09:30\", \"Dentist\", \"14:00\", \"Call the bank\"]",
                         "isDoNotDisturbOn -> false", "showDoNotDisturb -> returned",
                         "isDoNotDisturbOn -> true", "showEditReminderWithTemplate 3 -> returned",
                         "showEditReminderWithTemplate -1 -> returned",
                         "showNewReminderDialog -> returned", "showQuickReminder -> returned",
                         "showReminderList -> returned", "showTemplateList -> returned",
                         "showCategoryList -> returned", "showSoundList -> returned",
                         "showAboutWindow -> returned", "showHelpWindow -> returned",
                         "quit -> returned")
                .log("main", "getTemplateList", "getEventsForToday", "isDoNotDisturbOn",
                     "showDoNotDisturb", "isDoNotDisturbOn", "showEditReminderWithTemplate 3",
                     "showEditReminderWithTemplate -1", "showNewReminderDialog",
                     "showQuickReminder", "showReminderList", "showTemplateList",
                     "showCategoryList", "showSoundList", "showAboutWindow", "showHelpWindow",
                     "quit", "application end"),
            new Case("without quit the VM stays: main returned, its thread is no daemon")
                .calls("main").answers("main -> returned").log("main").exit(null),
            new Case("a second main starts no second application thread")
                .calls("main", "main 2", "quit")
                .answers("main -> returned", "main 2 -> returned", "quit -> returned")
                .log("main", "main args=2", "quit", "application end"),
            new Case("data file: nulls, empty and odd texts, UTF-8, CRLF lines, dnd")
                .data("# a comment", "", "template-null", "template=Caf\u00e9", "template=",
                      "template=Save && Exit", "template= padded ", "templates=2",
                      "event=09:30|Dentist", "event-null", "event-element=16:00",
                      "event=17:00|Tea | biscuits", "event-element=odd one", "dnd=true")
                .calls("main", "getTemplateList", "getEventsForToday", "isDoNotDisturbOn",
                       "showDoNotDisturb", "isDoNotDisturbOn", "quit")
                .answers("main -> returned",
                         "getTemplateList -> [null, \"Caf\u00e9\", \"\", \"Save && Exit\", \" padded \", \"Template 5\", \"Template 6\"]",
                         "getEventsForToday -> [\"09:30\", \"Dentist\", null, \"16:00\", \"17:00\", \"Tea | biscuits\", \"odd one\"]",
                         "isDoNotDisturbOn -> true", "showDoNotDisturb -> returned",
                         "isDoNotDisturbOn -> false", "quit -> returned")
                .log("main", "getTemplateList", "getEventsForToday", "isDoNotDisturbOn",
                     "showDoNotDisturb", "isDoNotDisturbOn", "quit", "application end"),
            new Case("generated lists and null arrays")
                .data("templates=3", "events=2", "templates-null", "events-null=false")
                .calls("main", "getTemplateList", "getEventsForToday", "quit")
                .answers("main -> returned", "getTemplateList -> null",
                         "getEventsForToday -> [\"00:00\", \"Event 0\", \"00:01\", \"Event 1\"]",
                         "quit -> returned")
                .log("main", "getTemplateList", "getEventsForToday", "quit", "application end"),
            new Case("throwing methods, main included, leave the rest working")
                .data("throw=main", "throw=getTemplateList", "throw=showAboutWindow")
                .calls("main", "getTemplateList", "showAboutWindow", "getTemplateList",
                       "showReminderList", "quit")
                .answers("main -> threw RuntimeException", "getTemplateList -> threw RuntimeException",
                         "showAboutWindow -> threw RuntimeException",
                         "getTemplateList -> threw RuntimeException",
                         "showReminderList -> returned", "quit -> returned")
                .log("main", "getTemplateList", "showAboutWindow", "getTemplateList",
                     "showReminderList", "quit", "application end"),
            new Case("end-after-ms ends the application by itself, not at once")
                .data("end-after-ms=800")
                .calls("main", "pause 300", "isDoNotDisturbOn")
                .answers("main -> returned", "isDoNotDisturbOn -> false")
                .log("main", "isDoNotDisturbOn", "application end"),
            new Case("sleep holds main back")
                .data("sleep=main|700", "end-after-ms=300")
                .calls("main", "isDoNotDisturbOn")
                .answers("main -> returned", "isDoNotDisturbOn -> false")
                .log("main", "application end", "isDoNotDisturbOn"),
            new Case("exit-on-quit ends the process with its status; empty lists")
                .data("exit-on-quit=3")
                .calls("main", "getTemplateList", "getEventsForToday", "quit")
                .answers("main -> returned", "getTemplateList -> []", "getEventsForToday -> []")
                .log("main", "getTemplateList", "getEventsForToday", "quit", "exit 3")
                .exit(3),
            new Case("problems in the data file are logged, the rest applies")
                .data("tempalte=x", "templates=many", "throw=noSuchMethod", "sleep=quit",
                      "event=no bar", "dnd=maybe", "template=ok")
                .calls("main", "getTemplateList", "isDoNotDisturbOn", "quit")
                .answers("main -> returned", "getTemplateList -> [\"ok\"]",
                         "isDoNotDisturbOn -> false", "quit -> returned")
                .log("main", "data problem: line 1: unknown key \"tempalte\"",
                     "data problem: line 2: *", "data problem: line 3: *",
                     "data problem: line 4: *", "data problem: line 5: *",
                     "data problem: line 6: *", "getTemplateList", "isDoNotDisturbOn", "quit",
                     "application end"),
            new Case("an unreadable data file is logged, sample data is used")
                .dataPath("/nonexistent/chimelet.data")
                .calls("main", "isDoNotDisturbOn", "quit")
                .answers("main -> returned", "isDoNotDisturbOn -> false", "quit -> returned")
                .log("main", "data problem: cannot read /nonexistent/chimelet.data*",
                     "isDoNotDisturbOn", "quit", "application end"),
            new Case("every method with its JNI signature")
                .calls("signatures").answers(kSignatures),
            new Case("the lacking jar lacks showHelpWindow and nothing else")
                .lacking().calls("signatures")
                .answers(lackingSignatures.toArray(new String[0])),
            new Case("the lacking jar works without showHelpWindow")
                .lacking().calls("main", "showHelpWindow", "showAboutWindow", "quit")
                .answers("main -> returned", "showHelpWindow -> missing",
                         "showAboutWindow -> returned", "quit -> returned")
                .log("main", "showAboutWindow", "quit", "application end"));
    }

    public static void main(String[] args) throws Exception {
        if (args.length >= 1 && args[0].equals("child")) {
            runChild(Arrays.copyOfRange(args, 1, args.length));
            return;
        }
        if (args.length != 4) {
            System.err.println("usage: ChimeletJarCheck <java> <jar> <lacking jar> <work dir>");
            System.exit(2);
        }
        File work = new File(args[3]);
        work.mkdirs();
        int failures = 0;
        int index = 0;
        for (Case c : cases()) {
            String problem = runCase(c, args[0], c.lacking ? args[2] : args[1], work, index++);
            System.out.println((problem == null ? "ok   " : "FAIL ") + c.name
                               + (problem == null ? "" : "\n" + problem));
            failures += problem == null ? 0 : 1;
        }
        System.out.println(failures == 0 ? "all cases passed" : failures + " case(s) failed");
        System.exit(failures == 0 ? 0 : 1);
    }

    /** Returns null when the case holds, else what differed. */
    static String runCase(Case c, String java, String jar, File work, int index) throws Exception {
        File data = new File(work, index + ".data");
        File log = new File(work, index + ".log");
        File out = new File(work, index + ".out");
        File err = new File(work, index + ".err");
        Files.deleteIfExists(log.toPath());
        List<String> command = new ArrayList<>(Arrays.asList(java, "-cp",
            jar + File.pathSeparator + System.getProperty("java.class.path"),
            "ChimeletJarCheck", "child"));
        command.addAll(Arrays.asList(c.calls));
        ProcessBuilder pb = new ProcessBuilder(command).redirectOutput(out).redirectError(err);
        pb.environment().remove("CHIMELET_APP_DATA");
        pb.environment().put("CHIMELET_APP_LOG", log.getPath());
        if (c.data != null) {
            Files.write(data.toPath(), c.data.getBytes(StandardCharsets.UTF_8));
            pb.environment().put("CHIMELET_APP_DATA", data.getPath());
        } else if (c.dataPath != null) {
            pb.environment().put("CHIMELET_APP_DATA", c.dataPath);
        }
        Process p = pb.start();
        StringBuilder problems = new StringBuilder();
        if (c.exit == null) {
            if (p.waitFor(kStayMs, TimeUnit.MILLISECONDS)) {
                problems.append("  the VM ended (status " + p.exitValue() + ") though quit was never called\n");
            }
            p.destroyForcibly().waitFor();
        } else if (!p.waitFor(kEndTimeoutMs, TimeUnit.MILLISECONDS)) {
            problems.append("  the VM did not end within " + kEndTimeoutMs + " ms\n");
            p.destroyForcibly().waitFor();
        } else if (p.exitValue() != c.exit) {
            problems.append("  exit status " + p.exitValue() + ", want " + c.exit + "\n");
        }
        compare("answers", c.answers, readLines(out), problems);
        compare("log", c.log, readLines(log), problems);
        if (problems.length() > 0 && err.length() > 0) {
            problems.append("  child's error stream:\n").append(new String(
                Files.readAllBytes(err.toPath()), StandardCharsets.UTF_8));
        }
        return problems.length() == 0 ? null : problems.toString();
    }

    static List<String> readLines(File f) throws IOException {
        return f.exists() ? Files.readAllLines(f.toPath(), StandardCharsets.UTF_8)
                          : Collections.<String>emptyList();
    }

    static void compare(String what, String[] want, List<String> got, StringBuilder problems) {
        boolean same = want.length == got.size();
        for (int i = 0; same && i < want.length; ++i) {
            String w = want[i];
            same = w.endsWith("*") ? got.get(i).startsWith(w.substring(0, w.length() - 1))
                                   : got.get(i).equals(w);
        }
        if (!same) {
            problems.append("  ").append(what).append(" want:\n    ")
                    .append(String.join("\n    ", want)).append("\n  got:\n    ")
                    .append(String.join("\n    ", got)).append("\n");
        }
    }

    static void runChild(String[] calls) throws Exception {
        PrintStream out = new PrintStream(System.out, true, "UTF-8");
        // Found without being initialised, as JNI's FindClass finds them.
        ClassLoader loader = ChimeletJarCheck.class.getClassLoader();
        Class<?> api = Class.forName(kInterface, false, loader);
        Class<?> app = Class.forName(kMain, false, loader);
        for (String call : calls) {
            String[] parts = call.split(" ");
            String name = parts[0];
            if (name.equals("pause")) {
                Thread.sleep(Long.parseLong(parts[1]));
                continue;
            }
            if (name.equals("signatures")) {
                List<String> found = new ArrayList<>();
                for (Class<?> k : Arrays.asList(api, app)) {
                    for (Method m : k.getDeclaredMethods()) {
                        if (Modifier.isStatic(m.getModifiers()) && Modifier.isPublic(m.getModifiers())
                                && (k == api || m.getName().equals("main"))) {
                            found.add(m.getName() + " " + descriptor(m));
                        }
                    }
                }
                Collections.sort(found);
                for (String s : found) {
                    out.println(s);
                }
                continue;
            }
            String result;
            try {
                Object answer;
                if (name.equals("main")) {
                    String[] mainArgs = parts.length > 1 ? new String[Integer.parseInt(parts[1])] : null;
                    answer = app.getMethod("main", String[].class).invoke(null, (Object) mainArgs);
                } else if (parts.length > 1) {
                    answer = api.getMethod(name, int.class).invoke(null, Integer.parseInt(parts[1]));
                } else {
                    answer = api.getMethod(name).invoke(null);
                }
                Method m = name.equals("main") ? null : api.getMethod(name,
                    parts.length > 1 ? new Class<?>[] {int.class} : new Class<?>[0]);
                result = m == null || m.getReturnType() == void.class ? "returned" : show(answer);
            } catch (NoSuchMethodException e) {
                result = "missing";
            } catch (InvocationTargetException e) {
                result = "threw " + e.getCause().getClass().getSimpleName();
            }
            out.println(call + " -> " + result);
        }
    }

    static String show(Object answer) {
        if (!(answer instanceof String[])) {
            return String.valueOf(answer);
        }
        List<String> shown = new ArrayList<>();
        for (String s : (String[]) answer) {
            shown.add(s == null ? "null" : "\"" + s + "\"");
        }
        return "[" + String.join(", ", shown) + "]";
    }

    static String descriptor(Method m) {
        StringBuilder d = new StringBuilder("(");
        for (Class<?> p : m.getParameterTypes()) {
            d.append(descriptor(p));
        }
        return d.append(")").append(descriptor(m.getReturnType())).toString();
    }

    static String descriptor(Class<?> t) {
        if (t.isArray()) {
            return "[" + descriptor(t.getComponentType());
        }
        if (!t.isPrimitive()) {
            return "L" + t.getName().replace('.', '/') + ";";
        }
        String[][] codes = {{"void", "V"}, {"boolean", "Z"}, {"byte", "B"}, {"char", "C"},
                            {"short", "S"}, {"int", "I"}, {"long", "J"}, {"float", "F"},
                            {"double", "D"}};
        for (String[] code : codes) {
            if (code[0].equals(t.getName())) {
                return code[1];
            }
        }
        throw new IllegalArgumentException(t.getName());
    }
}
