"""Release health for ZeltoSetup: the result reports in web server access logs.

Used by zelto-publish.py (`health`). Every run of a program whose catalogue
names a REPORT URL requests it once per item it tried:

    REPORT?item=<item>&from=<version>&to=<version>&outcome=<outcome>&error=<n>&syserror=<n>
          &ms=<n>&bytes=<n>&stage=<hundredths>&first=<0|1>

outcome is installed, held-for-restart (placed at the next restart: a
success), rolled-back or refused (its download failed); first=1 marks the
first report of that release from that machine (retries report first=0, so
that a desktop failing every run counts once). The logs are nginx's default
`combined` format or the content server's JSON lines (tools/content_server.py).

Per item, release (its `to` version) and stage this prints the reports, each
outcome, the failure share and the most frequent error pairs; --png draws the
release over time; --halt-above P --min-reports N halts the current release
of every item of the catalogue whose first attempts number at least N and
failed more than P % (as `rollout --halt`), and says what to sign and publish.
"""
import collections
import datetime
import json
import os
import re
import urllib.parse

OUTCOMES = ("installed", "held-for-restart", "rolled-back", "refused")
FAILED = ("rolled-back", "refused")
COMBINED = re.compile(r'^(\S+) \S+ \S+ \[([^\]]+)\] "(\S+) (\S+)[^"]*" (\d{3}) \S+(?: "[^"]*" "[^"]*")?')


class Problem(Exception):
    pass


Report = collections.namedtuple("Report", "when client item from_version to_version outcome error stage first")


def _report(when, client, target):
    """A Report from a request target whose query is a result report; None for any other request."""
    query = urllib.parse.urlsplit(target).query
    fields = dict(urllib.parse.parse_qsl(query, keep_blank_values=True))
    if not {"item", "outcome", "to"} <= set(fields) or fields["outcome"] not in OUTCOMES:
        return None
    try:
        stage = int(fields.get("stage", "-1"))
    except ValueError:
        stage = -1
    return Report(when, client, fields["item"], fields.get("from", ""), fields["to"], fields["outcome"],
                  (fields.get("error", "0"), fields.get("syserror", "0")), stage, fields.get("first", "1") != "0")


def read_logs(paths, path_filter=None):
    """Every result report of the logs, oldest first; path_filter: only requests to this path."""
    reports = []
    for path in paths:
        try:
            with open(path, encoding="utf-8", errors="replace") as f:
                lines = f.read().splitlines()
        except OSError as e:
            raise Problem("%s: cannot be read (%s)" % (path, e.strerror or e))
        for number, line in enumerate(lines, 1):
            if not line.strip():
                continue
            if line.lstrip().startswith("{"):
                try:
                    entry = json.loads(line)
                    when = datetime.datetime.fromtimestamp(float(entry["time"]), datetime.timezone.utc)
                    target, client = entry["url"], entry.get("client", "")
                except (ValueError, KeyError, TypeError):
                    raise Problem("%s:%d: neither nginx's combined format nor the content server's JSON" %
                                  (path, number))
            else:
                m = COMBINED.match(line)
                if not m:
                    raise Problem("%s:%d: neither nginx's combined format nor the content server's JSON" %
                                  (path, number))
                try:
                    when = datetime.datetime.strptime(m.group(2), "%d/%b/%Y:%H:%M:%S %z")
                except ValueError:
                    raise Problem("%s:%d: the time %r does not read as nginx writes it" % (path, number, m.group(2)))
                target, client = m.group(4), m.group(1)
            if path_filter and urllib.parse.urlsplit(target).path != path_filter:
                continue
            report = _report(when, client, target)
            if report:
                reports.append(report)
    reports.sort(key=lambda r: r.when)
    return reports


def stage_text(hundredths):
    if hundredths < 0:
        return "no stage"
    return ("%d%%" % (hundredths // 100)) if hundredths % 100 == 0 else "%d.%02d%%" % (hundredths // 100,
                                                                                      hundredths % 100)


def summarise(reports):
    """{(item, to, stage): counts}: reports, each outcome, failed, first attempts and their failures, errors."""
    groups = collections.OrderedDict()
    for r in reports:
        g = groups.setdefault((r.item, r.to_version, r.stage), {
            "reports": 0, "first": 0, "first_failed": 0, "failed": 0, "errors": collections.Counter(),
            **{o: 0 for o in OUTCOMES}})
        g["reports"] += 1
        g[r.outcome] += 1
        if r.outcome in FAILED:
            g["failed"] += 1
            g["errors"][r.error] += 1
        if r.first:
            g["first"] += 1
            g["first_failed"] += r.outcome in FAILED
    return groups


def share(part, whole):
    return 100.0 * part / whole if whole else 0.0


def print_summary(groups, out):
    print("%-20s %-12s %-9s %7s %9s %6s %11s %7s %7s %7s  %s" % (
        "item", "release", "stage", "reports", "installed", "held", "rolled-back", "refused", "failed",
        "first", "top error pairs"), file=out)
    for (item, to, stage), g in groups.items():
        errors = ", ".join("%s(%s) x%d" % (e[0], e[1], n) for e, n in g["errors"].most_common(3)) or "-"
        print("%-20s %-12s %-9s %7d %9d %6d %11d %7d %6.1f%% %3d/%-3d  %s" % (
            item, to, stage_text(stage), g["reports"], g["installed"], g["held-for-restart"], g["rolled-back"],
            g["refused"], share(g["failed"], g["reports"]), g["first_failed"], g["first"], errors), file=out)


def draw(reports, png, halt_above=None):
    """Reports and failure share per hour for each item's releases, the stage as the reports carried it."""
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        raise Problem("--png needs python3-matplotlib (apt-get install python3-matplotlib)")
    if not reports:
        raise Problem("no result report in the logs: nothing to draw")
    releases = sorted({(r.item, r.to_version) for r in reports})
    figure, axes = plt.subplots(len(releases), 1, figsize=(10, 3.6 * len(releases)), squeeze=False)
    for row, (item, to) in enumerate(releases):
        mine = [r for r in reports if (r.item, r.to_version) == (item, to)]
        hours = collections.OrderedDict()
        for r in mine:
            hour = r.when.replace(minute=0, second=0, microsecond=0)
            h = hours.setdefault(hour, {"ok": 0, "failed": 0, "stage": -1})
            h["failed" if r.outcome in FAILED else "ok"] += 1
            h["stage"] = max(h["stage"], r.stage)
        x = list(hours)
        ok = [hours[h]["ok"] for h in x]
        failed = [hours[h]["failed"] for h in x]
        ax = axes[row][0]
        width = 1 / 24 * 0.8
        ax.bar(x, ok, width=width, color="#4c9a5f", label="installed or held for restart")
        ax.bar(x, failed, width=width, bottom=ok, color="#c0392b", label="rolled back or refused")
        ax.set_ylabel("reports per hour")
        ax.set_title("%s %s" % (item, to))
        right = ax.twinx()
        right.plot(x, [share(hours[h]["failed"], hours[h]["failed"] + hours[h]["ok"]) for h in x], color="#c0392b",
                   marker="o", label="failure share %")
        right.step(x, [max(hours[h]["stage"], 0) / 100.0 for h in x], where="post", color="#2c3e50",
                   linestyle="--", label="stage %")
        if halt_above is not None:
            right.axhline(halt_above, color="#c0392b", linestyle=":", label="halt above %g %%" % halt_above)
        right.set_ylim(0, 105)
        right.set_ylabel("%")
        lines = ax.get_legend_handles_labels()
        more = right.get_legend_handles_labels()
        ax.legend(lines[0] + more[0], lines[1] + more[1], loc="upper left", fontsize=8)
    figure.autofmt_xdate()
    figure.tight_layout()
    partial = png + ".tmp.png"
    figure.savefig(partial, dpi=90)
    plt.close(figure)
    os.replace(partial, png)


def current_releases(tool, root, mode, now=None):
    """{item: (version, stage now, halted)} of the catalogue's items with a ROLLOUT, and its REPORT path."""
    import zelto_rollout
    path = tool.find_catalogue(root, mode)
    text = tool.read_bytes(path).decode(tool.ENCODING)
    report = re.search(r"<REPORT\b[^>]*>\s*([^<]*?)\s*</REPORT>", text)
    releases = {}
    now = now or datetime.datetime.now(datetime.timezone.utc)
    for m in re.finditer(r"<UPDATEITEM\b[^>]*>.*?</UPDATEITEM>", text, re.S):
        block = m.group(0)
        name = re.search(r"\bNAME\s*=\s*[\"']([^\"']*)[\"']", block[:block.index(">")])
        rollout = re.search(r"<ROLLOUT\b[^>]*?/>", block)
        if not name or not rollout:
            continue
        versions = re.findall(r"<FILE\b.*?</FILE>", block, re.S)
        main = [f for f in versions if re.search(r"<MAINFILE>\s*1\s*</MAINFILE>", f)] or versions
        version = tool.child_text(main[0], "VERSION") if main else None
        attrs = zelto_rollout.attributes(rollout.group(0))
        releases[name.group(1)] = ((version or "").replace(",", "."), zelto_rollout.stage_at(attrs, now),
                                   "HALTED" in attrs)
    return releases, (urllib.parse.urlsplit(report.group(1)).path if report else None)


def health(tool, logs, catalogue=None, png=None, halt_above=None, min_reports=None, out=None, now=None):
    """Prints the release health; halts failing releases (at now: the clock, or a simulated one's time);
    returns the items it halted."""
    releases, report_path = current_releases(tool, catalogue[0], catalogue[1], now) if catalogue else ({}, None)
    if halt_above is not None and not catalogue:
        raise Problem("--halt-above needs --catalogue ROOT MODE (the release to halt)")
    if halt_above is not None and not 0 <= halt_above < 100:
        raise Problem("--halt-above %r: a share from 0 to 99.99 (percent of failed first attempts)" % halt_above)
    if (halt_above is None) != (min_reports is None):
        raise Problem("--halt-above and --min-reports go together")
    if min_reports is not None and min_reports < 1:
        raise Problem("--min-reports %r: at least 1" % min_reports)
    reports = read_logs(logs, report_path)
    groups = summarise(reports)
    print_summary(groups, out)
    if png:
        draw(reports, png, halt_above)
        print("drew %s" % png, file=out)
    halted = []
    if halt_above is None:
        return halted
    import zelto_rollout
    for item, (version, stage, already) in releases.items():
        first = [r for r in reports if r.item == item and r.to_version == version and r.first]
        failed = sum(r.outcome in FAILED for r in first)
        if len(first) < min_reports:
            print("%s %s: %d first attempt(s) reported, fewer than %d: no verdict yet" % (
                item, version, len(first), min_reports), file=out)
            continue
        if share(failed, len(first)) <= halt_above:
            print("%s %s: %d of %d first attempts failed (%.1f %%), within %g %%" % (
                item, version, failed, len(first), share(failed, len(first)), halt_above), file=out)
            continue
        if already:
            print("%s %s: %d of %d first attempts failed (%.1f %%): already halted" % (
                item, version, failed, len(first), share(failed, len(first))), file=out)
            continue
        try:
            zelto_rollout.rollout(tool, catalogue[0], catalogue[1], item, halt=True, now=now, out=out)
        except zelto_rollout.Problem as e:
            print("%s %s: %d of %d first attempts failed (%.1f %%), but it cannot be halted: %s" % (
                item, version, failed, len(first), share(failed, len(first)), e), file=out)
            continue
        print("%s %s: %d of %d first attempts failed (%.1f %%, above %g %%): halted at stage %s. Sign and "
              "publish the catalogue now: zelto-publish.py sign %s %s --key KEY.pem, then copy it and its .sig" % (
                  item, version, failed, len(first), share(failed, len(first)), halt_above, stage_text(stage),
                  catalogue[0], catalogue[1]), file=out)
        halted.append(item)
    return halted
