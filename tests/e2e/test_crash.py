"""A run killed in the middle of an update (a power cut, the task manager)
never leaves a component torn: the destination is the old file or the new
one byte for byte, and the next run rolls the interrupted item back from the
journal and its copies before it does anything else, leaving no copies."""
import hashlib
import os
import signal
import subprocess
import threading
import time

import test_install_faults as f
import zelto_e2e as z

BIG = "ZeltoBig.bin"
BIG_URL = f.COMPONENTS + "crash/" + BIG
JOURNAL_KEY = r"HKLM\Software\QRV Corporation\ZeltoSetup\Journal"
CLASS_KEY = r"HKCR\CLSID\{A1B2C3D4-0001-4E5F-8A9B-0C1D2E3F4A51}\InprocServer32"


def generated(size):
    block = bytes(range(256)) * 256
    digest = hashlib.sha256()
    for _ in range(size // len(block)):
        digest.update(block)
    return digest.hexdigest()


def digest_of(path):
    with open(path, "rb") as fh:
        return hashlib.file_digest(fh, "sha256").hexdigest()


def publish(version, big_size):
    f.publish("crashmode", [("Crash", [
        f.file_xml("ZeltoTestCtl.dll", f.COMPONENTS + "v100%d/ZeltoTestCtl.dll" % version,
                   "<VERSION>1,0,0,%d</VERSION><REGISTER>1</REGISTER><CLASSID>A1B2C3D4-0001-4E5F-8A9B-0C1D2E3F4A51"
                   "</CLASSID><MAINFILE>1</MAINFILE>" % version),
        f.file_xml(BIG, BIG_URL, "<FILESIZE>%d</FILESIZE>" % big_size)])])
    rules = {"cc.zelto.com/cc": {"body": "ok"}}
    rules[BIG_URL[len("http://"):]] = {"size": big_size}
    z.set_rules(rules)


def kill_program():
    """SIGKILL to the Wine process of ZeltoSetup.exe (never to the driver)."""
    out = subprocess.run(["ps", "-eo", "pid=,args="], stdout=subprocess.PIPE, check=True, timeout=10).stdout.decode()
    for line in out.splitlines():
        pid, _, args = line.strip().partition(" ")
        first = args.split(" ")[0] if args else ""
        if first.lower().endswith("zeltosetup.exe"):
            os.kill(int(pid), signal.SIGKILL)
            return True
    return False


class Crash(f.FaultScenario):
    def tearDown(self):
        z.reg("delete", JOURNAL_KEY, "/f")
        for name in (BIG, BIG + ".zelto-new"):
            path = os.path.join(z.OMBRIX_DIR, name)
            if os.path.exists(path):
                os.remove(path)

    def test_a_run_killed_while_a_file_is_replaced(self):
        old_big, new_big = 16 << 20, 48 << 20
        publish(4, old_big)
        run = z.run_driver(["-x", f.doc("crashmode")], presses=[1], timeout=120)
        self.assertEqual(100, run.last_status(), run.lines)
        old_ctl = digest_of(os.path.join(z.OMBRIX_DIR, "ZeltoTestCtl.dll"))
        self.assertEqual(generated(old_big), digest_of(os.path.join(z.OMBRIX_DIR, BIG)))

        # The update, killed once the item has begun to change things: the
        # control was replaced (a new file at its path), the big file is being
        # put beside its destination or was just moved over it, and the
        # control's registration has not ended. A staged file is moved into
        # place, so ".zelto-new" may never be seen; the copy path shows it.
        publish(5, new_big)
        ctl_path = os.path.join(z.OMBRIX_DIR, "ZeltoTestCtl.dll")
        placing = os.path.join(z.OMBRIX_DIR, BIG + ".zelto-new")
        old_identity = os.stat(ctl_path).st_ino
        killed = []

        def watch():
            deadline = time.time() + 120
            while time.time() < deadline and not killed:
                try:
                    changed = os.stat(ctl_path).st_ino != old_identity
                except FileNotFoundError:
                    changed = True
                if (changed or os.path.exists(placing)) and kill_program():
                    killed.append(time.time())
                    return
                time.sleep(0.001)
        watcher = threading.Thread(target=watch)
        watcher.start()
        run = z.run_driver(["-x", f.doc("crashmode")], presses=[1], timeout=120)
        watcher.join(timeout=130)
        self.assertTrue(killed, "the watcher never saw the control replaced: %s" % run.lines)
        self.assertNotIn(100, run.status_codes())

        # Old or new, byte for byte; never absent, never partial.
        big = digest_of(os.path.join(z.OMBRIX_DIR, BIG))
        self.assertIn(big, (generated(old_big), generated(new_big)))
        ctl = digest_of(os.path.join(z.OMBRIX_DIR, "ZeltoTestCtl.dll"))
        with open(os.path.join(z.BIN, "tests", "components", "v1005", "ZeltoTestCtl.dll"), "rb") as fh:
            new_ctl = hashlib.sha256(fh.read()).hexdigest()
        self.assertIn(ctl, (old_ctl, new_ctl))
        self.assertIsNotNone(z.reg_value(JOURNAL_KEY + r"\Crash", "Copies"), "the journal names the item")

        # The next run puts the interrupted item back first, then installs.
        z.clear_log()
        run = z.run_driver(["-x", f.doc("crashmode")], presses=[1], timeout=120)
        self.assertEqual(100, run.last_status(), run.lines)
        self.assertIn("[RecoverInterruptedItems] Crash: a run ended while it was installing it; rolled back", z.read_log())
        self.assertEqual(generated(new_big), digest_of(os.path.join(z.OMBRIX_DIR, BIG)))
        self.assertEqual(new_ctl, digest_of(os.path.join(z.OMBRIX_DIR, "ZeltoTestCtl.dll")))
        server = z.reg("query", CLASS_KEY, "/ve").stdout.decode("cp949", "replace").lower()
        self.assertIn("zelto\\ombrix\\zeltotestctl.dll", server, "the control is registered to the placed file")
        self.assertTrue((z.reg_value(z.UNINSTALL_KEY + r"\Crash\ZeltoBig", "FilePath") or "").endswith("\\ZeltoBig.bin"),
                        "a whole record")
        self.assertEqual("1", z.reg_value(z.UNINSTALL_KEY + r"\Crash\ZeltoTestCtl", "Unregister")[-1:])
        self.assertIsNone(z.reg_value(JOURNAL_KEY + r"\Crash", "Copies"), "the journal entry is gone")
        self.assertEqual([], [n for n in os.listdir(f.STAGING) if n.startswith("ZeltoSetup.old.")], "no copies left")
        self.assertFalse(os.path.exists(placing))


if __name__ == "__main__":
    z.main()
