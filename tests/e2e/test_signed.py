"""The program built with the sample key installs only what the operator
published: a catalogue whose signature verifies, files whose SHA-256 is the
catalogue's. The sample repository is stamped and signed by
tools/zelto-publish.py at build time (<build>/sample-repository)."""
import os
import shutil
import subprocess
import tempfile
import unittest

import test_install_faults as f
import zelto_e2e as z

SIGNED_EXE = os.path.join(z.BIN, "sample-key", "ZeltoSetup-SAMPLE-KEY.exe")
SIGNED_LOG = os.path.join(z.BIN, "sample-key", "ZeltoOmbrix.log")
SIGNED_ROOT = os.path.join(z.BIN, "sample-repository")
CATALOGUE = os.path.join("down.zelto.com", "zelto", "zeltosetup", "Repository", "zeltosetup", "zeltosetup.xml")
SERVED = os.path.join(z.CONTENT, "www", CATALOGUE)
SAMPLE_KEY = os.path.join(z.SOURCE, "tests", "data", "sample-key", "zelto-sample-catalogue-key.pem")
PUBLISH = ["/usr/bin/python3", os.path.join(z.SOURCE, "tools", "zelto-publish.py")]
MSG_BAD_CATALOGUE = "업데이트 목록 파일에 문제가 발생했습니다."
ADDREG_KEY = r"HKCU\Software\QRV Corporation\ZeltoTestCtl"


def serve(catalogue=None, signature=True):
    """Serves the signed sample catalogue (or the given bytes) and its signature."""
    os.makedirs(os.path.dirname(SERVED), exist_ok=True)
    with open(os.path.join(SIGNED_ROOT, CATALOGUE), "rb") as src:
        data = src.read()
    with open(SERVED, "wb") as out:
        out.write(catalogue if catalogue is not None else data)
    if os.path.exists(SERVED + ".sig"):
        os.remove(SERVED + ".sig")
    if signature:
        shutil.copy(os.path.join(SIGNED_ROOT, CATALOGUE + ".sig"), SERVED + ".sig")


def read_log():
    return z.read_log(SIGNED_LOG)


class Signed(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        z.set_log_level(2)

    def setUp(self):
        z.reset_installation()
        z.reg("delete", ADDREG_KEY, "/f")
        z.set_rules(z.SAMPLE_RULES)
        if os.path.exists(SIGNED_LOG):
            os.remove(SIGNED_LOG)

    def tearDown(self):
        for path in (SERVED, SERVED + ".sig"):
            if os.path.exists(path):
                os.remove(path)
        shutil.rmtree(os.path.join(z.CONTENT, "www", "down.zelto.com", "zelto", "zeltosetup", "components"),
                      ignore_errors=True)

    @classmethod
    def tearDownClass(cls):
        z.reset_installation()
        z.reg("delete", ADDREG_KEY, "/f")
        z.set_rules({})
        z.set_log_level(None)

    def run_signed(self, presses):
        return z.run_driver(["-x", z.SAMPLE_DOC], presses=presses, timeout=90, exe=SIGNED_EXE)

    def boxes(self, run):
        return [w["text"] for w in run.windows if w["class"] == "#32770" and w["text"]]

    def assert_refused_catalogue(self, run, why):
        self.assertFalse(run.timed_out, run.lines)
        self.assertEqual([20, 21, 101], run.status_codes(), why)
        self.assertEqual(1, len(self.boxes(run)), run.lines)
        self.assertTrue(self.boxes(run)[0].startswith(MSG_BAD_CATALOGUE + "\nErrorCode = 1015("), self.boxes(run))
        self.assertIsNone(z.reg_value(ADDREG_KEY, "Installed"), "no registry element of the catalogue applied")
        self.assertFalse(f.installed("ZeltoTestCtl.dll"))
        self.assertIn("[ZeltoSetup][CheckCatalogueSignature] http://down.zelto.com/zelto/zeltosetup/Repository/"
                      "zeltosetup/zeltosetup.xml.sig: ", read_log())

    def test_a_signed_catalogue_installs(self):
        serve()
        run = self.run_signed([1])
        self.assertEqual(100, run.last_status(), run.lines)
        self.assertTrue(f.installed("ZeltoTestCtl.dll") and f.installed("ZeltoTestCtl2.dll"))
        self.assertEqual("1.0.0.5", z.reg_value(ADDREG_KEY, "Installed"))
        self.assertIn("zeltosetup.xml.sig verified", read_log())

    def test_missing_tampered_and_foreign_signatures(self):
        serve(signature=False)
        self.assert_refused_catalogue(self.run_signed([1]), "no signature")

        with open(os.path.join(SIGNED_ROOT, CATALOGUE), "rb") as src:
            data = src.read()
        serve(data.replace(b"1.0.0.5</VALUE>", b"1.0.0.6</VALUE>"))
        self.assert_refused_catalogue(self.run_signed([1]), "one byte changed")

        # Signed with a key the program does not know.
        with tempfile.TemporaryDirectory() as scratch:
            subprocess.run(PUBLISH + ["keygen", os.path.join(scratch, "foreign")], check=True, timeout=60,
                           stdout=subprocess.DEVNULL)
            root = os.path.join(scratch, "root")
            os.makedirs(os.path.dirname(os.path.join(root, CATALOGUE)))
            shutil.copy(os.path.join(SIGNED_ROOT, CATALOGUE), os.path.join(root, CATALOGUE))
            subprocess.run(PUBLISH + ["sign", root, "zeltosetup", "--key", os.path.join(scratch, "foreign.pem")],
                           check=True, timeout=60, stdout=subprocess.DEVNULL)
            serve()
            shutil.copy(os.path.join(root, CATALOGUE + ".sig"), SERVED + ".sig")
        self.assert_refused_catalogue(self.run_signed([1]), "a foreign key's signature")

    def test_other_bytes_than_the_hash_are_never_installed(self):
        serve()
        # The first control is served with other bytes than its SHA256.
        other = os.path.join(z.CONTENT, "www", "down.zelto.com", "zelto", "zeltosetup", "components", "v1005")
        os.makedirs(other, exist_ok=True)
        shutil.copy(os.path.join(z.BIN, "tests", "components", "v1004", "ZeltoTestCtl.dll"), other)
        run = self.run_signed([1, 1])
        self.assertEqual(101, run.last_status(), run.lines)
        self.assertNotIn(40, run.status_codes())
        self.assertTrue(self.boxes(run)[0].startswith(f.MSG_DOWNLOAD_FAILED + "\nErrorCode = 1016("), self.boxes(run))
        self.assertFalse(f.installed("ZeltoTestCtl.dll") or f.installed("ZeltoTestCtl2.dll"), "nothing placed")
        self.assertFalse(os.path.exists(os.path.join(f.STAGING, "ZeltoTestCtl.dll")), "nothing left in staging")
        self.assertIn("[ZeltoSetup][DownloadFile] SHA256 mismatch (http://down.zelto.com/zelto/zeltosetup/components/"
                      "v1005/ZeltoTestCtl.dll)", read_log())

    def test_a_body_cut_without_length_is_not_installed(self):
        # A server that resets right after its last bytes and announces no
        # length: the cut file reads as whole; its hash catches it.
        serve()
        rules = dict(z.SAMPLE_RULES)
        rules["down.zelto.com/zelto/zeltosetup/components/v1005/ZeltoTestCtl.dll"] = {"cut_after": 3000,
                                                                                      "no_length": True}
        z.set_rules(rules)
        run = self.run_signed([1, 1])
        self.assertEqual(101, run.last_status(), run.lines)
        self.assertNotIn(100, run.status_codes())
        # Read as a whole body, the hash catches it (1016); when the reset
        # overtakes the answer's headers, which the system then discards, the
        # request itself fails (1003) on every try. Never installed either way.
        self.assertRegex(self.boxes(run)[0], "^" + f.MSG_DOWNLOAD_FAILED + "\nErrorCode = (1016|1003)\\(")
        self.assertFalse(f.installed("ZeltoTestCtl.dll"))


if __name__ == "__main__":
    z.main()
