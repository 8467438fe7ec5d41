"""Install scenarios on the sample repository, through the driver, the local
content server and the real test components."""
import os
import subprocess
import time

import zelto_e2e as z

DOC = z.SAMPLE_DOC
PING_CTL2 = "http://cc.zelto.com/cc?a=ombrix.install&m=ctl2"
SAMPLE_XML = os.path.join(z.SOURCE, "tests", "data", "repository", "down.zelto.com", "zelto", "zeltosetup",
                          "Repository", "zeltosetup", "zeltosetup.xml")
OVERRIDE_XML = os.path.join(z.CONTENT, "www", "down.zelto.com", "zelto", "zeltosetup", "Repository", "zeltosetup",
                            "zeltosetup.xml")


def publish_older(older):
    """Serves the sample catalogue with the first control at 1.0.0.4 (older)
    or the sample as it is (1.0.0.5): files in the content server's www
    folder shadow the repository's."""
    if not older:
        if os.path.exists(OVERRIDE_XML):
            os.remove(OVERRIDE_XML)
        return
    with open(SAMPLE_XML, encoding="euc-kr") as f:
        text = f.read()
    text = text.replace("v1005/ZeltoTestCtl.dll", "v1004/ZeltoTestCtl.dll").replace("1,0,0,5", "1,0,0,4")
    text = text.replace("<VALUE>1.0.0.5</VALUE>", "<VALUE>1.0.0.4</VALUE>")
    os.makedirs(os.path.dirname(OVERRIDE_XML), exist_ok=True)
    with open(OVERRIDE_XML, "w", encoding="euc-kr") as f:
        f.write(text)


def crop(path, region):
    """The pixels of a region of a screenshot."""
    x, y, w, h = region
    return subprocess.run(["/usr/bin/convert", path, "-crop", "%dx%d+%d+%d" % (w, h, x, y), "+repage", "rgb:-"],
                          stdout=subprocess.PIPE, check=True, timeout=30).stdout


class Install(z.SampleScenario):
    @classmethod
    def tearDownClass(cls):
        publish_older(False)
        super().tearDownClass()

    def test_first_install_nothing_to_do_then_an_update(self):
        publish_older(True)
        z.reset_installation()
        z.reg("add", r"HKCU\Software\Microsoft\Internet Explorer\Main", "/v", "Start Page", "/d", "about:blank", "/f")
        z.clear_requests()
        z.clear_log()
        shots = {}
        windows = {}

        def shoot(run, window):
            windows[window["hwnd"]] = window
            if 1000 in window["ids"]:
                time.sleep(0.3)
                shots["progress"] = z.screenshot_window("install-progress", window["rect"])

        def shoot_held(name):
            def wait(run, step):
                time.sleep(0.5)   # drawn by now; the press comes after the hold
                shots[name] = z.screenshot_window(name, run.windows[-1]["rect"])
            return wait

        run = z.run_driver(["-x", DOC], presses=[1], hold_ms=1000, timeout=90, on_window=shoot,
                           on_wait=shoot_held("install-notification"))
        self.assertFalse(run.timed_out, run.lines)
        codes = run.status_codes()
        self.assertEqual([20, 21, 22], codes[:3], run.lines)
        self.assertIn(30, codes)
        self.assertEqual([40, 100], codes[-2:], run.lines)
        self.assertEqual(1, run.dialog_closed)
        for name in ("ZeltoTestCtl.dll", "ZeltoTestCtl2.dll"):
            self.assertTrue(os.path.exists(os.path.join(z.OMBRIX_DIR, name)), name)
        self.assertEqual("젤토 옴브릭스", z.reg_value(z.UNINSTALL_KEY, "DisplayName"))
        self.assertTrue(z.reg_value(z.UNINSTALL_KEY + r"\ZeltoTestCtl\ZeltoTestCtl", "FilePath").endswith(
            r"Zelto\Ombrix\ZeltoTestCtl.dll"))
        self.assertIn(PING_CTL2, z.requested_urls(), "the module-install ping of a first installation")
        self.assertTrue(any("a=gin.mkhome" in url for url in z.requested_urls()),
                        "the start-page box was ticked: the portal became the start page")
        self.assertEqual("http://www.zelto.com/", z.reg_value(r"HKCU\Software\Microsoft\Internet Explorer\Main",
                                                              "Start Page"))
        self.assertIn("http://down.zelto.com/zelto/zeltosetup/components/zipped/ZeltoTestCtl2.zip", z.requested_urls())
        self.assertEqual("1.0.0.4", z.reg_value(r"HKCU\Software\QRV Corporation\ZeltoTestCtl", "Installed"),
                         "the catalogue's ADDREG")

        # The same run again: the main control is present and registered, so
        # this is an update run; nothing needs installing and no ping goes out.
        z.clear_requests()
        again = z.run_driver(["-x", DOC], presses=[1], timeout=60)
        self.assertEqual([20, 21, 22, 40, 100], again.status_codes(), again.lines)
        self.assertNotIn(PING_CTL2, z.requested_urls())
        self.assertIn("[ZeltoSetup][CreateUpdateList] do not need to update file", z.read_log())

        # A newer version of the control is published: an update run, whose
        # dialog has the update title and button, and no ping.
        publish_older(False)
        z.clear_requests()

        update = z.run_driver(["-x", DOC], presses=[1], hold_ms=1000, timeout=90,
                              on_wait=shoot_held("install-update"))
        codes = update.status_codes()
        self.assertEqual([20, 21, 22], codes[:3], update.lines)
        self.assertIn(30, codes)
        self.assertEqual([40, 100], codes[-2:], update.lines)
        self.assertEqual("1.0.0.5", z.reg_value(r"HKCU\Software\QRV Corporation\ZeltoTestCtl", "Installed"))
        self.assertIn("http://down.zelto.com/zelto/zeltosetup/components/v1005/ZeltoTestCtl.dll", z.requested_urls())
        self.assertNotIn(PING_CTL2, z.requested_urls())
        for region, what in (((143, 10, 200, 20), "title"), ((109, 274, 75, 33), "install button")):
            self.assertNotEqual(crop(shots["install-notification"], region), crop(shots["install-update"], region),
                                what + " for updates")
        self.assertEqual(crop(shots["install-notification"], (189, 274, 58, 33)),
                         crop(shots["install-update"], (189, 274, 58, 33)), "the cancel button is the same")

    def test_cancelled_notification_installs_nothing(self):
        z.reset_installation()
        z.reg("add", r"HKCU\SOFTWARE\QRV Corporation", "/v", "NoShowIfUpdate", "/t", "REG_DWORD", "/d", "1", "/f")
        run = z.run_driver(["-x", DOC], presses=[2], timeout=60)
        self.assertEqual([20, 21, 22, 102], run.status_codes(), run.lines)
        self.assertFalse(os.path.exists(os.path.join(z.OMBRIX_DIR, "ZeltoTestCtl.dll")))
        self.assertEqual("0x1", z.reg_value(r"HKCU\SOFTWARE\QRV Corporation", "NoShowIfUpdate"),
                         "NoShowIfUpdate untouched")

    def test_no_show_if_update_skips_the_notification_on_updates(self):
        z.reset_installation()
        first = z.run_driver(["-x", DOC], presses=[1], timeout=90)
        self.assertEqual(100, first.last_status(), first.lines)
        z.reg("add", r"HKCU\SOFTWARE\QRV Corporation", "/v", "NoShowIfUpdate", "/t", "REG_DWORD", "/d", "1", "/f")
        update = z.run_driver(["-x", DOC], timeout=60)
        self.assertEqual([20, 21, 22, 40, 100], update.status_codes(), update.lines)
        self.assertEqual([], [w for w in update.windows if 1009 in w["ids"]], "no notification dialog")


if __name__ == "__main__":
    z.main()
