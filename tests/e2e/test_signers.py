"""The second lock: an item whose catalogue pins its publishers installs only
executable files that carry such a publisher's code signature, checked on
the staged bytes before anything of the item is placed, registered or
started. The components are the build's test bed (tools/make_test_signers.sh),
published under components/signed/<variant>/."""
import os
import re
import shlex
import shutil
import subprocess
import tempfile
import zipfile

import test_install_faults as f
import test_signed as s
import zelto_e2e as z

SIGNERS = os.path.join(z.BIN, "tests", "components", "signers")
SIGNED_URL = "http://down.zelto.com/zelto/zeltosetup/components/signed/"
CTL = ("ZeltoTestCtl.dll", "A1B2C3D4-0001-4E5F-8A9B-0C1D2E3F4A51")
CTL2 = ("ZeltoTestCtl2.dll", "A1B2C3D4-0002-4E5F-8A9B-0C1D2E3F4A52")
ZIP_DIR = os.path.join(f.WWW, "zelto", "zeltosetup", "signedzip")
AUX_LOG = os.path.join(z.BIN, "signers-aux.log")
SERIALS_KEY = r"HKLM\Software\QRV Corporation\ZeltoSetup\CatalogueSerials"


def spki(name):
    with open(os.path.join(SIGNERS, name + ".spki")) as fh:
        return fh.read().strip()


def signer(authority):
    return "<SIGNER SPKISHA256='%s'/>" % spki(authority)


def control(file, source):
    return f.file_xml(file[0], source, "<REGISTER>1</REGISTER><CLASSID>%s</CLASSID>" % file[1])


def registered(file):
    return z.reg("query", r"HKCR\CLSID\{%s}\InprocServer32" % file[1]).returncode == 0


def zipped(name, variant):
    """A ZIP of the second control as the variant signs it; its URL."""
    os.makedirs(ZIP_DIR, exist_ok=True)
    with zipfile.ZipFile(os.path.join(ZIP_DIR, name), "w") as archive:
        archive.write(os.path.join(SIGNERS, variant, CTL2[0]), CTL2[0])
    return "http://down.zelto.com/zelto/zeltosetup/signedzip/" + name


class Signers(f.FaultScenario):
    def setUp(self):
        super().setUp()
        for path in (AUX_LOG,):
            if os.path.exists(path):
                os.remove(path)

    def tearDown(self):
        shutil.rmtree(ZIP_DIR, ignore_errors=True)

    def install(self, mode, items, env=None):
        f.publish(mode, items, report=True)
        run = z.run_driver(["-x", f.doc(mode)], presses=[1, 1], timeout=90, env=env)
        self.assertFalse(run.timed_out, run.lines)
        return run

    def boxes(self, run):
        return [w["text"] for w in run.windows if w["class"] == "#32770" and w["text"]]

    def assert_refused(self, run, item, code, files):
        self.assertEqual(101, run.last_status(), run.lines)
        self.assertIn(40, run.status_codes(), "the download succeeded")
        self.assertTrue(self.boxes(run) and self.boxes(run)[0].startswith(
            f.MSG_INSTALL_FAILED + "\nErrorCode = %d(" % code), self.boxes(run))
        for file in files:
            self.assertFalse(f.installed(file[0]), "%s placed" % file[0])
            self.assertFalse(registered(file), "%s registered" % file[0])
        self.assertIsNone(z.reg_value(z.UNINSTALL_KEY + "\\" + item + r"\ZeltoTestCtl", "FilePath"), "no record")
        self.assertIn((item, "rolled-back", str(code)), [r[:3] for r in f.reports()])

    def test_each_kind_of_refusal_places_and_registers_nothing(self):
        # The item's good control first: nothing of the item may be placed
        # when its second file is refused.
        for variant, code in (("unsigned", 1027), ("tampered", 1028), ("other", 1029), ("forged", 1029),
                              ("expired", 1030)):
            with self.subTest(variant):
                z.reset_installation()
                z.clear_requests()
                z.clear_log()
                run = self.install("pin" + variant, [("Pinned", [signer("authority-a"),
                                                                 control(CTL, SIGNED_URL + "good/" + CTL[0]),
                                                                 control(CTL2, SIGNED_URL + variant + "/" + CTL2[0])])])
                self.assert_refused(run, "Pinned", code, [CTL, CTL2])
                line = [l for l in z.read_log().splitlines() if "refused by the item's SIGNER pins" in l]
                self.assertEqual(1, len(line), z.read_log())
                self.assertIn("\\Zelto\\Staging\\%s refused by the item's SIGNER pins: signer \"%s\"" % (
                    CTL2[0], "none" if variant == "unsigned" else "QRV Corp."), line[0])

    def test_a_publisher_pinned_for_another_item_counts_for_that_item_only(self):
        # Both controls signed by the first authority; the second item pins
        # the other authority: the first item installs, the second is refused.
        run = self.install("pinother", [("First", [signer("authority-a"), control(CTL, SIGNED_URL + "good/" + CTL[0])]),
                                        ("Second", [signer("authority-b"), control(CTL2, SIGNED_URL + "good/" + CTL2[0])])])
        self.assertEqual(101, run.last_status(), run.lines)
        self.assertTrue(f.installed(CTL[0]) and registered(CTL))
        self.assertFalse(f.installed(CTL2[0]) or registered(CTL2))
        self.assertEqual({("First", "installed"), ("Second", "rolled-back")}, {r[:2] for r in f.reports()})
        self.assertIn(("Second", "rolled-back", "1029"), [r[:3] for r in f.reports()])

    def test_renewed_timestamped_and_archived_components_install(self):
        # A renewed certificate under the pinned authority, and the second
        # control unpacked from an archive: its entry is what is checked.
        run = self.install("pinarchive", [("Pinned", [signer("authority-a"),
                                                      control(CTL, SIGNED_URL + "stamped/" + CTL[0]),
                                                      control(CTL2, zipped("good.zip", "renewed"))])])
        self.assertEqual(100, run.last_status(), run.lines)
        self.assertTrue(f.installed(CTL[0]) and f.installed(CTL2[0]) and registered(CTL) and registered(CTL2))
        self.assertIn("ZeltoTestCtl.dll signed by \"QRV Corp.\" (timestamped)", z.read_log())

        z.reset_installation()
        run = self.install("pinarchive2", [("Pinned", [signer("authority-a"), control(CTL2, zipped("other.zip", "other"))])])
        self.assert_refused(run, "Pinned", 1029, [CTL2])

    def test_a_runfile_program_of_another_publisher_never_starts(self):
        aux = ("<RUNFILE NAME='ZeltoAux.exe'><RUNSOURCE>%sother/ZeltoAux.exe</RUNSOURCE></RUNFILE>" % SIGNED_URL)
        item = ("Pinned", [signer("authority-a"), f.file_xml(CTL[0], SIGNED_URL + "good/" + CTL[0], aux)])
        run = self.install("pinrun", [item], env={"ZELTO_AUX_LOG": z.win_path(AUX_LOG)})
        self.assert_refused(run, "Pinned", 1029, [CTL])
        self.assertFalse(os.path.exists(AUX_LOG), "the auxiliary program ran")
        # Signed by the pinned publisher, it runs.
        z.reset_installation()
        good = ("Pinned", [signer("authority-a"), f.file_xml(CTL[0], SIGNED_URL + "good/" + CTL[0],
                                                               aux.replace("/other/", "/good/"))])
        run = self.install("pinrun2", [good], env={"ZELTO_AUX_LOG": z.win_path(AUX_LOG)})
        self.assertEqual(100, run.last_status(), run.lines)
        self.assertTrue(os.path.exists(AUX_LOG), "the auxiliary program did not run")


def documented_commands():
    """The commands of "Signing the components" in docs/operators.md, as printed."""
    with open(os.path.join(z.SOURCE, "docs", "operators.md"), encoding="utf-8") as fh:
        section = fh.read().split("## Signing the components", 1)[1].split("\n## ", 1)[0]
    block = re.search(r"```sh\n(.*?)```", section, re.S).group(1)
    return [shlex.split(line) for line in block.splitlines() if line.strip()]


class OperatorsFlow(f.FaultScenario):
    """The commands docs/operators.md prints for signing components, run as printed (the test bed's
    certificates for its file names), then the program built with the sample key."""

    def setUp(self):
        super().setUp()
        # A newer serial than the sample's: its floor goes with the test.
        z.reg("delete", SERIALS_KEY, "/f")
        if os.path.exists(s.SIGNED_LOG):
            os.remove(s.SIGNED_LOG)

    def tearDown(self):
        z.reg("delete", SERIALS_KEY, "/f")
        for path in (s.SERVED, s.SERVED + ".sig"):
            if os.path.exists(path):
                os.remove(path)
        shutil.rmtree(os.path.join(f.WWW, "zelto", "zeltosetup", "components"), ignore_errors=True)

    def test_the_documented_signing_steps_install(self):
        commands = documented_commands()
        self.assertEqual(["osslsigncode", "stamp", "signers", "sign", "check"],
                         [c[0] if c[0] == "osslsigncode" else c[1] for c in commands])
        with tempfile.TemporaryDirectory() as root:
            shutil.copytree(s.SIGNED_ROOT, root, dirs_exist_ok=True)
            # The new build's control is not under ROOT yet: signing puts it there.
            components = os.path.join(root, "down.zelto.com", "zelto", "zeltosetup", "components")
            os.remove(os.path.join(components, "v1005", CTL[0]))
            names = {"ROOT": root, "MODE": "zeltosetup", "ITEM": "ZeltoTestCtl",
                     "qrv-codesign-chain.pem": os.path.join(SIGNERS, "publisher.chain.pem"),
                     "qrv-codesign.key": os.path.join(SIGNERS, "publisher.key"),
                     "qrv-authority.pem": os.path.join(SIGNERS, "authority-a.crt"),
                     "keys/zelto-2026.pem": s.SAMPLE_KEY,
                     "keys/zelto-2026.pub.pem": s.SAMPLE_KEY.replace(".pem", ".pub.pem"),
                     "build/ZeltoTestCtl.dll": os.path.join(z.BIN, "tests", "components", "v1005", CTL[0])}
            for command in commands:
                words = []
                for word in command:
                    if word == "-ts":   # the test authority stands in for a time-stamping service
                        words += ["-TSA-certs", os.path.join(SIGNERS, "stamper.chain.pem"),
                                  "-TSA-key", os.path.join(SIGNERS, "stamper.key")]
                    elif word == "TIMESTAMP-URL":
                        continue
                    elif word == "tools/zelto-publish.py":
                        words += ["/usr/bin/python3", os.path.join(z.SOURCE, word)]
                    elif word.startswith("ROOT/"):
                        words.append(os.path.join(root, word[len("ROOT/"):]))
                    else:
                        words.append(names.get(word, word))
                run = subprocess.run(words, capture_output=True, text=True, timeout=120)
                self.assertEqual(0, run.returncode, (words, run.stdout, run.stderr))
            # Served as published: the catalogue, its signature and the signed control.
            os.makedirs(os.path.dirname(s.SERVED), exist_ok=True)
            shutil.copy(os.path.join(root, s.CATALOGUE), s.SERVED)
            shutil.copy(os.path.join(root, s.CATALOGUE + ".sig"), s.SERVED + ".sig")
            www = os.path.join(f.WWW, "zelto", "zeltosetup", "components", "v1005")
            os.makedirs(www, exist_ok=True)
            shutil.copy(os.path.join(components, "v1005", CTL[0]), www)
        z.set_rules(z.SAMPLE_RULES)
        run = z.run_driver(["-x", z.SAMPLE_DOC], presses=[1], timeout=90, exe=s.SIGNED_EXE)
        self.assertEqual(100, run.last_status(), run.lines)
        self.assertTrue(f.installed(CTL[0]) and f.installed(CTL2[0]) and registered(CTL) and registered(CTL2))
        self.assertIn("ZeltoTestCtl.dll signed by \"QRV Corp.\" (timestamped)", s.read_log())


if __name__ == "__main__":
    z.main()
