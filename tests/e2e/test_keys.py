"""Trust that recovers, played through with the program built with the
sample catalogue key A and three sample root keys (two must sign): a
catalogue signed far ahead by A stops every later one of A; a keys document
revoking A and naming B, signed by two root keys, brings the desktop back
with B's next catalogue; A is refused for good; an old keys document served
again and one signed by a single root key change nothing. And a signed
catalogue must cover every byte it installs."""
import os
import re
import shutil
import subprocess
import unittest

import test_fresh_bounded as fb
import test_install_faults as f
import test_signed as s
import zelto_e2e as z

ROOTS_EXE = os.path.join(z.BIN, "sample-roots", "ZeltoSetup-SAMPLE-ROOTS.exe")
ROOTS_LOG = os.path.join(z.BIN, "sample-roots", "ZeltoOmbrix.log")
KEYS = os.path.join(z.SOURCE, "tests", "data", "sample-key")
KEY_A = os.path.join(KEYS, "zelto-sample-catalogue-key")
KEY_B = os.path.join(KEYS, "zelto-sample-catalogue-b")
ROOT = [os.path.join(KEYS, "zelto-sample-root-%d" % i) for i in (1, 2, 3)]
SERVED_KEYS = os.path.join(z.CONTENT, "www", "down.zelto.com", "zelto", "zeltosetup", "Repository", "keys")
KEYS_KEY = r"HKLM\Software\QRV Corporation\ZeltoSetup\Keys"
KEYS_URL = "http://down.zelto.com/zelto/zeltosetup/Repository/keys/"


def keys_document(version, signers, catalogue_keys, revoke=()):
    """Writes SERVED_KEYS/<version>.xml (and .sig) signed by the given root keys."""
    path = os.path.join(SERVED_KEYS, "%d.xml" % version)
    for old in (path, path + ".sig"):
        if os.path.exists(old):
            os.remove(old)
    cmd = s.PUBLISH + ["keys", "make", path, "--version", str(version), "--threshold", "2"]
    for root in ROOT:
        cmd += ["--root", root + ".pub.pem"]
    for key in catalogue_keys:
        cmd += ["--catalogue-key", key + ".pub.pem"]
    for key in revoke:
        cmd += ["--revoke", key + ".pub.pem"]
    subprocess.run(cmd, check=True, timeout=60, stdout=subprocess.DEVNULL)
    for signer in signers:
        subprocess.run(s.PUBLISH + ["keys", "sign", path, "--key", signer + ".pem"], check=True, timeout=60,
                       stdout=subprocess.DEVNULL)
    return path


class Keys(unittest.TestCase):
    setUpClass = s.Signed.setUpClass
    run_signed = s.Signed.run_signed
    boxes = s.Signed.boxes

    @classmethod
    def tearDownClass(cls):
        z.reg("delete", fb.SERIALS_KEY, "/f")
        s.Signed.tearDownClass.__func__(cls)

    def setUp(self):
        s.Signed.setUp(self)
        z.reg("delete", fb.SERIALS_KEY, "/f")
        z.reg("delete", KEYS_KEY, "/f")
        shutil.rmtree(SERVED_KEYS, ignore_errors=True)
        os.makedirs(SERVED_KEYS)
        if os.path.exists(ROOTS_LOG):
            os.remove(ROOTS_LOG)

    def tearDown(self):
        s.Signed.tearDown(self)
        shutil.rmtree(SERVED_KEYS, ignore_errors=True)
        z.reg("delete", KEYS_KEY, "/f")

    def run_roots(self):
        z.reg("delete", s.ADDREG_KEY, "/f")
        return z.run_driver(["-x", z.SAMPLE_DOC], presses=[1], timeout=90, exe=ROOTS_EXE)

    def log(self):
        return z.read_log(ROOTS_LOG)

    def assert_installs(self, run, why):
        self.assertFalse(run.timed_out, run.lines)
        self.assertEqual(100, run.last_status(), "%s: %s" % (why, run.lines))
        self.assertEqual("1.0.0.5", z.reg_value(s.ADDREG_KEY, "Installed"), why)

    def assert_refused_with(self, run, code, why):
        self.assertFalse(run.timed_out, run.lines)
        self.assertEqual(101, run.last_status(), why)
        self.assertTrue(self.boxes(run)[0].startswith(s.MSG_BAD_CATALOGUE + "\nErrorCode = %d(" % code),
                        (why, self.boxes(run)))
        self.assertIsNone(z.reg_value(s.ADDREG_KEY, "Installed"), "nothing of the catalogue applied: " + why)

    def test_a_fast_forward_is_undone_by_revoking_the_key(self):
        # A signs the highest serial there is (a typo, a clock years ahead, a leak).
        fb.serve_signed(fb.signed("zeltosetup", "--serial", "9999999999999999999", "--force", key=KEY_A + ".pem"))
        self.assert_installs(self.run_roots(), "the fast-forwarded catalogue is taken")
        self.assertIn(KEYS_URL + "2.xml: none newer than version 1", self.log())
        fb.serve_signed(fb.signed("zeltosetup", "--serial", "500", key=KEY_A + ".pem"))
        self.assert_refused_with(self.run_roots(), 1017, "every later catalogue of A is a replay now")

        # Keys version 2: B signs catalogues, A is revoked; two root keys sign.
        keys_document(2, ROOT[:2], [KEY_B], revoke=[KEY_A])
        fb.serve_signed(fb.signed("zeltosetup", "--serial", "600", key=KEY_B + ".pem"))
        self.assert_installs(self.run_roots(), "B's catalogue with a normal serial")
        log = self.log()
        self.assertIn("[UpdateCatalogueKeys] %s2.xml: keys version 2 held from now on (1 catalogue key(s), 1 revoked)"
                      % KEYS_URL, log)
        self.assertIn("[ResetAcceptedSerials] the keys that sign catalogues changed", log)
        self.assertEqual("600", z.reg_value(fb.SERIALS_KEY, "zeltosetup"))

        # A is refused whatever its serial, and named as revoked.
        fb.serve_signed(fb.signed("zeltosetup", "--serial", "700", key=KEY_A + ".pem"))
        self.assert_refused_with(self.run_roots(), 1015, "a revoked key")
        self.assertIn("zeltosetup.xml.sig: signed by a revoked key (keys version 2)", self.log())

        # The old document served again as the next version changes nothing.
        shutil.copy(os.path.join(SERVED_KEYS, "2.xml"), os.path.join(SERVED_KEYS, "3.xml"))
        shutil.copy(os.path.join(SERVED_KEYS, "2.xml.sig"), os.path.join(SERVED_KEYS, "3.xml.sig"))
        fb.serve_signed(fb.signed("zeltosetup", "--serial", "800", key=KEY_B + ".pem"))
        self.assert_installs(self.run_roots(), "the held keys stay")
        self.assertIn("[UpdateCatalogueKeys] %s3.xml refused (Error Code = 1023): it is version 2" % KEYS_URL,
                      self.log())

        # Version 3 signed by one root key of three is refused; B still signs.
        keys_document(3, ROOT[:1], [KEY_B])
        self.assert_installs(self.run_roots(), "the held keys stay")
        self.assertIn("[UpdateCatalogueKeys] %s3.xml refused (Error Code = 1024): signed by 1 of the held version's "
                      "root keys, 2 needed; the held keys (version 2) stay" % KEYS_URL, self.log())
        self.assertEqual("800", z.reg_value(fb.SERIALS_KEY, "zeltosetup"), "no reset by a refused document")

    def test_a_signed_catalogue_covers_every_byte(self):
        data, _ = fb.signed("zeltosetup", "--serial", "100")
        # The first FILE's SHA256 removed, then signed properly: still refused.
        text = data.decode("cp949")
        stripped = re.sub(r"<SHA256>[0-9a-fA-F]{64}</SHA256>", "", text, count=1)
        self.assertNotEqual(text, stripped)
        scratch = os.path.join(z.BIN, "keys-scratch")
        shutil.rmtree(scratch, ignore_errors=True)
        folder = os.path.join(scratch, os.path.dirname(s.CATALOGUE))
        os.makedirs(folder)
        with open(os.path.join(scratch, s.CATALOGUE), "wb") as out:
            out.write(stripped.encode("cp949"))
        subprocess.run(s.PUBLISH + ["sign", scratch, "zeltosetup", "--key", KEY_A + ".pem", "--serial", "200"],
                       check=True, timeout=60, stdout=subprocess.DEVNULL)
        with open(os.path.join(scratch, s.CATALOGUE), "rb") as c, open(os.path.join(scratch, s.CATALOGUE + ".sig"),
                                                                        "rb") as g:
            fb.serve_signed((c.read(), g.read()))
        shutil.rmtree(scratch, ignore_errors=True)
        run = self.run_signed([1, 1])
        self.assertFalse(run.timed_out, run.lines)
        self.assertIn("[GetUpdateInfo] SHA256 missing in a signed catalogue", s.read_log())
        self.assertFalse(f.installed("ZeltoTestCtl.dll"), "the file its catalogue does not vouch for is not placed")


if __name__ == "__main__":
    z.main()
