"""The last decision on a file wins at the restart: a replacement left for
the restart by a run whose file was held is taken back when a later run
places the file at once, or removes it; Wine's restart (wineboot -r) then
carries out what is pending, as Windows does at boot."""
import os
import subprocess

import test_install_faults as f
import zelto_e2e as z

NEW = os.path.join(z.BIN, "tests", "components", "v1005", "ZeltoTestCtl.dll")
DEST = os.path.join(z.OMBRIX_DIR, "ZeltoTestCtl.dll")


def restart():
    """Ends every program of the prefix and restarts it: the pending file
    operations are carried out."""
    script = 'source "$0"; LC_ALL=ko_KR.UTF-8 wineboot -r'
    subprocess.run(["bash", "-c", script, os.path.join(z.SOURCE, "tools", "wine-env.sh")], stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120, check=True)


def end_holders():
    """Ends the holder on the Windows side (killing its runner leaves it running)."""
    script = 'source "$0"; LC_ALL=C wine taskkill /F /IM ZeltoHolder.exe'
    subprocess.run(["bash", "-c", script, os.path.join(z.SOURCE, "tools", "wine-env.sh")], stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)


def pending():
    return z.reg("query", f.SESSION_MANAGER, "/v", "PendingFileRenameOperations").stdout.decode("cp949", "replace")


def same_bytes(a, b):
    with open(a, "rb") as x, open(b, "rb") as y:
        return x.read() == y.read()


class Restart(f.FaultScenario):
    def setUp(self):
        super().setUp()
        z.reg("delete", f.SESSION_MANAGER, "/v", "PendingFileRenameOperations", "/f")
        f.publish("restartmode", [("Held", [f.file_xml("ZeltoTestCtl.dll", f.COMPONENTS + "v1005/ZeltoTestCtl.dll",
                                                       "<VERSION>1,0,0,5</VERSION>")])])

    def tearDown(self):
        z.reg("delete", f.SESSION_MANAGER, "/v", "PendingFileRenameOperations", "/f")

    def held_install(self):
        holder = f.Faults.hold(self, "ZeltoTestCtl.dll")
        try:
            run = z.run_driver(["-q", "-x", f.doc("restartmode")], timeout=90)
        finally:
            end_holders()
            holder.kill()
            holder.wait(timeout=30)
        self.assertEqual(3010, run.exit_code, run.lines)
        self.assertIn("ZeltoTestCtl.dll", pending(), "the replacement waits for the restart")

    def test_a_later_placement_wins_over_the_pending_replacement(self):
        self.held_install()
        # The file is free now: a second run places it at once.
        run = z.run_driver(["-q", "-x", f.doc("restartmode")], timeout=90)
        self.assertEqual(0, run.exit_code, run.lines)
        self.assertTrue(same_bytes(NEW, DEST))
        self.assertNotIn("ZeltoTestCtl.dll", pending(), "the restart's operations on it are taken back")
        restart()
        self.assertTrue(os.path.exists(DEST), "the restart deleted the placed file")
        self.assertTrue(same_bytes(NEW, DEST), "the new file is in place after the restart")
        self.assertFalse(os.path.exists(DEST + ".zelto-restart"))

    def test_a_removal_wins_over_the_pending_replacement(self):
        self.held_install()
        run = z.run_driver(["-q", "-u"], timeout=90)
        self.assertEqual(0, run.exit_code, run.lines)
        self.assertFalse(os.path.exists(DEST), "removed at once: nobody holds it now")
        restart()
        self.assertFalse(os.path.exists(DEST), "the restart brought a removed file back without a record")


if __name__ == "__main__":
    z.main()
