"""A person's mouse: the sample repository installed and removed again by real
pointer clicks on the Xvfb display (xdotool), not by posted commands. The
driver reports where every control is on the screen; Wine's top-level windows
are X windows of the same place and size, so those pixels are the pointer's."""
import os
import time

import zelto_e2e as z

START_PAGE_KEY = r"HKCU\Software\Microsoft\Internet Explorer\Main"
NOT_THE_PORTAL = "http://example.org/"


class Pointer(z.SampleScenario):
    def test_install_by_clicks_then_remove_everything_by_clicks(self):
        z.reg("add", START_PAGE_KEY, "/v", "Start Page", "/d", NOT_THE_PORTAL, "/f")
        clicked = []

        def answer_the_question(run, hwnd, controls):
            # The question window: untick the start-page box, press install.
            if clicked or 1009 not in controls or 1 not in controls:
                return
            time.sleep(0.5)   # drawn and ready for input
            z.click_centre(controls[1009])
            time.sleep(0.3)
            z.click_centre(controls[1])
            clicked.append(hwnd)

        run = z.run_driver(["-x", z.SAMPLE_DOC], on_controls=answer_the_question, timeout=90)
        self.assertTrue(clicked, "the question window never showed its controls: %s" % run.lines)
        self.assertFalse(run.timed_out, "the clicks did not install: %s" % run.lines)
        self.assertEqual(100, run.last_status(), run.lines)
        self.assertTrue(os.path.exists(os.path.join(z.OMBRIX_DIR, "ZeltoTestCtl.dll")))
        self.assertEqual(NOT_THE_PORTAL, z.reg_value(START_PAGE_KEY, "Start Page"),
                         "the start-page box was unticked by the click")

        steps = []

        def through_the_wizard(run, hwnd, controls):
            if 1012 not in controls:
                return
            time.sleep(0.5)
            rows = sorted(key for key in controls if isinstance(key, str) and key.startswith("row"))
            if not steps:                       # the start page: next
                z.click_centre(controls[1012])
                steps.append("next")
            elif steps == ["next"] and len(rows) == 2:   # the list: tick both rows, remove
                for row in rows:
                    x, y, w, h = controls[row]
                    z.click(x + 8, y + h // 2)   # on the row's text
                    time.sleep(0.4)
                z.click_centre(controls[1012])
                steps.append("remove")
            elif steps == ["next", "remove"] and not rows:   # the end page: finish
                z.click_centre(controls[1012])
                steps.append("finish")

        removal = z.run_driver(["-u"], add_w=False, on_controls=through_the_wizard, timeout=90)
        self.assertFalse(removal.timed_out, "the wizard did not end after %s: %s" % (steps, removal.lines))
        self.assertEqual(["next", "remove", "finish"], steps)
        self.assertEqual(0, removal.exit_code, "everything removed")
        self.assertFalse(os.path.exists(os.path.join(z.OMBRIX_DIR, "ZeltoTestCtl.dll")))
        self.assertFalse(os.path.exists(os.path.join(z.OMBRIX_DIR, "ZeltoTestCtl2.dll")))
        self.assertIsNone(z.reg_value(z.UNINSTALL_KEY, "DisplayName"), "the uninstall entry is gone")

    def tearDown(self):
        z.reg("delete", START_PAGE_KEY, "/v", "Start Page", "/f")
        z.reg("delete", r"HKLM\System\CurrentControlSet\Control\Session Manager", "/v",
              "PendingFileRenameOperations", "/f")


if __name__ == "__main__":
    z.main()
