#!/usr/bin/python3
"""zelto-publish: prepares a repository for ZeltoSetup.

A repository is laid out as the content server serves it: ROOT/<host>/<path>,
the catalogue of MODE at ROOT/<host>/zelto/zeltosetup/Repository/MODE/MODE.xml.

    zelto-publish.py keygen OUT_PREFIX               a new RSA-3072 key pair
    zelto-publish.py stamp ROOT MODE                 sizes, versions, times, SHA256s from the files
    zelto-publish.py patch ROOT MODE --previous OLD.xml ... [--releases N]
                                                     zstd patches from earlier releases' files
    zelto-publish.py rollout ROOT MODE ITEM [--percent P | --ramp P:H,...] [--halt | --resume] [--critical]
                                                     stages an item's release (see tools/zelto_rollout.py)
    zelto-publish.py signers ROOT MODE ITEM --authority CA.pem ... [--subject NAME]
                                                     pins the publishers allowed to sign the item's
                                                     executable files (see tools/zelto_signers.py)
    zelto-publish.py health LOG... [--catalogue ROOT MODE] [--png FILE] [--halt-above P --min-reports N]
                                                     per release and stage: reports, outcomes, failure
                                                     share, top errors; halts a failing release
                                                     (see tools/zelto_health.py)
    zelto-publish.py sign ROOT MODE --key KEY.pem [--expires T | --valid-days N] [--serial N]
                                                     binds the catalogue to MODE, a SERIAL and an
                                                     expiry, and writes MODE.xml.sig beside it
    zelto-publish.py check ROOT MODE [--key PUB.pem ...] [--previous OLD.xml|SERIAL]
                               [--root PUB.pem ... --threshold T] [--signer-pin SHA256 ...]
                                                     what ZeltoSetup would refuse or trip over
    zelto-publish.py keys make OUT.xml --version N --root PUB.pem ... --threshold T
                               --catalogue-key PUB.pem ... [--revoke PUB.pem|ID ...]
                                                     a keys document (see tools/zelto_keys.py)
    zelto-publish.py keys sign DOC.xml --key ROOT.pem    adds one root key's signature
    zelto-publish.py keys check FOLDER --root PUB.pem ... --threshold T --catalogue-key PUB.pem ...
                                                     the chain as a program with those keys reads it

Each command has --help. Python 3 with Debian's python3-cryptography.
"""
import argparse
import base64
import datetime
import glob
import hashlib
import io
import os
import re
import struct
import sys
import types
import urllib.parse
import zipfile
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import zelto_keys  # noqa: E402  (beside this script)
import zelto_patches  # noqa: E402
import zelto_rollout  # noqa: E402
import zelto_health  # noqa: E402
import zelto_signers  # noqa: E402

ENCODING = "cp949"
DOMAIN_SUFFIX = ".zelto.com"          # the program's trusted origin (build-time configuration)
PATH_PREFIX = "zelto/zeltosetup/"
KNOWN = {
    "ZELTOOMBRIX", "UPDATELIST", "UPDATEITEM", "MODE", "DESCRIPTION", "LOG", "PUBLISHER", "FILE", "ADDREG",
    "DELREG", "SOURCE", "SOURCE_WIN9X", "DEST", "VERSION", "FILESIZE", "FILETIME", "REGISTER", "DELETEREGCLASS",
    "DELETEREGKEY", "REBOOT", "EXECUTE", "PARAM", "SHAREDDLL", "RUNFILE", "RUNSOURCE", "RUNDEST", "RUNPARAM",
    "RUNVERSION", "CLASSID", "MAINFILE", "SHA256", "RUNSHA256", "ROOT", "KEY", "VALUE_NAME", "VALUE", "ARCHIVESIZE",
    "RUNFILESIZE",
} | zelto_patches.KNOWN_ELEMENTS | zelto_rollout.KNOWN_ELEMENTS | zelto_signers.KNOWN_ELEMENTS


def is_archive(name, url):
    """The program's rule: NAME is unpacked from the download at url."""
    url_ext = os.path.splitext(urllib.parse.urlsplit(url).path)[1].lower()
    return url_ext == ".zip" and os.path.splitext(name)[1].lower() != url_ext


class Problem(Exception):
    """A failure the operator must fix, with the file it concerns."""


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


# --- The program's own rules -----------------------------------------------------

def mode_refused(mode):
    """Why the program refuses MODE, or None (the parameter document's rule)."""
    if not mode.strip():
        return "empty"
    for bad in ("/", "\\", "%", "?", "#", "..", " "):
        if bad in mode:
            return "contains %r" % bad
    if any(ord(c) < 32 or ord(c) == 127 for c in mode):
        return "contains a control character"
    return None


def name_refused(name):
    """Why the program refuses a FILE or RUNFILE NAME, or None."""
    if not name or name in (".", ".."):
        return "empty, '.' or '..'"
    if any(c in name for c in "\\/:"):
        return "contains \\, / or :"
    if "." in name and name.rfind(".") == 0:
        return "has nothing before its extension"
    return None


def url_trusted(url):
    """The program's trust rule for download URLs (CHttpUtil::CheckDownloadURL)."""
    if "\\" in url:
        return False
    try:
        parts = urllib.parse.urlsplit(url)
    except ValueError:
        return False
    if parts.scheme.lower() not in ("http", "https") or not url.lower().startswith(parts.scheme.lower() + "://"):
        return False
    netloc = parts.netloc
    if "@" in netloc:
        return False
    host = netloc.split(":")[0]
    if not host or len(host) <= len(DOMAIN_SUFFIX) - 1 or not host.endswith(DOMAIN_SUFFIX):
        return False
    raw_path = parts.path
    decoded = urllib.parse.unquote(raw_path)
    segments = decoded.split("/")
    if len(segments) < 4 or "/".join(segments[1:3]) + "/" != PATH_PREFIX:
        return False
    if any(s in (".", "..") for s in segments) or any(s in (".", "..") for s in raw_path.split("/")):
        return False
    if "%" in decoded or "\\" in decoded:
        return False
    return True


# --- Files ----------------------------------------------------------------------

def local_path(root, url):
    """Where ROOT holds the file a URL names."""
    parts = urllib.parse.urlsplit(url)
    host = parts.netloc.split("@")[-1].split(":")[0].lower()
    return os.path.join(root, host, urllib.parse.unquote(parts.path).lstrip("/"))


def sha256_of(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for chunk in iter(lambda: f.read(1 << 20), b""):
            digest.update(chunk)
    return digest.hexdigest()


def version_of(data):
    """The file version of a version resource (VS_FIXEDFILEINFO), as "a,b,c,d", or None."""
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0 or at + 16 > len(data):
        return None
    ms, ls = struct.unpack_from("<II", data, at + 8)
    return "%d,%d,%d,%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)


def installed_bytes(path, name, url):
    """The bytes of the file as installed: the download itself, or NAME from a ZIP download."""
    if is_archive(name, url):
        with zipfile.ZipFile(path) as archive:
            try:
                info = archive.getinfo(name)
            except KeyError:
                raise Problem("%s holds no %s at its top level" % (path, name))
            return archive.read(info), info.date_time
    with open(path, "rb") as f:
        data = f.read()
    stamp = datetime.datetime.fromtimestamp(os.path.getmtime(path))
    return data, (stamp.year, stamp.month, stamp.day, stamp.hour, stamp.minute, stamp.second)


def find_catalogue(root, mode):
    found = sorted(glob.glob(os.path.join(root, "*", "zelto", "zeltosetup", "Repository", mode, mode + ".xml")))
    if not found:
        raise Problem("no catalogue %s/<host>/zelto/zeltosetup/Repository/%s/%s.xml" % (root, mode, mode))
    if len(found) > 1:
        raise Problem("more than one catalogue for %s: %s" % (mode, ", ".join(found)))
    return found[0]


# --- Editing the catalogue's text, keeping everything else as it is --------------

def child_text(block, tag):
    m = re.search(r"<%s>(.*?)</%s>" % (tag, tag), block, re.S)
    return m.group(1).strip() if m else None


def set_child(block, tag, value, closing):
    """block with <tag>value</tag>: replaced, or added before the closing tag
    (on a line of its own, indented like the block's children, where the
    closing tag stands on its own line)."""
    m = re.search(r"<%s>(.*?)</%s>" % (tag, tag), block, re.S)
    if m:
        return block[:m.start(1)] + value + block[m.end(1):]
    at = block.rfind(closing)
    line_start = block.rfind("\n", 0, at) + 1
    if line_start > 0 and block[line_start:at].strip() == "":
        child = re.search(r"\n([ \t]*)<", block)
        indent = child.group(1) if child else block[line_start:at] + "  "
        return block[:line_start] + indent + "<%s>%s</%s>\n" % (tag, value, tag) + block[line_start:]
    return block[:at] + "<%s>%s</%s>" % (tag, value, tag) + block[at:]


def file_blocks(text):
    """(start, end) of every FILE element in the catalogue's text."""
    return [(m.start(), m.end()) for m in re.finditer(r"<FILE\b.*?</FILE>", text, re.S)]


def stamp(root, mode, out=sys.stdout):
    path = find_catalogue(root, mode)
    raw = read_bytes(path)
    text = raw.decode(ENCODING)
    changes = []
    pieces, last = [], 0
    for start, end in file_blocks(text):
        block = text[start:end]
        name = (re.search(r"<FILE\b[^>]*\bNAME\s*=\s*[\"']([^\"']*)[\"']", block) or [None, ""])[1]
        source = child_text(block, "SOURCE")
        if source:
            download = local_path(root, source)
            if not os.path.exists(download):
                raise Problem("%s: %s: %s is not under %s" % (path, name, source, root))
            data, when = installed_bytes(download, name, source)
            values = [("FILESIZE", str(len(data))), ("SHA256", sha256_of(download))]
            if is_archive(name, source):
                # The download's own size, so that the program asks nobody for it.
                values.append(("ARCHIVESIZE", str(os.path.getsize(download))))
            version = version_of(data)
            if version:
                values.append(("VERSION", version))
            if child_text(block, "FILETIME") is None:   # an operator's FILETIME stays
                values.append(("FILETIME", "%d,%d,%d,%d,%d,%d" % tuple(when)))
            for tag, value in values:
                if child_text(block, tag) != value:
                    changes.append("%s: %s %s -> %s" % (name, tag, child_text(block, tag), value))
                    block = set_child(block, tag, value, "</FILE>")
            run = re.search(r"<RUNFILE\b.*?</RUNFILE>", block, re.S)
            if run and child_text(run.group(0), "RUNSOURCE"):
                run_url = child_text(run.group(0), "RUNSOURCE")
                run_path = local_path(root, run_url)
                if not os.path.exists(run_path):
                    raise Problem("%s: %s: %s is not under %s" % (path, name, run_url, root))
                new_run = run.group(0)
                for tag, value in (("RUNSHA256", sha256_of(run_path)), ("RUNFILESIZE", str(os.path.getsize(run_path)))):
                    if child_text(new_run, tag) != value:
                        changes.append("%s: %s %s -> %s" % (name, tag, child_text(new_run, tag), value))
                        new_run = set_child(new_run, tag, value, "</RUNFILE>")
                block = block[:run.start()] + new_run + block[run.end():]
        pieces.append(text[last:start])
        pieces.append(block)
        last = end
    pieces.append(text[last:])
    if changes:
        with open(path + ".tmp", "wb") as f:
            f.write("".join(pieces).encode(ENCODING))
        os.replace(path + ".tmp", path)
    for line in changes:
        print(line, file=out)
    print("%s: %d change(s)" % (path, len(changes)), file=out)
    return changes


# --- Keys and signatures -----------------------------------------------------------

def crypto():
    try:
        from cryptography.hazmat.primitives import hashes, serialization
        from cryptography.hazmat.primitives.asymmetric import padding, rsa
    except ImportError:
        raise Problem("python3-cryptography is missing (Debian package python3-cryptography; tools/bootstrap.sh installs it)")
    return hashes, serialization, padding, rsa


def keygen(prefix):
    hashes, serialization, padding, rsa = crypto()
    private = prefix + ".pem"
    folder = os.path.dirname(private)
    if folder and not os.path.isdir(folder):
        try:
            os.makedirs(folder)
        except OSError as e:
            raise Problem("%s: the folder cannot be made (%s)" % (folder, e.strerror))
    for path in (private, prefix + ".pub.pem"):
        if os.path.exists(path):
            raise Problem("%s exists: a key is never written over (choose another name)" % path)
    key = rsa.generate_private_key(public_exponent=65537, key_size=3072)
    try:
        fd = os.open(private, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
    except OSError as e:
        raise Problem("%s: %s" % (private, e.strerror))
    with os.fdopen(fd, "wb") as f:
        f.write(key.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8,
                                  serialization.NoEncryption()))
    with open(prefix + ".pub.pem", "wb") as f:
        f.write(key.public_key().public_bytes(serialization.Encoding.PEM,
                                              serialization.PublicFormat.SubjectPublicKeyInfo))
    print("%s (private, keep it secret) and %s.pub.pem (public, for ZELTO_CATALOGUE_KEYS or ZELTO_ROOT_KEYS)"
          % (private, prefix))


def load_key(path, private):
    hashes, serialization, padding, rsa = crypto()
    try:
        data = read_bytes(path)
    except OSError as e:
        raise Problem("%s: %s" % (path, e.strerror))
    try:
        if private:
            key = serialization.load_pem_private_key(data, password=None)
        else:
            key = serialization.load_pem_public_key(data)
    except (ValueError, TypeError) as e:
        raise Problem("%s: not an unencrypted RSA %s key in PEM (%s)" % (path, "private" if private else "public", e))
    if not 2048 <= key.key_size <= 4096:
        raise Problem("%s: an RSA key of %d bits; 2048 to 4096 are accepted" % (path, key.key_size))
    return key


# --- What binds a catalogue to its mode and time: attributes of its root -------

ROOT_TAG = re.compile(r"<ZELTOOMBRIX\b[^>]*>")
ATTRIBUTE = re.compile(r"\s([A-Za-z_][\w.-]*)\s*=\s*(\"[^\"]*\"|'[^']*')")
DEFAULT_VALID_DAYS = 90
EXPIRY_WARNING_DAYS = 30
TIME_FORMAT = "%Y-%m-%dT%H:%M:%SZ"


def root_attributes(text):
    """The attributes of the root element ZELTOOMBRIX, as written; {} when there is none."""
    m = ROOT_TAG.search(text)
    if not m:
        return {}
    return {a.group(1): a.group(2)[1:-1] for a in ATTRIBUTE.finditer(m.group(0))}


def set_root_attribute(text, name, value):
    """text with the root element's attribute set (value None: removed), the rest as it was."""
    m = ROOT_TAG.search(text)
    if not m:
        raise Problem("no root element ZELTOOMBRIX")
    tag = m.group(0)
    existing = re.search(r"\s%s\s*=\s*(\"[^\"]*\"|'[^']*')" % re.escape(name), tag)
    if existing:
        tag = tag[:existing.start()] + ("" if value is None else ' %s="%s"' % (name, value)) + tag[existing.end():]
    elif value is not None:
        tag = tag[:-1] + ' %s="%s">' % (name, value)
    return text[:m.start()] + tag + text[m.end():]


def parse_serial(value):
    return int(value) if value is not None and re.fullmatch(r"[0-9]{1,19}", value) else None


def parse_time(value):
    try:
        return datetime.datetime.strptime(value, TIME_FORMAT).replace(tzinfo=datetime.timezone.utc)
    except (TypeError, ValueError):
        return None


def utc_now():
    return datetime.datetime.now(datetime.timezone.utc).replace(microsecond=0)


def serial_ahead(serial):
    """True when a SERIAL lies more than a day past what this clock signs now:
    every desktop that takes it refuses every later catalogue until the keys
    change (a typo, a clock years ahead, a leaked key)."""
    return serial > int((utc_now() + datetime.timedelta(days=1)).strftime("%Y%m%d%H%M%S"))


def sign(root, mode, key_path, expires=None, valid_days=DEFAULT_VALID_DAYS, serial=None, out=sys.stdout,
         err=sys.stderr, force=False):
    hashes, serialization, padding, rsa = crypto()
    path = find_catalogue(root, mode)
    key = load_key(key_path, private=True)
    text = read_bytes(path).decode(ENCODING)
    attributes = root_attributes(text)
    if not ROOT_TAG.search(text):
        raise Problem("%s: no root element ZELTOOMBRIX" % path)
    # The serial: the time of signing, so that it grows across rebuilt
    # repositories too, and never below the one the catalogue already has.
    before = parse_serial(attributes.get("SERIAL"))
    if serial is not None:
        if before is not None and serial < before:
            raise Problem("%s: --serial %d is lower than the catalogue's SERIAL %d" % (path, serial, before))
    else:
        serial = max(int(utc_now().strftime("%Y%m%d%H%M%S")), before or 0)
    if serial_ahead(serial) and not force:
        raise Problem("%s: SERIAL %d lies more than a day ahead of this clock (%s): every program that takes it "
                      "refuses every later catalogue until the keys change; --force if it is meant"
                      % (path, serial, utc_now().strftime(TIME_FORMAT)))
    if expires is not None:
        when = parse_time(expires)
        if when is None:
            raise Problem("--expires %r: not a UTC time YYYY-MM-DDTHH:MM:SSZ" % expires)
    elif valid_days:
        when = utc_now() + datetime.timedelta(days=valid_days)
    else:
        raise Problem("--valid-days 0: a signed catalogue needs EXPIRES (one valid for ever could be replayed for "
                      "ever); programs with keys refuse it")
    if when is not None and when <= utc_now():
        print("zelto-publish: warning: %s expires in the past (%s): every program with keys refuses it"
              % (path, when.strftime(TIME_FORMAT)), file=err)
    text = set_root_attribute(text, "MODE", mode)
    text = set_root_attribute(text, "SERIAL", str(serial))
    text = set_root_attribute(text, "EXPIRES", when.strftime(TIME_FORMAT) if when else None)
    data = text.encode(ENCODING)
    signature = key.sign(data, padding.PKCS1v15(), hashes.SHA256())
    with open(path + ".tmp", "wb") as f:
        f.write(data)
    with open(path + ".sig.tmp", "w", newline="\n") as f:
        f.write(base64.encodebytes(signature).decode("ascii"))
    os.replace(path + ".tmp", path)
    os.replace(path + ".sig.tmp", path + ".sig")
    print("%s: MODE %s, SERIAL %d, %s" % (path, mode, serial,
                                           "EXPIRES " + when.strftime(TIME_FORMAT) if when else "no expiry"), file=out)
    print("%s.sig written" % path, file=out)


def verifies_with_texts(path, pems):
    """True when the catalogue's signature verifies with one of the PEM texts."""
    hashes, serialization, padding, rsa = crypto()
    try:
        with open(path + ".sig") as f:
            signature = base64.b64decode("".join(f.read().split()), validate=True)
    except (OSError, ValueError):
        return False
    data = read_bytes(path)
    for pem in pems:
        try:
            serialization.load_pem_public_key(pem.encode("ascii")).verify(signature, data, padding.PKCS1v15(),
                                                                          hashes.SHA256())
            return True
        except Exception:   # InvalidSignature
            continue
    return False


def verifies(path, key_paths):
    """True when the catalogue's signature verifies with one of the key files."""
    pems = []
    for key_path in key_paths:
        try:
            pems.append(zelto_keys.public_pem(load_key(key_path, private=False)))
        except Problem:   # a key of another kind verifies nothing
            continue
    return verifies_with_texts(path, pems)


# --- Checking --------------------------------------------------------------------

def check(root, mode, key_paths=(), previous=None, out=sys.stdout, root_paths=(), threshold=2, signer_pins=()):
    """Prints every finding; returns the number of errors (warnings do not count).
    With root keys, the keys documents under ROOT/<host>/.../Repository/keys
    are walked as a program built with key_paths and root_paths would, and
    the catalogue must verify with the keys they leave."""
    errors, warnings = [], []
    active = None
    if root_paths:
        folders = glob.glob(os.path.join(root, "*", "zelto", "zeltosetup", "Repository", "keys"))
        lines, chain_errors, active = zelto_keys.check_chain(folders[0] if folders else os.path.join(root, "none"),
                                                             root_paths, threshold, key_paths)
        for line in lines:
            print("keys: " + line, file=out)
        errors += chain_errors
    why = mode_refused(mode)
    if why:
        errors.append("MODE %r: the program refuses it (%s)" % (mode, why))
    try:
        path = find_catalogue(root, mode)
    except Problem as e:
        errors.append(str(e))
        path = None
    if path:
        raw = read_bytes(path)
        try:
            text = raw.decode(ENCODING)
        except UnicodeDecodeError as e:
            errors.append("%s: not code page 949 text (%s)" % (path, e))
            text = None
        if text is not None:
            check_text(root, path, raw, text, errors, warnings)
            zelto_rollout.check_items(path, text, errors, warnings, out=out)
            zelto_signers.check_items(this_tool(), root, path, text, errors, signer_pins)
            zelto_rollout.check_report(this_tool(), path, text, errors)
            if key_paths or os.path.exists(path + ".sig"):
                check_binding(path, mode, text, previous, errors, warnings)
        if key_paths:
            if not os.path.exists(path + ".sig"):
                errors.append("%s.sig: missing" % path)
            elif active is not None and not verifies_with_texts(path, active):
                errors.append("%s.sig: does not verify with a catalogue key the keys documents leave" % path)
            elif active is None and not verifies(path, key_paths):
                errors.append("%s.sig: does not verify with %s" % (path, ", ".join(key_paths)))
    for line in errors:
        print("error: " + line, file=out)
    for line in warnings:
        print("warning: " + line, file=out)
    print("%d error(s), %d warning(s)" % (len(errors), len(warnings)), file=out)
    return len(errors)


def check_binding(path, mode, text, previous, errors, warnings):
    """What a program with keys refuses or will soon refuse of a signed catalogue."""
    attributes = root_attributes(text)
    serial = parse_serial(attributes.get("SERIAL"))
    if serial is None:
        errors.append("%s: no readable SERIAL: programs with keys refuse it (sign it again)" % path)
    if not attributes.get("MODE"):
        errors.append("%s: no MODE: programs with keys refuse it (sign it again)" % path)
    elif attributes["MODE"].lower() != mode.lower():
        errors.append("%s: MODE %r, published as %r: programs with keys refuse it" % (path, attributes["MODE"], mode))
    if serial is not None and serial_ahead(serial):
        warnings.append("%s: SERIAL %d lies more than a day ahead of this clock: every program that takes it "
                        "refuses every later catalogue until the keys change" % (path, serial))
    if "EXPIRES" not in attributes:
        errors.append("%s: no EXPIRES: programs with keys refuse it (sign it again)" % path)
    else:
        when = parse_time(attributes["EXPIRES"])
        if when is None:
            errors.append("%s: EXPIRES %r is not a UTC time YYYY-MM-DDTHH:MM:SSZ" % (path, attributes["EXPIRES"]))
        elif when <= utc_now():
            errors.append("%s: expired at %s: programs with keys refuse it (sign it again)" % (path, attributes["EXPIRES"]))
        elif when - utc_now() <= datetime.timedelta(days=EXPIRY_WARNING_DAYS):
            warnings.append("%s: expires at %s, within %d days: sign it again before then"
                            % (path, attributes["EXPIRES"], EXPIRY_WARNING_DAYS))
    if previous is not None and serial is not None:
        if os.path.exists(previous):
            try:
                before = parse_serial(root_attributes(read_bytes(previous).decode(ENCODING)).get("SERIAL"))
            except UnicodeDecodeError:
                before = None
        else:
            before = parse_serial(previous)
        if before is None:
            errors.append("--previous %s: no SERIAL to compare with" % previous)
        elif serial < before:
            errors.append("%s: SERIAL %d is lower than the previous signature's %d: every program that accepted "
                          "that one refuses this one" % (path, serial, before))


def line_of(text, offset):
    return text.count("\n", 0, offset) + 1


def check_text(root, path, raw, text, errors, warnings):
    index_cache = {}
    try:
        # The program takes the bytes as they are; here they are code page 949 text.
        document = ET.fromstring(re.sub(r"^\s*<\?xml[^>]*\?>", "", text))
    except ET.ParseError as e:
        errors.append("%s: XML does not parse (%s)" % (path, e))
        return
    if document.tag != "ZELTOOMBRIX" or document.find("UPDATELIST") is None:
        errors.append("%s: no /ZELTOOMBRIX/UPDATELIST" % path)
    for element in document.iter():
        if element.tag not in KNOWN:
            warnings.append("%s: unknown element %s (the program passes it over)" % (path, element.tag))
    for m in re.finditer(r"<UPDATEITEM\b[^>]*>", text):
        item = re.search(r"\bNAME\s*=\s*[\"']([^\"']*)[\"']", m.group(0))
        if not item or not item.group(1) or "\\" in item.group(1):
            errors.append("%s:%d: UPDATEITEM without a usable NAME: refused whole" % (path, line_of(text, m.start())))
    for start, end in file_blocks(text):
        block = text[start:end]
        where = "%s:%d" % (path, line_of(text, start))
        name = (re.search(r"<FILE\b[^>]*\bNAME\s*=\s*[\"']([^\"']*)[\"']", block) or [None, ""])[1]
        why = name_refused(name)
        if why:
            errors.append("%s: FILE %r: the program refuses the name (%s)" % (where, name, why))
        for tag in ("SHA256",):
            value = child_text(block, tag)
            if value is not None and not re.fullmatch(r"[0-9A-Fa-f]{64}", value):
                errors.append("%s: %s: %s is not 64 hexadecimal digits" % (where, name, tag))
        source = child_text(block, "SOURCE")
        if not source:
            errors.append("%s: %s: no SOURCE" % (where, name))
        elif not url_trusted(source):
            errors.append("%s: %s: SOURCE %s fails the trust rule" % (where, name, source))
        else:
            check_download(root, where, name, block, source, errors)
            zelto_patches.check_block(this_tool(), root, where, name, block, source, errors, warnings,
                                      index_cache)
        dest = child_text(block, "DEST")
        if dest is None:
            errors.append("%s: %s: no DEST" % (where, name))
        elif not folder_full(dest):
            errors.append("%s: %s: DEST %s is no full path (a drive, a share or a folder macro first)"
                          % (where, name, dest))
        run = re.search(r"<RUNFILE\b.*?</RUNFILE>", block, re.S)
        if run:
            run_block = run.group(0)
            run_dest = child_text(run_block, "RUNDEST")
            if run_dest and not folder_full(run_dest):
                errors.append("%s: %s: RUNDEST %s is no full path (a drive, a share or a folder macro first)"
                              % (where, name, run_dest))
            run_name = (re.search(r"\bNAME\s*=\s*[\"']([^\"']*)[\"']", run_block) or [None, ""])[1]
            if name_refused(run_name) and run_name:
                errors.append("%s: RUNFILE %r: the program refuses the name" % (where, run_name))
            run_url = child_text(run_block, "RUNSOURCE")
            run_hash = child_text(run_block, "RUNSHA256")
            if run_hash is not None and not re.fullmatch(r"[0-9A-Fa-f]{64}", run_hash):
                errors.append("%s: %s: RUNSHA256 is not 64 hexadecimal digits" % (where, name))
            if run_url and not url_trusted(run_url):
                errors.append("%s: %s: RUNSOURCE %s fails the trust rule" % (where, name, run_url))
            elif run_url:
                run_path = local_path(root, run_url)
                if not os.path.exists(run_path):
                    errors.append("%s: %s: %s is missing under %s" % (where, name, run_url, root))
                elif run_hash and run_hash.lower() != sha256_of(run_path):
                    errors.append("%s: %s: RUNSHA256 differs from %s" % (where, name, run_path))
                run_size = child_text(run_block, "RUNFILESIZE")
                if os.path.exists(run_path) and run_size is not None and run_size != str(os.path.getsize(run_path)):
                    errors.append("%s: %s: RUNFILESIZE %s, the program has %d bytes" % (where, name, run_size,
                                                                                       os.path.getsize(run_path)))


# The program refuses a destination that is not a full path once its folder
# macros are replaced: it would follow the working folder of whatever
# started the program.
FULL_FOLDER_MACROS = ("[PROGRAMS]", "[WINDOWS]", "%SYSTEMROOT%", "[SYSTEM]", "[PROGRAMMENU]", "[DESKTOP]",
                      "[DOWNLOADED]")


def folder_full(text):
    return (text.upper().startswith(FULL_FOLDER_MACROS) or re.match(r"[A-Za-z]:[\\/]", text) is not None
            or text.startswith("\\\\"))


def check_download(root, where, name, block, source, errors):
    download = local_path(root, source)
    if not os.path.exists(download):
        errors.append("%s: %s: %s is missing under %s" % (where, name, source, root))
        return
    value = child_text(block, "SHA256")
    if value and value.lower() != sha256_of(download):
        errors.append("%s: %s: SHA256 differs from %s" % (where, name, download))
    try:
        data, _ = installed_bytes(download, name, source)
    except (Problem, zipfile.BadZipFile) as e:
        errors.append("%s: %s: %s" % (where, name, e))
        return
    archive_size = child_text(block, "ARCHIVESIZE")
    if archive_size is not None and archive_size != str(os.path.getsize(download)):
        errors.append("%s: %s: ARCHIVESIZE %s, the archive has %d bytes" % (where, name, archive_size,
                                                                         os.path.getsize(download)))
    size = child_text(block, "FILESIZE")
    if size is not None and size != str(len(data)):
        errors.append("%s: %s: FILESIZE %s, the file has %d bytes" % (where, name, size, len(data)))
    version = child_text(block, "VERSION")
    actual = version_of(data)
    if version is not None and actual and [int(x or 0) for x in version.replace(" ", "").split(",")] != \
            [int(x) for x in actual.split(",")]:
        errors.append("%s: %s: VERSION %s, the file's version resource says %s" % (where, name, version, actual))


def this_tool():
    """This script's helpers, for tools/zelto_patches.py (also when it is loaded under another name)."""
    return types.SimpleNamespace(**globals())


def main(argv=None):
    parser = argparse.ArgumentParser(prog="zelto-publish.py", description=__doc__.split("\n\n")[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)
    p = commands.add_parser("keygen", help="a new RSA-3072 key pair: OUT_PREFIX.pem (private) and OUT_PREFIX.pub.pem")
    p.add_argument("prefix", metavar="OUT_PREFIX")
    p = commands.add_parser("stamp", help="fill in FILESIZE, VERSION, FILETIME (when missing), SHA256 and "
                                          "RUNSHA256 of every entry from the files under ROOT; prints the changes")
    p.add_argument("root", metavar="ROOT")
    p.add_argument("mode", metavar="MODE")
    p = commands.add_parser("patch", help="make a zstd patch per file from the files of the previous releases' "
                                          "catalogues and list them in the catalogue (PATCH; FILESHA256 for "
                                          "files in ZIP archives); run it after stamp, before sign")
    p.add_argument("root", metavar="ROOT")
    p.add_argument("mode", metavar="MODE")
    p.add_argument("--previous", action="append", required=True, metavar="OLD.xml",
                   help="a catalogue published before, whose files are still under ROOT (repeat)")
    p.add_argument("--releases", type=int, default=3, metavar="N",
                   help="patches from the N newest of them, by SERIAL (default 3)")
    p = commands.add_parser("rollout", help="stage the release of an item (ROLLOUT): a percentage or a ramp of "
                                            "machines, a halt, a resume, or critical (every machine at once); "
                                            "run it after stamp, before sign")
    p.add_argument("root", metavar="ROOT")
    p.add_argument("mode", metavar="MODE")
    p.add_argument("item", metavar="ITEM")
    stage = p.add_mutually_exclusive_group()
    stage.add_argument("--percent", metavar="P", help="this share of machines (0-100, two decimals at most)")
    stage.add_argument("--ramp", metavar="P:H,...", help="P %% of machines H hours after the start (1:0,5:24,100:96)")
    pause = p.add_mutually_exclusive_group()
    pause.add_argument("--halt", action="store_true", help="freeze the stage where it is now")
    pause.add_argument("--resume", action="store_true", help="go on (a ramp from where it was frozen)")
    p.add_argument("--critical", dest="critical", action="store_true", default=None,
                   help="every machine at once")
    p.add_argument("--no-critical", dest="critical", action="store_false")
    p.add_argument("--stage-first-installs", dest="first_staged", action="store_true", default=None,
                   help="machines without the item wait for the stage too (by default they get it at once)")
    p.add_argument("--start", metavar="YYYY-MM-DDTHH:MM:SSZ", help="the release's start (default: now)")
    p.add_argument("--now", metavar="YYYY-MM-DDTHH:MM:SSZ", help=argparse.SUPPRESS)
    p = commands.add_parser("signers", help="pin the publishers whose code signature the item's executable files "
                                            "must carry (SIGNER, one per authority certificate), after checking "
                                            "that each file is signed so; run it after stamp, before sign")
    p.add_argument("root", metavar="ROOT")
    p.add_argument("mode", metavar="MODE")
    p.add_argument("item", metavar="ITEM")
    p.add_argument("--authority", action="append", required=True, metavar="CA.pem",
                   help="the certificate of an authority (or publisher) allowed to sign (repeat while moving to "
                        "a new authority)")
    p.add_argument("--subject", metavar="NAME", help="the common name the signing certificate must carry")
    p = commands.add_parser("health", help="read the result reports in web server access logs: per item, release "
                                           "and stage the outcomes, failure share and top error pairs; draw them "
                                           "(--png); halt a release whose first attempts fail (--halt-above)")
    p.add_argument("logs", nargs="+", metavar="LOG", help="nginx 'combined' access logs or the content server's "
                                                          "requests.jsonl")
    p.add_argument("--catalogue", nargs=2, metavar=("ROOT", "MODE"),
                   help="the catalogue now published: its REPORT URL and its items' current releases")
    p.add_argument("--png", metavar="FILE", help="draw each release over time (python3-matplotlib)")
    p.add_argument("--halt-above", type=float, metavar="P",
                   help="halt the current release of an item whose first attempts failed more than P %%")
    p.add_argument("--min-reports", type=int, metavar="N",
                   help="... once at least N first attempts of it reported")
    p.add_argument("--now", metavar="YYYY-MM-DDTHH:MM:SSZ", help=argparse.SUPPRESS)
    p = commands.add_parser("sign", help="bind the catalogue to MODE, a SERIAL and an expiry (attributes of its "
                                         "root element) and write MODE.xml.sig beside it")
    p.add_argument("root", metavar="ROOT")
    p.add_argument("mode", metavar="MODE")
    p.add_argument("--key", required=True, metavar="PRIVATE.pem")
    when = p.add_mutually_exclusive_group()
    when.add_argument("--expires", metavar="YYYY-MM-DDTHH:MM:SSZ", help="the expiry time (UTC)")
    when.add_argument("--valid-days", type=int, default=DEFAULT_VALID_DAYS, metavar="N",
                      help="expire N days after signing (default %d; 0: no expiry)" % DEFAULT_VALID_DAYS)
    p.add_argument("--serial", type=int, metavar="N",
                   help="this SERIAL instead of the UTC time of signing (never lower than the catalogue's)")
    p.add_argument("--force", action="store_true", help="sign a SERIAL more than a day ahead of this clock")
    p = commands.add_parser("check", help="list what the program would refuse or trip over; exit 0 only when "
                                          "nothing is wrong")
    p.add_argument("root", metavar="ROOT")
    p.add_argument("mode", metavar="MODE")
    p.add_argument("--key", action="append", default=[], metavar="PUBLIC.pem",
                   help="a key the program accepts (repeat for a key change); checks the signature")
    p.add_argument("--previous", metavar="OLD.xml|SERIAL",
                   help="the catalogue published before (or its SERIAL): this one's SERIAL must not be lower")
    p.add_argument("--root", action="append", default=[], dest="root_keys", metavar="PUBLIC.pem",
                   help="a root key built into the program: walks the keys documents too")
    p.add_argument("--threshold", type=int, default=2, metavar="T", help="root keys that must sign (default 2)")
    p.add_argument("--signer-pin", action="append", default=[], metavar="SHA256",
                   help="a publisher pin built into the program (ZELTO_SIGNER_PINS): every item's executable "
                        "files must be signed under it")
    keys = commands.add_parser("keys", help="keys documents: rotate, add and revoke catalogue and root keys")
    actions = keys.add_subparsers(dest="action", required=True)
    p = actions.add_parser("make", help="write a keys document (unsigned)")
    p.add_argument("out", metavar="OUT.xml")
    p.add_argument("--version", type=int, required=True, metavar="N", help="2 for the first document, then +1")
    p.add_argument("--root", action="append", required=True, metavar="PUBLIC.pem", help="its root keys")
    p.add_argument("--threshold", type=int, default=2, metavar="T", help="how many of them sign the next (default 2)")
    p.add_argument("--catalogue-key", action="append", required=True, metavar="PUBLIC.pem")
    p.add_argument("--revoke", action="append", default=[], metavar="PUBLIC.pem|ID")
    when = p.add_mutually_exclusive_group()
    when.add_argument("--expires", metavar="YYYY-MM-DDTHH:MM:SSZ")
    when.add_argument("--valid-days", type=int, default=zelto_keys.DEFAULT_VALID_DAYS, metavar="N")
    p = actions.add_parser("sign", help="add one root key's signature to DOC.xml.sig")
    p.add_argument("document", metavar="DOC.xml")
    p.add_argument("--key", required=True, metavar="ROOT.pem")
    p = actions.add_parser("check", help="walk FOLDER/2.xml, 3.xml ... as a program with these keys would")
    p.add_argument("folder", metavar="FOLDER")
    p.add_argument("--root", action="append", required=True, metavar="PUBLIC.pem")
    p.add_argument("--threshold", type=int, default=2, metavar="T")
    p.add_argument("--catalogue-key", action="append", required=True, metavar="PUBLIC.pem")
    args = parser.parse_args(argv)
    try:
        if args.command == "keygen":
            keygen(args.prefix)
        elif args.command == "stamp":
            stamp(args.root, args.mode)
        elif args.command == "patch":
            zelto_patches.make(this_tool(), args.root, args.mode, args.previous, max(args.releases, 0),
                               sys.stdout)
        elif args.command == "rollout":
            times = {}
            for name in ("start", "now"):
                value = getattr(args, name)
                times[name] = zelto_rollout.parse_time(value) if value else None
                if value and times[name] is None:
                    raise Problem("--%s %r: YYYY-MM-DDTHH:MM:SSZ" % (name, value))
            zelto_rollout.rollout(this_tool(), args.root, args.mode, args.item, args.percent, args.ramp, args.halt,
                                  args.resume, args.critical, times["start"], args.first_staged, times["now"],
                                  sys.stdout)
        elif args.command == "health":
            now = zelto_rollout.parse_time(args.now) if args.now else None
            if args.now and now is None:
                raise Problem("--now %r: YYYY-MM-DDTHH:MM:SSZ" % args.now)
            zelto_health.health(this_tool(), args.logs, args.catalogue, args.png, args.halt_above, args.min_reports,
                                sys.stdout, now)
        elif args.command == "signers":
            zelto_signers.pin(this_tool(), args.root, args.mode, args.item, args.authority, args.subject, sys.stdout)
        elif args.command == "sign":
            if args.valid_days < 0 or (args.serial is not None and not 0 <= args.serial < 10 ** 19):
                raise Problem("--valid-days and --serial take numbers from 0")
            sign(args.root, args.mode, args.key, args.expires, args.valid_days, args.serial, force=args.force)
        elif args.command == "keys":
            return keys_command(args)
        else:
            return 1 if check(args.root, args.mode, args.key, previous=args.previous, root_paths=args.root_keys,
                              threshold=args.threshold, signer_pins=args.signer_pin) else 0
    except (Problem, zelto_keys.Problem, zelto_patches.Problem, zelto_rollout.Problem, zelto_signers.Problem,
            zelto_health.Problem, FileExistsError) as e:
        print("zelto-publish: %s" % e, file=sys.stderr)
        return 2
    return 0


def keys_command(args):
    if args.action == "make":
        lines = zelto_keys.make(args.out, args.version, args.root, args.threshold, args.catalogue_key, args.revoke,
                                args.expires, args.valid_days)
    elif args.action == "sign":
        lines = zelto_keys.sign(args.document, args.key)
    else:
        lines, errors, active = zelto_keys.check_chain(args.folder, args.root, args.threshold, args.catalogue_key)
        for line in lines + ["error: " + e for e in errors]:
            print(line)
        return 1 if errors else 0
    for line in lines:
        print(line)
    return 0


if __name__ == "__main__":
    sys.exit(main())
