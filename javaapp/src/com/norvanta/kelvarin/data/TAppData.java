// What the application shows and how it behaves: sample data, or a data file.
package com.norvanta.kelvarin.data;

import java.io.BufferedReader;
import java.io.FileInputStream;
import java.io.IOException;
import java.io.InputStreamReader;
import java.nio.charset.Charset;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashMap;
import java.util.HashSet;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.Set;

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
    private static final Set<String> kMethods = new HashSet<String>(Arrays.asList(
            "main", "getTemplateList", "getEventsForToday", "isDoNotDisturbOn",
            "showDoNotDisturb", "showEditReminderWithTemplate", "showNewReminderDialog",
            "showQuickReminder", "showReminderList", "showTemplateList", "showCategoryList",
            "showSoundList", "showAboutWindow", "showHelpWindow", "quit"));
    /** Bounds a generated list, so that a wrong count cannot exhaust the heap. */
    private static final long kMaxGenerated = 100000;
    /** One day: any longer wait is a mistake, and the bound keeps ms * 1e6 in a long. */
    private static final long kMaxMillis = 24L * 60 * 60 * 1000;

    private static TAppData sLoaded;

    private final List<String> mTemplates = new ArrayList<String>();
    private boolean mTemplatesNull;
    private final List<String> mEvents = new ArrayList<String>();
    private boolean mEventsNull;
    private boolean mDoNotDisturb;
    private final Set<String> mThrowing = new HashSet<String>();
    private final Map<String, Long> mSleeping = new HashMap<String, Long>();
    private long mEndAfterMs = -1;
    private boolean mExitOnQuit;
    private int mExitStatus;

    private TAppData() {
    }

    /** The data of this process, loaded on first use; any thread may call. */
    public static synchronized TAppData get() {
        if (sLoaded == null) {
            sLoaded = load(System.getenv("CHIMELET_APP_DATA"));
        }
        return sLoaded;
    }

    /** A fresh copy of the template texts, or null when the data asks for null. */
    public String[] templateList() {
        return mTemplatesNull ? null : mTemplates.toArray(new String[mTemplates.size()]);
    }

    /** A fresh copy of today's events as time/text pairs, or null when asked. */
    public String[] eventsForToday() {
        return mEventsNull ? null : mEvents.toArray(new String[mEvents.size()]);
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
        Long ms = mSleeping.get(method);
        if (ms != null) {
            sleepFor(ms.longValue());
        }
        if (mThrowing.contains(method)) {
            throw new RuntimeException("test data asks " + method + " to throw");
        }
    }

    private static void sleepFor(long ms) {
        long deadline = System.nanoTime() + ms * 1000000L;
        boolean interrupted = false;
        for (long left = ms; left > 0; left = (deadline - System.nanoTime() + 999999L) / 1000000L) {
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
        if (path == null || path.isEmpty()) {
            data.fillSample();
            return data;
        }
        try (BufferedReader in = new BufferedReader(new InputStreamReader(
                new FileInputStream(path), Charset.forName("UTF-8")))) {
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
        }
        return data;
    }

    private static void reportProblem(String text) {
        System.err.println("chimelet: data problem: " + text);
        TCallLog.record("data problem: " + text);
    }

    private void fillSample() {
        mTemplates.add("Morning stand-up");
        mTemplates.add("Take a break");
        mTemplates.add("Water the plants");
        mEvents.add("09:30");
        mEvents.add("Dentist");
        mEvents.add("14:00");
        mEvents.add("Call the bank");
    }

    /**
     * Applies one line of the data file; returns null, or what is wrong with it.
     * Keys are trimmed, values are taken verbatim (leading and trailing spaces are
     * menu text too). A line without "=" is a key with no value, which the flag and
     * count keys accept.
     */
    private String apply(String line) {
        String trimmed = line.trim();
        if (trimmed.isEmpty() || trimmed.startsWith("#")) {
            return null;
        }
        int eq = line.indexOf('=');
        String key = (eq < 0 ? line : line.substring(0, eq)).trim();
        String value = eq < 0 ? null : line.substring(eq + 1);
        switch (key) {
        case "template":
            if (value == null) {
                return "template needs a value";
            }
            mTemplates.add(value);
            return null;
        case "template-null":
            return addNulls(mTemplates, value);
        case "templates": {
            long n = parseCount(value, kMaxGenerated);
            if (n < 0) {
                return "templates needs a count from 0 to " + kMaxGenerated;
            }
            for (long i = 0; i < n; ++i) {
                mTemplates.add("Template " + mTemplates.size());
            }
            return null;
        }
        case "templates-null": {
            Boolean on = parseFlag(value);
            if (on == null) {
                return "templates-null needs true or false";
            }
            mTemplatesNull = on.booleanValue();
            return null;
        }
        case "event": {
            int bar = value == null ? -1 : value.indexOf('|');
            if (bar < 0) {
                return "event needs <time>|<text>";
            }
            mEvents.add(value.substring(0, bar));
            mEvents.add(value.substring(bar + 1));
            return null;
        }
        case "event-element":
            if (value == null) {
                return "event-element needs a value";
            }
            mEvents.add(value);
            return null;
        case "event-null":
            return addNulls(mEvents, value);
        case "events": {
            long n = parseCount(value, kMaxGenerated);
            if (n < 0) {
                return "events needs a count from 0 to " + kMaxGenerated;
            }
            for (long i = 0; i < n; ++i) {
                int pair = mEvents.size() / 2;
                mEvents.add(String.format(Locale.ROOT, "%02d:%02d", (pair / 60) % 24, pair % 60));
                mEvents.add("Event " + pair);
            }
            return null;
        }
        case "events-null": {
            Boolean on = parseFlag(value);
            if (on == null) {
                return "events-null needs true or false";
            }
            mEventsNull = on.booleanValue();
            return null;
        }
        case "dnd": {
            Boolean on = parseFlag(value);
            if (on == null) {
                return "dnd needs true or false";
            }
            mDoNotDisturb = on.booleanValue();
            return null;
        }
        case "throw":
            if (value == null || !kMethods.contains(value.trim())) {
                return "throw needs a method name, not " + value;
            }
            mThrowing.add(value.trim());
            return null;
        case "sleep": {
            int bar = value == null ? -1 : value.indexOf('|');
            String method = bar < 0 ? null : value.substring(0, bar).trim();
            long ms = bar < 0 ? -1 : parseCount(value.substring(bar + 1), kMaxMillis);
            if (method == null || !kMethods.contains(method) || ms < 0) {
                return "sleep needs <method>|<milliseconds up to " + kMaxMillis + ">";
            }
            mSleeping.put(method, Long.valueOf(ms));
            return null;
        }
        case "end-after-ms": {
            long ms = parseCount(value, kMaxMillis);
            if (ms < 0) {
                return "end-after-ms needs milliseconds from 0 to " + kMaxMillis;
            }
            mEndAfterMs = ms;
            return null;
        }
        case "exit-on-quit":
            try {
                mExitStatus = Integer.parseInt(value == null ? "" : value.trim());
                mExitOnQuit = true;
                return null;
            } catch (NumberFormatException e) {
                return "exit-on-quit needs an exit status";
            }
        default:
            return "unknown key \"" + key + "\"";
        }
    }

    private static String addNulls(List<String> list, String value) {
        long n = value == null || value.trim().isEmpty() ? 1 : parseCount(value, kMaxGenerated);
        if (n < 0) {
            return "a null count must be from 0 to " + kMaxGenerated;
        }
        for (long i = 0; i < n; ++i) {
            list.add(null);
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
