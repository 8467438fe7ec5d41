"""The operators' tool: stamp keeps a catalogue byte for byte when nothing
changed and fills in what the files say, sign/check with the sample key, and
check's findings on a deliberately broken repository. Runs on the Linux side
with Debian's Python and python3-cryptography."""
import importlib.util
import io
import os
import shutil
import struct
import tempfile
import unittest
import zipfile

SOURCE = os.environ.get("ZELTO_SOURCE") or os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
spec = importlib.util.spec_from_file_location("zelto_publish", os.path.join(SOURCE, "tools", "zelto-publish.py"))
publish = importlib.util.module_from_spec(spec)
spec.loader.exec_module(publish)

read_bytes = publish.read_bytes
SAMPLE_KEY = os.path.join(SOURCE, "tests", "data", "sample-key", "zelto-sample-catalogue-key.pem")
SAMPLE_PUB = os.path.join(SOURCE, "tests", "data", "sample-key", "zelto-sample-catalogue-key.pub.pem")
REPO = os.path.join("down.zelto.com", "zelto", "zeltosetup")


def versioned(ms, ls, size=3000):
    """Bytes with a version resource's fixed part (enough for the tool's reader)."""
    body = bytearray(b"MZ" + b"\0" * (size - 2))
    body[100:104] = struct.pack("<I", 0xFEEF04BD)
    body[108:116] = struct.pack("<II", ms, ls)
    return bytes(body)


CATALOGUE = """<?xml version="1.0" encoding="euc-kr"?>
<!-- 한글 주석 -->
<ZELTOOMBRIX>
  <UPDATELIST>
    <UPDATEITEM NAME="뷰어">
      <MODE NAME="m"/>
      <FILE NAME="a.dll">
        <SOURCE>http://down.zelto.com/zelto/zeltosetup/c/a.dll</SOURCE>
        <DEST>[PROGRAMS]Zelto</DEST>
        <RUNFILE NAME="prep.exe"><RUNSOURCE>http://down.zelto.com/zelto/zeltosetup/c/prep.exe</RUNSOURCE></RUNFILE>
      </FILE>
      <FILE NAME="b.dll">
        <SOURCE>http://down.zelto.com/zelto/zeltosetup/c/b.zip</SOURCE>
        <DEST>[PROGRAMS]Zelto</DEST>
        <FILETIME>2020,1,2,3,4,5</FILETIME>
      </FILE>
    </UPDATEITEM>
  </UPDATELIST>
</ZELTOOMBRIX>
"""


class Tool(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="zelto-publish-")
        files = os.path.join(self.root, REPO, "c")
        os.makedirs(files)
        os.makedirs(os.path.join(self.root, REPO, "Repository", "m"))
        self.catalogue = os.path.join(self.root, REPO, "Repository", "m", "m.xml")
        with open(self.catalogue, "wb") as f:
            f.write(CATALOGUE.encode("cp949"))
        with open(os.path.join(files, "a.dll"), "wb") as f:
            f.write(versioned(0x00010002, 0x00030004))
        with open(os.path.join(files, "prep.exe"), "wb") as f:
            f.write(b"prep")
        with zipfile.ZipFile(os.path.join(files, "b.zip"), "w") as z:
            z.writestr("b.dll", versioned(0x00020000, 0x00000001, 5000))

    def tearDown(self):
        shutil.rmtree(self.root)

    def quiet(self, function, *args):
        out = io.StringIO()
        return function(*args, out=out), out.getvalue()

    def test_stamp_fills_in_and_round_trips(self):
        changes, _ = self.quiet(publish.stamp, self.root, "m")
        text = read_bytes(self.catalogue).decode("cp949")
        self.assertIn("<!-- 한글 주석 -->", text, "the encoding and the rest kept")
        self.assertIn('<UPDATEITEM NAME="뷰어">', text)
        self.assertIn("<FILESIZE>3000</FILESIZE>", text)
        self.assertIn("<VERSION>1,2,3,4</VERSION>", text)
        self.assertIn("<FILESIZE>5000</FILESIZE>", text, "a ZIP-delivered file: the unpacked file's size")
        self.assertIn("<ARCHIVESIZE>%d</ARCHIVESIZE>" % os.path.getsize(os.path.join(self.root, REPO, "c", "b.zip")),
                      text, "and the archive's own")
        self.assertEqual(1, text.count("<ARCHIVESIZE>"), "only where the download is an archive")
        self.assertIn("<VERSION>2,0,0,1</VERSION>", text)
        self.assertIn("<FILETIME>2020,1,2,3,4,5</FILETIME>", text, "an operator's time stays")
        self.assertIn("<SHA256>" + publish.sha256_of(os.path.join(self.root, REPO, "c", "b.zip")) + "</SHA256>", text,
                      "the archive's hash")
        self.assertIn("<RUNSHA256>" + publish.sha256_of(os.path.join(self.root, REPO, "c", "prep.exe")) +
                      "</RUNSHA256><RUNFILESIZE>4</RUNFILESIZE></RUNFILE>", text, "and its size, a bound of its download")
        self.assertLess(text.index("<DEST>"), text.index("<FILESIZE>"), "the order kept, new elements at the end")
        self.assertTrue(changes)

        before = read_bytes(self.catalogue)
        changes, _ = self.quiet(publish.stamp, self.root, "m")
        self.assertEqual([], changes)
        self.assertEqual(before, read_bytes(self.catalogue), "nothing changed: byte for byte")

        # A new file published: only its values change.
        with open(os.path.join(self.root, REPO, "c", "a.dll"), "wb") as f:
            f.write(versioned(0x00010002, 0x00030005, 3100))
        changes, _ = self.quiet(publish.stamp, self.root, "m")
        self.assertEqual(3, len(changes), changes)   # size, hash, version of a.dll

    def test_sign_and_check_with_the_sample_key(self):
        self.quiet(publish.stamp, self.root, "m")
        publish.sign(self.root, "m", SAMPLE_KEY)
        errors, out = self.quiet(publish.check, self.root, "m", [SAMPLE_PUB])
        self.assertEqual(0, errors, out)
        with open(self.catalogue, "ab") as f:
            f.write(b" ")   # one byte more after signing
        errors, out = self.quiet(publish.check, self.root, "m", [SAMPLE_PUB])
        self.assertEqual(1, errors, out)
        self.assertIn("m.xml.sig: does not verify", out)
        self.assertEqual(2, publish.main(["sign", self.root, "m", "--key", SAMPLE_PUB]), "a public key cannot sign")

    def test_sign_binds_mode_serial_and_expiry(self):
        self.quiet(publish.stamp, self.root, "m")
        sign = lambda *options: publish.main(["sign", self.root, "m", "--key", SAMPLE_KEY] + list(options))
        attributes = lambda: publish.root_attributes(read_bytes(self.catalogue).decode("cp949"))
        now = publish.utc_now()
        self.assertEqual(0, sign())
        first = attributes()
        self.assertEqual("m", first["MODE"])
        self.assertRegex(first["SERIAL"], r"^20\d{12}$", "the UTC time of signing")
        expires = publish.parse_time(first["EXPIRES"])
        self.assertTrue(abs((expires - now).total_seconds() - 90 * 86400) < 60, "90 days by default")
        self.assertIn("<!-- 한글 주석 -->", read_bytes(self.catalogue).decode("cp949"), "the rest kept")

        # Signed again, or after the repository was rebuilt from its sources:
        # never a lower serial.
        self.assertEqual(0, sign())
        self.assertGreaterEqual(int(attributes()["SERIAL"]), int(first["SERIAL"]))
        with open(self.catalogue, "wb") as f:
            f.write(CATALOGUE.encode("cp949"))
        self.quiet(publish.stamp, self.root, "m")
        self.assertEqual(0, sign())
        self.assertGreaterEqual(int(attributes()["SERIAL"]), int(first["SERIAL"]))
        # A serial more than a day ahead of the clock stops every later
        # catalogue on every desktop that takes it: only when forced.
        ahead = int((publish.utc_now() + publish.datetime.timedelta(days=2)).strftime("%Y%m%d%H%M%S"))
        self.assertEqual(2, sign("--serial", str(ahead)))
        self.assertEqual(2, sign("--serial", "9999999999999999999"))
        self.assertLess(int(attributes()["SERIAL"]), ahead, "nothing was signed")
        self.assertEqual(0, sign("--serial", "99990101000000", "--force"))
        errors, out = self.quiet(publish.check, self.root, "m", [SAMPLE_PUB])
        self.assertIn("SERIAL 99990101000000 lies more than a day ahead of this clock", out)
        self.assertEqual(0, sign("--force"), "a serial above the clock is kept, never lowered")
        self.assertEqual("99990101000000", attributes()["SERIAL"])
        self.assertEqual(2, sign("--serial", "5"), "an explicit lower serial is refused")

        self.assertEqual(0, sign("--force", "--expires", "2031-02-03T04:05:06Z"))
        self.assertEqual("2031-02-03T04:05:06Z", attributes()["EXPIRES"])
        self.assertEqual(2, sign("--force", "--expires", "2031-02-30T04:05:06Z"))
        errors, out = self.quiet(publish.check, self.root, "m", [SAMPLE_PUB])
        self.assertEqual(0, errors, out)
        self.assertIn("0 error(s), 1 warning(s)", out, "the serial ahead")
        errors, out = self.quiet(publish.check, self.root, "m", [SAMPLE_PUB], "99990101000001")
        self.assertIn("SERIAL 99990101000000 is lower than the previous signature's 99990101000001", out)

        self.assertEqual(0, sign("--force", "--valid-days", "10"))
        errors, out = self.quiet(publish.check, self.root, "m", [SAMPLE_PUB])
        self.assertEqual(0, errors, out)
        self.assertIn("within 30 days", out)
        # Valid for ever could be replayed for ever: refused by the tool, and
        # an error where a catalogue has none.
        self.assertEqual(2, sign("--force", "--valid-days", "0"))
        self.assertIn("EXPIRES", attributes())
        with open(self.catalogue, "rb") as fh:
            text = fh.read().decode("cp949")
        with open(self.catalogue, "wb") as fh:
            fh.write(publish.set_root_attribute(text, "EXPIRES", None).encode("cp949"))
        errors, out = self.quiet(publish.check, self.root, "m")
        self.assertIn("no EXPIRES: programs with keys refuse it", out)
        self.assertEqual(0, sign("--force"))
        err = io.StringIO()
        publish.sign(self.root, "m", SAMPLE_KEY, expires="2020-01-01T00:00:00Z", out=io.StringIO(), err=err,
                     force=True)
        self.assertIn("expires in the past", err.getvalue())
        errors, out = self.quiet(publish.check, self.root, "m", [SAMPLE_PUB])
        self.assertEqual(1, errors, out)
        self.assertIn("expired at 2020-01-01T00:00:00Z", out)

    def test_check_finds_what_the_program_would_refuse(self):
        self.quiet(publish.stamp, self.root, "m")
        text = read_bytes(self.catalogue).decode("cp949")
        text = text.replace('<FILE NAME="b.dll">', '<FILE NAME="..\\b.dll">')
        text = text.replace("zelto/zeltosetup/c/prep.exe", "zelto/other/prep.exe")
        text = text.replace("<FILESIZE>3000</FILESIZE>", "<FILESIZE>3001</FILESIZE><COLOR>red</COLOR>")
        text = text.replace('<UPDATEITEM NAME="뷰어">', '<UPDATEITEM NAME="뷰어"><SOURCE_WIN9X/>')
        text = text.replace("</UPDATELIST>", '<UPDATEITEM><MODE NAME="m"/></UPDATEITEM></UPDATELIST>')
        text = text.replace("<DEST>[PROGRAMS]Zelto</DEST>\n        <FILETIME>", "<DEST>Zelto</DEST>\n        <FILETIME>")
        with open(self.catalogue, "wb") as f:
            f.write(text.encode("cp949"))
        os.remove(os.path.join(self.root, REPO, "c", "b.zip"))
        errors, out = self.quiet(publish.check, self.root, "m", [SAMPLE_PUB])
        for finding in ("FILE '..\\\\b.dll': the program refuses the name", "RUNSOURCE http://down.zelto.com/zelto/"
                        "other/prep.exe fails the trust rule", "a.dll: FILESIZE 3001, the file has 3000 bytes",
                        "b.zip is missing under", "UPDATEITEM without a usable NAME", "m.xml.sig: missing",
                        "warning: ", "unknown element COLOR", "no readable SERIAL", "no MODE",
                        "DEST Zelto is no full path", "no EXPIRES: programs with keys refuse it"):
            self.assertIn(finding, out)
        self.assertEqual(10, errors, out)
        self.assertRegex(out, r"m\.xml:\d+: FILE '\.\.", "findings name the entry's line")
        self.assertEqual(1, publish.main(["check", self.root, "m"]))

    def test_patches_are_made_from_the_previous_release_and_checked(self):
        # Release 2 of a.dll and of b.dll (in b.zip) under c2/, release 1 stays under c/.
        self.quiet(publish.stamp, self.root, "m")
        previous = os.path.join(self.root, "release1.xml")
        shutil.copyfile(self.catalogue, previous)
        files = os.path.join(self.root, REPO, "c2")
        os.makedirs(files)
        new_a = versioned(0x00010002, 0x00030005) + b"new code" * 50
        with open(os.path.join(files, "a.dll"), "wb") as f:
            f.write(new_a)
        shutil.copyfile(os.path.join(self.root, REPO, "c", "prep.exe"), os.path.join(files, "prep.exe"))
        with zipfile.ZipFile(os.path.join(files, "b.zip"), "w") as z:
            z.writestr("b.dll", versioned(0x00020000, 0x00000002, 5000))
        with open(self.catalogue, "wb") as f:
            f.write(CATALOGUE.replace("/c/", "/c2/").encode("cp949"))
        self.quiet(publish.stamp, self.root, "m")
        lines = publish.zelto_patches.make(publish.this_tool(), self.root, "m", [previous], 3, io.StringIO())
        text = read_bytes(self.catalogue).decode("cp949")
        self.assertEqual(2, text.count("<PATCH "), lines)
        self.assertEqual(1, text.count("<FILESHA256>"), "the archive's file names its own hash")
        errors, out = self.quiet(publish.check, self.root, "m")
        self.assertEqual(0, errors, out)
        patch = os.path.join(files, "patches", sorted(os.listdir(os.path.join(files, "patches")))[0])

        # A damaged patch; a base gone from ROOT; a patch to other bytes listed
        # with its own size and hash.
        original = read_bytes(patch)
        with open(patch, "wb") as f:
            f.write(original[:-3] + b"xyz")
        errors, out = self.quiet(publish.check, self.root, "m")
        self.assertIn("SIZE or SHA256 differs", out)
        with open(patch, "wb") as f:
            f.write(original)
        away = self.root + ".a.dll"   # outside ROOT
        shutil.move(os.path.join(self.root, REPO, "c", "a.dll"), away)
        errors, out = self.quiet(publish.check, self.root, "m")
        self.assertIn("it cannot be verified", out)
        shutil.move(away, os.path.join(self.root, REPO, "c", "a.dll"))
        a_patch = [p for p in os.listdir(os.path.join(files, "patches")) if p.startswith("a.dll.")][0]
        a_patch = os.path.join(files, "patches", a_patch)
        old_size, old_hash = os.path.getsize(a_patch), publish.sha256_of(a_patch)
        publish.zelto_patches.make_patch(versioned(0x00010002, 0x00030004), new_a[:-1] + b"X", a_patch)
        text = text.replace('SIZE="%d" SHA256="%s"' % (old_size, old_hash),
                            'SIZE="%d" SHA256="%s"' % (os.path.getsize(a_patch), publish.sha256_of(a_patch)))
        with open(self.catalogue, "wb") as f:
            f.write(text.encode("cp949"))
        errors, out = self.quiet(publish.check, self.root, "m")
        self.assertEqual(1, errors, out)
        self.assertIn("gives bytes other than the file's", out)

    def test_a_release_is_staged_halted_resumed_and_shown_by_check(self):
        rollout = publish.zelto_rollout
        utc = rollout.parse_time
        tool = publish.this_tool()

        def stage(now, *args, **kw):
            lines = rollout.rollout(tool, self.root, "m", "뷰어", *args, now=utc(now), out=io.StringIO(), **kw)
            return lines[-1]

        with self.assertRaises(rollout.Problem):   # no hashes to salt the release with
            stage("2026-12-01T00:00:00Z", ramp="1:0,5:24,100:96")
        self.quiet(publish.stamp, self.root, "m")
        with self.assertRaises(rollout.Problem):   # a new release needs a stage
            stage("2026-12-01T00:00:00Z", halt=True)
        self.assertIn("stage now 1%", stage("2026-12-01T00:00:00Z", ramp="1:0,5:24,100:96"))
        text = read_bytes(self.catalogue).decode("cp949")
        salt = rollout.attributes(text[text.index("<ROLLOUT"):])["SALT"]
        self.assertIn("stage now 5% (halted)", stage("2026-12-02T06:00:00Z", halt=True))
        self.assertIn("stage now 5%", stage("2026-12-09T06:00:00Z", resume=True), "the ramp goes on from its stage")
        self.assertIn('START="2026-12-08T00:00:00Z"', stage("2026-12-09T06:00:00Z"), "moved on by the halt")
        self.assertIn("stage now 100%", stage("2026-12-09T06:00:00Z", critical=True))
        text = read_bytes(self.catalogue).decode("cp949")
        self.assertEqual(1, text.count("<ROLLOUT"))
        self.assertLess(text.index("<ROLLOUT"), text.index("<MODE"), "the first child of its item")

        # The same bytes keep their salt; other files are a new release.
        self.quiet(publish.stamp, self.root, "m")
        self.assertIn('SALT="%s"' % salt, stage("2026-12-10T00:00:00Z", percent="20"))
        with open(os.path.join(self.root, REPO, "c", "a.dll"), "wb") as f:
            f.write(versioned(0x00010002, 0x00030005, 3100))
        self.quiet(publish.stamp, self.root, "m")
        out = io.StringIO()
        publish.check(self.root, "m", out=out)
        self.assertIn("the ROLLOUT was set for other files", out.getvalue())
        line = stage("2026-12-11T00:00:00Z", percent="1")
        self.assertNotIn(salt, line)
        self.assertIn('START="2026-12-11T00:00:00Z"', line)

        # check: the stage, a halt left for over a week, and what the
        # program cannot read (it would hold the item everywhere).
        stage("2026-12-12T00:00:00Z", halt=True)
        errors, warnings = [], []
        text = read_bytes(self.catalogue).decode("cp949")
        rollout.check_items("m.xml", text, errors, warnings, now=utc("2026-12-13T00:00:00Z"), out=out)
        self.assertIn("rollout: 뷰어: stage 1% (halted since 2026-12-12T00:00:00Z)", out.getvalue())
        self.assertEqual(([], []), (errors, warnings))
        rollout.check_items("m.xml", text, errors, warnings, now=utc("2026-12-20T00:00:00Z"), out=out)
        self.assertIn("halted for more than 7 days", " ".join(warnings))
        broken = text.replace('PERCENT="1"', 'PERCENT="1%"')
        rollout.check_items("m.xml", broken, errors, warnings, out=out)
        self.assertIn("cannot be read", " ".join(errors))

        # The REPORT the program would refuse.
        for report, finding in (('<REPORT RATE="5">http://stats.zelto.com/zelto/zeltosetup/r</REPORT>', None),
                                ('<REPORT>http://stats.example.net/zelto/zeltosetup/r</REPORT>', "trust rule"),
                                ('<REPORT RATE="5%">http://stats.zelto.com/zelto/zeltosetup/r</REPORT>', "RATE")):
            errors = []
            rollout.check_report(tool, "m.xml", text.replace("<UPDATELIST>", "<UPDATELIST>" + report), errors)
            self.assertEqual(1 if finding else 0, len(errors), (report, errors))
            if finding:
                self.assertIn(finding, errors[0])

    def test_the_trust_rule_agrees_with_the_program(self):
        with open(os.path.join(SOURCE, "tests", "data", "trust-cases.txt"), encoding="utf-8") as table:
            cases = [line.rstrip("\n").split(" # ")[0] for line in table if line.strip() and not line.startswith("#")]
        self.assertGreaterEqual(len(cases), 25)
        for case in cases:
            verdict, url = case.split(" ", 1)
            self.assertEqual(verdict == "ok", publish.url_trusted(url), url)

    def test_mode_and_name_rules(self):
        for mode in ("", "a/b", "a\\b", "50%", "a?b", "a#b", "..", "a b", "a\tb"):
            self.assertIsNotNone(publish.mode_refused(mode), repr(mode))
        self.assertIsNone(publish.mode_refused("zeltosetup"))
        for name in ("", ".", "..", "a\\b", "a/b", "c:x", ".dll"):
            self.assertIsNotNone(publish.name_refused(name), repr(name))
        self.assertIsNone(publish.name_refused("a.dll"))

    def test_keygen_writes_a_private_key_only_its_owner_reads(self):
        prefix = os.path.join(self.root, "k")
        publish.keygen(prefix)
        self.assertEqual(0o600, os.stat(prefix + ".pem").st_mode & 0o777)
        self.assertIn(b"BEGIN PUBLIC KEY", read_bytes(prefix + ".pub.pem"))
        self.assertEqual(3072, publish.load_key(prefix + ".pub.pem", private=False).key_size)
        self.assertEqual(2, publish.main(["keygen", prefix]), "an existing key is never overwritten")
        # As the operators' page says, into a folder that does not exist yet.
        self.assertEqual(0, publish.main(["keygen", os.path.join(self.root, "keys", "zelto-2026")]))
        self.assertTrue(os.path.exists(os.path.join(self.root, "keys", "zelto-2026.pub.pem")))
        blocked = os.path.join(self.root, "file")
        with open(blocked, "w") as fh:
            fh.write("x")
        self.assertEqual(2, publish.main(["keygen", os.path.join(blocked, "k")]), "one line, no traceback")


KEYS = os.path.join(SOURCE, "tests", "data", "sample-key")
ROOTS = [os.path.join(KEYS, "zelto-sample-root-%d" % i) for i in (1, 2, 3)]
KEY_A = os.path.join(KEYS, "zelto-sample-catalogue-key")
KEY_B = os.path.join(KEYS, "zelto-sample-catalogue-b")


class KeysDocuments(unittest.TestCase):
    """Rotating and revoking catalogue keys, rotating a root key, and a
    document below the threshold, as a program with A and the three sample
    roots (two sign) would read the chain."""

    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="zelto-keys-")

    def tearDown(self):
        shutil.rmtree(self.folder)

    def make(self, version, roots, keys, revoke=(), signers=()):
        path = os.path.join(self.folder, "%d.xml" % version)
        cmd = ["keys", "make", path, "--version", str(version), "--threshold", "2"]
        cmd += sum((["--root", r + ".pub.pem"] for r in roots), [])
        cmd += sum((["--catalogue-key", k + ".pub.pem"] for k in keys), [])
        cmd += sum((["--revoke", k + ".pub.pem"] for k in revoke), [])
        self.assertEqual(0, publish.main(cmd))
        for signer in signers:
            self.assertEqual(0, publish.main(["keys", "sign", path, "--key", signer + ".pem"]))
        return path

    def chain(self):
        return publish.zelto_keys.check_chain(self.folder, [r + ".pub.pem" for r in ROOTS], 2, [KEY_A + ".pub.pem"])

    def ids(self, *keys):
        return [publish.zelto_keys.key_id(publish.zelto_keys.public_pem(publish.zelto_keys.load(k + ".pub.pem")))
                for k in keys]

    def test_rotate_revoke_and_replace_a_root_key(self):
        lines, errors, active = self.chain()
        self.assertEqual([], errors)
        self.assertEqual(self.ids(KEY_A), [publish.zelto_keys.key_id(k) for k in active], "version 1: the built-in key")

        # Routine rotation: B added beside A, two roots sign.
        self.make(2, ROOTS, [KEY_A, KEY_B], signers=ROOTS[:2])
        lines, errors, active = self.chain()
        self.assertEqual([], errors, lines)
        self.assertEqual(sorted(self.ids(KEY_A, KEY_B)), sorted(publish.zelto_keys.key_id(k) for k in active))

        # A leaked: revoked; its signature no longer counts.
        self.make(3, ROOTS, [KEY_A, KEY_B], revoke=[KEY_A], signers=ROOTS[1:])
        lines, errors, active = self.chain()
        self.assertEqual([], errors, lines)
        self.assertEqual(self.ids(KEY_B), [publish.zelto_keys.key_id(k) for k in active])

        # Root 3 lost: replaced by B as a root key; two old roots and two of
        # the new set sign (root 1 and 2 are in both).
        self.make(4, ROOTS[:2] + [KEY_B], [KEY_B], signers=ROOTS[:2])
        lines, errors, active = self.chain()
        self.assertEqual([], errors, lines)
        self.assertIn("version 4: 3 root key(s), 2 sign", "\n".join(lines))

        # Below the threshold: one signature of the held roots.
        self.make(5, ROOTS[:2] + [KEY_B], [KEY_B], signers=[ROOTS[0]])
        lines, errors, active = self.chain()
        self.assertEqual(1, len(errors), lines)
        self.assertIn("5.xml: programs holding version 4 refuse it: signed by 1 root key(s) of version 4, 2 needed",
                      errors[0])
        self.assertEqual(1, publish.main(["keys", "check", self.folder, "--catalogue-key", KEY_A + ".pub.pem"] +
                                         sum((["--root", r + ".pub.pem"] for r in ROOTS), [])))

    def test_operators_mistakes_get_one_line(self):
        path = self.make(2, ROOTS, [KEY_B], signers=ROOTS[:2])
        self.assertEqual(2, publish.main(["keys", "make", path, "--version", "2", "--root", ROOTS[0] + ".pub.pem",
                                          "--threshold", "1", "--catalogue-key", KEY_B + ".pub.pem"]),
                         "a published version is never rewritten")
        self.assertEqual(2, publish.main(["keys", "make", os.path.join(self.folder, "3.xml"), "--version", "3",
                                          "--root", ROOTS[0] + ".pub.pem", "--threshold", "2",
                                          "--catalogue-key", KEY_B + ".pub.pem"]), "a threshold above the roots")
        self.assertEqual(2, publish.main(["keys", "make", os.path.join(self.folder, "3.xml"), "--version", "3",
                                          "--root", ROOTS[0] + ".pub.pem", "--threshold", "1",
                                          "--catalogue-key", KEY_B + ".pub.pem", "--revoke", KEY_B + ".pub.pem"]),
                         "every catalogue key revoked")
        self.assertEqual(2, publish.main(["keys", "sign", path, "--key", ROOTS[0] + ".pub.pem"]),
                         "a public key cannot sign")


if __name__ == "__main__":
    unittest.main(verbosity=2)
