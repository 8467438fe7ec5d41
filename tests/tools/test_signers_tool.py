"""The operators' tool and code signatures: `signers` pins an item's
publishers only when its executable files (plain, in archives, RUNFILE
programs) are signed under them, and `check` refuses every file the program
would refuse. Runs the tool as an operator does, on the build's test bed of
signed components (tools/make_test_signers.sh)."""
import hashlib
import os
import re
import shutil
import subprocess
import tempfile
import unittest
import zipfile

SOURCE = os.environ.get("ZELTO_SOURCE") or os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
BIN = os.environ.get("ZELTO_BIN") or os.path.join(SOURCE, "build", "win")
SIGNERS = os.path.join(BIN, "tests", "components", "signers")
TOOL = ["/usr/bin/python3", os.path.join(SOURCE, "tools", "zelto-publish.py")]
REPO = os.path.join("down.zelto.com", "zelto", "zeltosetup")
URL = "http://down.zelto.com/zelto/zeltosetup/c/"

CATALOGUE = """<?xml version="1.0" encoding="euc-kr"?>
<ZELTOOMBRIX>
  <UPDATELIST>
    <UPDATEITEM NAME="Ctl">
      <MODE NAME="m"/>
      <FILE NAME="ZeltoTestCtl.dll">
        <SOURCE>%(url)sZeltoTestCtl.dll</SOURCE>
        <DEST>[PROGRAMS]Zelto</DEST>
        <RUNFILE NAME="ZeltoAux.exe"><RUNSOURCE>%(url)sZeltoAux.exe</RUNSOURCE></RUNFILE>
      </FILE>
      <FILE NAME="ZeltoTestCtl2.dll">
        <SOURCE>%(url)sCtl2.zip</SOURCE>
        <DEST>[PROGRAMS]Zelto</DEST>
      </FILE>
      <FILE NAME="readme.txt">
        <SOURCE>%(url)sreadme.txt</SOURCE>
        <DEST>[PROGRAMS]Zelto</DEST>
      </FILE>
    </UPDATEITEM>
  </UPDATELIST>
</ZELTOOMBRIX>
""" % {"url": URL}


def spki(name):
    with open(os.path.join(SIGNERS, name + ".spki")) as f:
        return f.read().strip()


class SignersTool(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="zelto-signers-")
        os.makedirs(os.path.join(self.root, REPO, "c"))
        os.makedirs(os.path.join(self.root, REPO, "Repository", "m"))
        self.catalogue = os.path.join(self.root, REPO, "Repository", "m", "m.xml")
        with open(self.catalogue, "w", encoding="cp949") as f:
            f.write(CATALOGUE)
        with open(os.path.join(self.root, REPO, "c", "readme.txt"), "w") as f:
            f.write("not a program")
        self.serve(ctl="good", aux="good", zipped="good")

    def tearDown(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def serve(self, ctl=None, aux=None, zipped=None):
        """The item's files from the test bed's variants."""
        folder = os.path.join(self.root, REPO, "c")
        if ctl:
            shutil.copy(os.path.join(SIGNERS, ctl, "ZeltoTestCtl.dll"), folder)
        if aux:
            shutil.copy(os.path.join(SIGNERS, aux, "ZeltoAux.exe"), folder)
        if zipped:
            with zipfile.ZipFile(os.path.join(folder, "Ctl2.zip"), "w") as archive:
                archive.write(os.path.join(SIGNERS, zipped, "ZeltoTestCtl2.dll"), "ZeltoTestCtl2.dll")

    def tool(self, *args):
        return subprocess.run(TOOL + list(args), capture_output=True, text=True, timeout=120)

    def text(self):
        with open(self.catalogue, encoding="cp949") as f:
            return f.read()

    def check_errors(self, *extra):
        run = self.tool("check", self.root, "m", *extra)
        return [line for line in run.stdout.splitlines() if line.startswith("error: ")], run.returncode

    def test_signers_pins_what_is_signed_and_check_agrees(self):
        authority = os.path.join(SIGNERS, "authority-a.crt")
        run = self.tool("signers", self.root, "m", "Ctl", "--authority", authority, "--subject", "QRV Corp.")
        self.assertEqual(0, run.returncode, run.stderr)
        self.assertEqual(['<SIGNER SPKISHA256="%s" SUBJECT="QRV Corp."/>' % spki("authority-a")],
                         re.findall(r"<SIGNER\b[^>]*/>", self.text()))
        # Three executable files checked (the text file is not one).
        self.assertEqual(3, run.stdout.count("signed under a pinned certificate"), run.stdout)
        self.assertEqual(([], 0), self.check_errors())
        # Again with both authorities (a move to a new one): the elements are replaced, not added to.
        run = self.tool("signers", self.root, "m", "Ctl", "--authority", authority,
                        "--authority", os.path.join(SIGNERS, "authority-b.crt"))
        self.assertEqual(0, run.returncode, run.stderr)
        self.assertEqual([spki("authority-a"), spki("authority-b")], re.findall(r'SPKISHA256="([0-9a-f]+)"', self.text()))
        self.serve(ctl="other")
        self.assertEqual(([], 0), self.check_errors(), "under either authority")

    def test_signers_refuses_a_file_signed_otherwise_and_writes_nothing(self):
        before = self.text()
        self.serve(zipped="other")
        run = self.tool("signers", self.root, "m", "Ctl", "--authority", os.path.join(SIGNERS, "authority-a.crt"))
        self.assertEqual(2, run.returncode)
        self.assertEqual(1, len(run.stderr.strip().splitlines()), run.stderr)
        self.assertIn("ZeltoTestCtl2.dll (in %sCtl2.zip): signed by 'QRV Corp.' under no pinned certificate"
                      % URL, run.stderr)
        self.assertEqual(before, self.text())
        # An operator's mistakes: a missing certificate, a file that holds none, an unknown item.
        for args, says in ((["--authority", os.path.join(self.root, "none.pem")], "none.pem: cannot be read"),
                           (["--authority", self.catalogue], "m.xml: holds no certificate"),
                           (["--authority", os.path.join(SIGNERS, "authority-a.crt"), "--subject", "x"], None)):
            item = "Ctl" if says else "Nobody"
            run = self.tool("signers", self.root, "m", item, *args)
            self.assertEqual(2, run.returncode, run.stderr)
            self.assertEqual(1, len(run.stderr.strip().splitlines()), run.stderr)
            self.assertIn(says or "no UPDATEITEM 'Nobody'", run.stderr)
            self.assertEqual(before, self.text())

    def test_check_refuses_what_the_program_refuses(self):
        pinned = self.text().replace('<MODE NAME="m"/>', '<MODE NAME="m"/><SIGNER SPKISHA256="%s"/>' % spki("authority-a"))
        with open(self.catalogue, "w", encoding="cp949") as f:
            f.write(pinned)
        self.assertEqual(([], 0), self.check_errors())
        for variant, why in (("unsigned", "not signed"),
                             ("tampered", "its bytes differ from what its signature covers"),
                             ("other", "signed by 'QRV Corp.' under no pinned certificate"),
                             ("forged", "signed by 'QRV Corp.' under no pinned certificate"),
                             ("expired", "signed by 'QRV Corp.': certificate has expired"),
                             ("stamped", None), ("renewed", None)):
            self.serve(aux=variant)
            errors, code = self.check_errors()
            if why is None:
                self.assertEqual(([], 0), (errors, code), variant)
                continue
            self.assertEqual(1, code, variant)
            self.assertEqual(["error: %s: item Ctl: %sZeltoAux.exe: refused by the item's SIGNER pins: %s"
                              % (self.catalogue, URL, why)], errors, variant)
        self.serve(aux="good")
        # The program's own pin applies to every item, whatever its SIGNERs say.
        errors, code = self.check_errors("--signer-pin", spki("authority-b"))
        self.assertEqual(1, code)
        self.assertEqual(3, len(errors), errors)
        self.assertTrue(all("refused by the program's pins" in e for e in errors), errors)
        # A pin that is no SHA-256: the program refuses the item's executable files.
        with open(self.catalogue, "w", encoding="cp949") as f:
            f.write(pinned.replace(spki("authority-a"), "abc"))
        errors, _ = self.check_errors()
        self.assertIn("SIGNER SPKISHA256 'abc' is no SHA-256", errors[0])

    def test_items_without_pins_are_not_checked(self):
        self.serve(ctl="unsigned", aux="forged", zipped="tampered")
        self.assertEqual(([], 0), self.check_errors())


if __name__ == "__main__":
    unittest.main()
