#!/usr/bin/env python3
"""The benchmark's one table, from the RESULT, RATIO and FACT lines that the
benchmark programs printed (each name prefixed with where it ran, "host:" or
"wine:"):

    bench_table.py <results-file>
    bench_table.py --check      (its own checks)

Prints a Markdown table: each row one measurement of Chimelet against its
floor, the medians with their interquartile range, the ratio of the medians,
the median of the round-by-round ratios with its quartiles, and the target.
Rows without a target break a missed target down. Exit code 0 whatever was
met: a benchmark reports, it does not judge.
"""
import re

from script_checks import command_line

LINE = re.compile(r"^(RESULT|RATIO|FACT) (\S+) ?(.*)$")

# Beyond this interquartile range (in percent of the median) a series is too
# scattered to judge a target by: other work on the machine, as a rule.
STEADY_IQR = 20


def read(path):
    results, ratios, facts = {}, {}, {}
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            m = LINE.match(line.strip())
            if not m:
                continue
            kind, name, rest = m.groups()
            if kind == "FACT":
                facts[name] = rest
                continue
            values = dict(pair.split("=", 1) for pair in rest.split() if "=" in pair)
            record = {k: float(v) for k, v in values.items()}
            (results if kind == "RESULT" else ratios)[name] = record
    return results, ratios, facts


def time_text(us):
    return "%.0f µs" % us if us < 10000 else "%.1f ms" % (us / 1000.0)


def spread(r):
    return 100.0 * (r["q3"] - r["q1"]) / r["median"] if r["median"] > 0 else 0.0


def measured(r):
    return "%s (IQR %.0f%%, n=%d)" % (time_text(r["median"]), spread(r), r["n"])


def verdict(a, b, target):
    """What a row says of its target: "" without one; no verdict when either
    series is too scattered, since the ratio of its medians is then chance."""
    if target is None:
        return ""
    if max(spread(a), spread(b)) > STEADY_IQR:
        return "unsteady (IQR > %d %%): run again" % STEADY_IQR
    return "met" if a["median"] / b["median"] <= target else "**missed**"


def series(median, q1, q3):
    return {"n": 40, "median": median, "q1": q1, "q3": q3}


# Each case guards a way a verdict could go wrong: a ratio exactly at the
# target, a scattered measured or floor series, a series just steady enough.
VERDICT_CHECKS = [
    ("no target, no verdict", series(50, 49, 51), series(40, 39, 41), None, ""),
    ("ratio at the target is met", series(55, 54, 56), series(50, 49, 51), 1.1, "met"),
    ("ratio above the target is missed", series(56, 55, 57), series(50, 49, 51), 1.1, "**missed**"),
    ("scattered measured series", series(50, 40, 60.5), series(50, 49, 51), 1.1, "unsteady (IQR > 20 %): run again"),
    ("scattered floor series", series(60, 59, 61), series(50, 30, 80), 1.1, "unsteady (IQR > 20 %): run again"),
    ("IQR of exactly 20 % is steady", series(60, 54, 66), series(50, 45, 55), 1.3, "met"),
]


def main():
    path, = command_line("bench_table.py <results-file>", 1, VERDICT_CHECKS, verdict)
    results, ratios, facts = read(path)

    rows = []
    # Where a tray click was timed as the monitor thread makes it (attach,
    # build, destroy, detach on a thread of its own), and what to call it.
    clicks = []

    def row(label, shell, floor, ratio, target):
        a, b = results.get(shell), results.get(floor)
        if not a or not b or b["median"] <= 0:
            return
        of_medians = a["median"] / b["median"]
        paired = ratios.get(ratio)
        paired_text = ("%.3f [%.3f–%.3f]" % (paired["median"], paired["q1"], paired["q3"])) if paired else "–"
        target_text = "≤ %.1f" % target if target is not None else ""
        rows.append("| %s | %s | %s | **%.3f** | %s | %s | %s |"
                    % (label, measured(a), measured(b), of_medians, paired_text, target_text,
                       verdict(a, b, target)))

    print("| Measurement | Chimelet (median) | Floor (median) | Ratio of medians | Paired ratio, median [q1–q3] | Target | |")
    print("|---|---|---|---|---|---|---|")
    row("Menu build, host stand-in: BuildNotifyIconMenu + DestroyMenu, 999 templates, 400 events",
        "host:menu.shell", "host:menu.floor", "host:menu.shell/floor", 1.3)
    row("Menu build, Wine (same)", "wine:menu.shell", "wine:menu.floor", "wine:menu.shell/floor", 1.3)
    row("Start-up under Wine: process start to tray icon",
        "wine:start.chimelet.icon", "wine:start.floor.icon", "wine:start.chimelet/floor.icon", 1.1)
    row("Second start under Wine: process start to exit, first instance running",
        "wine:second.chimelet", "wine:second.floor", "wine:second.chimelet/floor", 1.1)

    row("↳ menu, host: the shell against a JNIEnv that costs nothing (lean)",
        "host:menu.lean", "host:menu.floor", "host:menu.lean/floor", None)
    row("↳ menu, Wine: the same", "wine:menu.lean", "wine:menu.floor", "wine:menu.lean/floor", None)
    for where in ("host-vm1", "host-vm2"):
        vm = facts.get("%s:menu-realjvm.vm" % where, "")
        # .../<jdk>/lib/server/libjvm.so: the JDK's directory names it.
        parts = vm.split("/")
        label = parts[-4] if len(parts) >= 4 else vm
        row("↳ menu, host: the shell against a real VM (%s) running chimelet.jar" % label,
            "%s:menu-realjvm.shell" % where, "%s:menu-realjvm.floor" % where,
            "%s:menu-realjvm.shell/floor" % where, None)
        row("↳ tray click, host, %s: attach, build, destroy, detach on a second thread, against the floor"
            % label, "%s:menu-realjvm.click" % where, "%s:menu-realjvm.floor" % where,
            "%s:menu-realjvm.click/floor" % where, None)
        row("↳ tray click, host, %s: the same against the build alone on a thread left attached" % label,
            "%s:menu-realjvm.click" % where, "%s:menu-realjvm.held" % where,
            "%s:menu-realjvm.click/held" % where, None)
        clicks.append(("host, " + label, "%s:menu-realjvm" % where))
    row("↳ tray click, host stand-in: the same against the build alone on a thread left attached",
        "host:menu.click", "host:menu.held", "host:menu.click/held", None)
    row("↳ tray click, Wine stand-in: the same", "wine:menu.click", "wine:menu.held", "wine:menu.click/held", None)
    clicks += [("host stand-in", "host:menu"), ("Wine stand-in", "wine:menu")]
    row("↳ start-up: until the window exists", "wine:start.chimelet.window", "wine:start.floor.window",
        "wine:start.chimelet/floor.window", None)
    steps = [
        ("floor+imports", "Chimelet's imports and resources"),
        ("floor+imports+guard", "... + single-instance guard (mutex, FindWindowA)"),
        ("floor+imports+guard+thread", "... + window and icon made on a second thread"),
        ("floor+imports+guard+thread+class", "... + Chimelet's class record, TaskbarCreated"),
        ("shell-nojava", "the shell's own start-up code, without the Java start"),
    ]
    for name, label in steps:
        row("↳ start-up, floor with %s" % label if name != "shell-nojava" else "↳ start-up, %s" % label,
            "wine:start.%s.icon" % name, "wine:start.floor.icon", "wine:start.%s/floor.icon" % name, None)
    row("↳ start-up against a floor of the same thread structure (the last floor above)",
        "wine:start.chimelet.icon", "wine:start.floor+imports+guard+thread+class.icon",
        "wine:start.chimelet/floor+imports+guard+thread+class.icon", None)
    row("↳ start-up against the shell's own start-up without the Java start",
        "wine:start.chimelet.icon", "wine:start.shell-nojava.icon", "wine:start.chimelet/shell-nojava.icon", None)
    row("↳ second start: a process that ends at once (Wine's own cost)",
        "wine:second.empty", "wine:second.floor", "wine:second.empty/floor", None)

    for line in rows:
        print(line)

    size = facts.get("exe:chimelet.size")
    imports = facts.get("exe:chimelet.imports")
    if size or imports:
        print("| Chimelet.exe, 32-bit | %s bytes | imports: %s | | | | |" % (size or "?", imports or "?"))

    notes = []
    shares = []
    for label, prefix in clicks:
        click, held = results.get(prefix + ".click"), results.get(prefix + ".held")
        if click and held and click["median"] > 0:
            cost = click["median"] - held["median"]
            shares.append("%s %.0f µs (%.0f %%)" % (label, cost, 100.0 * cost / click["median"]))
    if shares:
        notes.append("attach + detach per click, its share of a click (medians): " + ", ".join(shares))
    if "wine:arch" in facts:
        notes.append("Wine rows from the %s build" % ("64-bit" if facts["wine:arch"] == "win64" else "32-bit"))
    if "host:menu.jni-calls" in facts:
        notes.append("JNI calls per opening: %s" % facts["host:menu.jni-calls"])
    if "wine:start.bound-after-icon-ms" in facts:
        notes.append("tray bound to Java %s ms after its icon" % facts["wine:start.bound-after-icon-ms"])
    if "wine:start.failed-runs" in facts:
        notes.append("failed or unclean start-up runs: %s" % facts["wine:start.failed-runs"])
    for key in ("host:busy-before", "wine:busy-before"):
        if key in facts:
            notes.append("CPUs busy with other work before the %s phase: %s%%" % (key.split(":")[0], facts[key]))
    for key in ("host:load", "wine:load"):
        if key in facts:
            notes.append("load average %s: %s" % (key.split(":")[0], facts[key]))
    if notes:
        print()
        print("; ".join(notes) + ".")

    # Start-up times are whole processes under Wine: other work on the
    # machine shows in them at once, where the in-process menu times hardly
    # move. Say so when other work kept the CPUs busy before a phase began.
    busy = []
    for key in ("host:busy-before", "wine:busy-before"):
        try:
            busy.append(int(facts.get(key, "0")))
        except ValueError:
            pass
    # On two CPUs, one kept busy leaves the benchmark enough; more does not.
    if busy and max(busy) > 60:
        print()
        print("**Warning:** other work kept the CPUs %d%% busy before a phase began: the start-up and "
              "second-start rows are not to be trusted; run again when the machine is quiet." % max(busy))


if __name__ == "__main__":
    main()
