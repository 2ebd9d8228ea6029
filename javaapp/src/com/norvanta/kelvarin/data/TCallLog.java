// The record of what the application was asked to do, for tests to read.
package com.norvanta.kelvarin.data;

import java.io.FileOutputStream;
import java.io.IOException;
import java.io.UnsupportedEncodingException;

/**
 * Appends one line per event to the file that CHIMELET_APP_LOG names; without that
 * variable nothing is written. Each line reaches the file with a single write on an
 * unbuffered stream opened for appending, so a test may read the file while the
 * process still runs, and the lines of a process killed mid-run are all there.
 * Lines end with "\n" alone and are UTF-8.
 */
public final class TCallLog {
    private static final Object sLock = new Object();
    private static boolean sOpened;
    private static FileOutputStream sOut;

    private TCallLog() {
    }

    /**
     * Appends {@code line}; any thread may call. A line break inside the text would
     * split one entry into two for the reader, so it becomes a space. A log that
     * cannot be opened or written is reported once on the error stream and then
     * left alone: the application works on without it.
     */
    public static void record(String line) {
        byte[] bytes;
        try {
            bytes = (line.replace('\r', ' ').replace('\n', ' ') + "\n").getBytes("UTF-8");
        } catch (UnsupportedEncodingException e) {
            throw new InternalError("every Java runtime has UTF-8");
        }
        synchronized (sLock) {
            if (!sOpened) {
                sOpened = true;
                sOut = open();
            }
            if (sOut == null) {
                return;
            }
            try {
                sOut.write(bytes);
            } catch (IOException e) {
                System.err.println("chimelet: call log not writable: " + e);
                sOut = null;
            }
        }
    }

    private static FileOutputStream open() {
        String path = TAppData.environment("CHIMELET_APP_LOG");
        if (path == null || path.length() == 0) {
            return null;
        }
        try {
            return new FileOutputStream(path, true);
        } catch (IOException e) {
            System.err.println("chimelet: call log " + path + " not opened: " + e);
            return null;
        }
    }
}
