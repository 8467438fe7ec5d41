#!/usr/bin/env python3
"""Planted faults: puts one fault at a time into the sources (a line's text
replaced, as listed in tools/mutations.txt), builds what the listed tests
need, runs those tests and puts the source back. A fault the tests catch
makes one of them fail; one that survives shows a decision no test holds.

    bash tools/with-wine.sh python3 tools/mutate.py               # every fault listed
    bash tools/with-wine.sh python3 tools/mutate.py --changed main  # faults in files changed since main
    python3 tools/mutate.py --list --changed main                  # what would run; files without faults

Run it from the repository's root on a built tree (make test first); the
build folder is tools/wine-arch.sh's unless --build names one."""
import argparse
import os
import re
import signal
import subprocess
import sys
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
LIST = os.path.join(ROOT, "tools", "mutations.txt")
# The programs the whole-program scenarios run.
PROGRAMS = ["ZeltoSetup", "ZeltoSetupSampleKey", "ZeltoSetupRootKeys", "ZeltoSetupKillSteps", "ZeltoDriver"]


class Fault:
    def __init__(self, fields, line):
        self.line = line
        self.file = fields.get("file", "")
        self.find = fields.get("find", "")
        self.into = fields.get("into", "")
        self.tests = fields.get("tests", "").split()
        self.why = fields.get("why", "")
        self.env = dict(item.split("=", 1) for item in fields.get("env", "").split() if "=" in item)
        if not self.file or not self.find or not self.tests:
            raise SystemExit("%s:%d: a fault needs file, find and tests" % (LIST, line))


def read_faults(path=LIST):
    """Blocks of "key: value" lines separated by blank lines; # starts a comment line."""
    faults, fields, start = [], {}, 0
    with open(path, encoding="utf-8") as fh:
        lines = fh.read().splitlines() + [""]
    for number, text in enumerate(lines, 1):
        if text.startswith("#"):
            continue
        if not text.strip():
            if fields:
                faults.append(Fault(fields, start))
            fields = {}
            continue
        key, sep, value = text.partition(":")
        if not sep or key not in ("file", "find", "into", "tests", "env", "why"):
            raise SystemExit("%s:%d: expected file:, find:, into:, tests:, env: or why:" % (path, number))
        if not fields:
            start = number
        fields[key] = value[1:] if value.startswith(" ") else value
    return faults


def changed_files(since):
    out = subprocess.run(["git", "diff", "--name-only", since, "--"], cwd=ROOT, check=True,
                         stdout=subprocess.PIPE).stdout.decode()
    return {name for name in out.split() if name.startswith("src/")}


def targets_of(tests):
    found = []
    for test in tests:
        if test.startswith("tools_"):   # the operators' tools: Python, nothing to build
            continue
        for target in (PROGRAMS if test.startswith("e2e_") else [test]):
            if target not in found:
                found.append(target)
    return found


def build(folder, targets):
    if not targets:
        return True
    return subprocess.run(["cmake", "--build", folder, "-j", str(os.cpu_count() or 2), "--target"] + targets,
                          cwd=ROOT, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0


def run_tests(folder, tests, env):
    """True when every test passed."""
    pattern = "^(%s)$" % "|".join(re.escape(t) for t in tests)
    return subprocess.run(["ctest", "--test-dir", folder, "-R", pattern], cwd=ROOT, env=dict(os.environ, **env),
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0


def plant(fault, folder):
    """'caught', 'survived' or 'no build' (the fault does not compile: fix the list)."""
    path = os.path.join(ROOT, fault.file)
    with open(path, encoding="utf-8", newline="") as fh:
        original = fh.read()
    if original.count(fault.find) != 1:
        return "not found once"
    try:
        with open(path, "w", encoding="utf-8", newline="") as fh:
            fh.write(original.replace(fault.find, fault.into))
        if not build(folder, targets_of(fault.tests)):
            return "no build"
        return "survived" if run_tests(folder, fault.tests, fault.env) else "caught"
    finally:
        with open(path, "w", encoding="utf-8", newline="") as fh:
            fh.write(original)


def main():
    # Ended by a signal (a time limit, a kill), the planted fault's finally
    # still puts the source back.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    signal.signal(signal.SIGHUP, lambda *_: sys.exit(129))
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", help="the build folder (default: the one tools/wine-arch.sh names)")
    parser.add_argument("--changed", metavar="REV", help="only the faults in source files changed since REV")
    parser.add_argument("--file", action="append", default=[], help="only the faults in this file (repeatable)")
    parser.add_argument("--list", action="store_true", help="say what would run, run nothing")
    args = parser.parse_args()

    faults = read_faults()
    files = set(args.file)
    if args.changed:
        changed = changed_files(args.changed)
        listed = {f.file for f in faults}
        for name in sorted(changed - listed):
            print("no fault listed for %s (changed since %s)" % (name, args.changed))
        files |= changed
    if files:
        faults = [f for f in faults if f.file in files]
    if args.list:
        for fault in faults:
            print("%s: %r -> %r (%s)" % (fault.file, fault.find, fault.into, " ".join(fault.tests)))
        return 0

    folder = args.build
    if not folder:
        folder = "build/" + subprocess.run(["bash", "tools/wine-arch.sh"], cwd=ROOT, check=True,
                                           stdout=subprocess.PIPE).stdout.decode().split("BUILD=build/")[-1].split()[0]
    results = []
    try:
        for fault in faults:
            started = time.time()
            verdict = plant(fault, folder)
            results.append((fault, verdict))
            print("%-9s %s (mutations.txt:%d) %s: %r -> %r (%s, %.0f s)"
                  % (verdict, fault.file, fault.line, " ".join(fault.tests), fault.find, fault.into,
                     fault.why or "-", time.time() - started), flush=True)
    finally:
        # The build matches the sources again.
        build(folder, sorted({t for f in faults for t in targets_of(f.tests)}))
    by_file = {}
    for fault, verdict in results:
        counts = by_file.setdefault(fault.file, {})
        counts[verdict] = counts.get(verdict, 0) + 1
    print("\nper file:")
    for name, counts in sorted(by_file.items()):
        print("  %-45s %s" % (name, ", ".join("%s %d" % item for item in sorted(counts.items()))))
    bad = [f for f, v in results if v not in ("caught", "survived")]
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
