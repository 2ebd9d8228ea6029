#!/usr/bin/env python3
"""Where one menu opening's instructions go, from a callgrind profile of
chimelet_bench_menu --only shell (collection toggled on around
BuildNotifyIconMenu and DestroyMenu, so only openings are in it).

    profile_shares.py <callgrind.out> <openings>
    profile_shares.py --check      (its own checks)

Prints, per opening, the instructions of
  - the stand-in Java runtime: every call from outside libfakejvm into it,
    and within that what its logging, locking, reference checks and Java
    side (the list answers) cost;
  - the Win32 stand-in's menu and string calls the shell makes;
  - the rest: the shell's own code (and the C library calls it makes).

Costs are callgrind's inclusive costs of the call sites, so a part is all
the work done on its behalf, allocations included.
"""
import collections
import re
import sys

from script_checks import command_line

# The Win32 calls of a menu opening (winstub, linked into the program).
WIN32_CALLS = {"InsertMenuItemA", "AppendMenuA", "CreatePopupMenu", "DestroyMenu", "LoadStringA",
               "GetModuleHandleA", "lstrlenA"}

# Parts of the stand-in runtime, by the function called from within it.
STAND_IN_PARTS = [
    ("logging", re.compile(r"^fakejvm::Log\(")),
    ("locking", re.compile(r"^(pthread_mutex_(un)?lock|std::mutex::lock|__GI___pthread_mutex_(un)?lock)")),
    ("reference checks", re.compile(r"^fakejvm::Resolve\(")),
    ("Java side (list answers)", re.compile(r"^fakejvm::InvokeJava\(")),
]

NAMED = re.compile(r"^\((\d+)\)(?: (.*))?$")


class Names:
    """callgrind's name compression: "(id) name" defines, "(id)" refers."""

    def __init__(self):
        self.by_id = {}

    def read(self, text):
        m = NAMED.match(text.strip())
        if not m:
            return text.strip()
        if m.group(2) is not None:
            self.by_id[m.group(1)] = m.group(2)
        return self.by_id.get(m.group(1), "?")


def base_name(fn):
    """The callee's bare name: "InsertMenuItemA" from "InsertMenuItemA'2"."""
    return fn.split("'")[0]


def shares(lines):
    """Totals of a callgrind profile: (whole, stand-in, Win32 stand-in,
    {part of the stand-in: cost})."""
    objects, functions = Names(), Names()
    ob = fn = cob = cfn = None
    pending_call = False
    total = 0
    stand_in = 0
    win32 = 0
    parts = collections.Counter()

    for line in lines:
        if line.startswith("ob="):
            ob = objects.read(line[3:])
        elif line.startswith("fn="):
            fn = functions.read(line[3:])
            cob, cfn = ob, None
        elif line.startswith("cob="):
            cob = objects.read(line[4:])
        elif line.startswith("cfn="):
            cfn = functions.read(line[4:])
        elif line.startswith("calls="):
            pending_call = True
        elif line[:1].isdigit() or line[:1] in "+-*":
            fields = line.split()
            cost = int(fields[1]) if len(fields) > 1 else 0
            if not pending_call:
                total += cost
                continue
            pending_call = False
            caller_in_stand_in = "fakejvm" in (ob or "")
            callee_in_stand_in = "fakejvm" in (cob or "")
            if callee_in_stand_in and not caller_in_stand_in:
                stand_in += cost
            elif not caller_in_stand_in and base_name(cfn or "") in WIN32_CALLS \
                    and base_name(fn or "") not in WIN32_CALLS and "winstub::" not in (fn or ""):
                win32 += cost
            if caller_in_stand_in and base_name(fn or "") != base_name(cfn or ""):
                for part, pattern in STAND_IN_PARTS:
                    if pattern.match(cfn or ""):
                        parts[part] += cost
            # A callee's object is given for one call only.
            cob = ob
    return total, stand_in, win32, dict(parts)


# Small profiles in callgrind's format and what they must add up to. An
# opening of 900 instructions: 100 in the shell, 500 in the stand-in (150
# of them its log), 300 in InsertMenuItemA.
CHECKS = [
    ("calls across objects, names compressed",
     """events: Ir
ob=(1) /b/chimelet_bench_menu
fl=(1) TrayMenu.cpp
fn=(1) BuildNotifyIconMenu()
10 100
cob=(2) /b/libfakejvm.so
cfl=(2) fakejvm_env.cpp
cfn=(2) fakejvm::GetObjectArrayElement(JNIEnv_*)
calls=3 0
11 500
cfn=(3) InsertMenuItemA
calls=2 0
12 300
ob=(2)
fl=(2)
fn=(2)
20 350
cfn=(4) fakejvm::Log(fakejvm::State&)
calls=1 0
21 150
fn=(4)
30 150
ob=(1)
fn=(3)
40 300
""", (900, 500, 300, {"logging": 150})),
    ("calls within the stand-in and within winstub are not entries",
     """events: Ir
ob=(1) /b/libfakejvm.so
fn=(1) fakejvm::Resolve(fakejvm::State&)
10 40
cfn=(2) fakejvm::Resolve(fakejvm::State&)'2
calls=1 0
11 40
ob=(2) /b/chimelet_bench_menu
fn=(3) winstub::(anonymous namespace)::FindItem()
20 60
cfn=(4) InsertMenuItemA
calls=1 0
21 10
fn=(4)
30 10
""", (110, 0, 0, {})),
]


def main():
    path, openings = command_line("profile_shares.py <callgrind.out> <openings>", 2, CHECKS,
                                  lambda text: shares(text.splitlines()))
    openings = int(openings)
    with open(path, encoding="utf-8", errors="replace") as f:
        total, stand_in, win32, parts = shares(f)

    if total == 0 or openings <= 0:
        sys.exit("profile_shares.py: no cost in the profile")

    def row(name, cost, indent=""):
        print("PROFILE %-44s %12.0f Ir/opening %6.1f%%" % (indent + name, cost / openings, 100.0 * cost / total))

    row("whole opening", total)
    row("stand-in Java runtime (libfakejvm)", stand_in)
    for part, _ in STAND_IN_PARTS:
        row(part, parts.get(part, 0), "  ")
    row("rest of the stand-in (allocation, copies)", stand_in - sum(parts.values()), "  ")
    row("Win32 stand-in (menu and string calls)", win32)
    row("shell's own code", total - stand_in - win32)


if __name__ == "__main__":
    main()
