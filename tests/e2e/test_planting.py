"""The program as a local user finds it in a download folder: libraries of
the system's names planted beside it are never loaded (Wine made to prefer
them, as Windows treats libraries that are not known DLLs), and the
uninstall entry names the program's own copy in the program files folder,
never the file that was started."""
import filecmp
import os
import shutil
import subprocess

import zelto_e2e as z

PLANTED = os.path.join(z.BIN, "tests", "components", "planted")
# version.dll is not planted: Wine's own user32 imports it, so under a
# native-first override Wine loads a planted one into any program before the
# program runs (on Windows, user32 is a known DLL, its imports come from the
# system folder). The import table's check below covers it.
NAMES = ("wininet", "crypt32", "comctl32", "msimg32", "wtsapi32")
# Windows' known DLLs (and the C runtime): always loaded from the system folder.
KNOWN = {"advapi32.dll", "gdi32.dll", "kernel32.dll", "msvcrt.dll", "ole32.dll", "oleaut32.dll", "shell32.dll",
         "user32.dll", "psapi.dll", "shlwapi.dll", "comdlg32.dll", "rpcrt4.dll", "ws2_32.dll", "imm32.dll"}
DOWNLOADS = os.path.join(z.BIN, "planting", "Downloads")
PROGRAM = os.path.join(DOWNLOADS, "ZeltoSetup.exe")
COPY = os.path.join(z.PROGRAM_FILES, "Zelto", "ZeltoSetup.exe")
# Native first for each planted name: Wine would take its own otherwise.
OVERRIDES = {"ZELTO_DLLOVERRIDES": ",".join(NAMES) + "=n,b"}


def markers():
    return sorted(n for n in os.listdir(DOWNLOADS) if n.endswith(".loaded"))


class Planting(z.SampleScenario):
    def setUp(self):
        z.reset_installation()
        shutil.rmtree(DOWNLOADS, ignore_errors=True)
        os.makedirs(DOWNLOADS)
        shutil.copy(z.EXE, PROGRAM)
        for name in NAMES:
            shutil.copy(os.path.join(PLANTED, name + ".dll"), DOWNLOADS)
        if os.path.exists(COPY):
            os.remove(COPY)

    def tearDown(self):
        shutil.rmtree(DOWNLOADS, ignore_errors=True)

    def test_the_program_imports_known_dlls_only(self):
        arch = "x86_64" if os.environ.get("ZELTO_ARCH") == "x86_64" else "i686"
        for exe in (z.EXE, os.path.join(z.BIN, "sample-key", "ZeltoSetup-SAMPLE-KEY.exe")):
            dump = subprocess.run(["%s-w64-mingw32-objdump" % arch, "-p", exe], stdout=subprocess.PIPE,
                                  check=True, timeout=60).stdout.decode("ascii", "replace")
            # objdump -p lists the imports resolved at load time (not the delayed ones).
            imported = {line.split("DLL Name:")[1].strip().lower() for line in dump.splitlines() if "DLL Name:" in line}
            self.assertIn("kernel32.dll", imported, "the import table was read")
            self.assertEqual(set(), imported - KNOWN, "imported, so looked for beside %s first" % exe)

    def test_planted_libraries_are_never_loaded_and_the_entry_names_the_copy(self):
        run = z.run_driver(["-q", "-x", z.SAMPLE_DOC], timeout=90, exe=PROGRAM, env=OVERRIDES)
        self.assertFalse(run.timed_out, run.lines)
        self.assertEqual([], markers(), "a library planted beside the program was loaded by the install")
        self.assertEqual(0, run.exit_code, run.lines)
        self.assertEqual(100, run.last_status(), run.lines)

        # The entry names the copy in the program files folder, the same bytes.
        copy = "C:\\" + os.path.relpath(COPY, z.PREFIX_C).replace("/", "\\")
        self.assertEqual('"%s" -u' % copy, z.reg_value(z.UNINSTALL_KEY, "UninstallString"))
        self.assertEqual(copy, z.reg_value(z.UNINSTALL_KEY, "DisplayIcon"))
        self.assertTrue(filecmp.cmp(PROGRAM, COPY, shallow=False), "the copy is the program, byte for byte")

        run = z.run_driver(["-q", "-u"], timeout=90, exe=PROGRAM, env=OVERRIDES)
        self.assertFalse(run.timed_out, run.lines)
        self.assertEqual([], markers(), "a library planted beside the program was loaded by the removal")
        self.assertEqual(0, run.exit_code, run.lines)
        self.assertIsNone(z.reg_value(z.UNINSTALL_KEY, "UninstallString"))
        self.assertFalse(os.path.exists(COPY), "the last item's removal removes the copy")


if __name__ == "__main__":
    z.main()
