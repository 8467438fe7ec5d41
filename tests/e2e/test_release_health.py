"""Staged releases an operator can trust, on the sample repository with the
program built with the sample key and a simulated clock: a present item held
at its stage asks nobody and counts no install, reports carry no cookie, a
halt holds early machines too, and a bad release played through the real
program is halted by `zelto-publish.py health --halt-above` at its first
stage."""
import io
import json
import os
import re
import shutil
import sys
import unittest

import test_install_faults as f
import test_rollout as r
import test_signed as s
import zelto_e2e as z

sys.path.insert(0, os.path.join(z.SOURCE, "tools"))
import play_bad_release  # noqa: E402

ITEM = r.ITEM
NO_SHOW_KEY = r"HKCU\SOFTWARE\QRV Corporation"
PING = "http://cc.zelto.com/cc?a=ombrix.install"
REPORTED_KEY = r.PROGRAM_KEY + r"\ReportedReleases"
COMPONENTS = os.path.join(z.BIN, "tests", "components")


def record_installed(name, file, version_folder):
    """The item as an earlier run left it: its file at its destination and its record."""
    os.makedirs(z.OMBRIX_DIR, exist_ok=True)
    shutil.copy(os.path.join(COMPONENTS, version_folder, file), os.path.join(z.OMBRIX_DIR, file))
    placed = "C:\\" + os.path.relpath(os.path.join(z.OMBRIX_DIR, file), z.PREFIX_C).replace("/", "\\")
    z.reg("add", z.UNINSTALL_KEY + "\\" + name + "\\" + os.path.splitext(file)[0], "/v", "FilePath", "/t",
          "REG_SZ", "/d", placed, "/f")


class ReleaseHealth(unittest.TestCase):
    setUpClass = r.Rollout.setUpClass
    tearDownClass = r.Rollout.tearDownClass
    boxes = r.Rollout.boxes
    setUp = r.Rollout.setUp
    report_to = r.Rollout.report_to
    reports = r.Rollout.reports
    publish = r.Rollout.publish
    run_on = r.Rollout.run_on

    def tearDown(self):
        r.Rollout.tearDown(self)
        z.reg("delete", NO_SHOW_KEY, "/v", "NoShowIfUpdate", "/f")
        z.reg("delete", REPORTED_KEY, "/f")

    def held_machine(self, data):
        """An install id whose bucket lies beyond the first 10 % of this release."""
        salt = data.split(b'SALT="', 1)[1].split(b'"', 1)[0].decode()
        install_id = next("%032x" % n for n in range(100000) if r.bucket("%032x" % n, ITEM, salt) >= 1000)
        z.reg("add", r.PROGRAM_KEY, "/v", "InstallId", "/t", "REG_SZ", "/d", install_id, "/f")
        return install_id

    def test_a_present_item_held_at_its_stage_asks_nobody_and_counts_nothing(self):
        # Both controls installed earlier (1.0.0.4), the user asked not to be
        # asked on updates; the new release of the first waits for its stage.
        record_installed(ITEM, "ZeltoTestCtl.dll", "v1004")
        record_installed("ZeltoTestCtl2", "ZeltoTestCtl2.dll", "v1004")
        z.reg("add", NO_SHOW_KEY, "/v", "NoShowIfUpdate", "/t", "REG_DWORD", "/d", "1", "/f")
        data = self.publish("--percent", "10", "--now", "2026-12-01T00:00:00Z")
        self.held_machine(data)
        run = self.run_on("2026-12-01T12:00:00Z", presses=())
        self.assertEqual(100, run.last_status(), run.lines)
        self.assertEqual([], [w for w in run.windows if 1009 in w["ids"]], "no question")
        self.assertFalse([u for u in z.requested_urls() if u.startswith(PING)], "no install counted")
        self.assertIn("Rollout holds %s: held: bucket" % ITEM, s.read_log())
        self.assertIsNone(z.reg_value(s.ADDREG_KEY, "Installed"), "the held item's registry elements wait")

        # Its stage reaches this machine ("100.0", as an operator may write it): an update, asked of nobody.
        z.clear_requests()
        self.publish("--percent", "100.0", "--now", "2026-12-02T00:00:00Z")
        run = self.run_on("2026-12-02T12:00:00Z", presses=())
        self.assertEqual(100, run.last_status(), run.lines)
        self.assertEqual([], [w for w in run.windows if 1009 in w["ids"]], "no question")
        self.assertEqual("1.0.0.5", z.reg_value(s.ADDREG_KEY, "Installed"))
        self.assertFalse([u for u in z.requested_urls() if u.startswith(PING)], "an update counts no install")

    def test_a_file_of_another_item_is_no_presence_and_early_machines_keep_to_a_halt(self):
        # The first control's file lies at its destination (another item put
        # it there), but the item has no record: a first install, not held by
        # DisableUpdates.
        os.makedirs(z.OMBRIX_DIR, exist_ok=True)
        shutil.copy(os.path.join(COMPONENTS, "v1004", "ZeltoTestCtl.dll"), z.OMBRIX_DIR)
        z.reg("add", r.POLICY_KEY, "/v", "DisableUpdates", "/t", "REG_DWORD", "/d", "1", "/f")
        self.publish("--percent", "100", "--now", "2026-12-01T00:00:00Z")
        run = self.run_on("2026-12-01T12:00:00Z")
        self.assertEqual(100, run.last_status(), run.lines)
        self.assertEqual("1.0.0.5", z.reg_value(s.ADDREG_KEY, "Installed"), "installed as a first install")

        # An early machine: a halted release at 0 % reaches it no more than any other.
        z.reset_installation()
        z.reg("delete", r.POLICY_KEY, "/f")
        z.reg("add", r.POLICY_KEY, "/v", "Ring", "/t", "REG_SZ", "/d", "early", "/f")
        z.reg("add", r.POLICY_KEY, "/v", "DisableUpdates", "/t", "REG_SZ", "/d", "1", "/f")   # of the wrong type
        record_installed(ITEM, "ZeltoTestCtl.dll", "v1004")
        self.publish("--percent", "0", "--halt", "--now", "2026-12-03T00:00:00Z")
        run = self.run_on("2026-12-03T12:00:00Z")
        self.assertEqual(100, run.last_status(), run.lines)
        self.assertIn("Rollout holds %s" % ITEM, s.read_log())
        self.assertIn("[ReadUpdatePolicy] DisableUpdates is of registry type 1, not REG_DWORD: ignored", s.read_log())

    def test_reports_carry_no_cookie_and_say_what_moved(self):
        self.report_to(r.REPORT_URL)
        self.publish("--percent", "100", "--now", "2026-12-01T00:00:00Z")
        cookie = "zelto_uid=tracked; Domain=.zelto.com; Path=/; Expires=Wed, 01 Jan 2031 00:00:00 GMT"
        catalogue_url = "down.zelto.com/zelto/zeltosetup/Repository/zeltosetup/zeltosetup.xml"
        z.set_rules(dict(z.SAMPLE_RULES, **{r.REPORT_URL[len("http://"):]: {"body": "ok", "set_cookie": cookie},
                                            catalogue_url: {"set_cookie": cookie}}))
        remembered = None
        for _ in range(2):   # the second run's reports would carry what the first one's were given
            z.reset_installation()   # the items go again; the machine's memory of its reports stays
            if remembered:
                z.reg("add", REPORTED_KEY, "/v", ITEM, "/t", "REG_SZ", "/d", remembered, "/f")
            run = self.run_on("2026-12-01T12:00:00Z")
            self.assertEqual(100, run.last_status(), run.lines)
            remembered = z.reg_value(REPORTED_KEY, ITEM)
            self.assertEqual("1.0.0.5", remembered, "the release reported is remembered")
        with open(os.path.join(z.CONTENT, "requests.jsonl"), encoding="utf-8") as log:
            heard = [json.loads(line) for line in log if line.strip()]
        reports = [h for h in heard if h["url"].startswith(r.REPORT_URL + "?")]
        self.assertEqual(4, len(reports), [h["url"] for h in heard])
        self.assertEqual(["", "", "", ""], [h.get("cookie") for h in reports], "no cookie on a report")
        first = [h for h in reports if "item=ZeltoTestCtl&" in h["url"]]
        self.assertEqual(["first=1", "first=0"], [re.search(r"first=\d", h["url"]).group(0) for h in first])
        size = os.path.getsize(os.path.join(s.SIGNED_ROOT, r.CONTROL_URL))
        self.assertIn("bytes=%d&" % size, first[0]["url"])

        # A report answered with a redirect to another host goes no further.
        z.reset_installation()
        z.clear_requests()
        z.set_rules(dict(z.SAMPLE_RULES, **{r.REPORT_URL[len("http://"):]: {
            "redirect": "http://stats.example.net/zelto/zeltosetup/report"}}))
        run = self.run_on("2026-12-01T12:00:00Z")
        self.assertEqual(100, run.last_status(), run.lines)
        self.assertEqual(2, len([u for u in z.requested_urls("GET") if u.startswith(r.REPORT_URL + "?")]))
        self.assertFalse([u for u in z.requested_urls() if "example.net" in u], "the redirect was followed")
        self.assertIn("[ReportResult] answered 302: redirects are not followed", s.read_log())

    def test_a_bad_release_is_halted_by_its_health_at_its_first_stage(self):
        # Ten desktops with 1.0.0.5; 1.0.0.6 fails to register on three of
        # them; the operator's job runs health after each round of runs.
        png = os.path.join(z.SHOTS, "release-health.png")
        os.makedirs(z.SHOTS, exist_ok=True)
        if os.path.exists(png):
            os.remove(png)
        out = io.StringIO()
        rounds, versions, flaky, stage = play_bad_release.play(z, z.BIN, self.scratch, png, out=out)
        self.assertEqual("30%", stage, out.getvalue())
        self.assertIn("Ctl 1.0.0.6: 2 of 4 first attempts failed (50.0 %, above 20 %): halted at stage 30%."
                      .replace("Ctl", ITEM), rounds[0])
        machines = list(versions)
        inside, outside = machines[:4], machines[4:]
        self.assertEqual([("1.0.0.5" if flaky[m] else "1.0.0.6") for m in inside], [versions[m] for m in inside])
        self.assertEqual(["1.0.0.5"] * 6, [versions[m] for m in outside], "the halt held the desktops beyond 30 %")
        self.assertIn("already halted", rounds[1])
        with open(png, "rb") as picture:
            self.assertEqual(b"\x89PNG", picture.read(4))


if __name__ == "__main__":
    z.main()
