"""Flaky networks: a transfer that breaks for a passing reason is tried again
(after 1 s and 3 s) and resumes where it broke off when the server takes byte
ranges and the file carries its SHA256; three failures in a row still end the
run. The size query asks with HEAD, not with a second full download."""
import hashlib
import json
import os
import random
import time

import test_install_faults as f
import zelto_e2e as z

BIG = "http://down.zelto.com/zelto/zeltosetup/big/ZeltoBig.bin"
BIG_RULE = "down.zelto.com/zelto/zeltosetup/big/ZeltoBig.bin"


def requests_of(url):
    path = os.path.join(z.CONTENT, "requests.jsonl")
    with open(path, encoding="utf-8") as log:
        return [r for r in (json.loads(line) for line in log if line.strip()) if r["url"] == url]


class Retry(f.FaultScenario):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        # 20 MiB of bytes that do not compress, published with their hash.
        folder = os.path.join(f.WWW, "zelto", "zeltosetup", "big")
        os.makedirs(folder, exist_ok=True)
        rnd = random.Random(20)
        cls.data = rnd.randbytes(1 << 20) * 20
        with open(os.path.join(folder, "ZeltoBig.bin"), "wb") as out:
            out.write(cls.data)
        cls.sha256 = hashlib.sha256(cls.data).hexdigest()

    def setUp(self):
        super().setUp()
        placed = os.path.join(z.OMBRIX_DIR, "ZeltoBig.bin")
        if os.path.exists(placed):
            os.remove(placed)

    def publish(self, mode, sha256=True):
        extra = "<SHA256>%s</SHA256>" % self.sha256 if sha256 else ""
        f.publish(mode, [("Big", [f.file_xml("ZeltoBig.bin", BIG, extra)])])

    def test_a_reset_transfer_resumes_with_the_rest_only(self):
        self.publish("resume")
        z.set_rules({BIG_RULE: {"fail_first": 1, "reset_after": 10 << 20, "ranges": True}})
        run = z.run_driver(["-x", f.doc("resume")], presses=[1], timeout=120)
        self.assertEqual(100, run.last_status(), run.lines)
        self.assertEqual(0, run.exit_code)
        with open(os.path.join(z.OMBRIX_DIR, "ZeltoBig.bin"), "rb") as placed:
            self.assertTrue(placed.read() == self.data, "the right bytes installed")
        gets = [r for r in requests_of(BIG) if r["method"] == "GET"]
        self.assertEqual(2, len(gets), gets)
        self.assertEqual("", gets[0]["range"])
        start = int(gets[1]["range"][len("bytes="):-1])
        self.assertGreater(start, 0, "the second try asks for the rest only")
        self.assertIn("[ZeltoSetup][DownloadFile] %s: resumed at byte %d" % (BIG, start), z.read_log())
        # A reset that reaches the reader as it waits reads as a broken
        # connection; one that arrives with the last bytes as an end of data,
        # which only the announced length shows (a loopback race): either.
        log = z.read_log()
        self.assertTrue(any("try 1 failed (%s); trying again in 1 s" % why in log
                            for why in ("the connection broke", "the length came up short")), log[-2000:])
        heads = [r for r in requests_of(BIG) if r["method"] == "HEAD"]
        self.assertEqual(1, len(heads), "the size comes from one HEAD request")

    def test_without_a_hash_the_transfer_starts_over(self):
        self.publish("restart", sha256=False)
        z.set_rules({BIG_RULE: {"fail_first": 1, "reset_after": 5 << 20, "ranges": True}})
        run = z.run_driver(["-x", f.doc("restart")], presses=[1], timeout=120)
        self.assertEqual(100, run.last_status(), run.lines)
        gets = [r for r in requests_of(BIG) if r["method"] == "GET"]
        self.assertEqual(["", ""], [r["range"] for r in gets], "nothing vouches for joined bytes: from the start")
        percents = [d for c, d, _ in run.statuses if c == 30]
        self.assertEqual(sorted(percents), percents)

    def test_three_failures_end_the_run(self):
        self.publish("flaky")
        z.set_rules({BIG_RULE: {"fail_first": 3, "status": 503}})
        started = time.time()
        run = z.run_driver(["-x", f.doc("flaky")], presses=[1, 1], timeout=120)
        self.assertGreater(time.time() - started, 4, "waited 1 s and 3 s between the tries")
        self.assertEqual(101, run.last_status(), run.lines)
        self.assertEqual(1603, run.exit_code)
        boxes = [w["text"] for w in run.windows if w["class"] == "#32770" and w["text"]]
        self.assertTrue(boxes and boxes[0].startswith(f.MSG_DOWNLOAD_FAILED + "\nErrorCode = 1005("), boxes)
        self.assertEqual(3, len([r for r in requests_of(BIG) if r["method"] == "GET"]))
        self.assertFalse(f.installed("ZeltoBig.bin"))


if __name__ == "__main__":
    z.main()
