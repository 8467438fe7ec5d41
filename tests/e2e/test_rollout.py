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


if __name__ == "__main__":
    z.main()
