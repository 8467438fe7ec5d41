"""Install scenarios with faults: archives, staged files, cancel, failed
downloads, destinations held by a running process. Each test publishes its
own catalogue on the local content server."""
import os
import shutil
import subprocess
import time
import unittest
import zipfile

import zelto_e2e as z

COMPONENTS = "http://down.zelto.com/zelto/zeltosetup/components/"
WWW = os.path.join(z.CONTENT, "www", "down.zelto.com")
# The staging folder: the program's own, in the program files folder.
STAGING = os.path.join(z.PROGRAM_FILES, "Zelto", "Staging")
HOLDER = os.path.join(z.BIN, "tests", "components", "holder", "ZeltoHolder.exe")
SESSION_MANAGER = r"HKLM\System\CurrentControlSet\Control\Session Manager"
MSG_DOWNLOAD_FAILED = "파일을 받아오는 중에 문제가 발생했습니다."
MSG_INSTALL_FAILED = "파일을 설치하는 중에 문제가 발생했습니다."


def doc(mode, force=1, show=1):
    return ("<PARAM><MODE>%s</MODE><SOURCE>http://down.zelto.com/</SOURCE><FORCEDELETE>%d</FORCEDELETE>"
            "<SHOWDLG>%d</SHOWDLG><SERVICENAME>cafe</SERVICENAME></PARAM>" % (mode, force, show))


def file_xml(name, source, extra=""):
    return ("<FILE NAME='%s'><SOURCE>%s</SOURCE><DEST>[PROGRAMS]Zelto\\Ombrix</DEST>%s</FILE>"
            % (name, source, extra))


REPORT_URL = "http://cc.zelto.com/zelto/zeltosetup/report"


def publish(mode, items, report=False):
    """items: list of (item name, [file xml]); report: results go to REPORT_URL."""
    body = ("<REPORT>%s</REPORT>" % REPORT_URL if report else "") + "".join("<UPDATEITEM NAME='%s'><MODE NAME='%s'/>%s</UPDATEITEM>" % (name, mode, "".join(files))
                   for name, files in items)
    folder = os.path.join(WWW, "zelto", "zeltosetup", "Repository", mode)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, mode + ".xml"), "w", encoding="ascii") as f:
        f.write("<ZELTOOMBRIX><UPDATELIST>%s</UPDATELIST></ZELTOOMBRIX>" % body)


def reports():
    """(item, outcome, error, syserror) of every result report the content server heard."""
    import urllib.parse
    found = [dict(urllib.parse.parse_qsl(u.split("?", 1)[1], keep_blank_values=True))
             for u in z.requested_urls("GET") if u.startswith(REPORT_URL + "?")]
    return [(r["item"], r["outcome"], r["error"], r["syserror"]) for r in found]


def installed(name):
    return os.path.exists(os.path.join(z.OMBRIX_DIR, name))


class FaultScenario(unittest.TestCase):
    """Each test starts from a fresh machine: nothing installed, nothing staged."""

    @classmethod
    def setUpClass(cls):
        z.set_log_level(2)

    def setUp(self):
        z.reset_installation()
        z.set_rules({"cc.zelto.com/cc": {"body": "ok"}, REPORT_URL[len("http://"):]: {"body": "ok"}})
        z.clear_requests()
        for name in ("ZeltoTestCtl.dll", "ZeltoTestCtl2.dll", "ZeltoTestCtl.zip"):
            path = os.path.join(STAGING, name)
            if os.path.exists(path):
                os.remove(path)

    @classmethod
    def tearDownClass(cls):
        z.reset_installation()
        # The large file of the retry and crash scenarios, placed and staged:
        # nothing is left for the demo or the next run to find.
        for folder in (z.OMBRIX_DIR, STAGING):
            path = os.path.join(folder, "ZeltoBig.bin")
            if os.path.exists(path):
                os.remove(path)
        z.set_rules({})
        z.set_log_level(None)


class Faults(FaultScenario):
    def test_zip_delivered_and_already_staged_files(self):
        comp = os.path.join(z.BIN, "tests", "components")
        archive = os.path.join(WWW, "zelto", "zeltosetup", "zipped", "ctl2.zip")
        os.makedirs(os.path.dirname(archive), exist_ok=True)
        with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED) as zf:
            zf.write(os.path.join(comp, "v1004", "ZeltoTestCtl2.dll"), "ZeltoTestCtl2.dll")
        # An outdated copy at the destination and a current one already staged.
        os.makedirs(z.OMBRIX_DIR, exist_ok=True)
        os.makedirs(STAGING, exist_ok=True)
        for version, target in (("v1004", os.path.join(z.OMBRIX_DIR, "ZeltoTestCtl.dll")),
                                ("v1005", os.path.join(STAGING, "ZeltoTestCtl.dll"))):
            with open(os.path.join(comp, version, "ZeltoTestCtl.dll"), "rb") as src, open(target, "wb") as dst:
                dst.write(src.read())
        publish("zipmode", [("Zipped", [file_xml("ZeltoTestCtl2.dll", "http://down.zelto.com/zelto/zeltosetup/zipped/ctl2.zip"),
                                        file_xml("ZeltoTestCtl.dll", COMPONENTS + "v1005/ZeltoTestCtl.dll",
                                                 "<VERSION>1,0,0,5</VERSION>")])])
        run = z.run_driver(["-x", doc("zipmode")], presses=[1], timeout=90)
        self.assertEqual(100, run.last_status(), run.lines)
        self.assertTrue(installed("ZeltoTestCtl2.dll"), "unpacked from the archive and placed")
        self.assertTrue(installed("ZeltoTestCtl.dll"))
        urls = z.requested_urls()
        self.assertIn("http://down.zelto.com/zelto/zeltosetup/zipped/ctl2.zip", urls)
        self.assertNotIn(COMPONENTS + "v1005/ZeltoTestCtl.dll", urls, "the staged file is not fetched")
        self.assertFalse(os.path.exists(os.path.join(STAGING, "ZeltoTestCtl2.zip")), "the archive is removed")
        self.assertIn("[ZeltoSetup][CreateUpdateList] Temp File exist (", z.read_log())

    def test_a_failed_item_ends_the_run_with_nothing_placed(self):
        publish("failmode", [("First", [file_xml("ZeltoTestCtl.dll", COMPONENTS + "missing/ZeltoTestCtl.dll")]),
                             ("Second", [file_xml("ZeltoTestCtl2.dll", COMPONENTS + "v1004/ZeltoTestCtl2.dll")])])
        run = z.run_driver(["-x", doc("failmode")], presses=[1, 1], timeout=90)
        self.assertEqual(1, z.requested_urls("GET").count(COMPONENTS + "missing/ZeltoTestCtl.dll"), "a 404 is not asked again")
        boxes = [w["text"] for w in run.windows if w["class"] == "#32770" and 1000 not in w["ids"] and 1009 not in w["ids"]]
        self.assertEqual(1, len(boxes), run.lines)
        self.assertTrue(boxes[0].startswith(MSG_DOWNLOAD_FAILED + "\nErrorCode = 1005("), boxes)
        self.assertEqual(101, run.last_status())
        self.assertFalse(installed("ZeltoTestCtl2.dll"), "nothing is installed")

    def test_an_installation_failure_after_the_download(self):
        # The file arrives whole, but its registration fails: the install
        # failure message with its codes, 101, and nothing of the item left.
        bad = os.path.join(WWW, "zelto", "zeltosetup", "bad")
        os.makedirs(bad, exist_ok=True)
        with open(os.path.join(z.BIN, "tests", "components", "bad", "ZeltoBadReg.dll"), "rb") as src, \
                open(os.path.join(bad, "ZeltoBadReg.dll"), "wb") as dst:
            dst.write(src.read())
        publish("badreg", [("BadReg", [file_xml("ZeltoBadReg.dll", "http://down.zelto.com/zelto/zeltosetup/bad/ZeltoBadReg.dll",
                                                "<REGISTER>1</REGISTER>")])], report=True)
        run = z.run_driver(["-x", doc("badreg")], presses=[1, 1], timeout=90)
        self.assertEqual(101, run.last_status(), run.lines)
        self.assertIn(40, run.status_codes(), "the download succeeded")
        self.assertEqual(1603, run.exit_code)
        boxes = [w["text"] for w in run.windows if w["class"] == "#32770" and w["text"]]
        self.assertTrue(boxes and boxes[0].startswith(MSG_INSTALL_FAILED + "\nErrorCode = "), boxes)
        self.assertFalse(installed("ZeltoBadReg.dll"), "the placed file is deleted")
        self.assertIsNone(z.reg_value(z.UNINSTALL_KEY + r"\BadReg\ZeltoBadReg", "FilePath"), "no record")
        code = boxes[0].split("ErrorCode = ", 1)[1]
        self.assertEqual([("BadReg", "rolled-back") + tuple(code.rstrip(")").split("("))], reports(),
                         "the result is reported with the codes the message showed")

    def test_results_of_many_items_start_no_crowd_and_keep_no_run_waiting(self):
        # Twelve items and a report server that answers after 20 s: at most
        # eight reports go at once, the rest are not reported, and the run
        # ends waiting 3 s for those in flight, not for their answers.
        folder = os.path.join(z.PROGRAM_FILES, "Zelto", "ReportCrowd")
        dest = "<DEST>[PROGRAMS]Zelto\\ReportCrowd</DEST>"
        publish("crowd", [("Crowd%02d" % n, ["<FILE NAME='c%02d.dll'><SOURCE>%sv1005/ZeltoTestCtl.dll</SOURCE>%s</FILE>"
                                             % (n, COMPONENTS, dest)]) for n in range(12)], report=True)
        z.set_rules({"cc.zelto.com/cc": {"body": "ok"}, REPORT_URL[len("http://"):]: {"delay": 20000, "body": "ok"}})
        try:
            started = time.time()
            run = z.run_driver(["-q", "-x", doc("crowd")], timeout=90)
            took = time.time() - started
            self.assertEqual(0, run.exit_code, run.lines)
            self.assertEqual(12, len([n for n in os.listdir(folder) if n.endswith(".dll")]))
            self.assertEqual(8, len(reports()), "eight in flight at most")
            log = z.read_log()
            self.assertEqual(4, log.count("reports still going: the result of Crowd"), log[-2000:])
            self.assertIn("a report was still going when the run ended: left unsent", log)
            done = float(next(line for line in run.lines if line.startswith("STATUS 100")).split("t=")[1]) / 1000
            self.assertLess(took, done + 12, "the run waited for its reports' answers (20 s)")
        finally:
            shutil.rmtree(folder, ignore_errors=True)

    def hold(self, name):
        """A process holding an older copy of the destination loaded."""
        os.makedirs(z.OMBRIX_DIR, exist_ok=True)
        dest = os.path.join(z.OMBRIX_DIR, name)
        with open(os.path.join(z.BIN, "tests", "components", "v1004", name), "rb") as src, open(dest, "wb") as dst:
            dst.write(src.read())
        ready = os.path.join(z.BIN, "holder-ready")
        if os.path.exists(ready):
            os.remove(ready)
        holder = subprocess.Popen([z.RUNNER, HOLDER, z.win_path(dest)], stdin=subprocess.DEVNULL,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                  env=dict(os.environ, ZELTO_HOLDER_READY=z.win_path(ready)))
        z.wait_for(lambda: os.path.exists(ready), 30, "the holder to load " + name)
        os.remove(ready)
        return holder

    def test_held_file_with_reboot_asks_for_the_restart(self):
        """No to the restart question: status 90, exit 3010; Yes: the restart
        is started (Wine's shutdown does nothing), status 91, exit 1641."""
        publish("rebootmode", [("Held", [file_xml("ZeltoTestCtl.dll", COMPONENTS + "v1005/ZeltoTestCtl.dll",
                                                  "<VERSION>1,0,0,5</VERSION><REBOOT>1</REBOOT>")])])
        for answer, status, code in ((7, 90, 3010), (6, 91, 1641)):
            with self.subTest(answer=answer):
                z.reg("delete", SESSION_MANAGER, "/v", "PendingFileRenameOperations", "/f")
                holder = self.hold("ZeltoTestCtl.dll")
                try:
                    run = z.run_driver(["-x", doc("rebootmode")], presses=[1, answer], timeout=90)
                finally:
                    holder.kill()
                    holder.wait(timeout=30)
                self.assertEqual(status, run.last_status(), run.lines)
                self.assertEqual(code, run.exit_code)
                self.assertTrue(any(w["text"].startswith("새로운 설정 내용을 적용하기 위해") for w in run.windows),
                                run.lines)
                self.assertFalse([w for w in run.windows if "failed" in w["text"]], "no failure box of the restart")
                pending = z.reg("query", SESSION_MANAGER, "/v",
                                "PendingFileRenameOperations").stdout.decode("cp949", "replace")
                self.assertIn("ZeltoTestCtl.dll", pending)
        z.reg("delete", SESSION_MANAGER, "/v", "PendingFileRenameOperations", "/f")

    def test_held_file_without_force_is_replaced_at_restart_silently(self):
        z.reg("delete", SESSION_MANAGER, "/v", "PendingFileRenameOperations", "/f")
        publish("heldmode", [("Held", [file_xml("ZeltoTestCtl.dll", COMPONENTS + "v1005/ZeltoTestCtl.dll",
                                                "<VERSION>1,0,0,5</VERSION>")])], report=True)
        holder = self.hold("ZeltoTestCtl.dll")
        try:
            run = z.run_driver(["-x", doc("heldmode", force=0)], presses=[1], timeout=90)
        finally:
            holder.kill()
            holder.wait(timeout=30)
        self.assertEqual(100, run.last_status(), run.lines)
        self.assertEqual(0, run.exit_code, "no restart was asked for")
        self.assertEqual([], [w for w in run.windows if w["class"] == "#32770" and 1000 not in w["ids"] and 1009 not in w["ids"]])
        pending = z.reg("query", SESSION_MANAGER, "/v", "PendingFileRenameOperations").stdout.decode("cp949", "replace")
        self.assertIn("ZeltoTestCtl.dll", pending)
        self.assertEqual([("Held", "held-for-restart", "0", "0")], reports())
        z.reg("delete", SESSION_MANAGER, "/v", "PendingFileRenameOperations", "/f")


if __name__ == "__main__":
    z.main()
