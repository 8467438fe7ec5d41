"""A bad release played through the real program until its health halts it.

ZeltoTestCtl 1.0.0.6 (the test build's "flaky" control: its registration
fails on desktops whose environment names ZELTO_FLAKY_DESKTOP) is ramped
30 % a day over ten simulated desktops that have 1.0.0.5 installed. After
each round of runs the operator's job reads the content server's log with
`zelto-publish.py health --halt-above 20 --min-reports 3`; the first round's
failures halt the release at its first stage, and the second round's
desktops outside that stage stay on 1.0.0.5. Used by tools/play_rollout.py
(--bad-release) and by the scenario tests/e2e/test_release_health.py, each
with its own content server (the caller's zelto_e2e module).
"""
import datetime
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
ITEM = "ZeltoTestCtl"
CATALOGUE = os.path.join("down.zelto.com", "zelto", "zeltosetup", "Repository", "zeltosetup", "zeltosetup.xml")
REPORT_URL = "http://cc.zelto.com/zelto/zeltosetup/report"
KEY = os.path.join(ROOT, "tests", "data", "sample-key", "zelto-sample-catalogue-key.pem")
RAMP = "30:0,60:24,100:48"
START = "2026-12-01T00:00:00Z"
ROUNDS = ["2026-12-01T12:00:00Z", "2026-12-02T12:00:00Z"]
HALT_ABOVE, MIN_REPORTS = "20", "3"


# The tool as operators run it: with Debian's Python, whose python3-matplotlib draws.
PYTHON = "/usr/bin/python3" if os.path.exists("/usr/bin/python3") else sys.executable


def tool(*args):
    run = subprocess.run([PYTHON, os.path.join(ROOT, "tools", "zelto-publish.py")] + list(args),
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
    if run.returncode != 0:
        raise SystemExit("zelto-publish.py %s: %s" % (" ".join(args), run.stdout.decode()))
    return run.stdout.decode()


def bucket(install_id, salt):
    return int.from_bytes(hashlib.sha256(("%s|%s|%s" % (install_id, ITEM, salt)).encode()).digest()[:8], "big") % 10000


def desktops(salt):
    """Ten install ids: four inside the first stage (30 %), two of them flaky, and six outside it, one flaky."""
    inside, outside = [], []
    for n in range(100000):
        install_id = hashlib.sha256(b"bad release desktop %d" % n).hexdigest()[:32]
        (inside if bucket(install_id, salt) < 3000 else outside).append(install_id)
        if len(inside) >= 4 and len(outside) >= 6:
            break
    chosen = inside[:4] + outside[:6]
    return [(install_id, i in (0, 2, 5)) for i, install_id in enumerate(chosen)]


def simulated_log(requests, since, when, access_log):
    """Appends the result reports the content server heard since (real time) to an nginx combined log, at
    the simulated time of the round: its desktops run five minutes apart from when on."""
    start = datetime.datetime.strptime(when, "%Y-%m-%dT%H:%M:%SZ")
    lines, desktop, last = [], -1, None
    with open(requests, encoding="utf-8") as f:
        for line in f:
            entry = json.loads(line)
            if entry["time"] < since or "/zelto/zeltosetup/report?" not in entry["url"]:
                continue
            # Reports of one run come together: a gap of over a second is the next desktop.
            if last is None or entry["time"] - last > 1.0:
                desktop += 1
            last = entry["time"]
            stamp = (start + datetime.timedelta(minutes=5 * desktop)).strftime("%d/%b/%Y:%H:%M:%S +0000")
            target = entry["url"].split("://", 1)[1]
            lines.append('127.0.0.1 - - [%s] "GET %s HTTP/1.1" 200 2 "-" "%s"' % (
                stamp, target[target.index("/"):], entry.get("user_agent", "-")))
    with open(access_log, "a") as f:
        f.write("".join(l + "\n" for l in lines))


def play(z, bin_dir, work, png, out=sys.stdout):
    """Plays the release; returns (the health lines of each round, {install id: final version}, halted stage)."""
    scratch = os.path.join(work, "repository")
    shutil.rmtree(scratch, ignore_errors=True)
    shutil.copytree(os.path.join(bin_dir, "sample-repository"), scratch)
    components = os.path.join(scratch, "down.zelto.com", "zelto", "zeltosetup", "components")
    shutil.copytree(os.path.join(bin_dir, "published", "down.zelto.com", "zelto", "zeltosetup", "components", "v1006"),
                    os.path.join(components, "v1006"), dirs_exist_ok=True)
    catalogue = os.path.join(scratch, CATALOGUE)
    with open(catalogue, "rb") as f:
        text = re.sub(rb' SERIAL="\d+"', b"", f.read(), count=1)
    # The operator's new release: the control's new build, and the list's REPORT.
    text = text.replace(b"components/v1005/ZeltoTestCtl.dll", b"components/v1006/ZeltoTestCtl.dll")
    text = text.replace(b"<UPDATELIST>", b"<UPDATELIST>\n    <REPORT>%s</REPORT>" % REPORT_URL.encode(), 1)
    with open(catalogue, "wb") as f:
        f.write(text)
    tool("stamp", scratch, "zeltosetup")
    print("operator: " + tool("rollout", scratch, "zeltosetup", ITEM, "--ramp", RAMP, "--start", START,
                              "--now", START).strip().splitlines()[-1], file=out)
    serial = [0]

    def publish():
        serial[0] += 1
        tool("sign", scratch, "zeltosetup", "--key", KEY, "--serial", str(serial[0]))
        served = os.path.join(z.CONTENT, "www", CATALOGUE)
        os.makedirs(os.path.dirname(served), exist_ok=True)
        shutil.copy(catalogue, served)
        shutil.copy(catalogue + ".sig", served + ".sig")
        served_component = os.path.join(z.CONTENT, "www", "down.zelto.com", "zelto", "zeltosetup", "components",
                                        "v1006")
        shutil.copytree(os.path.join(components, "v1006"), served_component, dirs_exist_ok=True)

    publish()
    with open(catalogue, "rb") as f:
        salt = re.search(rb'SALT="([0-9a-f]+)"', f.read()).group(1).decode()
    machines = desktops(salt)
    old = os.path.join(bin_dir, "tests", "components", "v1005", "ZeltoTestCtl.dll")
    record = z.UNINSTALL_KEY + "\\" + ITEM + "\\" + ITEM
    placed = "C:\\" + os.path.relpath(os.path.join(z.OMBRIX_DIR, "ZeltoTestCtl.dll"), z.PREFIX_C).replace("/", "\\")
    versions, rounds, halted_stage = {}, [], None
    requests = os.path.join(z.CONTENT, "requests.jsonl")
    access_log = os.path.join(work, "access.log")   # the operator's log, in the simulated days
    if os.path.exists(access_log):
        os.remove(access_log)
    for when in ROUNDS:
        since = time.time()
        for install_id, flaky in machines:
            if versions.get(install_id) == "1.0.0.6":
                continue
            # The desktop as it stands: 1.0.0.5 installed and recorded, its own install id.
            z.reset_installation()
            os.makedirs(z.OMBRIX_DIR, exist_ok=True)
            shutil.copy(old, os.path.join(z.OMBRIX_DIR, "ZeltoTestCtl.dll"))
            z.reg("add", record, "/v", "FilePath", "/t", "REG_SZ", "/d", placed, "/f")
            z.reg("add", r"HKLM\Software\QRV Corporation\ZeltoSetup",
                  "/v", "InstallId", "/t", "REG_SZ", "/d", install_id, "/f")
            # What it remembers of its own reports: a retry is no first attempt.
            reported = r"HKLM\Software\QRV Corporation\ZeltoSetup\ReportedReleases"
            z.reg("delete", reported, "/f")
            if install_id in versions:
                z.reg("add", reported, "/v", ITEM, "/t", "REG_SZ", "/d", "1.0.0.6", "/f")
            env = {"ZELTO_TEST_NOW": when}
            if flaky:
                env["ZELTO_FLAKY_DESKTOP"] = "1"
            z.run_driver(["-q", "-x", z.SAMPLE_DOC], timeout=90,
                         exe=os.path.join(bin_dir, "sample-key", "ZeltoSetup-SAMPLE-KEY.exe"), env=env)
            versions[install_id] = "1.0.0.6" if z.reg_value(record, "FilePath") and _is_new(z) else "1.0.0.5"
        simulated_log(requests, since, when, access_log)
        lines = tool("health", access_log, "--catalogue", scratch, "zeltosetup", "--png", png,
                     "--halt-above", HALT_ABOVE, "--min-reports", MIN_REPORTS, "--now", when)
        rounds.append(lines)
        print("%s: %d of %d desktops on 1.0.0.6\n%s" % (
            when, sum(v == "1.0.0.6" for v in versions.values()), len(machines), lines.rstrip()), file=out)
        if "halted at stage" in lines and halted_stage is None:
            halted_stage = re.search(r"halted at stage (\S+?)\.", lines).group(1)
            publish()   # what health says to sign and publish
    return rounds, {m: versions.get(m) for m, _ in machines}, dict(machines), halted_stage


def _is_new(z):
    """The control at its destination is 1.0.0.6 (the flaky build)."""
    path = os.path.join(z.OMBRIX_DIR, "ZeltoTestCtl.dll")
    if not os.path.exists(path):
        return False
    with open(path, "rb") as f:
        data = f.read()
    m = data.find(b"\xbd\x04\xef\xfe")   # VS_FIXEDFILEINFO
    return m >= 0 and data[m + 8:m + 16] == (1 << 16).to_bytes(4, "little") + (6).to_bytes(4, "little")
