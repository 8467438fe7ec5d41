"""Content servers over TLS: the catalogue, its signature and the files come
over https when the SOURCE says so, the system checks every certificate (a
refused one ends the run, never tried again), and nothing that began on
https ends on plain http. The content server is the proxy WinINet tunnels
through (CONNECT), with certificates of a test authority made here and
trusted inside the test prefix only."""
import os
import re
import shutil
import subprocess
import tempfile
import unittest

import test_install_faults as f
import test_signed as s
import zelto_e2e as z
import zelto_tls as tls

HTTPS_DOC = z.SAMPLE_DOC.replace("<SOURCE>http://", "<SOURCE>https://")
CATALOGUE_PATH = "down.zelto.com/zelto/zeltosetup/Repository/zeltosetup/zeltosetup.xml"
CONTROL_PATH = "down.zelto.com/zelto/zeltosetup/components/v1005/ZeltoTestCtl.dll"
SERIALS_KEY = r"HKLM\Software\QRV Corporation\ZeltoSetup\CatalogueSerials"
MSG_CATALOGUE_DOWNLOAD_FAILED = "서버에서"


def https_catalogue():
    """The signed sample with every download URL on https, signed again."""
    with tempfile.TemporaryDirectory() as scratch:
        copy = os.path.join(scratch, s.CATALOGUE)
        os.makedirs(os.path.dirname(copy))
        with open(os.path.join(s.SIGNED_ROOT, s.CATALOGUE), "rb") as src:
            text = src.read().replace(b"http://down.zelto.com/", b"https://down.zelto.com/")
        with open(copy, "wb") as out:
            out.write(re.sub(rb' SERIAL="\d+"', b"", text, count=1))
        subprocess.run(s.PUBLISH + ["sign", scratch, "zeltosetup", "--key", s.SAMPLE_KEY], check=True, timeout=60,
                       stdout=subprocess.DEVNULL)
        with open(copy, "rb") as c, open(copy + ".sig", "rb") as g:
            return c.read(), g.read()


class Https(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        z.set_log_level(2)
        tls.make_certificates()
        tls.trust(True)
        cls.catalogue = https_catalogue()

    @classmethod
    def tearDownClass(cls):
        tls.trust(False)
        shutil.rmtree(tls.TLS_DIR, ignore_errors=True)
        z.reset_installation()
        z.reg("delete", s.ADDREG_KEY, "/f")
        z.reg("delete", SERIALS_KEY, "/f")
        z.set_rules({})
        z.set_log_level(None)

    def setUp(self):
        z.reset_installation()
        z.reg("delete", s.ADDREG_KEY, "/f")
        z.reg("delete", SERIALS_KEY, "/f")
        z.set_rules(z.SAMPLE_RULES)
        z.clear_requests()
        for log in (s.SIGNED_LOG, z.LOG):
            if os.path.exists(log):
                os.remove(log)

    def tearDown(self):
        s.Signed.tearDown(self)

    def serve_https(self):
        s.serve(self.catalogue[0], signature=False)
        with open(s.SERVED + ".sig", "wb") as out:
            out.write(self.catalogue[1])

    def rules(self, extra):
        rules = dict(z.SAMPLE_RULES)
        rules.update(extra)
        z.set_rules(rules)

    def boxes(self, run):
        return [w["text"] for w in run.windows if w["class"] == "#32770" and w["text"]]

    def portal_gets(self):
        return [u for u in z.requested_urls("GET") if "//down.zelto.com/" in u]

    def test_an_install_all_over_tls(self):
        self.serve_https()
        run = z.run_driver(["-x", HTTPS_DOC], presses=[1], timeout=90, exe=s.SIGNED_EXE)
        self.assertEqual(100, run.last_status(), run.lines)
        self.assertTrue(f.installed("ZeltoTestCtl.dll") and f.installed("ZeltoTestCtl2.dll"))
        gets = self.portal_gets()
        self.assertIn("https://" + CATALOGUE_PATH, gets)
        self.assertIn("https://" + CATALOGUE_PATH + ".sig", gets)
        self.assertIn("https://" + CONTROL_PATH, gets)
        self.assertEqual([], [u for u in gets if u.startswith("http:")], "nothing of the portal on plain http")

    def test_an_http_source_redirected_to_https_installs(self):
        # The unsigned program and catalogue of old: only the host moved to TLS.
        self.rules({"http://" + CATALOGUE_PATH: {"redirect": "https://" + CATALOGUE_PATH}})
        run = z.run_driver(["-x", z.SAMPLE_DOC], presses=[1], timeout=90)
        self.assertEqual(100, run.last_status(), run.lines)
        self.assertIn("https://" + CATALOGUE_PATH, self.portal_gets())
        self.assertTrue(f.installed("ZeltoTestCtl.dll"))

    def test_a_refused_certificate_ends_the_run(self):
        self.serve_https()
        for name, why in (("selfsigned", "an authority nobody trusts"), ("otherhost", "a certificate for another host"),
                          ("expired", "an expired certificate")):
            with self.subTest(why):
                z.clear_requests()
                self.rules({"_tls": name})
                run = z.run_driver(["-x", HTTPS_DOC], presses=[1], timeout=90, exe=s.SIGNED_EXE)
                self.assertFalse(run.timed_out, run.lines)
                self.assertEqual([20, 21, 101], run.status_codes(), why)
                self.assertEqual(1603, run.exit_code)
                self.assertEqual(1, len(self.boxes(run)), run.lines)
                self.assertTrue(self.boxes(run)[0].startswith(MSG_CATALOGUE_DOWNLOAD_FAILED), self.boxes(run))
                self.assertIn("ErrorCode = 1022(", self.boxes(run)[0], why)
                self.assertIn("[DownloadFile] https://%s: the server's certificate was refused" % CATALOGUE_PATH,
                              s.read_log())
                connects = [u for u in z.requested_urls("CONNECT") if "down.zelto.com" in u]
                self.assertEqual(1, len(connects), "a certificate error is not tried again: %s" % connects)
                self.assertEqual([], self.portal_gets(), "no request went through the refused channel")
                self.assertIsNone(z.reg_value(s.ADDREG_KEY, "Installed"), "nothing applied")

    def test_an_https_file_redirected_to_http_is_refused(self):
        self.serve_https()
        self.rules({"https://" + CONTROL_PATH: {"redirect": "http://" + CONTROL_PATH}})
        run = z.run_driver(["-x", HTTPS_DOC], presses=[1, 1], timeout=90, exe=s.SIGNED_EXE)
        self.assertEqual(101, run.last_status(), run.lines)
        self.assertNotIn(40, run.status_codes())
        self.assertTrue(self.boxes(run)[0].startswith(f.MSG_DOWNLOAD_FAILED + "\nErrorCode = 1004("), self.boxes(run))
        self.assertIn("[DownloadFile] https://%s was redirected to http://%s: from https to http is refused"
                      % (CONTROL_PATH, CONTROL_PATH), s.read_log())
        self.assertFalse(f.installed("ZeltoTestCtl.dll") or f.installed("ZeltoTestCtl2.dll"))


if __name__ == "__main__":
    z.main()
