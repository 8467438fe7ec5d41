"""The operators' tool and staged releases: it reads percentages, times and
ramps exactly as the program does (the table both are held to), and `health`
reads result reports from access logs, draws them and halts a release whose
first attempts fail. Runs on the Linux side with Debian's Python."""
import datetime
import importlib.util
import io
import json
import os
import shutil
import tempfile
import unittest

SOURCE = os.environ.get("ZELTO_SOURCE") or os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
spec = importlib.util.spec_from_file_location("zelto_publish", os.path.join(SOURCE, "tools", "zelto-publish.py"))
publish = importlib.util.module_from_spec(spec)
spec.loader.exec_module(publish)
rollout = publish.zelto_rollout
health = publish.zelto_health
REPORT = "http://cc.zelto.com/zelto/zeltosetup/report"

CATALOGUE = """<?xml version="1.0" encoding="euc-kr"?>
<ZELTOOMBRIX>
  <UPDATELIST>
    <REPORT>%s</REPORT>
    <UPDATEITEM NAME="Ctl">
      <MODE NAME="m"/>
      <FILE NAME="a.dll">
        <SOURCE>http://down.zelto.com/zelto/zeltosetup/c/a.dll</SOURCE>
        <DEST>[PROGRAMS]Zelto</DEST>
        <VERSION>1,0,0,6</VERSION>
        <SHA256>%s</SHA256>
        <MAINFILE>1</MAINFILE>
      </FILE>
    </UPDATEITEM>
  </UPDATELIST>
</ZELTOOMBRIX>
""" % (REPORT, "ab" * 32)


def report_query(outcome, first=True, to="1.0.0.6", error="0", syserror="0", stage=1000, item="Ctl"):
    return ("/zelto/zeltosetup/report?item=%s&from=1.0.0.5&to=%s&outcome=%s&error=%s&syserror=%s&ms=10&bytes=5"
            "&stage=%d&first=%d" % (item, to, outcome, error, syserror, stage, 1 if first else 0))


def nginx_line(when, query, client="203.0.113.7"):
    return '%s - - [%s] "GET %s HTTP/1.1" 200 2 "-" "ZeltoOmbrix/1.0.1.31"' % (
        client, when.strftime("%d/%b/%Y:%H:%M:%S +0000"), query)


class Grammar(unittest.TestCase):
    def test_the_table_the_program_is_held_to(self):
        rows = 0
        with open(os.path.join(SOURCE, "tests", "data", "rollout-grammar.txt"), encoding="utf-8") as table:
            for line in table:
                if not line.strip() or line.startswith("#"):
                    continue
                kind, text, expected = line.rstrip("\n").split("\t")
                text = "" if text == "(empty)" else text
                rows += 1
                if kind == "percent":
                    self.assertEqual(None if expected == "refused" else int(expected), rollout.parse_percent(text),
                                     "PERCENT %r" % text)
                elif kind == "time":
                    self.assertEqual(expected == "ok", rollout.parse_time(text) is not None, "time %r" % text)
                else:
                    self.assertEqual(expected == "ok", rollout.parse_ramp(text) is not None, "RAMP %r" % text)
        self.assertGreater(rows, 40)


class Health(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="zelto-health-")
        folder = os.path.join(self.root, "down.zelto.com", "zelto", "zeltosetup", "Repository", "m")
        os.makedirs(folder)
        self.catalogue = os.path.join(folder, "m.xml")
        with open(self.catalogue, "w", encoding="cp949") as f:
            f.write(CATALOGUE)
        rollout.rollout(publish.this_tool(), self.root, "m", "Ctl", percent="10", out=io.StringIO())
        self.start = datetime.datetime(2026, 12, 1, 6, 0, tzinfo=datetime.timezone.utc)

    def tearDown(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def log(self, lines, name="access.log"):
        path = os.path.join(self.root, name)
        with open(path, "w") as f:
            f.write("\n".join(lines) + "\n")
        return path

    def run_health(self, *args, **kw):
        out = io.StringIO()
        halted = health.health(publish.this_tool(), *args, out=out, **kw)
        return halted, out.getvalue()

    def text(self):
        with open(self.catalogue, encoding="cp949") as f:
            return f.read()

    def test_summary_per_release_and_stage_from_both_log_formats(self):
        when = self.start
        nginx = self.log([nginx_line(when, report_query("installed")),
                          nginx_line(when, report_query("rolled-back", error="1014", syserror="5")),
                          nginx_line(when, report_query("rolled-back", first=False, error="1014", syserror="5")),
                          nginx_line(when, report_query("held-for-restart", stage=5000)),
                          nginx_line(when, "/zelto/zeltosetup/components/a.dll"),
                          '203.0.113.9 - - [01/Dec/2026:06:00:00 +0000] "GET /other?item=x HTTP/1.1" 404 0 "-" "-"'])
        content = os.path.join(self.root, "requests.jsonl")
        with open(content, "w") as f:
            f.write(json.dumps({"time": when.timestamp(), "method": "GET",
                                "url": "http://cc.zelto.com" + report_query("refused", error="1016")}) + "\n")
        _, out = self.run_health([nginx, content])
        lines = [l.split() for l in out.splitlines()[1:]]
        # item, release, stage, reports, installed, held, rolled back, refused, failed, first failed/first
        self.assertEqual(["Ctl", "1.0.0.6", "10%", "4", "1", "0", "2", "1", "75.0%", "2/3", "1014(5)", "x2,",
                          "1016(0)", "x1"], lines[0])
        self.assertEqual(["Ctl", "1.0.0.6", "50%", "1", "0", "1", "0", "0", "0.0%", "0/1", "-"], lines[1])

    def test_the_halt_rule_counts_first_attempts_and_needs_enough_of_them(self):
        bad = [nginx_line(self.start, report_query("rolled-back", error="1014")) for _ in range(3)]
        retries = [nginx_line(self.start, report_query("rolled-back", first=False)) for _ in range(20)]
        good = [nginx_line(self.start, report_query("installed")) for _ in range(7)]
        old = [nginx_line(self.start, report_query("rolled-back", to="1.0.0.5")) for _ in range(20)]
        path = self.log(bad + retries + good + old)
        before = self.text()
        # 3 of 10 first attempts failed: within 40 %, above 20 %; retries and the old release count nothing.
        halted, out = self.run_health([path], catalogue=(self.root, "m"), halt_above=40, min_reports=10)
        self.assertEqual([], halted, out)
        self.assertEqual(before, self.text())
        halted, out = self.run_health([path], catalogue=(self.root, "m"), halt_above=30, min_reports=11)
        self.assertEqual([], halted, out)
        self.assertIn("Ctl 1.0.0.6: 10 first attempt(s) reported, fewer than 11: no verdict yet", out)
        halted, out = self.run_health([path], catalogue=(self.root, "m"), halt_above=20, min_reports=10)
        self.assertEqual(["Ctl"], halted, out)
        self.assertIn("HALTED=", self.text())
        self.assertIn("halted at stage 10%. Sign and publish the catalogue now: zelto-publish.py sign", out)
        # Once halted, it stays so (the halt's time is not moved).
        text = self.text()
        halted, out = self.run_health([path], catalogue=(self.root, "m"), halt_above=20, min_reports=10)
        self.assertEqual(([], text), (halted, self.text()))
        self.assertIn("already halted", out)

    def test_a_picture_and_the_operators_mistakes(self):
        lines = [nginx_line(self.start + datetime.timedelta(hours=h), report_query(o))
                 for h in range(6) for o in ("installed", "installed", "rolled-back")]
        png = os.path.join(self.root, "release.png")
        _, out = self.run_health([self.log(lines)], png=png, halt_above=20, min_reports=5, catalogue=(self.root, "m"))
        with open(png, "rb") as f:
            self.assertEqual(b"\x89PNG", f.read(4))
        for args, kw, says in (([os.path.join(self.root, "none.log")], {}, "none.log: cannot be read"),
                               ([self.log(["garbage"], "bad.log")], {}, "bad.log:1: neither nginx's"),
                               ([self.log(lines)], {"halt_above": 20, "min_reports": 5}, "needs --catalogue"),
                               ([self.log(lines)], {"halt_above": 20, "catalogue": (self.root, "m")}, "go together"),
                               ([self.log(lines)], {"halt_above": 100, "min_reports": 5, "catalogue": (self.root, "m")},
                                "--halt-above")):
            with self.assertRaises(health.Problem) as caught:
                self.run_health(args, **kw)
            self.assertIn(says, str(caught.exception))

    def test_a_new_release_keeps_staged_first_installs_and_check_refuses_an_old_stage(self):
        rollout.rollout(publish.this_tool(), self.root, "m", "Ctl", first_staged=True, out=io.StringIO())
        text = self.text().replace("ab" * 32, "cd" * 32)   # other files: a new release
        with open(self.catalogue, "w", encoding="cp949") as f:
            f.write(text)
        errors, warnings = [], []
        rollout.check_items(self.catalogue, self.text(), errors, warnings, out=io.StringIO())
        self.assertIn("the ROLLOUT was set for other files", " ".join(errors), "an error, not a warning")
        lines = rollout.rollout(publish.this_tool(), self.root, "m", "Ctl", percent="5", out=io.StringIO())
        self.assertIn('FIRST="staged"', self.text())
        self.assertIn("first installs still wait for the stage", " ".join(lines))

    def test_a_critical_release_is_not_halted_but_said_how_to_stop(self):
        rollout.rollout(publish.this_tool(), self.root, "m", "Ctl", critical=True, out=io.StringIO())
        with self.assertRaises(rollout.Problem) as caught:
            rollout.rollout(publish.this_tool(), self.root, "m", "Ctl", halt=True, out=io.StringIO())
        self.assertIn("--no-critical --percent 0 --halt", str(caught.exception))
        path = self.log([nginx_line(self.start, report_query("rolled-back")) for _ in range(5)])
        halted, out = self.run_health([path], catalogue=(self.root, "m"), halt_above=10, min_reports=5)
        self.assertEqual([], halted)
        self.assertIn("cannot be halted", out)


if __name__ == "__main__":
    unittest.main()
