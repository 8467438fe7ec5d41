#!/usr/bin/env python3
"""A staged release played through on the sample repository: ten simulated
desktops, each with the older ZeltoTestCtl 1.0.0.4 installed and an install
id of its own, run ZeltoSetup quietly at checkpoints over a week of
simulated days while the operator ramps the release of 1.0.0.5, halts it
and resumes it with tools/zelto-publish.py. Prints, per checkpoint, the
stage and which desktops took the release, then the result reports the
catalogue's REPORT URL heard.

The program built with the sample key reads its clock from ZELTO_TEST_NOW
(test builds only). Runs in a Wine prefix of its own:

    make test     # or build ZeltoSetupSampleKey, ZeltoDriver, test_components and
                  # sample_repository in the build tools/wine-arch.sh names
    ZELTO_WINEPREFIX=$PWD/build/rollout-play/wine bash tools/with-wine.sh python3 tools/play_rollout.py

With --bad-release [PNG] it plays tools/play_bad_release.py instead: a
release whose registration fails on three of ten desktops, halted at its
first stage by `zelto-publish.py health --halt-above`, its picture drawn to
PNG (build/rollout-play/release-health.png by default).
"""
import hashlib
import os
import re
import shutil
import subprocess
import sys
import urllib.parse

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
BUILD = os.environ.get("ZELTO_BUILD") or os.path.join(ROOT, "build")
# The build whose programs run here (tools/wine-arch.sh: "BUILD=build/win64 ...").
_ARCH = subprocess.run(["bash", os.path.join(ROOT, "tools", "wine-arch.sh")], stdout=subprocess.PIPE).stdout.decode()
BIN = os.environ.get("ZELTO_BIN") or os.path.join(ROOT, re.search(r"BUILD=(\S+)", _ARCH + " BUILD=build/win").group(1))
PLAY = os.path.join(BUILD, "rollout-play")
STATE = os.path.join(PLAY, "content")
os.environ["ZELTO_CONTENT_STATE"] = STATE
os.environ.setdefault("ZELTO_BIN", BIN)

sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
sys.path.insert(0, os.path.join(ROOT, "tools"))
import zelto_e2e as z  # noqa: E402
import zelto_rollout  # noqa: E402
from play_bad_release import bucket, tool as publish_tool  # noqa: E402

EXE = os.path.join(BIN, "sample-key", "ZeltoSetup-SAMPLE-KEY.exe")
LOG = os.path.join(os.path.dirname(EXE), "ZeltoOmbrix.log")
CATALOGUE = os.path.join("down.zelto.com", "zelto", "zeltosetup", "Repository", "zeltosetup", "zeltosetup.xml")
REPORT_URL = "http://cc.zelto.com/zelto/zeltosetup/report"
KEY = os.path.join(ROOT, "tests", "data", "sample-key", "zelto-sample-catalogue-key.pem")
ITEM = "ZeltoTestCtl"
PROGRAM_KEY = r"HKLM\Software\QRV Corporation\ZeltoSetup"
OLD = os.path.join(BIN, "tests", "components", "v1004", "ZeltoTestCtl.dll")
NEW = os.path.join(BIN, "tests", "components", "v1005", "ZeltoTestCtl.dll")
MACHINES = [hashlib.sha256(b"desktop %d" % n).hexdigest()[:32] for n in range(1, 11)]
# (simulated time, the operator's step before the desktops run, or None);
# the desktops' buckets for this release are printed as they take it.
CHECKPOINTS = [
    ("2026-12-01T06:00:00Z", ["--ramp", "10:0,30:24,60:48,100:72", "--start", "2026-12-01T00:00:00Z"]),
    ("2026-12-02T06:00:00Z", None),
    ("2026-12-02T12:00:00Z", ["--halt"]),
    ("2026-12-04T12:00:00Z", None),
    ("2026-12-05T12:00:00Z", ["--resume"]),
    ("2026-12-06T13:00:00Z", None),
    ("2026-12-08T13:00:00Z", None),
]


def start_server():
    roots = [os.path.join(STATE, "www"), os.path.join(BIN, "sample-repository"), os.path.join(BIN, "published"),
             os.path.join(ROOT, "tests", "data", "repository")]
    subprocess.run([sys.executable, os.path.join(ROOT, "tools", "content_server.py"), "start", "--state", STATE]
                   + [a for r in roots for a in ("--root", r)], check=True, stdout=subprocess.DEVNULL, timeout=60)


def stop_server():
    subprocess.run([sys.executable, os.path.join(ROOT, "tools", "content_server.py"), "stop", "--state", STATE],
                   stdout=subprocess.DEVNULL, timeout=60)


def bad_release(png):
    import play_bad_release
    start_server()
    try:
        z.set_rules(dict(z.SAMPLE_RULES, **{REPORT_URL[len("http://"):]: {"body": "ok"}}))
        z.reg("delete", PROGRAM_KEY + r"\CatalogueSerials", "/f")
        z.clear_requests()
        _, versions, _, stage = play_bad_release.play(z, BIN, PLAY, png)
        print("halted at stage %s; %d of %d desktops on the bad release; picture: %s" % (
            stage, sum(v == "1.0.0.6" for v in versions.values()), len(versions), png))
    finally:
        stop_server()
    return 0 if stage else 1


def main():
    if len(sys.argv) > 1 and sys.argv[1] == "--bad-release":
        return bad_release(sys.argv[2] if len(sys.argv) > 2 else os.path.join(PLAY, "release-health.png"))
    scratch = os.path.join(PLAY, "repository")
    shutil.rmtree(scratch, ignore_errors=True)
    os.makedirs(os.path.dirname(os.path.join(scratch, CATALOGUE)))
    with open(os.path.join(BIN, "sample-repository", CATALOGUE), "rb") as f:
        text = re.sub(rb' SERIAL="\d+"', b"", f.read(), count=1)
    text = text.replace(b"<UPDATELIST>", b'<UPDATELIST>\n    <REPORT>%s</REPORT>' % REPORT_URL.encode(), 1)
    with open(os.path.join(scratch, CATALOGUE), "wb") as f:
        f.write(text)
    served = os.path.join(STATE, "www", CATALOGUE)
    start_server()
    try:
        z.set_rules(dict(z.SAMPLE_RULES, **{REPORT_URL[len("http://"):]: {"body": "ok"}}))
        z.reset_installation()   # the second control too: its first install is reported
        # A repository signed afresh from SERIAL 1: the floor of an earlier play goes.
        z.reg("delete", PROGRAM_KEY + r"\CatalogueSerials", "/f")
        z.clear_requests()
        z.set_log_level(2)
        updated = {m: False for m in MACHINES}
        serial = 0
        salt = None
        for when, step in CHECKPOINTS:
            if step is not None:
                line = publish_tool("rollout", scratch, "zeltosetup", ITEM, *step, "--now", when).strip()
                print("operator, %s: rollout %s\n    %s" % (when, " ".join(step), line.splitlines()[-1]))
                serial += 1
                publish_tool("sign", scratch, "zeltosetup", "--key", KEY, "--serial", str(serial))
                os.makedirs(os.path.dirname(served), exist_ok=True)
                shutil.copy(os.path.join(scratch, CATALOGUE), served)
                shutil.copy(os.path.join(scratch, CATALOGUE) + ".sig", served + ".sig")
                with open(served, "rb") as f:
                    salt = re.search(rb'SALT="([0-9a-f]+)"', f.read()).group(1).decode()
            took = []
            for machine in MACHINES:
                if updated[machine]:
                    continue
                os.makedirs(z.OMBRIX_DIR, exist_ok=True)
                shutil.copy(OLD, os.path.join(z.OMBRIX_DIR, "ZeltoTestCtl.dll"))
                # The older control installed and recorded (what makes the item present), the
                # desktop's own install id and no report of this release yet.
                placed = "C:\\" + os.path.relpath(os.path.join(z.OMBRIX_DIR, "ZeltoTestCtl.dll"),
                                                  z.PREFIX_C).replace("/", "\\")
                z.reg("add", z.UNINSTALL_KEY + "\\" + ITEM + "\\" + ITEM, "/v", "FilePath", "/t", "REG_SZ",
                      "/d", placed, "/f")
                z.reg("delete", PROGRAM_KEY + r"\ReportedReleases", "/f")
                z.reg("add", PROGRAM_KEY, "/v", "InstallId", "/t", "REG_SZ", "/d", machine, "/f")
                run = z.run_driver(["-q", "-x", z.SAMPLE_DOC], timeout=90, exe=EXE, env={"ZELTO_TEST_NOW": when})
                with open(os.path.join(z.OMBRIX_DIR, "ZeltoTestCtl.dll"), "rb") as a, open(NEW, "rb") as b:
                    updated[machine] = a.read() == b.read()
                if updated[machine]:
                    took.append("%s (bucket %d)" % (machine[:6], bucket(machine, salt)))
                if run.exit_code != 0:
                    print("    desktop %s: exit code %s" % (machine[:6], run.exit_code))
            with open(served, "rb") as f:
                attrs = zelto_rollout.attributes(re.search(rb"<ROLLOUT\b[^>]*>", f.read()).group(0).decode())
            stage = zelto_rollout.stage_at(attrs, zelto_rollout.parse_time(when))
            print("%s: stage %s%s; took it now: %s; updated %d of %d" % (
                when, zelto_rollout.stage_text(stage), " (halted)" if "HALTED" in attrs else "",
                ", ".join(took) or "none", sum(updated.values()), len(MACHINES)))
        print("\nresult reports heard at %s:" % REPORT_URL)
        for url in z.requested_urls("GET"):
            if url.startswith(REPORT_URL + "?"):
                fields = dict(urllib.parse.parse_qsl(url.split("?", 1)[1], keep_blank_values=True))
                print("    " + " ".join("%s=%s" % (k, fields[k]) for k in
                                        ("item", "from", "to", "outcome", "error", "bytes", "stage")))
    finally:
        stop_server()
    return 0


if __name__ == "__main__":
    sys.exit(main())
