"""Unattended runs for administrators: "-q" installs and removes with no
window and nobody asked, "-l" writes the run's log where it is told, "-v"
repairs a present file whose bytes are not the published ones."""
import os
import subprocess
import tempfile
import time

import test_install_faults as f
import test_signed as s
import zelto_e2e as z

START_PAGE_KEY = r"HKCU\Software\Microsoft\Internet Explorer\Main"
RUN_LOG = os.path.join(z.PREFIX_C, "zelto-run.log")


def no_windows(test, run, what):
    """A quiet run that shows a window waits for a person: it fails here by
    the driver's own limit, naming what appeared."""
    shown = ["%s %r %r" % (w["class"], w["title"], w["text"]) for w in run.windows]
    test.assertFalse(run.timed_out, "%s waited until the driver's limit; it showed: %s" % (what, shown))
    test.assertEqual([], shown, what + " showed windows")


def read_run_log():
    with open(RUN_LOG, "rb") as fh:
        return fh.read().decode("cp949", "replace")


class Quiet(z.SampleScenario):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        z.set_log_level(None)   # the log file of "-l" needs no registry level

    def setUp(self):
        z.reset_installation()
        z.set_rules(z.SAMPLE_RULES)
        z.reg("delete", f.SESSION_MANAGER, "/v", "PendingFileRenameOperations", "/f")
        for path in (RUN_LOG, z.LOG):
            if os.path.exists(path):
                os.remove(path)

    def tearDown(self):
        z.reg("delete", f.SESSION_MANAGER, "/v", "PendingFileRenameOperations", "/f")

    def quiet(self, args, timeout=60, exe=None):
        return z.run_driver(["-q"] + args, timeout=timeout, exe=exe)

    def test_install_and_removal_without_a_window(self):
        z.reg("add", START_PAGE_KEY, "/v", "Start Page", "/d", "about:blank", "/f")
        run = self.quiet(["-x", z.SAMPLE_DOC, "-l", z.win_path(RUN_LOG)])
        no_windows(self, run, "the quiet install")
        self.assertEqual(0, run.exit_code, run.lines)
        self.assertEqual((100, 0), run.statuses[-1][:2], "the statuses still reach -w")
        self.assertIn(40, run.status_codes())
        self.assertTrue(f.installed("ZeltoTestCtl.dll") and f.installed("ZeltoTestCtl2.dll"))
        self.assertEqual("about:blank", z.reg_value(START_PAGE_KEY, "Start Page"), "no offer is taken quietly")
        log = read_run_log()
        self.assertIn("Level = 2", log, "-l logs the full trace whatever the registry says")
        self.assertIn("[OnStart] quiet run: 2 item(s) to install, no question asked", log)
        self.assertFalse(os.path.exists(z.LOG), "the log beside the program stays unwritten")

        # An existing name is refused, never followed or appended to.
        run = self.quiet(["-u", "-l", z.win_path(RUN_LOG)])
        no_windows(self, run, "the quiet removal with a log file that exists")
        self.assertEqual(1639, run.exit_code, run.lines)
        self.assertTrue(f.installed("ZeltoTestCtl.dll"), "a refused command line changes nothing")
        os.remove(RUN_LOG)
        # What a failed run left staged goes with the rest.
        with open(os.path.join(f.STAGING, "ZeltoLeftover.bin"), "wb") as fh:
            fh.write(b"left by a run")
        run = self.quiet(["-u", "-l", z.win_path(RUN_LOG)])
        no_windows(self, run, "the quiet removal")
        self.assertEqual(0, run.exit_code, run.lines)
        self.assertFalse(f.installed("ZeltoTestCtl.dll") or f.installed("ZeltoTestCtl2.dll"))
        self.assertIsNone(z.reg_value(z.UNINSTALL_KEY, "DisplayName"), "the uninstall entry goes with the last item")
        self.assertFalse(os.path.exists(f.STAGING), "the staging folder goes with the last item")
        self.assertNotIn(b"Journal", z.reg("query", r"HKLM\Software\QRV Corporation\ZeltoSetup").stdout,
                         "no journal key is left")
        log = read_run_log()
        self.assertNotIn("no question asked", log)
        self.assertIn("[RemoveEverythingQuietly] removing 2 item(s)", log)

    def test_held_files_wait_for_the_restart_and_their_holder_runs_on(self):
        f.publish("heldmode", [("Held", [f.file_xml("ZeltoTestCtl.dll", f.COMPONENTS + "v1005/ZeltoTestCtl.dll",
                                                    "<VERSION>1,0,0,5</VERSION><REGISTER>1</REGISTER>")])])
        holder = f.Faults.hold(self, "ZeltoTestCtl.dll")
        try:
            # FORCEDELETE 1 would let a person close the holder; quiet never does.
            run = self.quiet(["-x", f.doc("heldmode", force=1)], timeout=90)
            no_windows(self, run, "the quiet install of a held file")
            self.assertEqual(3010, run.exit_code, run.lines)
            self.assertEqual(90, run.last_status())
            self.assertIsNone(holder.poll(), "the program holding the file still runs")
            pending = z.reg("query", f.SESSION_MANAGER, "/v", "PendingFileRenameOperations").stdout
            self.assertIn(b"ZeltoTestCtl.dll", pending)
            z.reg("delete", f.SESSION_MANAGER, "/v", "PendingFileRenameOperations", "/f")

            run = self.quiet(["-u"], timeout=90)
            no_windows(self, run, "the quiet removal of a held file")
            self.assertEqual(3010, run.exit_code, run.lines)
            self.assertIsNone(holder.poll(), "the removal ends no program either")
            pending = z.reg("query", f.SESSION_MANAGER, "/v", "PendingFileRenameOperations").stdout
            self.assertIn(b"ZeltoTestCtl.dll", pending, "the held file goes at the next restart")
            self.assertIsNone(z.reg_value(z.UNINSTALL_KEY + r"\Held", "FilePath"))
        finally:
            holder.kill()
            holder.wait(timeout=30)
        shutil_rmtree(os.path.join(f.WWW, "zelto", "zeltosetup", "Repository", "heldmode"))

    def test_a_failed_catalogue_is_told_in_the_log_file(self):
        rules = dict(z.SAMPLE_RULES)
        rules["down.zelto.com/zelto/zeltosetup/Repository/zeltosetup/zeltosetup.xml"] = {"status": 404}
        z.set_rules(rules)
        run = self.quiet(["-x", z.SAMPLE_DOC, "-l", z.win_path(RUN_LOG)])
        no_windows(self, run, "the quiet run with a failed catalogue")
        self.assertEqual([20, 21, 101], run.status_codes())
        self.assertEqual(1603, run.exit_code)
        self.assertRegex(read_run_log(), r"\[ShowMessage\] 서버에서.*ErrorCode = 1005\(")

    def test_a_log_file_name_that_is_a_link_is_refused(self):
        # A user who plants a link at the name the administrator's script
        # will pass must not get the elevated program's writes elsewhere.
        with tempfile.TemporaryDirectory() as scratch:
            target = os.path.join(scratch, "target.txt")
            with open(target, "w") as out:
                out.write("untouched")
            link = os.path.join(scratch, "run.log")
            os.symlink(target, link)
            run = self.quiet(["-x", z.SAMPLE_DOC, "-l", z.win_path(link)])
            no_windows(self, run, "the quiet run with a refused log file")
            self.assertEqual(1639, run.exit_code, run.lines)
            self.assertNotIn(40, run.status_codes())
            with open(target) as fh:
                self.assertEqual("untouched", fh.read())
        self.assertFalse(f.installed("ZeltoTestCtl.dll"))

    def test_verify_repairs_a_changed_file_that_a_plain_run_leaves(self):
        s.serve()
        try:
            run = self.quiet(["-x", z.SAMPLE_DOC], exe=s.SIGNED_EXE)
            self.assertEqual(0, run.exit_code, run.lines)
            placed = os.path.join(z.OMBRIX_DIR, "ZeltoTestCtl.dll")
            with open(placed, "rb") as fh:
                good = fh.read()
            # Someone changes a byte of the DOS stub: same size, same time.
            stat = os.stat(placed)
            at = good.index(b"This program")
            with open(placed, "r+b") as fh:
                fh.seek(at)
                fh.write(b"t")
            os.utime(placed, ns=(stat.st_atime_ns, stat.st_mtime_ns))

            run = self.quiet(["-x", z.SAMPLE_DOC, "-l", z.win_path(RUN_LOG)], exe=s.SIGNED_EXE)
            self.assertEqual(0, run.exit_code, run.lines)
            with open(placed, "rb") as fh:
                self.assertNotEqual(good, fh.read(), "without -v present files are not hashed")
            self.assertNotIn("differs from its SHA256", read_run_log())

            os.remove(RUN_LOG)
            run = self.quiet(["-x", z.SAMPLE_DOC, "-v", "-l", z.win_path(RUN_LOG)], exe=s.SIGNED_EXE)
            self.assertEqual(0, run.exit_code, run.lines)
            with open(placed, "rb") as fh:
                self.assertEqual(good, fh.read(), "-v installs the published bytes again")
            self.assertIn("ZeltoTestCtl.dll differs from its SHA256", read_run_log())
        finally:
            s.Signed.tearDown(self)
            z.reg("delete", r"HKLM\Software\QRV Corporation\ZeltoSetup\CatalogueSerials", "/f")
            z.reg("delete", s.ADDREG_KEY, "/f")


def shutil_rmtree(path):
    import shutil
    shutil.rmtree(path, ignore_errors=True)


if __name__ == "__main__":
    z.main()
