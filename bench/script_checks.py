"""What the benchmark's Python scripts share: a table of their own checks,
run with --check (scripts/bench runs them before it uses the scripts), and
the command line around it."""
import sys


def failed_checks(cases, compute):
    """Runs compute(*args) for each case (name, *args, expected), reports
    each difference on stderr and answers how many cases failed."""
    failed = 0
    for name, *args, expected in cases:
        got = compute(*args)
        if got != expected:
            print("check failed: %s: got %r, expected %r" % (name, got, expected), file=sys.stderr)
            failed += 1
    return failed


def command_line(usage, count, cases, compute):
    """The arguments of `<usage> | --check`. With --check, runs the checks
    and exits (1 when any failed); exits with the usage unless there are
    exactly `count` arguments."""
    if sys.argv[1:] == ["--check"]:
        sys.exit(1 if failed_checks(cases, compute) else 0)
    if len(sys.argv) != count + 1:
        sys.exit("usage: %s | --check" % usage)
    return sys.argv[1:]
