#!/usr/bin/env python3
"""The demo: serves the bundled sample repository (tests/data/repository and
the built components) from the local content server, installs it with
ZeltoSetup.exe the way the portal's web page starts it, then runs the
uninstall wizard ("-u") and removes everything again.

Without a display of its own (under the Xvfb that tools/with-wine.sh starts)
it presses the buttons itself and saves a screenshot of every screen into
build/demo/; with a DISPLAY the person at it clicks. It ends by printing the
statuses the starting window received, what was installed where, what the
uninstall left, and the screenshots' paths. Run it through `make demo`.

DEMO_MODE=<mode> runs another mode of the repository; DEMO_REPOSITORY=<folder>
serves that folder (laid out <host>/<path>) in front of the bundled one, to
try a catalogue before publishing it."""
import os
import subprocess
import sys
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
BUILD = os.environ.get("ZELTO_BUILD") or os.path.join(ROOT, "build")
BIN = os.environ.get("ZELTO_BIN") or os.environ.get("ZELTO_WIN") or os.path.join(BUILD, "win")
DEMO = os.path.join(BUILD, "demo")
STATE = os.path.join(DEMO, "content")
os.environ["ZELTO_CONTENT_STATE"] = STATE

sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import zelto_e2e as z  # noqa: E402

# The program built with the sample key, unless an operator's repository is tried.
SIGNED = not os.environ.get("DEMO_REPOSITORY")
EXE = os.path.join(BIN, "sample-key", "ZeltoSetup-SAMPLE-KEY.exe") if SIGNED else z.EXE
LOG = os.path.join(os.path.dirname(EXE), "ZeltoOmbrix.log")

z.SHOTS = DEMO
HEADLESS = os.environ.get("ZELTO_HEADLESS") == "1"
MODE = os.environ.get("DEMO_MODE") or "zeltosetup"
DOC = z.SAMPLE_DOC.replace("<MODE>zeltosetup</MODE>", "<MODE>%s</MODE>" % MODE)
SESSION_MANAGER = r"HKLM\System\CurrentControlSet\Control\Session Manager"
STATUS_NAMES = {20: "install mode begins", 21: "catalogue download", 22: "catalogue reading",
                30: "download percent", 40: "installation starts", 90: "restart needed, declined",
                91: "restart accepted", 100: "finished", 101: "catalogue or install failed",
                102: "user cancelled", 106: "progress window not created"}


def server(*args):
    return subprocess.run([sys.executable, os.path.join(ROOT, "tools", "content_server.py")] + list(args),
                          stdout=subprocess.PIPE, stdin=subprocess.DEVNULL, timeout=60)


def registry_tree(key):
    out = subprocess.run(["bash", "-c", 'source "$0"; wine reg query "$1" /s $ZELTO_REG_VIEW',
                          os.path.join(ROOT, "tools", "wine-env.sh"), key],
                         stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                         env=dict(os.environ, LC_ALL="ko_KR.UTF-8"), timeout=60)
    text = out.stdout.decode("cp949", "replace").strip()
    return text if out.returncode == 0 and text else None


def installed_files():
    if not os.path.isdir(z.OMBRIX_DIR):
        return []
    return sorted((name, os.path.getsize(os.path.join(z.OMBRIX_DIR, name))) for name in os.listdir(z.OMBRIX_DIR))


class Shots:
    """Screenshots of the screens as the driver holds before each step."""

    def __init__(self, names):
        self.names = names
        self.paths = []
        self.rects = {}

    def window(self, run, window):
        self.rects["last"] = window["rect"]
        if 1012 in window["ids"]:
            self.rects["wizard"] = window["rect"]
        if 1000 in window["ids"] and "progress" in self.names:
            time.sleep(0.6)
            self.paths.append(z.screenshot_window(self.names["progress"], window["rect"]))

    def wait(self, run, step):
        name = self.names.get(step)
        if name:
            time.sleep(0.6)
            self.paths.append(z.screenshot_window(name, self.rects.get("wizard") or self.rects["last"]))


def run_program(args, steps, names):
    shots = Shots(names if HEADLESS else {})
    run = z.run_driver(args, exe=EXE, presses=steps if HEADLESS else [], hold_ms=1500, timeout=120 if HEADLESS else 900,
                       on_window=shots.window, on_wait=shots.wait, add_w=args[0] != "-u")
    return run, shots.paths


def main():
    os.makedirs(DEMO, exist_ok=True)
    for name in os.listdir(DEMO):
        if name.endswith(".png"):
            os.remove(os.path.join(DEMO, name))
    # The sample repository as the build stamped and signed it, for the
    # program built with the sample key; an operator's own repository goes
    # to the program that accepts unsigned catalogues.
    roots = [os.path.abspath(os.environ["DEMO_REPOSITORY"])] if os.environ.get("DEMO_REPOSITORY") else []
    roots += [os.path.join(BIN, "sample-repository"), os.path.join(ROOT, "tests", "data", "repository"),
              os.path.join(BIN, "published")]
    if server("start", "--state", STATE, *[arg for root in roots for arg in ("--root", root)]).returncode != 0:
        print("demo: the content server did not start")
        return 1
    with open(os.path.join(STATE, "port")) as f:
        os.environ["http_proxy"] = "http://127.0.0.1:" + f.read().strip()
    try:
        # A machine without the sample components; downloads slowed a little
        # so that the progress window can be seen.
        z.reset_installation()
        z.set_rules(dict(z.SAMPLE_RULES, **{
            "down.zelto.com/zelto/zeltosetup/components/v1005/ZeltoTestCtl.dll": {"trickle": [32768, 60]},
            "down.zelto.com/zelto/zeltosetup/components/zipped/ZeltoTestCtl2.zip": {"trickle": [32768, 60]}}))
        z.set_log_level(2)
        if os.path.exists(LOG):
            os.remove(LOG)
        print("== install: ZeltoSetup.exe -w <window> -x '%s'" % DOC)
        if not HEADLESS:
            print("   (the windows are on your display: answer them)")
        install, install_shots = run_program(["-x", DOC], [1],
                                             {0: "1-install-notification", "progress": "2-install-progress"})
        print("   statuses the starting window received:")
        last = None
        for code, data, _ in install.statuses:
            if code == 30 and last == 30:
                continue
            last = code
            print("     %3d  %s" % (code, STATUS_NAMES.get(code, "")))
        log = z.read_log(LOG)
        if SIGNED and "zeltosetup.xml.sig verified" in log and "SHA256 mismatch" not in log:
            print("   the catalogue's signature (sample key) and every downloaded file's SHA-256 were checked")
        print("   installed files in %s:" % z.OMBRIX_DIR)
        for name, size in installed_files():
            print("     %-20s %9d bytes" % (name, size))
        print("   the uninstall records (%s):" % z.UNINSTALL_KEY)
        for line in (registry_tree(z.UNINSTALL_KEY) or "(none)").splitlines():
            print("     " + line)

        print("== uninstall: ZeltoSetup.exe -u")
        if not HEADLESS:
            print("   (tick the items and press 제거)")
        removal, removal_shots = run_program(["-u"], [1012, ("tick", 0), ("tick", 1), ("again", 1012), ("again", 1012)],
                                             {0: "3-uninstall-start", 1: "4-uninstall-list",
                                              3: "5-uninstall-list-ticked", 4: "6-uninstall-end"})
        print("   the program ended with %s" % ("a time-out" if removal.timed_out else removal.exit_code))
        print("   the uninstall records afterwards: %s" % (registry_tree(z.UNINSTALL_KEY) or "gone"))
        print("   files left in %s: %s" % (z.OMBRIX_DIR, ", ".join(n for n, _ in installed_files()) or "none"))
        pending = z.reg_value(SESSION_MANAGER, "PendingFileRenameOperations")
        if pending:
            print("   scheduled for deletion at the next restart: %s" % pending.replace("\\0", " ").strip())
        print("== the log: %s" % LOG)
        shots = install_shots + removal_shots
        if shots:
            print("== screenshots:")
            for path in shots:
                print("   " + path)
        ok = install.statuses and install.statuses[-1][0] == 100 and not removal.timed_out
        return 0 if ok else 1
    finally:
        # The removal scheduled the program's own deletion: not in this prefix.
        z.reg("delete", SESSION_MANAGER, "/v", "PendingFileRenameOperations", "/f")
        z.set_log_level(None)
        server("stop", "--state", STATE)


if __name__ == "__main__":
    sys.exit(main())
