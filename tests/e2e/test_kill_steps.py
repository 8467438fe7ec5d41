"""The crash test: a run is ended before each of its durable steps in turn
(every file copied, moved or deleted, every registry value or key written or
deleted, every program started, counted by the crash-test build of the
program, ZeltoSetup-KILL-STEPS.exe), and after each kill the program runs
again. Between the two runs every file is old or new byte for byte; after the
second, the machine is as one whole run would have left it: the files, their
records and their class registrations agree, no journal entry, copy or file
beside a destination is left, nothing is pending for a restart, and the item
the catalogue did not change is untouched.

Scenarios: a first install, an update, an update that fails and rolls back,
and a removal; and the recovery of a killed update, itself killed at each of
its steps. `make test` runs the update, the recovery's own steps and the
removal; ZELTO_KILL_ALL=1 (the make target crash-test) runs them all."""
import collections
import hashlib
import os
import shutil
import subprocess
import unittest

import test_install_faults as f
import zelto_e2e as z

KILL_EXE = os.path.join(z.BIN, "kill-steps", "ZeltoSetup-KILL-STEPS.exe")
STEP_LOG = os.path.join(z.BIN, "kill-steps", "steps.log")
KILLED = 0x4B1
MODE = "killsteps"
TEXT_URL = "http://down.zelto.com/zelto/zeltosetup/killsteps/v%d/ZeltoKill.txt"
CLSID_A = "{A1B2C3D4-0001-4E5F-8A9B-0C1D2E3F4A51}"
CLSID_B = "{A1B2C3D4-0002-4E5F-8A9B-0C1D2E3F4A52}"
COMPONENTS = os.path.join(z.BIN, "tests", "components")
JOURNAL = r"HKLM\Software\QRV Corporation\ZeltoSetup\Journal"
ALL = os.environ.get("ZELTO_KILL_ALL") == "1"
VIEW = "/reg:64" if os.environ.get("ZELTO_ARCH") == "x86_64" else "/reg:32"   # the program's registry view
# The keys whose values make up an installation, as the state is read back.
KEYS = {"records": z.UNINSTALL_KEY, "journal": JOURNAL,
        "class_a": r"HKLM\Software\Classes\CLSID" + "\\" + CLSID_A,
        "class_b": r"HKLM\Software\Classes\CLSID" + "\\" + CLSID_B}
# Kept and put back with them: the browser's permission keys of the classes.
EXT = r"SOFTWARE\Microsoft\Windows\CurrentVersion\Ext"
SNAPSHOT_KEYS = list(KEYS.values()) + [root + "\\" + EXT + "\\" + kind + "\\" + clsid
                                       for root, kind in (("HKLM", "PreApproved"), ("HKCU", "Stats"))
                                       for clsid in (CLSID_A, CLSID_B)]
DUMPS = os.path.join(z.BIN, "kill-steps", "dumps")
# The copy of the program the uninstall entry names.
PROGRAM_COPY = os.path.join(z.PROGRAM_FILES, "Zelto", "ZeltoSetup.exe")


def digest(path):
    if not os.path.exists(path):
        return None
    with open(path, "rb") as fh:
        return hashlib.sha256(fh.read()).hexdigest()


def text_bytes(version):
    return ("ZeltoKill release %d\r\n" % version).encode() * (40 * version)


def publish(version, failing=False):
    """Item Kill: the control (1.0.0.4, or 1.0.0.5 from version 2 on) and a
    plain file that changes with every version; with failing, a library
    whose registration fails comes last. Item Other never changes."""
    folder = os.path.join(f.WWW, "zelto", "zeltosetup", "killsteps", "v%d" % version)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "ZeltoKill.txt"), "wb") as fh:
        fh.write(text_bytes(version))
    ctl = 4 if version == 1 else 5
    kill = [f.file_xml("ZeltoTestCtl.dll", f.COMPONENTS + "v100%d/ZeltoTestCtl.dll" % ctl,
                       "<VERSION>1,0,0,%d</VERSION><REGISTER>1</REGISTER><CLASSID>%s</CLASSID><MAINFILE>1</MAINFILE>"
                       % (ctl, CLSID_A.strip("{}"))),
            f.file_xml("ZeltoKill.txt", TEXT_URL % version, "<FILESIZE>%d</FILESIZE>" % len(text_bytes(version)))]
    if failing:
        shutil.copyfile(os.path.join(COMPONENTS, "bad", "ZeltoBadReg.dll"), os.path.join(folder, "ZeltoBadReg.dll"))
        kill.append(f.file_xml("ZeltoBadReg.dll", TEXT_URL.replace("ZeltoKill.txt", "ZeltoBadReg.dll") % version,
                               "<REGISTER>1</REGISTER>"))
    other = [f.file_xml("ZeltoTestCtl2.dll", f.COMPONENTS + "v1004/ZeltoTestCtl2.dll",
                        "<VERSION>1,0,0,4</VERSION><REGISTER>1</REGISTER><CLASSID>%s</CLASSID>" % CLSID_B.strip("{}"))]
    f.publish(MODE, [("Kill", kill), ("Other", other)])


def expected_files(version, failing=False):
    """What each destination holds after a whole run of version (None: absent);
    with failing, what the failing run places before it rolls back."""
    if version is None:
        return {"ZeltoTestCtl.dll": None, "ZeltoKill.txt": None, "ZeltoTestCtl2.dll": None, "ZeltoBadReg.dll": None}
    ctl = "v1004" if version == 1 else "v1005"
    return {"ZeltoTestCtl.dll": digest(os.path.join(COMPONENTS, ctl, "ZeltoTestCtl.dll")),
            "ZeltoKill.txt": hashlib.sha256(text_bytes(version)).hexdigest(),
            "ZeltoTestCtl2.dll": digest(os.path.join(COMPONENTS, "v1004", "ZeltoTestCtl2.dll")),
            "ZeltoBadReg.dll": digest(os.path.join(COMPONENTS, "bad", "ZeltoBadReg.dll")) if failing else None}


def wine_batch(lines):
    """Runs reg commands in one Windows command interpreter (one process start, not one per command)."""
    os.makedirs(DUMPS, exist_ok=True)
    batch = os.path.join(DUMPS, "run.bat")
    with open(batch, "w", newline="\r\n") as fh:
        fh.write("@echo off\n" + "\n".join(lines) + "\n")
    script = 'source "$0"; LC_ALL=C wine cmd /c "$1"'
    subprocess.run(["bash", "-c", script, os.path.join(z.SOURCE, "tools", "wine-env.sh"), z.win_path(batch)],
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)


def read_reg_file(path):
    """{key path: {value name: text}} of an exported .reg file; {} when there is none."""
    if not os.path.exists(path):
        return {}
    with open(path, "rb") as fh:
        text = fh.read().decode("utf-16", "replace")
    keys, current, last = {}, None, None
    for line in text.splitlines():
        if line.startswith("[") and line.endswith("]"):
            current = line[1:-1].lower()
            keys[current] = {}
        elif current is not None and "=" in line and not line.startswith(" "):
            name, _, value = line.partition("=")
            last = name.strip('"').lower()
            keys[current][last] = value
        elif current is not None and last and line.startswith(" "):
            keys[current][last] += line.strip()
    return keys


def registry_state(then=()):
    """The installation's keys and the pending restart operations, read in one
    go (then: commands run after the reading in the same interpreter)."""
    lines = []
    for name, key in KEYS.items():
        path = os.path.join(DUMPS, name + ".reg")
        if os.path.exists(path):
            os.remove(path)
        lines.append('reg export "%s" "%s" /y %s >nul 2>nul' % (key, z.win_path(path), VIEW))
    pending = os.path.join(DUMPS, "pending.txt")
    lines.append('reg query "%s" /v PendingFileRenameOperations >"%s" 2>nul' % (f.SESSION_MANAGER, z.win_path(pending)))
    wine_batch(lines + list(then))
    state = {name: read_reg_file(os.path.join(DUMPS, name + ".reg")) for name in KEYS}
    with open(pending, "rb") as fh:
        text = fh.read().decode("cp949", "replace")
    state["pending"] = [p for p in text.partition("REG_MULTI_SZ")[2].strip().split("\\0") if p]
    return state


def leftovers():
    """Files a run leaves only while it runs: beside the destinations, and the copies' folders."""
    found = [n for n in os.listdir(z.OMBRIX_DIR) if n.endswith((".zelto-new", ".zelto-restart"))] \
        if os.path.isdir(z.OMBRIX_DIR) else []
    if os.path.isdir(f.STAGING):
        found += [n for n in os.listdir(f.STAGING) if n.startswith("ZeltoSetup.old.")]
    return found


def registry_import(name, exports=()):
    """The command that deletes the installation's keys and imports the
    exported files given, in one process: a .reg file of its own."""
    full = {"HKLM": "HKEY_LOCAL_MACHINE", "HKCU": "HKEY_CURRENT_USER"}
    text = "Windows Registry Editor Version 5.00\r\n\r\n"
    for key in SNAPSHOT_KEYS:
        root, _, rest = key.partition("\\")
        text += "[-%s\\%s]\r\n\r\n" % (full[root], rest)
    text += ("[HKEY_LOCAL_MACHINE\\%s]\r\n\"PendingFileRenameOperations\"=-\r\n\r\n"
             % f.SESSION_MANAGER.partition("\\")[2])
    for path in exports:
        with open(path, "rb") as fh:
            text += fh.read().decode("utf-16").split("\n", 1)[1].replace("\r\n", "\n").replace("\n", "\r\n")
    os.makedirs(DUMPS, exist_ok=True)
    path = os.path.join(DUMPS, name + ".reg")
    with open(path, "wb") as fh:
        fh.write(b"\xff\xfe" + text.encode("utf-16-le"))
    return ['reg import "%s" %s >nul 2>nul' % (z.win_path(path), VIEW)]


CLEAN_REGISTRY = registry_import("clean")


# The machine before a try: files() puts the files back (on this side),
# registry the commands that put the keys back.
Prepare = collections.namedtuple("Prepare", "files registry")


class KillSteps(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        z.set_log_level(None)
        z.set_rules({"cc.zelto.com/cc": {"body": "ok"}})
        z.reg("delete", f.SESSION_MANAGER, "/v", "PendingFileRenameOperations", "/f")
        cls.report = []

    @classmethod
    def tearDownClass(cls):
        cls.clean()
        z.set_rules({})
        for line in cls.report:
            print(line)

    @staticmethod
    def clean_files():
        for name in expected_files(None):
            for path in (os.path.join(z.OMBRIX_DIR, name + end) for end in ("", ".zelto-new", ".zelto-restart")):
                if os.path.exists(path):
                    os.remove(path)
        if os.path.exists(PROGRAM_COPY):
            os.remove(PROGRAM_COPY)
        shutil.rmtree(f.STAGING, ignore_errors=True)

    @classmethod
    def clean(cls):
        """Nothing installed, nothing staged, no journal."""
        cls.clean_files()
        wine_batch(CLEAN_REGISTRY)

    def run_program(self, args, kill_at=None, exe=KILL_EXE, env=None, publish_version=None):
        if publish_version:
            publish(publish_version)
        env = dict({"ZELTO_STEP_LOG": z.win_path(STEP_LOG)}, **(env or {}))
        if kill_at:
            env["ZELTO_KILL_AT_STEP"] = str(kill_at)
        return z.run_driver(["-q"] + args, timeout=90, exe=exe, env=env)

    def install(self, version, failing=False, kill_at=None):
        publish(version, failing)
        return self.run_program(["-x", f.doc(MODE)], kill_at)

    def files(self):
        return {name: digest(os.path.join(z.OMBRIX_DIR, name)) for name in expected_files(None)}

    # --- The state a whole run leaves ------------------------------------------------

    def assert_whole(self, version, what, other_record=None):
        """The machine after a whole run of version (None: after a removal).
        The registry of the next try is put back in the same go (self.then)."""
        files = self.files()
        state = registry_state(self.then)
        self.assertEqual(expected_files(version), files, what + ": the files")
        self.assertEqual({}, state["journal"], what + ": no journal (not even its empty key)")
        self.assertEqual([], leftovers(), what + ": nothing beside the destinations, no copies")
        # Nothing of ours waits for the restart (a removal leaves the
        # companion control's files to it, outside the program's folders).
        ours = "\\program files\\zelto\\"
        self.assertEqual([], [p for p in state["pending"] if ours in p.lower()], what + ": nothing pending for the restart")
        records = state["records"]
        prefix = "hkey_local_machine" + z.UNINSTALL_KEY[4:].lower()
        if version is None:
            self.assertEqual({}, records, what + ": no records")
            self.assertFalse(os.path.exists(PROGRAM_COPY),
                             what + ": the copy of the program goes with the last item")
            self.assertFalse(os.path.exists(f.STAGING), what + ": the staging folder goes with the last item")
            self.assertEqual({}, state["class_a"], what + ": the control's class is unregistered")
            self.assertEqual({}, state["class_b"], what + ": the other control's class is unregistered")
            return
        for item, name in (("kill", "zeltotestctl"), ("kill", "zeltokill"), ("other", "zeltotestctl2")):
            record = records.get(prefix + "\\" + item + "\\" + name)
            self.assertIsNotNone(record, "%s: the record of %s\\%s (%s)" % (what, item, name, sorted(records)))
        self.assertNotIn(prefix + "\\kill\\zeltobadreg", records, what + ": no record of the failed library")
        for state_key, dll in (("class_a", "zeltotestctl.dll"), ("class_b", "zeltotestctl2.dll")):
            server = state[state_key].get("hkey_local_machine\\software\\classes\\clsid\\%s\\inprocserver32"
                                          % (CLSID_A if state_key == "class_a" else CLSID_B).lower(), {}).get("@", "")
            self.assertIn("zelto\\\\ombrix\\\\" + dll, server.lower(), what + ": the class is registered to the file")
        if other_record is not None:
            self.assertEqual(other_record, {k: v for k, v in records.items() if "\\other" in k},
                             what + ": the other item's record is untouched")

    def assert_between(self, before, after, what):
        """Between a kill and the next run: each file is as before or after, byte for byte."""
        files = self.files()
        for name, present in files.items():
            self.assertIn(present, (before[name], after[name]), "%s: %s is torn" % (what, name))

    # --- The loop --------------------------------------------------------------------

    def kill_loop(self, name, prepare, run, before, after, whole, limit=400, last=None):
        """Kills run at step 1, 2, ... until it completes (or up to step
        last); after each kill, checks the files, runs it again whole and
        checks the machine."""
        if os.path.exists(STEP_LOG):
            os.remove(STEP_LOG)
        self.then = []
        prepare.files()
        wine_batch(prepare.registry)
        for step in range(1, limit):
            if last is not None and step > last:
                break
            killed = run(step)
            if killed.exit_code != KILLED:
                self.then = []
                whole("%s, not killed (exit code %s)" % (name, killed.exit_code))
                break
            self.assert_between(before, after, "%s, killed at step %d" % (name, step))
            again = run(None)
            self.assertNotEqual(KILLED, again.exit_code)
            self.then = prepare.registry
            whole("%s, killed at step %d, then run again (exit code %s)" % (name, step, again.exit_code))
            prepare.files()
        else:
            self.fail("%s: still killed at step %d" % (name, limit))
        with open(STEP_LOG, encoding="utf-8", errors="replace") as fh:
            points = fh.read().splitlines()
        self.assertEqual(step - 1, len(points), "every kill is logged")
        self.report.append("%s: %d kill points, %s" % (name, step - 1, "the run completed at %d" % step
                                                       if last is None or step <= last else "up to step %d" % last))
        return points

    def installed_snapshot(self, version):
        """Installs version whole with the program and keeps what it left
        (files and keys) to put back before each try."""
        self.clean()
        run = self.install(version)
        self.assertEqual(0, run.exit_code, run.lines)
        saved = {}
        for name, present in self.files().items():
            if present:
                with open(os.path.join(z.OMBRIX_DIR, name), "rb") as fh:
                    saved[os.path.join(z.OMBRIX_DIR, name)] = fh.read()
        with open(PROGRAM_COPY, "rb") as fh:
            saved[PROGRAM_COPY] = fh.read()
        exports = [os.path.join(DUMPS, "saved-%d.reg" % index) for index in range(len(SNAPSHOT_KEYS))]
        for path in exports:
            if os.path.exists(path):
                os.remove(path)
        wine_batch(['reg export "%s" "%s" /y %s >nul 2>nul' % (key, z.win_path(path), VIEW)
                    for key, path in zip(SNAPSHOT_KEYS, exports)])
        record = {k: v for k, v in registry_state()["records"].items() if "\\other" in k}

        def files():
            self.clean_files()
            for path, data in saved.items():
                with open(path, "wb") as fh:
                    fh.write(data)
        return Prepare(files, registry_import("restore", [p for p in exports if os.path.exists(p)])), record

    def test_an_update_killed_at_every_step(self):
        restore, other = self.installed_snapshot(1)
        self.kill_loop("update", restore, lambda step: self.install(2, kill_at=step),
                       expected_files(1), expected_files(2),
                       lambda what: self.assert_whole(2, what, other))

    def trace(self, **publish):
        """The steps of one whole run of the catalogue (ZELTO_STEP_TRACE)."""
        if os.path.exists(STEP_LOG):
            os.remove(STEP_LOG)
        self.run_program(["-x", f.doc(MODE)], env={"ZELTO_STEP_TRACE": "1"}, **publish)
        with open(STEP_LOG, encoding="utf-8", errors="replace") as fh:
            return fh.read().splitlines()

    def test_the_recovery_of_a_killed_update_killed_at_every_step(self):
        """The update is killed once its files and records are in place, just
        before its journal entry goes (recovery then has the most to put
        back); the next run is killed at each of its steps in turn."""
        prepare, other = self.installed_snapshot(1)

        def update_killed_at(step):
            prepare.files()
            wine_batch(prepare.registry)
            first = self.run_program(["-x", f.doc(MODE)], kill_at=step, publish_version=2,
                                     env={"ZELTO_STEP_LOG": z.win_path(STEP_LOG + ".first")})
            self.assertEqual(KILLED, first.exit_code, first.lines)

        prepare.files()
        wine_batch(prepare.registry)
        steps = self.trace(publish_version=2)
        forget = [int(line.split(" ")[0]) for line in steps if line.endswith("RegDeleteValue Copies")]
        self.assertTrue(forget, "the update's trace shows its journal entry going: %s" % steps[-20:])
        # The recovery's own steps come first, before the catalogue is
        # fetched (the steps after it are the update's, covered above);
        # ZELTO_KILL_ALL goes on to the end of the run.
        update_killed_at(forget[0])
        steps = self.trace()
        fetched = [int(line.split(" ")[0]) for line in steps if line.endswith("\\ZeltoSetup.xml")]
        self.assertTrue(fetched, "the recovery's trace shows the catalogue fetched: %s" % steps[:40])

        def killed_then(step):
            update_killed_at(forget[0])
            return self.install(2, kill_at=step)
        self.kill_loop("recovery of an update killed at step %d" % forget[0], Prepare(lambda: None, []),
                       killed_then, expected_files(1), expected_files(2),
                       lambda what: self.assert_whole(2, what, other), last=None if ALL else fetched[0])

    @unittest.skipUnless(ALL, "ZELTO_KILL_ALL=1 (make crash-test)")
    def test_a_first_install_killed_at_every_step(self):
        self.kill_loop("first install", Prepare(self.clean_files, CLEAN_REGISTRY), lambda step: self.install(1, kill_at=step),
                       expected_files(None), expected_files(1), lambda what: self.assert_whole(1, what))

    @unittest.skipUnless(ALL, "ZELTO_KILL_ALL=1 (make crash-test)")
    def test_a_failing_update_killed_at_every_step(self):
        restore, other = self.installed_snapshot(1)
        self.kill_loop("failing update", restore, lambda step: self.install(3, failing=True, kill_at=step),
                       expected_files(1), expected_files(3, failing=True),
                       lambda what: self.assert_whole(1, what, other))

    def test_a_removal_killed_at_every_step(self):
        restore, _ = self.installed_snapshot(1)
        self.kill_loop("removal", restore, lambda step: self.run_program(["-u"], step),
                       expected_files(1), expected_files(None), lambda what: self.assert_whole(None, what))


if __name__ == "__main__":
    z.main()
