"""How a run ends when it does not go to plan: the starting program closes
the main window while the files download or install, a second run starts
while one is going, a server that announces no lengths (the percents of
status 30 stay percents)."""
import os
import threading

import test_install_faults as f
import zelto_e2e as z


class RunEnd(f.FaultScenario):
    def message_boxes(self, run):
        return [w for w in run.windows if w["class"] == "#32770" and 1000 not in w["ids"] and 1009 not in w["ids"]]

    def test_close_during_the_downloads_cancels_them(self):
        # The first file arrives at once (status 30), the second trickles.
        f.publish("closedl", [("Close", [f.file_xml("ZeltoTestCtl.dll", f.COMPONENTS + "v1005/ZeltoTestCtl.dll"),
                                         f.file_xml("ZeltoTestCtl2.dll", f.COMPONENTS + "v1004/ZeltoTestCtl2.dll")])])
        z.set_rules({"down.zelto.com/zelto/zeltosetup/components/v1004/ZeltoTestCtl2.dll": {"trickle": [2048, 300]}})
        run = z.run_driver(["-x", f.doc("closedl")], presses=[1], close_on=30, timeout=60)
        self.assertTrue(run.closed, run.lines)
        self.assertFalse(run.timed_out, "the program did not end after the close request: %s" % run.lines)
        self.assertEqual(1603, run.exit_code, "ended by itself with the failed run's code, no crash")
        self.assertEqual(101, run.last_status(), run.lines)
        self.assertNotIn(40, run.status_codes())
        self.assertEqual([], self.message_boxes(run), "a close request shows no message")
        self.assertFalse(f.installed("ZeltoTestCtl.dll") or f.installed("ZeltoTestCtl2.dll"), "nothing placed")
        self.assertFalse(os.path.exists(os.path.join(f.STAGING, "ZeltoTestCtl2.dll")), "no partial file")

    def test_close_during_the_installation_waits_for_it(self):
        # The close request comes with status 40: the installation runs on
        # the window's own thread, so the request is taken once it is done
        # (between items when a dialog pumps messages). No crash, no item
        # half done: both items installed and recorded, the run ends by itself.
        f.publish("closeinst", [("First", [f.file_xml("ZeltoTestCtl.dll", f.COMPONENTS + "v1005/ZeltoTestCtl.dll")]),
                                ("Second", [f.file_xml("ZeltoTestCtl2.dll", f.COMPONENTS + "v1004/ZeltoTestCtl2.dll")])])
        run = z.run_driver(["-x", f.doc("closeinst")], presses=[1], close_on=40, timeout=60)
        self.assertTrue(run.closed, run.lines)
        self.assertFalse(run.timed_out, "the program did not end after the close request: %s" % run.lines)
        self.assertIn(run.last_status(), (100, 101), run.lines)
        self.assertEqual({100: 0, 101: 1603}[run.last_status()], run.exit_code)
        for item, name in (("First", "ZeltoTestCtl.dll"), ("Second", "ZeltoTestCtl2.dll")):
            recorded = z.reg_value(z.UNINSTALL_KEY + "\\" + item + "\\" + name[:-4], "FilePath") is not None
            self.assertEqual(f.installed(name), recorded, "%s is installed and recorded, or neither" % name)

    def test_a_second_run_ends_at_once(self):
        f.publish("twice", [("Twice", [f.file_xml("ZeltoTestCtl.dll", f.COMPONENTS + "v1005/ZeltoTestCtl.dll")])])
        first = {}
        # The first run waits at its question for 6 s, then is cancelled.
        thread = threading.Thread(target=lambda: first.update(run=z.run_driver(
            ["-x", f.doc("twice")], presses=[2], hold_ms=6000, timeout=60)))
        z.clear_log()
        thread.start()
        try:
            z.wait_for(lambda: os.path.exists(z.LOG) and "CreateUpdateList" in z.read_log(), 30,
                       "the first run to read its catalogue")
            z.clear_requests()
            second = z.run_driver(["-x", f.doc("twice")], timeout=30)
        finally:
            thread.join(timeout=90)
        self.assertFalse(second.timed_out, second.lines)
        self.assertEqual([101], second.status_codes(), "no other status, nothing asked")
        self.assertEqual(1618, second.exit_code, "another run is going")
        self.assertEqual([], second.windows)
        # (the first run may still ask for its options document meanwhile)
        self.assertNotIn("http://down.zelto.com/zelto/zeltosetup/Repository/twice/twice.xml", z.requested_urls(),
                         "the second run asks the server nothing")
        self.assertIn("[ZeltoSetup][OnStart] Another ZeltoSetup is running; this one ends", z.read_log())
        self.assertEqual(102, first["run"].last_status(), "the first run goes on undisturbed")
        self.assertEqual(1602, first["run"].exit_code)

    def test_without_the_progress_window(self):
        # SHOWDLG 0: the question is asked, the progress window never shows,
        # and the run still installs and reports its percents.
        f.publish("quiet", [("Quiet", [f.file_xml("ZeltoTestCtl.dll", f.COMPONENTS + "v1005/ZeltoTestCtl.dll")])])
        run = z.run_driver(["-x", f.doc("quiet", show=0)], presses=[1], timeout=60)
        self.assertEqual(100, run.last_status(), run.lines)
        self.assertIn(30, run.status_codes())
        self.assertEqual([], [w for w in run.windows if 1000 in w["ids"]], "no progress window")
        self.assertTrue(f.installed("ZeltoTestCtl.dll"))

    def test_percents_without_announced_lengths(self):
        f.publish("nolen", [("NoLength", [f.file_xml("ZeltoTestCtl.dll", f.COMPONENTS + "v1005/ZeltoTestCtl.dll"),
                                          f.file_xml("ZeltoTestCtl2.dll", f.COMPONENTS + "v1004/ZeltoTestCtl2.dll")])])
        z.set_rules({"down.zelto.com/zelto/zeltosetup/components/v1005/ZeltoTestCtl.dll": {"no_length": True},
                     "down.zelto.com/zelto/zeltosetup/components/v1004/ZeltoTestCtl2.dll": {"no_length": True}})
        run = z.run_driver(["-x", f.doc("nolen")], presses=[1], timeout=60)
        self.assertEqual(100, run.last_status(), run.lines)
        self.assertEqual(0, run.exit_code)
        codes = run.status_codes()
        percents = [data for code, data, _ in run.statuses if code == 30]
        self.assertTrue(percents, run.lines)
        self.assertTrue(all(0 <= p <= 100 for p in percents), percents)
        self.assertEqual(sorted(percents), percents, "never going back")
        self.assertEqual(100, percents[-1])
        self.assertLess(codes.index(30), codes.index(40))
        self.assertEqual(30, codes[codes.index(40) - 1], "the last status before 40 is the 100 percent")


if __name__ == "__main__":
    z.main()
