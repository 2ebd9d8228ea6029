// What Chimelet's native tray shell may ask of the application.
package com.norvanta.kelvarin.data;

import com.norvanta.kelvarin.main.TApplication;

/**
 * The shell finds this class by name and calls its static methods by name and JNI
 * signature from its tray thread, one call at a time, and handles no tray message
 * until the call returns. So nothing here waits for the user: this build has no
 * windows, and a "show" method records that it was asked and returns.
 *
 * Every method first appends its line to the call log (its name, and for
 * showEditReminderWithTemplate a space and the index), then sleeps or throws if the
 * test data asks (see {@link TAppData#behave}), then does its work. Any thread may
 * call; the shell's tray thread is the only caller in the product.
 */
public final class TExternalDataInterface {
    /** Null until first asked: loading the class must not load the data, or problems
     *  in the data file would be logged before "main". */
    private static Boolean sDoNotDisturb;

    private TExternalDataInterface() {
    }

    /** "()[Ljava/lang/String;": the template texts in menu order, a fresh array, or null. */
    public static String[] getTemplateList() {
        called("getTemplateList");
        return TAppData.get().templateList();
    }

    /**
     * "()[Ljava/lang/String;": today's events, elements 2k and 2k+1 being the time and
     * the text of one event; empty when there are none; a fresh array, or null.
     */
    public static String[] getEventsForToday() {
        called("getEventsForToday");
        return TAppData.get().eventsForToday();
    }

    /** "()Z": true while reminders are suspended. */
    public static synchronized boolean isDoNotDisturbOn() {
        called("isDoNotDisturbOn");
        return doNotDisturb();
    }

    /** "()V": the tray item in both of its states, so it toggles. */
    public static synchronized void showDoNotDisturb() {
        called("showDoNotDisturb");
        sDoNotDisturb = doNotDisturb() ? Boolean.FALSE : Boolean.TRUE;
    }

    /**
     * "(I)V": edit a new reminder from the template at that index of
     * getTemplateList. Any index is recorded as given, a wrong one included: the log
     * is how a test sees what the shell passed.
     */
    public static void showEditReminderWithTemplate(int inTemplateIndex) {
        TCallLog.record("showEditReminderWithTemplate " + inTemplateIndex);
        TAppData.get().behave("showEditReminderWithTemplate");
    }

    /** "()V" */
    public static void showNewReminderDialog() {
        called("showNewReminderDialog");
    }

    /** "()V" */
    public static void showQuickReminder() {
        called("showQuickReminder");
    }

    /** "()V": also what a refused second start of the shell asks for. */
    public static void showReminderList() {
        called("showReminderList");
    }

    /** "()V" */
    public static void showTemplateList() {
        called("showTemplateList");
    }

    /** "()V" */
    public static void showCategoryList() {
        called("showCategoryList");
    }

    /** "()V" */
    public static void showSoundList() {
        called("showSoundList");
    }

    /** "()V" */
    public static void showAboutWindow() {
        called("showAboutWindow");
    }

    // The build makes a second jar from this file with the marked block cut out, for
    // tests of a method the shell cannot find. Keep the markers on lines of their own.
    //@lacking-jar-omit-begin
    /** "()V" */
    public static void showHelpWindow() {
        called("showHelpWindow");
    }
    //@lacking-jar-omit-end

    /**
     * "()V": the last call from the shell. Ends the application thread, after which
     * the shell's DestroyJavaVM can return. When the test data sets exit-on-quit, the
     * process ends here instead, with that status, after a line "exit <status>"; the
     * application thread is then not asked to end, so that no "application end" line
     * races with the exit.
     */
    public static void quit() {
        called("quit");
        TAppData data = TAppData.get();
        if (data.exitsOnQuit()) {
            TCallLog.record("exit " + data.exitStatus());
            System.exit(data.exitStatus());
        }
        TApplication.end();
    }

    private static synchronized boolean doNotDisturb() {
        if (sDoNotDisturb == null) {
            sDoNotDisturb = TAppData.get().initialDoNotDisturb() ? Boolean.TRUE : Boolean.FALSE;
        }
        return sDoNotDisturb.booleanValue();
    }

    private static void called(String method) {
        TCallLog.record(method);
        TAppData.get().behave(method);
    }
}
