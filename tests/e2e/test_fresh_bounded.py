"""A man in the middle with old signed catalogues and endless or trickling
answers: the program built with the sample key takes only the newest,
unexpired catalogue of its own mode, reads no answer past its bound and
waits for no stalled one."""
import base64
import json
import re
import os
import shutil
import subprocess
import tempfile
import time
import unittest

import test_install_faults as f
import test_signed as s
import zelto_e2e as z

SERIALS_KEY = r"HKLM\Software\QRV Corporation\ZeltoSetup\CatalogueSerials"
CATALOGUE_URL = "http://down.zelto.com/zelto/zeltosetup/Repository/zeltosetup/zeltosetup.xml"
CONTROL_URL = "http://down.zelto.com/zelto/zeltosetup/components/v1005/ZeltoTestCtl.dll"
CAFE = s.CATALOGUE.replace(os.path.join("zeltosetup", "zeltosetup.xml"), os.path.join("cafe", "cafe.xml"))


def signed(mode_folder, *options, mode="zeltosetup", key=None):
    """The sample catalogue of mode_folder signed again with options (by the
    sample key, or key): (bytes, signature)."""
    with tempfile.TemporaryDirectory() as scratch:
        source = s.CATALOGUE if mode_folder == "zeltosetup" else CAFE
        copy = os.path.join(scratch, source)
        os.makedirs(os.path.dirname(copy))
        with open(os.path.join(s.SIGNED_ROOT, source), "rb") as src, open(copy, "wb") as out:
            # The build signed it with the time as its serial: start afresh.
            out.write(re.sub(rb' SERIAL="\d+"', b"", src.read(), count=1))
        subprocess.run(s.PUBLISH + ["sign", scratch, mode_folder, "--key", key or s.SAMPLE_KEY] + list(options), check=True,
                       timeout=60, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(copy, "rb") as c, open(copy + ".sig", "rb") as g:
            return c.read(), g.read()


def serve_signed(pair):
    s.serve(pair[0], signature=False)
    with open(s.SERVED + ".sig", "wb") as out:
        out.write(pair[1])


def sent_bytes(url):
    """The bytes the content server sent for url, over all its answers."""
    path = os.path.join(z.CONTENT, "sent.jsonl")
    if not os.path.exists(path):
        return 0
    with open(path, encoding="utf-8") as fh:
        return sum(r["sent"] for r in map(json.loads, filter(str.strip, fh)) if r["url"] == url)


class FreshBounded(unittest.TestCase):
    setUpClass = s.Signed.setUpClass
    tearDown = s.Signed.tearDown
    run_signed = s.Signed.run_signed
    boxes = s.Signed.boxes

    def setUp(self):
        s.Signed.setUp(self)
        z.clear_requests()
        z.reg("delete", SERIALS_KEY, "/f")
        sent = os.path.join(z.CONTENT, "sent.jsonl")
        if os.path.exists(sent):
            os.remove(sent)

    @classmethod
    def tearDownClass(cls):
        z.reg("delete", SERIALS_KEY, "/f")
        s.Signed.tearDownClass.__func__(cls)

    def assert_refused(self, run, code, why):
        self.assertFalse(run.timed_out, run.lines)
        self.assertEqual([20, 21, 22, 101], run.status_codes(), why)
        self.assertEqual(1603, run.exit_code, why)
        self.assertEqual(1, len(self.boxes(run)), run.lines)
        self.assertTrue(self.boxes(run)[0].startswith(s.MSG_BAD_CATALOGUE + "\nErrorCode = %d(" % code),
                        self.boxes(run))
        self.assertIsNone(z.reg_value(s.ADDREG_KEY, "Installed"), "nothing of the catalogue applied: " + why)
        self.assertIn("[CheckCatalogueFreshness] %s refused: " % CATALOGUE_URL, s.read_log())

    def test_only_the_newest_unexpired_catalogue_of_the_mode_installs(self):
        serve_signed(signed("zeltosetup", "--serial", "200"))
        run = self.run_signed([1])
        self.assertEqual(100, run.last_status(), run.lines)
        self.assertTrue(f.installed("ZeltoTestCtl.dll"))
        self.assertEqual("200", z.reg_value(SERIALS_KEY, "zeltosetup"), "the accepted serial is kept")
        z.reg("delete", s.ADDREG_KEY, "/f")

        serve_signed(signed("zeltosetup", "--serial", "100"))
        self.assert_refused(self.run_signed([1]), 1017, "an older catalogue replayed")
        self.assertIn("SERIAL 100 is lower than 200", s.read_log())
        self.assertTrue(f.installed("ZeltoTestCtl.dll"), "the newer files stay")

        serve_signed(signed("zeltosetup", "--serial", "300", "--expires", "2020-01-01T00:00:00Z"))
        self.assert_refused(self.run_signed([1]), 1018, "expired")
        self.assertIn("expired at 2020-01-01T00:00:00Z", s.read_log())

        serve_signed(signed("cafe", "--serial", "400", mode="cafe"))
        self.assert_refused(self.run_signed([1]), 1019, "another mode's catalogue")
        self.assertIn('published for MODE "cafe", the run\'s MODE is "zeltosetup"', s.read_log())
        self.assertEqual("200", z.reg_value(SERIALS_KEY, "zeltosetup"), "no refused serial is kept")

        # The floor is the mode's: an older catalogue asked for through
        # another host of the domain, or the same one spelt with capitals and
        # an explicit port, is the same replay.
        older = signed("zeltosetup", "--serial", "150")
        other = os.path.join(z.CONTENT, "www", "other.zelto.com", os.path.relpath(s.SERVED, os.path.join(
            z.CONTENT, "www", "down.zelto.com")))
        os.makedirs(os.path.dirname(other), exist_ok=True)
        for path, data in ((other, older[0]), (other + ".sig", older[1])):
            with open(path, "wb") as out:
                out.write(data)
        try:
            for source in ("http://other.zelto.com/", "HTTP://DOWN.ZELTO.COM:80/"):
                serve_signed(older)
                doc = z.SAMPLE_DOC.replace("http://down.zelto.com/zelto/zeltosetup/", source)
                run = z.run_driver(["-x", doc], presses=[1], timeout=90, exe=s.SIGNED_EXE)
                self.assertEqual([20, 21, 22, 101], run.status_codes(), source)
                self.assertTrue(self.boxes(run)[0].startswith(s.MSG_BAD_CATALOGUE + "\nErrorCode = 1017("),
                                (source, self.boxes(run)))
                self.assertIsNone(z.reg_value(s.ADDREG_KEY, "Installed"), "nothing applied through " + source)
        finally:
            shutil.rmtree(os.path.join(z.CONTENT, "www", "other.zelto.com"), ignore_errors=True)

        # The same serial again is accepted (a catalogue fetched twice).
        serve_signed(signed("zeltosetup", "--serial", "200"))
        run = self.run_signed([1])
        self.assertEqual(100, run.last_status(), run.lines)
        self.assertEqual("1.0.0.5", z.reg_value(s.ADDREG_KEY, "Installed"))

    def test_a_catalogue_signed_before_binding_is_refused(self):
        # Signed bytes without SERIAL and MODE: the signature verifies, yet
        # nothing binds them to this mode or time.
        with open(os.path.join(s.SIGNED_ROOT, s.CATALOGUE), "rb") as c:
            data = c.read()
        start = data.index(b"<ZELTOOMBRIX")
        unbound = data[:start] + b"<ZELTOOMBRIX>" + data[data.index(b">", start) + 1:]
        from cryptography.hazmat.primitives import hashes, serialization
        from cryptography.hazmat.primitives.asymmetric import padding
        with open(s.SAMPLE_KEY, "rb") as k:
            key = serialization.load_pem_private_key(k.read(), password=None)
        serve_signed((unbound, base64.encodebytes(key.sign(unbound, padding.PKCS1v15(), hashes.SHA256()))))
        self.assert_refused(self.run_signed([1]), 1019, "no SERIAL")

    def test_endless_and_oversized_answers_are_cut_at_their_bound(self):
        size = os.path.getsize(os.path.join(s.SIGNED_ROOT, "down.zelto.com", "zelto", "zeltosetup", "components",
                                            "v1005", "ZeltoTestCtl.dll"))
        for rule, why in (({"size": 512 << 20, "no_length": True}, "endless without a length"),
                          ({"announce_extra": 4000000000}, "a length of 4 GB announced")):
            with self.subTest(why):
                z.clear_requests()
                serve()
                rules = dict(z.SAMPLE_RULES)
                rules[CONTROL_URL[len("http://"):]] = rule
                z.set_rules(rules)
                run = self.run_signed([1, 1])
                self.assertEqual(101, run.last_status(), run.lines)
                self.assertEqual(1603, run.exit_code)
                self.assertTrue(self.boxes(run)[0].startswith(f.MSG_DOWNLOAD_FAILED + "\nErrorCode = 1020("),
                                self.boxes(run))
                self.assertFalse(f.installed("ZeltoTestCtl.dll") or f.installed("ZeltoTestCtl2.dll"))
                self.assertFalse(os.path.exists(os.path.join(f.STAGING, "ZeltoTestCtl.dll")), "no partial file")
                self.assertEqual(1, z.requested_urls("GET").count(CONTROL_URL), "a bound is not retried")
        # What the socket buffers held is all that went past the bound.
        self.assertLess(sent_bytes(CONTROL_URL), size + (32 << 20))

    def test_an_endless_catalogue_is_cut_at_16_mib(self):
        rules = dict(z.SAMPLE_RULES)
        rules[CATALOGUE_URL[len("http://"):]] = {"size": 256 << 20, "no_length": True}
        z.set_rules(rules)
        run = self.run_signed([1])
        self.assertEqual([20, 21, 101], run.status_codes(), run.lines)
        self.assertIn("[DownloadFile] %s: the server sent more than the 16777216 bytes allowed" % CATALOGUE_URL,
                      s.read_log())
        self.assertLess(sent_bytes(CATALOGUE_URL), (16 + 32) << 20)

    def test_a_trickled_file_ends_the_run_by_itself(self):
        serve()
        rules = dict(z.SAMPLE_RULES)
        # 40 bytes a second keeps a connection alive for ever: far below the
        # floor of 2 KiB a second over a minute.
        rules[CONTROL_URL[len("http://"):]] = {"trickle": [40, 1000]}
        z.set_rules(rules)
        started = time.time()
        run = z.run_driver(["-x", z.SAMPLE_DOC], presses=[1, 1], timeout=280, exe=s.SIGNED_EXE)
        took = time.time() - started
        self.assertFalse(run.timed_out, "the run waited for the trickle until the driver's 280 s limit")
        self.assertEqual(101, run.last_status(), run.lines)
        self.assertLess(took, 230, "three tries of a minute and the waits between them")
        self.assertTrue(self.boxes(run)[0].startswith(f.MSG_DOWNLOAD_FAILED + "\nErrorCode = 1021("), self.boxes(run))
        self.assertEqual(3, z.requested_urls("GET").count(CONTROL_URL), "a stalled try is tried again")
        self.assertFalse(f.installed("ZeltoTestCtl.dll"))


def serve():
    s.serve()


if __name__ == "__main__":
    z.main()
