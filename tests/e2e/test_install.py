"""Install scenarios on the sample repository, through the driver, the local
content server and the real test components."""
import os
import unittest

import zelto_e2e as z

DOC = ("<PARAM><MODE>zeltosetup</MODE><SOURCE>http://down.zelto.com/zelto/zeltosetup/</SOURCE>"
       "<FORCEDELETE>1</FORCEDELETE><SHOWDLG>1</SHOWDLG><SERVICENAME>cafe</SERVICENAME></PARAM>")
PING_CTL2 = "http://cc.zelto.com/cc?a=ombrix.install&m=ctl2"


class Install(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        z.set_log_level(2)
        z.set_rules({"cc.zelto.com/cc": {"body": "ok"}, "static.zelto.com/app/conf/confExposure.xml": {"body": "<OmbrixConf/>"}})

    @classmethod
    def tearDownClass(cls):
        z.reset_installation()
        z.set_rules({})
        z.set_log_level(None)

    def test_first_install_then_nothing_to_do(self):
        z.reset_installation()
        z.clear_requests()
        z.clear_log()
        shots = []
        def shoot(run, window):
            shots.append(z.screenshot("install-notification" if 1009 in window["ids"] else "install-progress"))

        run = z.run_driver(["-x", DOC], presses=[1], hold_ms=600, timeout=90, on_window=shoot)
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
        self.assertEqual("1.0.0.5", z.reg_value(r"HKCU\Software\QRV Corporation\ZeltoTestCtl", "Installed"),
                         "the catalogue's ADDREG")

        # The same run again: the main control is present and registered, so
        # this is an update run; nothing needs installing and no ping goes out.
        z.clear_requests()
        again = z.run_driver(["-x", DOC], presses=[1], timeout=60)
        self.assertEqual([20, 21, 22, 40, 100], again.status_codes(), again.lines)
        self.assertNotIn(PING_CTL2, z.requested_urls())
        self.assertIn("[ZeltoSetup][CreateUpdateList] do not need to update file", z.read_log())

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
        self.assertEqual(100, first.status_codes()[-1], first.lines)
        z.reg("add", r"HKCU\SOFTWARE\QRV Corporation", "/v", "NoShowIfUpdate", "/t", "REG_DWORD", "/d", "1", "/f")
        update = z.run_driver(["-x", DOC], timeout=60)
        self.assertEqual([20, 21, 22, 40, 100], update.status_codes(), update.lines)
        self.assertEqual([], [w for w in update.windows if 1009 in w["ids"]], "no notification dialog")


if __name__ == "__main__":
    z.main()
