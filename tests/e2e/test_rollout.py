"""A staged release played through on the sample repository with the
program built with the sample key, over simulated days (the test build reads
its clock from ZELTO_TEST_NOW): this machine's bucket is outside the first
stages, a halt freezes the stage, a resume goes on, and the release arrives
once the stage covers the bucket. Administrators' policies hold items
whatever the stage."""
import hashlib
import os
import re
import shutil
import subprocess
import tempfile
import unittest

import test_install_faults as f
import test_signed as s
import zelto_e2e as z

SERIALS_KEY = r"HKLM\Software\QRV Corporation\ZeltoSetup\CatalogueSerials"
PROGRAM_KEY = r"HKLM\Software\QRV Corporation\ZeltoSetup"
POLICY_KEY = r"HKLM\Software\Policies\QRV Corporation\ZeltoSetup"
ITEM = "ZeltoTestCtl"
REPORT_URL = "http://cc.zelto.com/zelto/zeltosetup/report"
CONTROL_URL = "down.zelto.com/zelto/zeltosetup/components/v1005/ZeltoTestCtl.dll"


def bucket(install_id, item, salt):
    digest = hashlib.sha256(("%s|%s|%s" % (install_id, item, salt)).encode()).digest()
    return int.from_bytes(digest[:8], "big") % 10000


class Rollout(unittest.TestCase):
    setUpClass = s.Signed.setUpClass
    tearDownClass = s.Signed.tearDownClass
    boxes = s.Signed.boxes

    def setUp(self):
        s.Signed.setUp(self)
        z.clear_requests()
        z.reg("delete", SERIALS_KEY, "/f")
        z.reg("delete", POLICY_KEY, "/f")
        self.scratch = tempfile.mkdtemp(prefix="zelto-rollout-")
        self.catalogue = os.path.join(self.scratch, s.CATALOGUE)
        os.makedirs(os.path.dirname(self.catalogue))
        with open(os.path.join(s.SIGNED_ROOT, s.CATALOGUE), "rb") as src, open(self.catalogue, "wb") as out:
            # The build signed it with the time as its serial: start afresh.
            out.write(re.sub(rb' SERIAL="\d+"', b"", src.read(), count=1))
        self.serial = 1000

    def tearDown(self):
        s.Signed.tearDown(self)
        z.reg("delete", POLICY_KEY, "/f")
        shutil.rmtree(self.scratch, ignore_errors=True)

    def report_to(self, url, rate=None):
        """The catalogue's REPORT element, before any signing."""
        with open(self.catalogue, "rb") as c:
            data = re.sub(rb"\s*<REPORT\b.*?</REPORT>", b"", c.read(), flags=re.S)
        element = '<REPORT%s>%s</REPORT>' % (' RATE="%s"' % rate if rate is not None else "", url)
        with open(self.catalogue, "wb") as c:
            c.write(data.replace(b"<UPDATELIST>", b"<UPDATELIST>\n    " + element.encode(), 1))

    def reports(self):
        """The query fields of every result report the content server heard."""
        import urllib.parse
        return [dict(urllib.parse.parse_qsl(u.split("?", 1)[1], keep_blank_values=True))
                for u in z.requested_urls("GET") if u.startswith(REPORT_URL + "?")]

    def publish(self, *args):
        """The operator's step (rollout ... or nothing), then the catalogue signed and served."""
        tool = lambda *a: subprocess.run(s.PUBLISH + list(a), check=True, timeout=60, stdout=subprocess.PIPE,
                                         stderr=subprocess.STDOUT).stdout.decode()
        if args:
            tool("rollout", self.scratch, "zeltosetup", ITEM, *args)
        self.serial += 1
        tool("sign", self.scratch, "zeltosetup", "--key", s.SAMPLE_KEY, "--serial", str(self.serial))
        with open(self.catalogue, "rb") as c:
            data = c.read()
        s.serve(data, signature=False)
        shutil.copy(self.catalogue + ".sig", s.SERVED + ".sig")
        return data

    def run_on(self, day, presses=(1,)):
        run = z.run_driver(["-x", z.SAMPLE_DOC], presses=list(presses), timeout=90, exe=s.SIGNED_EXE,
                           env={"ZELTO_TEST_NOW": day})
        self.assertFalse(run.timed_out, run.lines)
        return run

    def test_a_release_reaches_this_machine_at_its_stage_through_a_halt_and_a_resume(self):
        data = self.publish("--ramp", "1:0,20:24,50:48,100:72", "--stage-first-installs",
                            "--now", "2026-12-01T00:00:00Z")
        salt = data.split(b'SALT="', 1)[1].split(b'"', 1)[0].decode()
        # A machine that waits for the 50 % step.
        install_id = next("%032x" % n for n in range(100000) if 2000 <= bucket("%032x" % n, ITEM, salt) < 5000)
        mine = bucket(install_id, ITEM, salt)
        z.reg("add", PROGRAM_KEY, "/v", "InstallId", "/t", "REG_SZ", "/d", install_id, "/f")

        # Day 0, 1 %: the second control (not staged) installs, the first waits.
        run = self.run_on("2026-12-01T12:00:00Z")
        self.assertEqual(100, run.last_status(), run.lines)
        self.assertTrue(f.installed("ZeltoTestCtl2.dll"))
        self.assertFalse(f.installed("ZeltoTestCtl.dll"))
        self.assertIn("[CreateUpdateList] Rollout holds %s: held: bucket %d outside stage 1%%" % (ITEM, mine),
                      s.read_log())
        self.assertIsNone(z.reg_value(s.ADDREG_KEY, "Installed"), "a held item's registry elements wait too")

        # Halted on day 1 at 20 %: on day 4, when the ramp would be at 100 %, still 20 %.
        self.publish("--halt", "--now", "2026-12-02T00:00:00Z")
        run = self.run_on("2026-12-05T00:00:00Z")
        self.assertEqual(100, run.last_status(), run.lines)
        self.assertIn("bucket %d outside stage 20%% (halted)" % mine, s.read_log())
        self.assertFalse(f.installed("ZeltoTestCtl.dll"))

        # Resumed on day 4: the ramp goes on from 20 %, 50 % a day later.
        self.publish("--resume", "--now", "2026-12-05T00:00:00Z")
        run = self.run_on("2026-12-05T12:00:00Z")
        self.assertIn("bucket %d outside stage 20%%" % mine, s.read_log())
        self.assertFalse(f.installed("ZeltoTestCtl.dll"))
        run = self.run_on("2026-12-06T01:00:00Z")
        self.assertEqual(100, run.last_status(), run.lines)
        self.assertTrue(f.installed("ZeltoTestCtl.dll"), run.lines)
        self.assertEqual("1.0.0.5", z.reg_value(s.ADDREG_KEY, "Installed"))
        self.assertIn("[CreateUpdateList] Rollout takes %s: bucket %d within stage 50%%" % (ITEM, mine), s.read_log())

        self.assertEqual(install_id, z.reg_value(PROGRAM_KEY, "InstallId"), "kept")
        self.assertFalse([u for u in z.requested_urls() if install_id in u], "the install id is never sent")

    def test_policies_hold_items_whatever_the_stage(self):
        self.publish("--critical", "--now", "2026-12-01T00:00:00Z")
        z.reg("add", POLICY_KEY, "/v", "DisableInstalls", "/t", "REG_DWORD", "/d", "1", "/f")
        run = self.run_on("2026-12-01T12:00:00Z")
        self.assertEqual(100, run.last_status(), run.lines)
        self.assertFalse(f.installed("ZeltoTestCtl.dll") or f.installed("ZeltoTestCtl2.dll"))
        self.assertIn("Rollout holds ZeltoTestCtl2: held by policy DisableInstalls", s.read_log())

        z.reg("delete", POLICY_KEY, "/f")
        z.reg("add", POLICY_KEY + r"\PinnedVersions", "/v", ITEM, "/t", "REG_SZ", "/d", "1.0.0.4", "/f")
        run = self.run_on("2026-12-01T12:00:00Z")
        self.assertEqual(100, run.last_status(), run.lines)
        self.assertTrue(f.installed("ZeltoTestCtl2.dll"))
        self.assertFalse(f.installed("ZeltoTestCtl.dll"), "a critical release does not move a pinned item")
        self.assertIn("held by policy PinnedVersions: 1.0.0.5 is not on 1.0.0.4", s.read_log())

    def test_each_result_is_reported_once_and_never_delays_or_fails_the_run(self):
        self.report_to(REPORT_URL)
        self.publish("--percent", "100", "--now", "2026-12-01T00:00:00Z")
        z.set_rules(dict(z.SAMPLE_RULES, **{REPORT_URL[len("http://"):]: {"body": "ok"}}))
        run = self.run_on("2026-12-01T12:00:00Z")
        self.assertEqual(100, run.last_status(), run.lines)
        reports = sorted(self.reports(), key=lambda r: r["item"])
        size = os.path.getsize(os.path.join(s.SIGNED_ROOT, CONTROL_URL))
        self.assertEqual([{"item": ITEM, "from": "", "to": "1.0.0.5", "outcome": "installed", "error": "0",
                           "syserror": "0", "bytes": str(size), "stage": "10000", "first": "1"}],
                         [{k: v for k, v in r.items() if k != "ms"} for r in reports[:1]])
        self.assertEqual(("ZeltoTestCtl2", "installed", "-1"), (reports[1]["item"], reports[1]["outcome"],
                                                               reports[1]["stage"]), reports)
        self.assertEqual(2, len(reports), reports)
        self.assertIn("[ReportResult] Send URL : [%s?item=ZeltoTestCtl&" % REPORT_URL, s.read_log())

        # A damaged download: the item whose own file failed is refused, with
        # the error its message showed; the report server failing is heard
        # once and changes nothing.
        z.reset_installation()
        z.clear_requests()
        z.set_rules(dict(z.SAMPLE_RULES, **{REPORT_URL[len("http://"):]: {"status": 500},
                                            CONTROL_URL: {"body": "not the control"}}))
        run = self.run_on("2026-12-01T12:00:00Z", presses=(1, 1))
        self.assertEqual(101, run.last_status(), run.lines)
        # The bytes its transfers moved (each try of the damaged body), not the planned size.
        tries = z.requested_urls("GET").count("http://" + CONTROL_URL)
        self.assertEqual([(ITEM, "refused", "1016", str(tries * len("not the control")))],
                         [(r["item"], r["outcome"], r["error"], r["bytes"]) for r in self.reports()])
        self.assertIn("] FAILED", s.read_log())

        # Only the portal's servers hear results.
        z.set_rules(dict(z.SAMPLE_RULES))
        z.clear_requests()
        self.report_to("http://stats.example.net/zelto/zeltosetup/report")
        self.publish()
        run = self.run_on("2026-12-01T12:00:00Z")
        self.assertEqual(100, run.last_status(), run.lines)
        self.assertFalse([u for u in z.requested_urls() if "example.net" in u])
        self.assertIn("[ReportResult] REPORT http://stats.example.net/zelto/zeltosetup/report fails the trust rule", s.read_log())


if __name__ == "__main__":
    z.main()
