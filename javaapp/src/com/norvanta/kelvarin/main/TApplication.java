// Chimelet's main class: starts the application and gives the thread back.
package com.norvanta.kelvarin.main;

import com.norvanta.kelvarin.data.TAppData;
import com.norvanta.kelvarin.data.TCallLog;

/**
 * The native shell calls main on its own main thread, with a null array, and binds
 * its tray to the application only once main has returned; that thread then waits in
 * DestroyJavaVM until no other non-daemon thread is left. So main starts the
 * application on a non-daemon thread and returns at once, and that thread lives
 * until quit (or, when the test data sets end-after-ms, until that time is up) and
 * then ends, which lets DestroyJavaVM return. Nothing here calls System.exit.
 */
public final class TApplication {
    private static final Object sLock = new Object();
    private static boolean sStarted;
    private static boolean sEndRequested;

    private TApplication() {
    }

    /**
     * Logs "main" ("main args=<n>" for a non-null array), starts the application
     * thread once however often it is called, and returns; a "sleep" or "throw" for
     * main in the test data acts after the thread has started, so a throwing main
     * still leaves a running application, as a real failure late in start-up would.
     */
    public static void main(String[] args) {
        TCallLog.record(args == null ? "main" : "main args=" + args.length);
        TAppData data = TAppData.get();
        startOnce(data.endAfterMs());
        data.behave("main");
    }

    /** Asks the application thread to end; any thread, any number of times, even before main. */
    public static void end() {
        synchronized (sLock) {
            sEndRequested = true;
            sLock.notifyAll();
        }
    }

    private static void startOnce(final long lifetimeMs) {
        synchronized (sLock) {
            if (sStarted) {
                return;
            }
            sStarted = true;
        }
        Thread app = new Thread(new Runnable() {
            public void run() {
                runApplication(lifetimeMs);
            }
        }, "Chimelet application");
        // A new thread inherits daemon status from its creator. The shell's main
        // thread is not a daemon, but a harness may call main from one, and a daemon
        // here would let the VM end before quit.
        app.setDaemon(false);
        app.start();
    }

    /** The 1.3 library has no monotonic clock: a change of the system time moves
     *  the end of a limited lifetime with it. */
    private static void runApplication(long lifetimeMs) {
        long deadline = System.currentTimeMillis() + Math.max(lifetimeMs, 0);
        synchronized (sLock) {
            while (!sEndRequested) {
                long waitMs = 0;
                if (lifetimeMs >= 0) {
                    waitMs = deadline - System.currentTimeMillis();
                    if (waitMs <= 0) {
                        break;
                    }
                }
                try {
                    sLock.wait(waitMs);
                } catch (InterruptedException e) {
                    // Only end() ends the application; an interrupt from elsewhere does not.
                }
            }
        }
        TCallLog.record("application end");
    }
}
