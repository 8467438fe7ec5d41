"""Updates by patch: the operators' tool makes a zstd patch per file from the
previous release, the program fetches the patch instead of the file, and any
patch that fails falls back to the whole file in the same run. A run whose
whole files on the server are broken still installs through the patches, so
a fallback cannot hide broken patches."""
import hashlib
import os
import random
import re
import shutil
import subprocess
import sys
import zipfile

import test_install_faults as f
import zelto_e2e as z

MODE = "patchmode"
BASE = f.COMPONENTS + "patch/"
ROOT = os.path.dirname(f.WWW)            # ROOT/<host>/<path>, as the content server serves it
TOOL = os.path.join(z.SOURCE, "tools", "zelto-publish.py")
CATALOGUE = os.path.join(f.WWW, "zelto", "zeltosetup", "Repository", MODE, MODE + ".xml")
# A plain file, and two files one ZIP archive delivers.
PLAIN, IN_ZIP, ALSO_IN_ZIP = "patplain.bin", "patzip.dat", "patzip2.dat"
NAMES = (PLAIN, IN_ZIP, ALSO_IN_ZIP)


def build(release, name):
    """The bytes of name in a release: 200 KiB that change in a few places."""
    rng = random.Random(name)
    data = bytearray(rng.getrandbits(8) & 0x7F for _ in range(200 * 1024))
    changes = random.Random(name + str(release))
    for _ in range(release * 10):
        at = changes.randrange(len(data) - 32)
        data[at:at + 8] = bytes(changes.getrandbits(8) for _ in range(8))
    return bytes(data) + ("release %d;" % release).encode() * release   # a size of its own


def folder_of(release):
    return os.path.join(f.WWW, "zelto", "zeltosetup", "components", "patch", str(release))


def tool(*args):
    done = subprocess.run([sys.executable, TOOL] + list(args), stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          timeout=120)
    return done.returncode, done.stdout.decode("utf-8", "replace")


def publish(release, previous=()):
    """Writes the release's files and catalogue, stamps it and makes its
    patches from the previous releases' catalogues; returns a copy's path."""
    folder = folder_of(release)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, PLAIN), "wb") as out:
        out.write(build(release, PLAIN))
    with zipfile.ZipFile(os.path.join(folder, "patzip.zip"), "w", zipfile.ZIP_DEFLATED) as archive:
        for name in (IN_ZIP, ALSO_IN_ZIP):
            archive.writestr(name, build(release, name))
    url = BASE + "%d/" % release
    f.publish(MODE, [("Patched", [f.file_xml(PLAIN, url + PLAIN), f.file_xml(IN_ZIP, url + "patzip.zip"),
                                  f.file_xml(ALSO_IN_ZIP, url + "patzip.zip")])])
    code, out = tool("stamp", ROOT, MODE)
    assert code == 0, out
    if previous:
        code, out = tool("patch", ROOT, MODE, *sum((["--previous", p] for p in previous), []))
        assert code == 0, out
    copy = os.path.join(z.CONTENT, "%s-%d.xml" % (MODE, release))
    shutil.copyfile(CATALOGUE, copy)
    return copy


def read_catalogue():
    with open(CATALOGUE, encoding="cp949") as fh:
        return fh.read()


def damage_file(path):
    with open(path, "r+b") as fh:
        fh.write(b"\0" * 64)


def installed_bytes(name):
    with open(os.path.join(z.OMBRIX_DIR, name), "rb") as fh:
        return fh.read()


def component_gets():
    return [u for u in z.requested_urls("GET") if u.startswith(BASE)]


class Patches(f.FaultScenario):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        shutil.rmtree(os.path.join(f.WWW, "zelto", "zeltosetup", "components", "patch"), ignore_errors=True)
        cls.first = publish(1)

    def setUp(self):
        super().setUp()
        self.remove_installed()
        shutil.rmtree(f.STAGING, ignore_errors=True)

    def tearDown(self):
        self.remove_installed()

    def remove_installed(self):
        for name in NAMES:
            path = os.path.join(z.OMBRIX_DIR, name)
            if os.path.exists(path):
                os.remove(path)

    def install(self, what):
        z.clear_requests()
        run = z.run_driver(["-x", f.doc(MODE)], presses=[1], timeout=90)
        self.assertEqual(100, run.last_status(), "%s: %s" % (what, run.lines))
        return run

    def install_release_one(self):
        publish(1)
        self.install("the first release")
        for name in NAMES:
            self.assertEqual(build(1, name), installed_bytes(name))

    def assert_release_two(self, what):
        for name in NAMES:
            self.assertEqual(build(2, name), installed_bytes(name), "%s: %s" % (what, name))

    def test_an_update_fetches_only_the_patches(self):
        self.install_release_one()
        publish(2, [self.first])
        code, out = tool("check", ROOT, MODE)
        self.assertEqual(0, code, "check verifies every patch against the first release's bytes:\n" + out)
        catalogue = read_catalogue()
        self.assertEqual(3, catalogue.count("<PATCH "), catalogue)
        self.assertEqual(2, catalogue.count("<FILESHA256>"), "the archive's files name their own hash")
        self.install("the update")
        self.assert_release_two("by patch")
        gets = component_gets()
        self.assertEqual(3, len(gets), gets)
        self.assertTrue(all("/patches/" in u for u in gets), "only the patches travel: %s" % gets)
        self.assertEqual(3, z.read_log().count("Patch Applied"))
        self.assertFalse(os.path.exists(os.path.join(f.STAGING, IN_ZIP + ".patch")))

    def test_whole_files_broken_on_the_server_still_install_through_the_patches(self):
        self.install_release_one()
        publish(2, [self.first])
        folder = folder_of(2)
        for name in (PLAIN, "patzip.zip"):
            with open(os.path.join(folder, name), "r+b") as fh:
                fh.seek(1000)
                fh.write(b"broken" * 10)
        self.install("whole files broken")
        self.assert_release_two("through the patches")
        self.assertNotIn("Patch Failed", z.read_log())

    def break_patch(self, name, how):
        catalogue = read_catalogue()
        url = re.search(r"<PATCH [^>]*>([^<]*/%s\.[0-9a-f]{16}\.zst)</PATCH>" % re.escape(name), catalogue).group(1)
        path = os.path.join(ROOT, url[len("http://"):])
        how(path)

    def test_a_failing_patch_falls_back_to_the_whole_file(self):
        cases = {
            "a damaged patch": damage_file,
            # A patch to other bytes of the file's size under the listed name,
            # size and hash: it applies, but its result is not the file.
            "a patch whose result is not the file": None,
        }
        for what, damage in cases.items():
            with self.subTest(what):
                self.remove_installed()
                self.install_release_one()
                publish(2, [self.first])
                if damage is None:
                    self.relist_patch_to_other_bytes()
                else:
                    self.break_patch(PLAIN, damage)
                    self.break_patch(IN_ZIP, damage)
                self.install(what)
                self.assert_release_two(what)
                log = z.read_log()
                self.assertEqual(2, log.count("Patch Failed"), log)
                gets = component_gets()
                self.assertIn(BASE + "2/" + PLAIN, gets)
                self.assertIn(BASE + "2/patzip.zip", gets, "the archive's files take it whole, the patched one too")

    def relist_patch_to_other_bytes(self):
        # Replaces the plain file's and an archive file's patches with ones to
        # other bytes, listing their true size and hash: only the result's
        # hash can tell.
        import zelto_patches
        catalogue = read_catalogue()
        for name in (PLAIN, IN_ZIP):
            m = re.search(r'<PATCH FROM="([0-9a-f]+)" SIZE="\d+" SHA256="[0-9a-f]+">([^<]*/%s\.[0-9a-f]{16}\.zst)</PATCH>'
                          % re.escape(name), catalogue)
            path = os.path.join(ROOT, m.group(2)[len("http://"):])
            other = bytearray(build(2, name))   # the file's size, other bytes
            other[5000:5008] = b"Not this"
            zelto_patches.make_patch(build(1, name), bytes(other), path)
            with open(path, "rb") as fh:
                digest = hashlib.sha256(fh.read()).hexdigest()
            catalogue = catalogue.replace(m.group(0), '<PATCH FROM="%s" SIZE="%d" SHA256="%s">%s</PATCH>'
                                          % (m.group(1), os.path.getsize(path), digest, m.group(2)))
        with open(CATALOGUE, "w", encoding="cp949") as fh:
            fh.write(catalogue)

    def test_a_patch_for_other_installed_bytes_is_not_fetched(self):
        # Files changed by hand since: the plain one and one of the archive's.
        self.install_release_one()
        publish(2, [self.first])
        for name in (PLAIN, ALSO_IN_ZIP):
            with open(os.path.join(z.OMBRIX_DIR, name), "r+b") as fh:
                fh.write(b"edited")
        self.install("other installed bytes")
        self.assert_release_two("whole")
        gets = component_gets()
        self.assertEqual(sorted([BASE + "2/" + PLAIN, BASE + "2/patzip.zip"]), sorted(gets),
                         "no patch is fetched: the archive that one file needs whole delivers the other too")
        self.assertNotIn("by patch", z.read_log())

sys.path.insert(0, os.path.join(z.SOURCE, "tools"))

if __name__ == "__main__":
    z.main()
