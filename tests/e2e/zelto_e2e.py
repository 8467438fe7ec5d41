"""Helpers for the whole-program scenarios: run ZeltoSetup.exe through the
driver under Wine, read the registry, the log and the screen."""
import os
import re
import subprocess
import time
import unittest

SOURCE = os.environ.get("ZELTO_SOURCE") or os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
BIN = os.environ.get("ZELTO_BIN") or os.environ.get("ZELTO_WIN") or os.path.join(SOURCE, "build", "win")
RUNNER = os.path.join(SOURCE, "tools", "wine-run.sh")
EXE = os.path.join(BIN, "ZeltoSetup.exe")
DRIVER = os.path.join(BIN, "tools", "driver", "ZeltoDriver.exe")
LOG = os.path.join(BIN, "ZeltoOmbrix.log")
SHOTS = os.path.join(BIN, "screenshots")

LOG_KEY = r"HKLM\Software\QRV Corporation"


def win_path(unix_path):
    """The Wine (Z:) path of a Unix path."""
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


class DriverRun:
    def __init__(self):
        self.lines = []
        self.statuses = []      # (code, lparam, window class or None)
        self.windows = []       # dicts: hwnd, class, title, text, ids
        self.presses = []
        self.dialog_closed = 0
        self.exit_code = None
        self.timed_out = False
        self.closed = False     # the driver posted WM_CLOSE to the main window
        self.controls = {}      # hwnd -> the last CONTROLS report of that window

    def status_codes(self):
        return [s[0] for s in self.statuses]

    def last_status(self):
        """The last status posted, or None when the driver saw none (an
        assertion on it then fails with the run's lines, not an IndexError)."""
        return self.statuses[-1][0] if self.statuses else None


def _field(line, name):
    key = name + '="'
    start = line.find(key)
    if start < 0:
        return None
    start += len(key)
    out, i = [], start
    while i < len(line):
        c = line[i]
        if c == "\\" and i + 1 < len(line):
            out.append({"n": "\n", '"': '"'}.get(line[i + 1], line[i + 1]))
            i += 2
            continue
        if c == '"':
            break
        out.append(c)
        i += 1
    return "".join(out)


def run_driver(args, presses=(), hold_ms=0, timeout=60, on_window=None, add_w=True, env=None, on_wait=None,
               close_on=None, exe=None, on_controls=None):
    """Runs the program with args through the driver; returns a DriverRun.
    presses: button ids (pressed in the next new window that has them) or
    ("again", id) / ("tick", row) steps on the window of an earlier step.
    on_window(run, window) is called as each new window is reported,
    on_wait(run, step) when a step found its window and holds,
    on_controls(run, hwnd, controls) when a window's controls are reported
    (controls: {id or "row<n>": (x, y, w, h)} in screen pixels)."""
    cmd = [RUNNER, DRIVER, "--timeout", str(timeout), "--hold", str(hold_ms)]
    for p in presses:
        if isinstance(p, tuple):
            cmd += ["--" + p[0], str(p[1])]
        else:
            cmd += ["--press", str(p)]
    if not add_w:
        cmd.append("--no-w")
    if close_on is not None:
        cmd += ["--close-on", str(close_on)]
    cmd += ["--", win_path(exe or EXE)] + list(args)
    run = DriverRun()
    _mark_logs(exe or EXE)
    full_env = dict(os.environ)
    full_env["ZELTO_TIMEOUT"] = str(int(timeout) + 30)
    if env:
        full_env.update(env)
    proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL,
                            env=full_env)
    deadline = time.time() + timeout + 60
    for raw in proc.stdout:
        line = raw.decode("cp949", errors="replace").rstrip("\r\n")
        run.lines.append(line)
        parts = line.split(" ")
        if parts[0] == "STATUS":
            run.statuses.append((int(parts[1]), int(parts[2], 16), _field(line, "window")))
        elif parts[0] == "DIALOG_CLOSED":
            run.dialog_closed += 1
        elif parts[0] == "WINDOW":
            ids = line.rsplit("ids=", 1)[-1]
            rect = re.search(r" rect=(-?\d+),(-?\d+),(\d+),(\d+) ", line)
            window = {"hwnd": parts[1], "class": _field(line, "class"), "title": _field(line, "title"),
                      "text": _field(line, "text"), "ids": [int(x) for x in ids.split(",") if x],
                      "rect": tuple(int(v) for v in rect.groups()) if rect else None}
            run.windows.append(window)
            if on_window:
                on_window(run, window)
        elif parts[0] == "PRESS":
            run.presses.append(int(parts[1]))
        elif parts[0] == "TICK":
            run.presses.append(("tick", int(parts[1])))
        elif parts[0] == "WAIT" and on_wait:
            on_wait(run, int(parts[1]))
        elif parts[0] == "CONTROLS" and len(parts) > 2:
            controls = {}
            for item in parts[2].split(";"):
                if "@" not in item:
                    continue
                key, rect = item.split("@", 1)
                controls[int(key) if key.lstrip("-").isdigit() else key] = tuple(int(v) for v in rect.split(","))
            run.controls[parts[1]] = controls
            if on_controls:
                on_controls(run, parts[1], controls)
        elif parts[0] == "CLOSE":
            run.closed = True
        elif parts[0] == "EXIT":
            run.exit_code = int(parts[1])
        elif parts[0] == "TIMEOUT":
            run.timed_out = True
        if time.time() > deadline:
            proc.kill()
            break
    proc.stdout.close()
    proc.wait(timeout=30)
    return run


def reg(*args):
    """wine reg in the 32-bit view the program sees."""
    env = dict(os.environ, LC_ALL="C")
    return subprocess.run(["bash", "-c", 'source "$0"; wine reg "$@" $ZELTO_REG_VIEW', os.path.join(SOURCE, "tools", "wine-env.sh")]
                          + list(args), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, env=env, timeout=60)


def set_log_level(level):
    if level is None:
        reg("delete", LOG_KEY, "/v", "ZeltoSetupLog", "/f")
    else:
        reg("add", LOG_KEY, "/v", "ZeltoSetupLog", "/t", "REG_DWORD", "/d", str(level), "/f")


# Where each log file ended when the latest run started: a scenario reads only
# the lines its own run wrote, never those of the tests before it.
_log_marks = {}


def _mark_logs(exe):
    for path in {LOG, os.path.join(os.path.dirname(exe), "ZeltoOmbrix.log")}:
        try:
            _log_marks[path] = os.path.getsize(path)
            # Far from the size at which the program starts its log over.
            if _log_marks[path] > (1 << 20):
                os.remove(path)
                _log_marks[path] = 0
        except OSError:
            _log_marks[path] = 0


def read_log(path=None):
    """What the latest run wrote to the program's log (path: the log of
    another build of the program, beside it)."""
    path = path or LOG
    try:
        with open(path, "rb") as f:
            data = f.read()
    except FileNotFoundError:
        return ""
    start = _log_marks.get(path, 0)
    # A log removed and begun again since the mark is read whole.
    return data[start if start <= len(data) else 0:].decode("cp949", errors="replace")


def click(x, y):
    """A person's click at screen pixel (x, y) of the Xvfb display: the pointer
    moves there, then the button goes down and up."""
    subprocess.run(["xdotool", "mousemove", str(x), str(y)], check=True, timeout=10)
    time.sleep(0.05)
    subprocess.run(["xdotool", "mousedown", "1"], check=True, timeout=10)
    time.sleep(0.05)
    subprocess.run(["xdotool", "mouseup", "1"], check=True, timeout=10)


def click_centre(rect):
    x, y, w, h = rect
    click(x + w // 2, y + h // 2)


def wait_for(predicate, seconds, what):
    """Waits until predicate() holds; fails the test naming what it waited for."""
    deadline = time.time() + seconds
    while not predicate():
        if time.time() > deadline:
            raise AssertionError("waited %d s for %s in vain" % (seconds, what))
        time.sleep(0.1)


def clear_log():
    if os.path.exists(LOG):
        os.remove(LOG)


def screenshot_window(name, rect):
    """Saves the screen cropped to rect (x, y, w, h) as <name>.png."""
    full = screenshot(name + "-screen")
    path = os.path.join(SHOTS, name + ".png")
    x, y, w, h = rect
    subprocess.run(["/usr/bin/convert", full, "-crop", "%dx%d+%d+%d" % (w, h, x, y), "+repage", path],
                   check=True, timeout=30)
    os.remove(full)
    return path


def screenshot(name):
    """Saves the whole Xvfb screen as build/.../screenshots/<name>.png."""
    os.makedirs(SHOTS, exist_ok=True)
    path = os.path.join(SHOTS, name + ".png")
    subprocess.run(["/usr/bin/import", "-window", "root", path], stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
    return path


def main():
    unittest.main(verbosity=2)


# --- The content server the ctest fixture started ------------------------------------

CONTENT = os.environ.get("ZELTO_CONTENT_STATE") or os.path.join(BIN, "content")


def set_rules(rules):
    import json
    tmp = os.path.join(CONTENT, "rules.tmp")
    with open(tmp, "w", encoding="utf-8") as f:
        json.dump(rules, f)
    os.replace(tmp, os.path.join(CONTENT, "rules.json"))


def clear_requests():
    path = os.path.join(CONTENT, "requests.jsonl")
    if os.path.exists(path):
        os.remove(path)


def requested_urls(method=None):
    """The URLs the content server was asked for (only those of method when given)."""
    import json
    path = os.path.join(CONTENT, "requests.jsonl")
    if not os.path.exists(path):
        return []
    with open(path, encoding="utf-8") as f:
        records = [json.loads(line) for line in f if line.strip()]
    return [r["url"] for r in records if method is None or r["method"] == method]


PREFIX_C = os.path.join(os.environ.get("WINEPREFIX") or
                        os.path.join(os.environ.get("ZELTO_BUILD") or os.path.join(SOURCE, "build"), "wine"), "drive_c")
# The program files folder of the build under test (the 64-bit test build sees the native one).
PROGRAM_FILES = os.path.join(PREFIX_C, "Program Files" if os.environ.get("ZELTO_ARCH") == "x86_64" else "Program Files (x86)")
OMBRIX_DIR = os.path.join(PROGRAM_FILES, "Zelto", "Ombrix")
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\ZeltoSetup"


# The sample repository's install run and the answers the content server
# gives to the statistics pings and the options document.
SAMPLE_DOC = ("<PARAM><MODE>zeltosetup</MODE><SOURCE>http://down.zelto.com/zelto/zeltosetup/</SOURCE>"
              "<FORCEDELETE>1</FORCEDELETE><SHOWDLG>1</SHOWDLG><SERVICENAME>cafe</SERVICENAME></PARAM>")
SAMPLE_RULES = {"cc.zelto.com/cc": {"body": "ok"},
                "static.zelto.com/app/conf/confExposure.xml": {"body": "<OmbrixConf/>"}}


class SampleScenario(unittest.TestCase):
    """Scenarios on the sample repository: the full log, the pings and the
    options document answered; the installation removed afterwards."""

    @classmethod
    def setUpClass(cls):
        set_log_level(2)
        set_rules(SAMPLE_RULES)

    @classmethod
    def tearDownClass(cls):
        reset_installation()
        set_rules({})
        set_log_level(None)


def reset_installation():
    """Removes what an install of the sample repository leaves, as on a fresh machine."""
    for name in ("ZeltoTestCtl.dll", "ZeltoTestCtl2.dll"):
        path = os.path.join(OMBRIX_DIR, name)
        if os.path.exists(path):
            os.remove(path)
    reg("delete", UNINSTALL_KEY, "/f")
    for clsid in ("{A1B2C3D4-0001-4E5F-8A9B-0C1D2E3F4A51}", "{A1B2C3D4-0002-4E5F-8A9B-0C1D2E3F4A52}"):
        reg("delete", r"HKCR\CLSID" + "\\" + clsid, "/f")
    reg("delete", r"HKCU\SOFTWARE\QRV Corporation", "/v", "NoShowIfUpdate", "/f")
    # What the machine remembers of its own result reports.
    reg("delete", r"HKLM\Software\QRV Corporation\ZeltoSetup\ReportedReleases", "/f")


def reg_value(key, value):
    """A value as wine reg shows it (code page 949 output); None when absent."""
    import re
    env = dict(os.environ, LC_ALL="ko_KR.UTF-8")
    out = subprocess.run(["bash", "-c", 'source "$0"; wine reg query "$1" /v "$2" $ZELTO_REG_VIEW',
                          os.path.join(SOURCE, "tools", "wine-env.sh"), key, value],
                         stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env,
                         timeout=60).stdout.decode("cp949", "replace")
    for line in out.splitlines():
        m = re.match(r"^\s+(.*?)\s{4}(REG_\w+)\s{4}(.*)$", line)
        if m and m.group(1) == value:
            return m.group(3).rstrip("\r")
    return None
