// What the application shows and how it behaves: sample data, or a data file.
package com.norvanta.kelvarin.data;

import java.io.BufferedReader;
import java.io.FileInputStream;
import java.io.IOException;
import java.io.InputStreamReader;
import java.util.Vector;

/**
 * The templates, today's events and the behaviour of this process, read once.
 * Without CHIMELET_APP_DATA the application shows friendly sample data; with it,
 * the named file sets everything, one "key=value" per line (the keys are listed in
 * javaapp/README.md). A problem in the file becomes a "data problem: ..." line in
 * the call log and on the error stream, so a mistyped key cannot pass unnoticed;
 * the rest of the file still applies.
 */
public final class TAppData {
    /** The names that "throw" and "sleep" accept: main and every interface method. */
    private static final String[] kMethods = {
            "main", "getTemplateList", "getEventsForToday", "isDoNotDisturbOn",
            "showDoNotDisturb", "showEditReminderWithTemplate", "showNewReminderDialog",
            "showQuickReminder", "showReminderList", "showTemplateList", "showCategoryList",
            "showSoundList", "showAboutWindow", "showHelpWindow", "quit"};
    /** Bounds a generated list, so that a wrong count cannot exhaust the heap. */
    private static final long kMaxGenerated = 100000;
    /** One day: any longer wait is a mistake. */
    private static final long kMaxMillis = 24L * 60 * 60 * 1000;

    private static TAppData sLoaded;

    /** Strings, null elements included. */
    private final Vector mTemplates = new Vector();
    private boolean mTemplatesNull;
    private final Vector mEvents = new Vector();
    private boolean mEventsNull;
    private boolean mDoNotDisturb;
    /** By index into kMethods: whether the method throws, and how long it waits first. */
    private final boolean[] mThrowing = new boolean[kMethods.length];
    private final long[] mSleepMs = new long[kMethods.length];
    private long mEndAfterMs = -1;
    private boolean mExitOnQuit;
    private int mExitStatus;

    private TAppData() {
    }

    /** The data of this process, loaded on first use; any thread may call. */
    public static synchronized TAppData get() {
        if (sLoaded == null) {
            sLoaded = load(environment("CHIMELET_APP_DATA"));
        }
        return sLoaded;
    }

    /**
     * The environment variable's value, or null when it is unset or the runtime will
     * not say: from 1.2 to 1.4, System.getenv throws an Error instead of answering,
     * and a demo on such a runtime is to run with its sample data and no log rather
     * than fail in main. Any thread may call.
     */
    public static String environment(String name) {
        try {
            return System.getenv(name);
        } catch (Error e) {
            return null;
        }
    }

    /** A fresh copy of the template texts, or null when the data asks for null. */
    public String[] templateList() {
        return mTemplatesNull ? null : toArray(mTemplates);
    }

    /** A fresh copy of today's events as time/text pairs, or null when asked. */
    public String[] eventsForToday() {
        return mEventsNull ? null : toArray(mEvents);
    }

    private static String[] toArray(Vector strings) {
        String[] array = new String[strings.size()];
        strings.copyInto(array);
        return array;
    }

    public boolean initialDoNotDisturb() {
        return mDoNotDisturb;
    }

    /** How long the application runs before it ends by itself; negative: until quit. */
    public long endAfterMs() {
        return mEndAfterMs;
    }

    /** True when quit is to end the whole process with {@link #exitStatus()}. */
    public boolean exitsOnQuit() {
        return mExitOnQuit;
    }

    public int exitStatus() {
        return mExitStatus;
    }

    /**
     * Run at the start of every recorded method, after its log line: first waits as
     * long as a "sleep" line asks, then throws if a "throw" line names the method, so
     * the method's own work is then not done.
     */
    public void behave(String method) {
        int index = methodIndex(method);
        if (index < 0) {
            return;
        }
        sleepFor(mSleepMs[index]);
        if (mThrowing[index]) {
            throw new RuntimeException("test data asks " + method + " to throw");
        }
    }

    /** Waits ms, through interrupts (which it hands on). The 1.3 library has no
     *  monotonic clock: a change of the system time shortens or lengthens the wait. */
    private static void sleepFor(long ms) {
        long deadline = System.currentTimeMillis() + ms;
        boolean interrupted = false;
        for (long left = ms; left > 0; left = deadline - System.currentTimeMillis()) {
            try {
                Thread.sleep(left);
            } catch (InterruptedException e) {
                interrupted = true;
            }
        }
        if (interrupted) {
            Thread.currentThread().interrupt();
        }
    }

    private static TAppData load(String path) {
        TAppData data = new TAppData();
        if (path == null || path.length() == 0) {
            data.fillSample();
            return data;
        }
        BufferedReader in = null;
        try {
            in = new BufferedReader(new InputStreamReader(new FileInputStream(path), "UTF-8"));
            int lineNo = 0;
            for (String line; (line = in.readLine()) != null; ) {
                ++lineNo;
                if (lineNo == 1 && line.startsWith("\uFEFF")) {
                    line = line.substring(1);
                }
                String problem = data.apply(line);
                if (problem != null) {
                    reportProblem("line " + lineNo + ": " + problem);
                }
            }
        } catch (IOException e) {
            // Sample data rather than nothing: the problem line already tells the test.
            reportProblem("cannot read " + path + ": " + e.getMessage());
            data = new TAppData();
            data.fillSample();
        } finally {
            if (in != null) {
                try {
                    in.close();
                } catch (IOException e) {
                    // Every line has been read: nothing is lost.
                }
            }
        }
        return data;
    }

    private static void reportProblem(String text) {
        System.err.println("chimelet: data problem: " + text);
        TCallLog.record("data problem: " + text);
    }

    private void fillSample() {
        mTemplates.addElement("Morning stand-up");
        mTemplates.addElement("Take a break");
        mTemplates.addElement("Water the plants");
        mEvents.addElement("09:30");
        mEvents.addElement("Dentist");
        mEvents.addElement("14:00");
        mEvents.addElement("Call the bank");
    }

    /**
     * Applies one line of the data file; returns null, or what is wrong with it.
     * Keys are trimmed, values are taken verbatim (leading and trailing spaces are
     * menu text too). A line without "=" is a key with no value, which the flag and
     * count keys accept.
     */
    private String apply(String line) {
        String trimmed = line.trim();
        if (trimmed.length() == 0 || trimmed.startsWith("#")) {
            return null;
        }
        int eq = line.indexOf('=');
        String key = (eq < 0 ? line : line.substring(0, eq)).trim();
        String value = eq < 0 ? null : line.substring(eq + 1);
        if (key.equals("template")) {
            if (value == null) {
                return "template needs a value";
            }
            mTemplates.addElement(value);
            return null;
        }
        if (key.equals("template-null")) {
            return addNulls(mTemplates, value);
        }
        if (key.equals("templates")) {
            long n = parseCount(value, kMaxGenerated);
            if (n < 0) {
                return "templates needs a count from 0 to " + kMaxGenerated;
            }
            for (long i = 0; i < n; ++i) {
                mTemplates.addElement("Template " + mTemplates.size());
            }
            return null;
        }
        if (key.equals("templates-null")) {
            Boolean on = parseFlag(value);
            if (on == null) {
                return "templates-null needs true or false";
            }
            mTemplatesNull = on.booleanValue();
            return null;
        }
        if (key.equals("event")) {
            int bar = value == null ? -1 : value.indexOf('|');
            if (bar < 0) {
                return "event needs <time>|<text>";
            }
            mEvents.addElement(value.substring(0, bar));
            mEvents.addElement(value.substring(bar + 1));
            return null;
        }
        if (key.equals("event-element")) {
            if (value == null) {
                return "event-element needs a value";
            }
            mEvents.addElement(value);
            return null;
        }
        if (key.equals("event-null")) {
            return addNulls(mEvents, value);
        }
        if (key.equals("events")) {
            long n = parseCount(value, kMaxGenerated);
            if (n < 0) {
                return "events needs a count from 0 to " + kMaxGenerated;
            }
            for (long i = 0; i < n; ++i) {
                int pair = mEvents.size() / 2;
                mEvents.addElement(twoDigits((pair / 60) % 24) + ":" + twoDigits(pair % 60));
                mEvents.addElement("Event " + pair);
            }
            return null;
        }
        if (key.equals("events-null")) {
            Boolean on = parseFlag(value);
            if (on == null) {
                return "events-null needs true or false";
            }
            mEventsNull = on.booleanValue();
            return null;
        }
        if (key.equals("dnd")) {
            Boolean on = parseFlag(value);
            if (on == null) {
                return "dnd needs true or false";
            }
            mDoNotDisturb = on.booleanValue();
            return null;
        }
        if (key.equals("throw")) {
            int index = value == null ? -1 : methodIndex(value.trim());
            if (index < 0) {
                return "throw needs a method name, not " + value;
            }
            mThrowing[index] = true;
            return null;
        }
        if (key.equals("sleep")) {
            int bar = value == null ? -1 : value.indexOf('|');
            int index = bar < 0 ? -1 : methodIndex(value.substring(0, bar).trim());
            long ms = bar < 0 ? -1 : parseCount(value.substring(bar + 1), kMaxMillis);
            if (index < 0 || ms < 0) {
                return "sleep needs <method>|<milliseconds up to " + kMaxMillis + ">";
            }
            mSleepMs[index] = ms;
            return null;
        }
        if (key.equals("end-after-ms")) {
            long ms = parseCount(value, kMaxMillis);
            if (ms < 0) {
                return "end-after-ms needs milliseconds from 0 to " + kMaxMillis;
            }
            mEndAfterMs = ms;
            return null;
        }
        if (key.equals("exit-on-quit")) {
            try {
                mExitStatus = Integer.parseInt(value == null ? "" : value.trim());
                mExitOnQuit = true;
                return null;
            } catch (NumberFormatException e) {
                return "exit-on-quit needs an exit status";
            }
        }
        return "unknown key \"" + key + "\"";
    }

    /** The name's index in kMethods, or -1. */
    private static int methodIndex(String name) {
        for (int i = 0; i < kMethods.length; ++i) {
            if (kMethods[i].equals(name)) {
                return i;
            }
        }
        return -1;
    }

    /** 0 to 99 as two digits, "07". */
    private static String twoDigits(int n) {
        return (n < 10 ? "0" : "") + n;
    }

    private static String addNulls(Vector list, String value) {
        long n = value == null || value.trim().length() == 0 ? 1 : parseCount(value, kMaxGenerated);
        if (n < 0) {
            return "a null count must be from 0 to " + kMaxGenerated;
        }
        for (long i = 0; i < n; ++i) {
            list.addElement(null);
        }
        return null;
    }

    /** A flag given without a value is set; "true" and "false" in any case work; else null. */
    private static Boolean parseFlag(String value) {
        if (value == null || value.trim().equalsIgnoreCase("true")) {
            return Boolean.TRUE;
        }
        return value.trim().equalsIgnoreCase("false") ? Boolean.FALSE : null;
    }

    /** A whole number from 0 to max, or -1 for anything else (null included). */
    private static long parseCount(String value, long max) {
        if (value == null) {
            return -1;
        }
        try {
            long n = Long.parseLong(value.trim());
            return n >= 0 && n <= max ? n : -1;
        } catch (NumberFormatException e) {
            return -1;
        }
    }
}
