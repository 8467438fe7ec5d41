"""Screenshots of the skinned message dialogs under Xvfb, cropped to the
window, saved to the build's screenshots folder (docs/images holds the
reviewed copies)."""
import os
import subprocess
import time
import unittest

import zelto_e2e as z

GALLERY = os.path.join(z.BIN, "tests", "ui", "ui_gallery.exe")


def show_and_shoot(name, args):
    done = os.path.join(z.BIN, "screenshots", name + ".done")
    os.makedirs(os.path.dirname(done), exist_ok=True)
    if os.path.exists(done):
        os.remove(done)
    env = dict(os.environ, ZELTO_TIMEOUT="60")
    proc = subprocess.Popen([z.RUNNER, GALLERY] + args + [z.win_path(done)], stdout=subprocess.PIPE,
                            stdin=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
    shown = None
    deadline = time.time() + 40
    for raw in proc.stdout:
        line = raw.decode("cp949", "replace").strip()
        if line.startswith("SHOWN"):
            shown = [int(v) for v in line.split()[1:]]
            break
        if time.time() > deadline:
            break
    path = None
    if shown:
        time.sleep(0.5)
        full = z.screenshot(name + "-screen")
        x, y, w, h = shown
        path = os.path.join(z.SHOTS, name + ".png")
        subprocess.run(["/usr/bin/convert", full, "-crop", "%dx%d+%d+%d" % (w, h, x, y), "+repage", path],
                       check=True, timeout=30)
        os.remove(full)
    open(done, "w").close()
    proc.stdout.close()
    proc.wait(timeout=40)
    os.remove(done)
    return path, shown


class MessageDialogScreens(unittest.TestCase):
    def check(self, name, args):
        path, shown = show_and_shoot(name, args)
        self.assertIsNotNone(shown, "the dialog did not appear")
        self.assertEqual([412, 160], shown[2:])
        self.assertTrue(os.path.getsize(path) > 1000)

    def test_browser7_install(self):
        self.check("msgdialog-ie7-install", ["msg", "7", "1"])

    def test_browser8_removal(self):
        self.check("msgdialog-ie8-removal", ["msg", "8", "0"])

    def test_confirm_two_lines(self):
        self.check("msgconfirm", ["confirm", "제거할 항목을 선택하지 않았습니다.\r\n목록에서 항목을 선택해 주십시오."])



class NotificationScreens(unittest.TestCase):
    """The notification dialog of an update run whose publisher the user
    marked untrusted, through the whole program."""

    def test_update_with_untrusted_publisher(self):
        DOC = ("<PARAM><MODE>zeltosetup</MODE><SOURCE>http://down.zelto.com/</SOURCE><SERVICENAME>cafe</SERVICENAME>"
               "</PARAM>")
        z.reset_installation()
        # First install, then publish the update by making the placed file older.
        z.run_driver(["-x", DOC], presses=[1], timeout=90)
        comp = os.path.join(z.BIN, "tests", "components", "v1004", "ZeltoTestCtl.dll")
        with open(comp, "rb") as src, open(os.path.join(z.OMBRIX_DIR, "ZeltoTestCtl.dll"), "wb") as dst:
            dst.write(src.read())
        key = r"HKCU\Software\Microsoft\Internet Explorer\UntrustedPublishers\zelto-test"
        z.reg("add", key, "/v", "Publisher", "/d", "QRV Corporation", "/f")
        shots = []

        def shoot(run, step):
            time.sleep(0.5)   # drawn by now; the press comes after the hold
            shots.append(z.screenshot_window("notification-update", run.windows[-1]["rect"]))

        try:
            run = z.run_driver(["-x", DOC], presses=[2], hold_ms=1000, timeout=90, on_wait=shoot)
        finally:
            z.reg("delete", key, "/f")
            z.reset_installation()
        self.assertEqual(102, run.last_status(), run.lines)
        self.assertEqual(1, len(shots))
        self.assertTrue(os.path.getsize(shots[0]) > 1000)


if __name__ == "__main__":
    z.main()
