"""Staged releases for ZeltoSetup: the ROLLOUT element of a catalogue item.

Used by zelto-publish.py (`rollout`, and `check` for each item's stage). An
item's new files reach a machine once its stage covers the machine's bucket:

    <ROLLOUT SALT="..." START="2026-12-01T00:00:00Z" PERCENT="5"/>
    <ROLLOUT SALT="..." START="..." RAMP="1:0,5:24,20:48,50:72,100:96"/>

RAMP is percent:hours after START. HALTED="<time>" freezes the stage where
it was then, CRITICAL="1" sends the item to every machine at once, and
FIRST="staged" makes first installs wait for the stage too.

The SALT is taken from the SHA-256 of the item's files: a release with other
files gets a new one (other machines go first, and START begins again), the
same files keep theirs. So run `stamp` first and `sign` afterwards.
"""
import datetime
import hashlib
import re

KNOWN_ELEMENTS = {"ROLLOUT", "REPORT"}
HALT_WARNING_DAYS = 7
TIME_FORMAT = "%Y-%m-%dT%H:%M:%SZ"


class Problem(Exception):
    pass


def parse_time(text):
    """A UTC time written exactly as YYYY-MM-DDTHH:MM:SSZ (as the program reads it); None otherwise."""
    if not isinstance(text, str) or not re.fullmatch(r"[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z", text):
        return None
    try:
        when = datetime.datetime.strptime(text, TIME_FORMAT).replace(tzinfo=datetime.timezone.utc)
    except ValueError:
        return None
    return when if when.year >= 1601 else None


def format_time(when):
    return when.astimezone(datetime.timezone.utc).strftime(TIME_FORMAT)


def parse_percent(text):
    """Hundredths of a percent, as the program reads PERCENT; None when it refuses it."""
    m = re.fullmatch(r"([0-9]{1,3})(?:\.([0-9]{1,2}))?", text or "")
    if not m:
        return None
    value = int(m.group(1)) * 100 + int((m.group(2) or "0").ljust(2, "0"))
    return value if value <= 10000 else None


def parse_ramp(text):
    """[(hours, hundredths)] rising, as the program reads RAMP; None when it refuses it."""
    steps = []
    for step in (text or "").split(","):
        m = re.fullmatch(r"([0-9.]+):([0-9]{1,5})", step)
        percent = parse_percent(m.group(1)) if m else None
        if percent is None:
            return None
        hours = int(m.group(2))
        if steps and (hours <= steps[-1][0] or percent < steps[-1][1]):
            return None
        steps.append((hours, percent))
    return steps if 0 < len(steps) <= 32 else None


def attributes(element_text):
    return dict(re.findall(r'\b([A-Z]+)="([^"]*)"', element_text))


def item_block(text, item):
    """(start, end) of the UPDATEITEM named item."""
    for m in re.finditer(r"<UPDATEITEM\b[^>]*>.*?</UPDATEITEM>", text, re.S):
        name = re.search(r"\bNAME\s*=\s*[\"']([^\"']*)[\"']", m.group(0)[:m.group(0).index(">")])
        if name and name.group(1) == item:
            return m.start(), m.end()
    raise Problem("no UPDATEITEM %r in the catalogue" % item)


def release_salt(block):
    """The salt of the item's release: from the SHA-256 of each of its files."""
    hashes = re.findall(r"<SHA256>\s*([0-9A-Fa-f]{64})\s*</SHA256>", block)
    files = len(re.findall(r"<FILE\b", block))
    if not files or len(hashes) != files:
        raise Problem("the item's files have no SHA256 each: run stamp first")
    return hashlib.sha256("|".join(h.lower() for h in hashes).encode()).hexdigest()[:16]


def stage_at(attrs, now):
    """The stage (hundredths) the program computes at now; None when it cannot read the ROLLOUT."""
    if not attrs.get("SALT"):
        return None
    start = parse_time(attrs["START"]) if "START" in attrs else None
    halted = parse_time(attrs["HALTED"]) if "HALTED" in attrs else None
    if ("START" in attrs and start is None) or ("HALTED" in attrs and halted is None):
        return None
    percent = parse_percent(attrs["PERCENT"]) if "PERCENT" in attrs else -1
    ramp = parse_ramp(attrs["RAMP"]) if "RAMP" in attrs else []
    if percent is None or ramp is None or (percent >= 0 and ramp) or ((percent >= 0 or ramp) and start is None):
        return None
    if attrs.get("CRITICAL") == "1" or (percent < 0 and not ramp):
        return 10000
    at = min(now, halted) if halted else now
    if at < start:
        return 0
    if percent >= 0:
        return percent
    hours = (at - start).total_seconds() / 3600
    return max([p for h, p in ramp if hours >= h], default=0)


def stage_text(hundredths):
    return "%d%%" % (hundredths // 100) if hundredths % 100 == 0 else "%d.%02d%%" % divmod(hundredths, 100)


def rollout(tool, root, mode, item, percent=None, ramp=None, halt=False, resume=False, critical=None, start=None,
            first_staged=None, now=None, out=None):
    """Sets the item's ROLLOUT; returns the lines it printed."""
    now = now or datetime.datetime.now(datetime.timezone.utc)
    path = tool.find_catalogue(root, mode)
    text = tool.read_bytes(path).decode(tool.ENCODING)
    begin, end = item_block(text, item)
    block = text[begin:end]
    salt = release_salt(block)
    found = re.search(r"<ROLLOUT\b[^>]*?/>", block)
    attrs = attributes(found.group(0)) if found else {}
    lines = []
    if percent is not None and parse_percent(percent) is None:
        raise Problem("--percent %r: 0 to 100, at most two decimals" % percent)
    if ramp is not None and parse_ramp(ramp) is None:
        raise Problem("--ramp %r: percent:hours steps, both rising (1:0,5:24,100:96)" % ramp)
    if halt and (critical or (critical is None and attrs.get("CRITICAL") == "1")):
        raise Problem("%s: a critical release goes to every machine at once and cannot be halted; to stop it: "
                      "rollout ROOT MODE %s --no-critical --percent 0 --halt" % (item, item))
    if attrs.get("SALT") != salt:
        if percent is None and ramp is None and not critical:
            raise Problem("%s: a new release (its files changed): give --percent, --ramp or --critical" % item)
        kept = {"FIRST": attrs["FIRST"]} if attrs.get("FIRST") == "staged" else {}
        attrs = dict({"SALT": salt, "START": format_time(start or now)}, **kept)
        if kept and first_staged is None:
            lines.append("%s: first installs still wait for the stage (FIRST=\"staged\" kept)" % item)
        lines.append("%s: a new release, salt %s, starting %s" % (item, salt, attrs["START"]))
    elif start is not None:
        attrs["START"] = format_time(start)
    if percent is not None:
        old = stage_at(attrs, now) if "PERCENT" in attrs or "RAMP" in attrs else None
        attrs.pop("RAMP", None)
        attrs["PERCENT"] = percent
        if old is not None and parse_percent(percent) < old:
            lines.append("%s: warning: %s is below the stage reached (%s): nobody is downgraded, fewer machines "
                         "take it from now on" % (item, stage_text(parse_percent(percent)), stage_text(old)))
    if ramp is not None:
        attrs.pop("PERCENT", None)
        attrs["RAMP"] = ramp
    if critical is not None:
        attrs.pop("CRITICAL", None)
        if critical:
            attrs["CRITICAL"] = "1"
    if first_staged is not None:
        attrs.pop("FIRST", None)
        if first_staged:
            attrs["FIRST"] = "staged"
    if halt and "HALTED" not in attrs:
        attrs["HALTED"] = format_time(now)
    if resume and "HALTED" in attrs:
        # A ramp goes on from where it was frozen: START moves on by the halt.
        halted = parse_time(attrs.pop("HALTED"))
        if "RAMP" in attrs and halted and now > halted:
            attrs["START"] = format_time(parse_time(attrs["START"]) + (now - halted))
    order = ["SALT", "START", "PERCENT", "RAMP", "HALTED", "CRITICAL", "FIRST"]
    element = "<ROLLOUT %s/>" % " ".join('%s="%s"' % (k, attrs[k]) for k in order if k in attrs)
    if found:
        block = block[:found.start()] + element + block[found.end():]
    else:
        opening = block.index(">") + 1
        child = re.search(r"\n([ \t]*)<", block[opening:])
        indent = child.group(1) if child else "  "
        block = block[:opening] + "\n" + indent + element + block[opening:]
    with open(path + ".tmp", "wb") as f:
        f.write((text[:begin] + block + text[end:]).encode(tool.ENCODING))
    tool.os.replace(path + ".tmp", path)
    stage = stage_at(attributes(element), now)
    lines.append("%s: %s, stage now %s%s; sign the catalogue again" % (
        item, element, stage_text(stage), " (halted)" if "HALTED" in attrs else ""))
    for line in lines:
        print(line, file=out)
    return lines


def check_items(path, text, errors, warnings, now=None, out=None):
    """Each item's stage; errors for a ROLLOUT the program cannot read (it holds the item) and for one set
    for other files, warnings for a halt older than a week."""
    now = now or datetime.datetime.now(datetime.timezone.utc)
    for m in re.finditer(r"<UPDATEITEM\b[^>]*>.*?</UPDATEITEM>", text, re.S):
        block = m.group(0)
        found = re.search(r"<ROLLOUT\b[^>]*?/?>", block)
        if not found:
            continue
        name = (re.search(r"\bNAME\s*=\s*[\"']([^\"']*)[\"']", block[:block.index(">")]) or [None, "?"])[1]
        attrs = attributes(found.group(0))
        stage = stage_at(attrs, now)
        if stage is None:
            errors.append("%s: %s: ROLLOUT %s cannot be read: the program holds the item on every machine"
                          % (path, name, found.group(0)))
            continue
        halted = parse_time(attrs.get("HALTED", ""))
        print("rollout: %s: stage %s%s%s" % (name, stage_text(stage), " (halted since %s)" % attrs["HALTED"]
                                               if halted else "", ", critical" if attrs.get("CRITICAL") == "1"
                                               else ""), file=out)
        if halted and now - halted > datetime.timedelta(days=HALT_WARNING_DAYS):
            warnings.append("%s: %s: halted for more than %d days (since %s): resume it or publish a fix"
                            % (path, name, HALT_WARNING_DAYS, attrs["HALTED"]))
        try:
            if release_salt(block) != attrs.get("SALT"):
                errors.append("%s: %s: the ROLLOUT was set for other files (a new release under the old one's "
                              "stage): run rollout for this release" % (path, name))
        except Problem:
            pass


def check_report(tool, path, text, errors):
    """The list's REPORT: a URL under the trust rule of downloads and a RATE the program reads."""
    found = re.search(r"<REPORT\b([^>]*)>(.*?)</REPORT>", text, re.S)
    if not found:
        return
    url = found.group(2).strip()
    if not tool.url_trusted(url):
        errors.append("%s: REPORT %s fails the trust rule: the program reports no result" % (path, url))
    rate = attributes(found.group(1)).get("RATE")
    if rate is not None and parse_percent(rate) is None:
        errors.append("%s: REPORT RATE %r is no percentage: the program reports no result" % (path, rate))
