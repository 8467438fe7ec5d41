"""Start-up scenarios: the command line, the parameter document, the
catalogue step (statuses 20, 21, 22 or the failure message and 101)."""
import os
import time
import unittest

import zelto_e2e as z

MSG_BAD_START = "설치프로그램이 비정상적인 방법으로 실행되었습니다."
MSG_NO_CATALOGUE = "서버에서 설정 파일을 받아오지 못했습니다."
GOOD_DOC = ("<PARAM><MODE>zeltosetup</MODE><SOURCE>http://down.zelto.com/</SOURCE>"
            "<FORCEDELETE>0</FORCEDELETE><SHOWDLG>1</SHOWDLG><SERVICENAME>카페</SERVICENAME></PARAM>")


class StartUp(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        z.set_log_level(2)

    @classmethod
    def tearDownClass(cls):
        z.set_log_level(None)
        z.reset_installation()

    def setUp(self):
        z.clear_log()

    def test_no_argument_shows_the_abnormal_start_message_and_posts_nothing(self):
        shots = []

        def shoot(run, window):
            shots.append(z.screenshot("msg61209"))

        run = z.run_driver([], presses=[1], hold_ms=700, add_w=False, on_window=shoot, timeout=30)
        self.assertFalse(run.timed_out, run.lines)
        self.assertEqual([], run.statuses)
        boxes = [w for w in run.windows if w["class"] == "#32770"]
        self.assertEqual(1, len(boxes), run.lines)
        self.assertEqual(MSG_BAD_START, boxes[0]["text"])
        self.assertEqual(1639, run.exit_code)
        self.assertEqual("젤토 옴브릭스", boxes[0]["title"])
        self.assertTrue(os.path.getsize(shots[0]) > 0)

    def test_rejected_document_shows_the_message_and_posts_nothing(self):
        run = z.run_driver(["-x", "<PARAM><MODE>../x</MODE><SOURCE>http://down.zelto.com/</SOURCE></PARAM>"],
                           presses=[1], timeout=30)
        self.assertFalse(run.timed_out, run.lines)
        self.assertEqual([], run.statuses)
        self.assertEqual([MSG_BAD_START], [w["text"] for w in run.windows])
        self.assertEqual(1639, run.exit_code, "the command line was refused")
        self.assertIn("[ZeltoSetup][ParseXMLArgument] invalid MODE (../x)", z.read_log())

    def test_only_whole_switches_and_a_log_that_cannot_be_opened(self):
        # "-update" is no "-u": refused, no wizard, the switch named.
        run = z.run_driver(["-update"], presses=[1], timeout=30, add_w=False)
        self.assertFalse(run.timed_out, run.lines)
        self.assertEqual([MSG_BAD_START], [w["text"] for w in run.windows], "the message, no wizard")
        self.assertEqual(1639, run.exit_code)
        self.assertIn("[ZeltoSetup][ParseCommandLine] -update: no such switch; the command line is refused",
                      z.read_log())
        # A log in a folder that does not exist: the installer's code for a
        # log it cannot open, and no catalogue is asked for.
        missing = os.path.join(z.BIN, "no-such-folder", "run.log")
        run = z.run_driver(["-q", "-x", GOOD_DOC, "-l", z.win_path(missing)], timeout=30)
        self.assertFalse(run.timed_out, run.lines)
        self.assertEqual(1622, run.exit_code, run.lines)
        self.assertNotIn(21, run.status_codes())

    def test_a_slow_catalogue_shows_the_wait_which_cancels_the_run(self):
        # A catalogue that trickles in: after a moment the wait shows, and
        # its cancel ends the run at once, with nothing asked.
        z.set_rules({"down.zelto.com/zelto/zeltosetup/Repository/zeltosetup/zeltosetup.xml": {"trickle": [100, 1000]}})
        shots = []

        def shoot(run, step):
            if not shots:
                window = [w for w in run.windows if 1030 in w["ids"]][-1]
                shots.append(z.screenshot_window("catalogue-wait", window["rect"]))

        try:
            started = time.time()
            run = z.run_driver(["-x", GOOD_DOC], presses=[1030], hold_ms=800, on_wait=shoot, timeout=60)
            took = time.time() - started
        finally:
            z.set_rules({})
        self.assertFalse(run.timed_out, run.lines)
        self.assertEqual([20, 21, 102], run.status_codes(), "cancelled: no catalogue read, nothing asked")
        self.assertEqual(1602, run.exit_code)
        waits = [w for w in run.windows if 1030 in w["ids"]]
        self.assertEqual(1, len(waits), run.lines)
        self.assertEqual([], [w for w in run.windows if w not in waits and w["class"] == "#32770"], "no other window")
        self.assertLess(took, 20, "the transfer stopped at the cancel, not at its stall limit")
        self.assertIn("[ZeltoSetup][LoadCatalogue] the wait for the catalogue was cancelled", z.read_log())
        self.assertTrue(shots and os.path.getsize(shots[0]) > 0)

    def test_good_document_gets_status_20_with_the_main_frame_then_the_catalogue(self):
        run = z.run_driver(["-x", GOOD_DOC], presses=[1], timeout=30)
        self.assertFalse(run.timed_out, run.lines)
        self.assertEqual(0, run.exit_code)
        # The main frame is shown with the progress window, but its rectangle is empty.
        self.assertEqual([], [w for w in run.windows if 1000 not in w["ids"] and 1009 not in w["ids"]
                              and w["class"] != "ZeltoSetupMainFrame"],
                         "nothing but the notification and progress windows shows")
        self.assertEqual([20, 21, 22], run.status_codes()[:3])
        self.assertEqual("ZeltoSetupMainFrame", run.statuses[0][2], "lParam is the main frame's window")
        log = z.read_log()
        self.assertRegex(log, r"\[ZeltoSetup\]===== Start \[ \d+-\d+-\d+, \d+:\d+:\d+ \] Level = 2 =====\r\n")
        self.assertIn("[ZeltoSetup][ParseXMLArgument] MODE=zeltosetup, m_bForceDelete=0, m_bShowDlg=1, "
                      "m_strServiceName=카페\r\n", log)

    def test_w_then_x_without_document_is_a_valid_install_run_without_catalogue(self):
        run = z.run_driver(["-x"], presses=[1], timeout=30)
        self.assertFalse(run.timed_out, run.lines)
        self.assertEqual([20, 21, 101], run.status_codes(), "a run without its catalogue ends there")
        self.assertEqual(1, len(run.windows), "the message only: no question, no progress window")
        self.assertTrue(run.windows[0]["text"].startswith(MSG_NO_CATALOGUE + "\nErrorCode = 1004("), run.windows)

    def test_catalogue_that_cannot_be_fetched(self):
        doc = GOOD_DOC.replace("zeltosetup", "nosuchmode")
        run = z.run_driver(["-x", doc], presses=[1], timeout=30)
        self.assertFalse(run.timed_out, run.lines)
        self.assertEqual([20, 21, 101], run.status_codes(), "a run without its catalogue ends there")
        self.assertEqual(1603, run.exit_code, "the run failed")
        self.assertEqual(MSG_NO_CATALOGUE + "\nErrorCode = 1005(0)", run.windows[0]["text"])
        self.assertIn("[ZeltoSetup][DownloadFile] HttpQueryInfo(http://down.zelto.com/zelto/zeltosetup/Repository/"
                      "nosuchmode/nosuchmode.xml) = 404 ", z.read_log())

    def test_uninstall_switch_alone_is_valid(self):
        run = z.run_driver(["-U"], presses=[2], timeout=30)   # the wizard, left with cancel
        self.assertFalse(run.timed_out, run.lines)
        self.assertEqual(1602, run.exit_code, "left before removing: cancelled")
        self.assertEqual([], run.statuses, "uninstall mode posts no status")
        self.assertEqual([[1012, 2, 1013, 1016]], [w["ids"][:4] for w in run.windows if w["class"] == "#32770"])

    def test_log_stays_silent_without_a_level(self):
        z.set_log_level(None)
        try:
            run = z.run_driver(["-x", GOOD_DOC], presses=[1], timeout=30)
            self.assertEqual([20, 21, 22], run.status_codes()[:3])
            self.assertFalse(os.path.exists(z.LOG))
        finally:
            z.set_log_level(2)


if __name__ == "__main__":
    z.main()
