"""The ways FILEs meet in archives while downloads run side by side: several
FILEs of one item or of several items unpacked from one archive, entries of
one name in different archives, an entry named like another FILE's plain
download. Each FILE gets exactly the bytes its own SOURCE delivered."""
import hashlib
import os
import shutil
import zipfile

import test_install_faults as f
import zelto_e2e as z

ZIPPED = "http://down.zelto.com/zelto/zeltosetup/zipped/"
ZIP_DIR = os.path.join(f.WWW, "zelto", "zeltosetup", "zipped")
OTHER = "OmbrixB"
OTHER_DIR = os.path.join(os.path.dirname(z.OMBRIX_DIR), OTHER)


def payload(tag, size=150000):
    """Bytes that say which archive and entry they came from."""
    seed = tag.encode()
    return (seed * (size // len(seed) + 1))[:size]


def make_zip(name, entries):
    """entries: {entry name: bytes}; returns the archive's SHA-256."""
    os.makedirs(ZIP_DIR, exist_ok=True)
    path = os.path.join(ZIP_DIR, name)
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as zf:
        for entry, data in entries.items():
            zf.writestr(entry, data)
    with open(path, "rb") as fh:
        return hashlib.sha256(fh.read()).hexdigest()


def serve_plain(name, data):
    os.makedirs(ZIP_DIR, exist_ok=True)
    with open(os.path.join(ZIP_DIR, name), "wb") as fh:
        fh.write(data)
    return hashlib.sha256(data).hexdigest()


def file_xml(name, url, sha, dest="Ombrix"):
    return ("<FILE NAME='%s'><SOURCE>%s</SOURCE><DEST>[PROGRAMS]Zelto\\%s</DEST><SHA256>%s</SHA256></FILE>"
            % (name, url, dest, sha))


def placed(name, folder=z.OMBRIX_DIR):
    path = os.path.join(folder, name)
    if not os.path.exists(path):
        return None
    with open(path, "rb") as fh:
        return fh.read()


def staging_entries():
    return sorted(os.listdir(f.STAGING)) if os.path.isdir(f.STAGING) else []


class Archives(f.FaultScenario):
    def setUp(self):
        super().setUp()
        self.clean()

    def tearDown(self):
        self.clean()

    def clean(self):
        for folder in (z.OMBRIX_DIR, OTHER_DIR):
            for name in ("a.bin", "b.bin", "c.bin", "same.bin"):
                path = os.path.join(folder, name)
                if os.path.exists(path):
                    os.remove(path)
        if os.path.isdir(OTHER_DIR):
            shutil.rmtree(OTHER_DIR, ignore_errors=True)
        for name in staging_entries():
            if name.startswith("zip-"):
                path = os.path.join(f.STAGING, name)
                shutil.rmtree(path) if os.path.isdir(path) else os.remove(path)

    def install(self, mode, items, presses=(1,)):
        f.publish(mode, items)
        run = z.run_driver(["-x", f.doc(mode)], presses=list(presses), timeout=90)
        self.assertFalse(run.timed_out, run.lines)
        return run

    def test_files_of_one_item_and_of_two_items_share_one_archive(self):
        a, b, c = payload("one-a"), payload("one-b"), payload("one-c")
        sha = make_zip("shared.zip", {"a.bin": a, "b.bin": b, "c.bin": c})
        url = ZIPPED + "shared.zip"
        run = self.install("sharezip", [("First", [file_xml("a.bin", url, sha), file_xml("b.bin", url, sha)]),
                                        ("Second", [file_xml("c.bin", url, sha)])])
        self.assertEqual(100, run.last_status(), run.lines)
        self.assertEqual((a, b, c), (placed("a.bin"), placed("b.bin"), placed("c.bin")))
        self.assertEqual(1, z.requested_urls("GET").count(url), "one archive, one request")
        self.assertEqual([], [n for n in staging_entries() if n.startswith("zip-")],
                         "the archive and its folder go once its files are placed")
        percents = [lp for code, lp, _ in run.statuses if code == 30]
        self.assertEqual(percents, sorted(percents), "the percent never goes back")

    def test_one_entry_placed_by_two_items_at_two_destinations(self):
        # The unpacked entry is the staged file of both: the first placement
        # must not take it away from the second (it is copied, not moved).
        data = payload("one-entry")
        sha = make_zip("entry.zip", {"a.bin": data})
        url = ZIPPED + "entry.zip"
        run = self.install("oneentry", [("First", [file_xml("a.bin", url, sha)]),
                                        ("Second", [file_xml("a.bin", url, sha, dest=OTHER)])])
        self.assertEqual(100, run.last_status(), run.lines)
        self.assertEqual((data, data), (placed("a.bin"), placed("a.bin", OTHER_DIR)))

    def test_entries_of_one_name_in_two_archives_and_beside_a_plain_download(self):
        first, second, plain = payload("first-archive"), payload("second-archive"), payload("plain-download")
        sha1 = make_zip("one.zip", {"same.bin": first})
        sha2 = make_zip("two.zip", {"same.bin": second})
        sha3 = serve_plain("same.bin", plain)
        # Slow bodies so that the three transfers overlap.
        z.set_rules({"cc.zelto.com/cc": {"body": "ok"},
                     (ZIPPED + "one.zip")[7:]: {"trickle": [30000, 100]},
                     (ZIPPED + "two.zip")[7:]: {"trickle": [30000, 100]},
                     (ZIPPED + "same.bin")[7:]: {"trickle": [30000, 100]}})
        run = self.install("samename", [("One", [file_xml("same.bin", ZIPPED + "one.zip", sha1)]),
                                        ("Two", [file_xml("same.bin", ZIPPED + "two.zip", sha2, dest=OTHER)]),
                                        ("Plain", [file_xml("same.bin", ZIPPED + "same.bin", sha3,
                                                            dest=OTHER + "\\Plain")])])
        self.assertEqual(100, run.last_status(), run.lines)
        self.assertEqual(first, placed("same.bin"), "the first archive's entry")
        self.assertEqual(second, placed("same.bin", OTHER_DIR), "the second archive's entry")
        self.assertEqual(plain, placed("same.bin", os.path.join(OTHER_DIR, "Plain")), "the plain download")

    def test_a_staged_archive_is_judged_by_its_own_hash(self):
        a = payload("kept-a")
        sha = make_zip("kept.zip", {"a.bin": a, "b.bin": payload("kept-b")})
        url = ZIPPED + "kept.zip"
        # The first run's item fails at a registration after everything
        # arrived and rolls back: its archive stays staged.
        with open(os.path.join(z.BIN, "tests", "components", "bad", "ZeltoBadReg.dll"), "rb") as fh:
            bad = fh.read()
        bad_sha = serve_plain("ZeltoBadReg.dll", bad)
        bad_xml = file_xml("ZeltoBadReg.dll", ZIPPED + "ZeltoBadReg.dll", bad_sha).replace(
            "</FILE>", "<REGISTER>1</REGISTER></FILE>")
        run = self.install("keptzip", [("Zipped", [file_xml("a.bin", url, sha), bad_xml])], presses=(1, 1))
        self.assertEqual(101, run.last_status(), run.lines)
        self.assertEqual(1, len([n for n in staging_entries() if n.startswith("zip-") and n.endswith(".zip")]),
                         staging_entries())
        z.clear_requests()
        run = self.install("keptzip", [("Zipped", [file_xml("a.bin", url, sha)])])
        self.assertEqual(100, run.last_status(), run.lines)
        self.assertEqual(a, placed("a.bin"))
        self.assertNotIn(url, z.requested_urls("GET"), "the staged archive matched its SHA256: not fetched again")
        self.assertEqual([], [n for n in staging_entries() if n.startswith("zip-")], "placed: nothing left")

if __name__ == "__main__":
    z.main()
