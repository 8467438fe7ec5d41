"""Uninstall scenarios: the sample repository installed by a real run, then
removed through the wizard ("-u") one item at a time, with screenshots of
every page."""
import os

import zelto_e2e as z

SESSION_MANAGER = r"HKLM\System\CurrentControlSet\Control\Session Manager"
CLSID = {"ZeltoTestCtl": "{A1B2C3D4-0001-4E5F-8A9B-0C1D2E3F4A51}",
         "ZeltoTestCtl2": "{A1B2C3D4-0002-4E5F-8A9B-0C1D2E3F4A52}"}
CACHE_LOG = os.path.join(z.BIN, "e2e-occache.txt")


def registered(item):
    return z.reg("query", r"HKCR\CLSID" + "\\" + CLSID[item] + r"\InprocServer32").returncode == 0


def wizard_run(steps, shots=()):
    """Runs "-u" with the steps; shots[i] names the screenshot taken while step i holds."""
    wizard = {}

    def window(run, w):
        if 1012 in w["ids"]:
            wizard.update(w)
        elif shots and 1017 in w["ids"]:
            wizard["notice"] = w

    def wait(run, step):
        if step < len(shots) and shots[step]:
            # The notice while it is up, else the wizard.
            shown = wizard.pop("notice") if "notice" in wizard else wizard
            z.screenshot_window(shots[step], shown["rect"])

    return z.run_driver(["-u"], presses=steps, hold_ms=700 if shots else 300, timeout=90, add_w=False,
                        on_window=window, on_wait=wait, env={"ZELTO_OCCACHE_LOG": z.win_path(CACHE_LOG)})


class Uninstall(z.SampleScenario):
    @classmethod
    def tearDownClass(cls):
        z.reg("delete", SESSION_MANAGER, "/v", "PendingFileRenameOperations", "/f")
        super().tearDownClass()
        if os.path.exists(CACHE_LOG):
            os.remove(CACHE_LOG)

    def test_one_item_then_all(self):
        z.reset_installation()
        z.reg("delete", SESSION_MANAGER, "/v", "PendingFileRenameOperations", "/f")
        installed = z.run_driver(["-x", z.SAMPLE_DOC], presses=[1], timeout=90)
        self.assertEqual(100, installed.last_status(), installed.lines)
        z.reg("add", r"HKCU\SOFTWARE\QRV Corporation", "/v", "NoShowIfUpdate", "/t", "REG_DWORD", "/d", "1", "/f")
        if os.path.exists(CACHE_LOG):
            os.remove(CACHE_LOG)

        # One of two: the first row.
        z.clear_log()
        one = wizard_run([1012, ("tick", 0), ("again", 1012), ("again", 1012)],
                         shots=["wizard-start", "wizard-list", "wizard-list-ticked", "wizard-end"])
        self.assertEqual(0, one.exit_code, one.lines)
        self.assertEqual([1012, ("tick", 0), 1012, 1012], one.presses)
        log = z.read_log()
        self.assertIn("Success Uninstall (ZeltoTestCtl)", log)
        self.assertNotIn("All Item was uninstalled!", log)
        self.assertFalse(os.path.exists(os.path.join(z.OMBRIX_DIR, "ZeltoTestCtl.dll")))
        self.assertFalse(registered("ZeltoTestCtl"))
        self.assertIsNone(z.reg_value(z.UNINSTALL_KEY + r"\ZeltoTestCtl\ZeltoTestCtl", "FilePath"))
        self.assertTrue(os.path.exists(os.path.join(z.OMBRIX_DIR, "ZeltoTestCtl2.dll")), "the other item stays")
        self.assertTrue(registered("ZeltoTestCtl2"))
        self.assertEqual("젤토 옴브릭스", z.reg_value(z.UNINSTALL_KEY, "DisplayName"), "the entry stays")
        self.assertIsNone(z.reg_value(SESSION_MANAGER, "PendingFileRenameOperations"))
        with open(CACHE_LOG, encoding="cp949") as f:
            self.assertIn("ZeltoTestCtl.dll|" + CLSID["ZeltoTestCtl"] + "|(null)|1|1", f.read())

        # Next with nothing ticked shows the notice; then the last item, which is all of them.
        z.clear_log()
        rest = wizard_run([1012, ("again", 1012), 1, ("tick", 0), ("again", 1012), ("again", 1012)],
                          shots=["", "", "wizard-notice", "", "", "wizard-end-all"])
        self.assertEqual(0, rest.exit_code, rest.lines)
        self.assertEqual(1, len([w for w in rest.windows if 1017 in w["ids"]]), "the notice once")
        log = z.read_log()
        self.assertIn("Success Uninstall (ZeltoTestCtl2)", log)
        self.assertIn("All Item was uninstalled!", log)
        self.assertFalse(os.path.exists(os.path.join(z.OMBRIX_DIR, "ZeltoTestCtl2.dll")))
        self.assertFalse(registered("ZeltoTestCtl2"))
        self.assertIsNone(z.reg_value(z.UNINSTALL_KEY, "DisplayName"), "the whole entry goes")
        self.assertIsNone(z.reg_value(r"HKCU\SOFTWARE\QRV Corporation", "NoShowIfUpdate"))
        pending = z.reg_value(SESSION_MANAGER, "PendingFileRenameOperations") or ""
        self.assertNotIn("ZeltoSetup.exe", pending, "the program the user started is not the entry's: it stays")
        self.assertFalse(os.path.exists(os.path.join(z.PROGRAM_FILES, "Zelto", "ZeltoSetup.exe")),
                         "the entry's copy of the program goes with the last item")

    def test_cancel_on_the_start_page_changes_nothing(self):
        z.reset_installation()
        z.reg("add", z.UNINSTALL_KEY + r"\Item", "/v", "DisplayName", "/d", "Item", "/f")
        run = wizard_run([2])
        self.assertEqual(1602, run.exit_code, run.lines)
        self.assertEqual("Item", z.reg_value(z.UNINSTALL_KEY + r"\Item", "DisplayName"))


if __name__ == "__main__":
    z.main()
