"""Keys documents for zelto-publish.py: which keys may sign catalogues.

A keys document, published as <host>/zelto/zeltosetup/Repository/keys/<N>.xml
with <N>.xml.sig, names its VERSION, EXPIRES and THRESHOLD, its root keys
(ROOT), the keys that may sign catalogues (CATALOGUEKEY) and revoked key ids
(REVOKED). Version N+1 counts for a program only when at least the
threshold of version N's root keys and the threshold of its own signed it;
version 1 is what the program was built with (ZELTO_CATALOGUE_KEYS,
ZELTO_ROOT_KEYS, ZELTO_ROOT_THRESHOLD). The signature file holds a line
"<key id> <base64>" per root key that signed; each root key's holder signs
on a machine of its own (keys sign), so that no single place holds the
threshold. A key id is the SHA-256 of the public key's DER bytes.
"""
import base64
import datetime
import hashlib
import os
import re

TIME_FORMAT = "%Y-%m-%dT%H:%M:%SZ"
DEFAULT_VALID_DAYS = 365


class Problem(Exception):
    """An operator's mistake or a refused document: one line, no traceback."""


def crypto():
    try:
        from cryptography.hazmat.primitives import hashes, serialization
        from cryptography.hazmat.primitives.asymmetric import padding
    except ImportError:
        raise Problem("python3-cryptography is missing (Debian package python3-cryptography; tools/bootstrap.sh installs it)")
    return hashes, serialization, padding


def utc_now():
    return datetime.datetime.now(datetime.timezone.utc).replace(microsecond=0)


def parse_time(value):
    try:
        return datetime.datetime.strptime(value, TIME_FORMAT).replace(tzinfo=datetime.timezone.utc)
    except (TypeError, ValueError):
        return None


def load(path, private=False):
    hashes, serialization, padding = crypto()
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError as e:
        raise Problem("%s: %s" % (path, e.strerror))
    try:
        key = (serialization.load_pem_private_key(data, password=None) if private
               else serialization.load_pem_public_key(data))
    except (ValueError, TypeError) as e:
        raise Problem("%s: not an unencrypted RSA %s key in PEM (%s)" % (path, "private" if private else "public", e))
    if not 2048 <= key.key_size <= 4096:
        raise Problem("%s: an RSA key of %d bits; 2048 to 4096 are accepted" % (path, key.key_size))
    return key


def public_pem(key):
    hashes, serialization, padding = crypto()
    public = key.public_key() if hasattr(key, "private_bytes") else key
    return public.public_bytes(serialization.Encoding.PEM,
                               serialization.PublicFormat.SubjectPublicKeyInfo).decode("ascii").strip()


def key_id(pem_text):
    """The id the program computes: SHA-256 of the DER bytes of the PEM's body."""
    body = "".join(line for line in pem_text.strip().splitlines() if not line.startswith("-----"))
    return hashlib.sha256(base64.b64decode(body)).hexdigest()


def revoked_id(value):
    """A key id as given, or the id of a public key file."""
    if re.fullmatch(r"[0-9A-Fa-f]{64}", value):
        return value.lower()
    return key_id(public_pem(load(value)))


def make(out, version, roots, threshold, catalogue_keys, revoke=(), expires=None, valid_days=DEFAULT_VALID_DAYS):
    if version < 2:
        raise Problem("--version %d: version 1 is the keys built into the program; documents start at 2" % version)
    if not roots or not 1 <= threshold <= min(len(roots), 9):
        raise Problem("--threshold %d: between 1 and the number of --root keys (%d)" % (threshold, len(roots)))
    if not catalogue_keys:
        raise Problem("name at least one --catalogue-key")
    if os.path.exists(out):
        raise Problem("%s exists: a published version is never rewritten; make version %d under another name"
                      % (out, version))
    when = parse_time(expires) if expires else utc_now() + datetime.timedelta(days=valid_days)
    if when is None:
        raise Problem("--expires %r: not a UTC time YYYY-MM-DDTHH:MM:SSZ" % expires)
    if when <= utc_now():
        raise Problem("the document would expire at once (%s)" % when.strftime(TIME_FORMAT))
    revoked = {revoked_id(r) for r in revoke}
    # A revoked key stays revoked: the version before's list carries over.
    previous = os.path.join(os.path.dirname(out), "%d.xml" % (version - 1))
    if os.path.exists(previous):
        revoked |= read(previous)[3]
    revoked = sorted(revoked)
    active = [p for p in (public_pem(load(k)) for k in catalogue_keys) if key_id(p) not in revoked]
    if not active:
        raise Problem("every --catalogue-key is revoked: no catalogue could be signed")
    lines = ['<?xml version="1.0" encoding="utf-8"?>',
             '<ZELTOKEYS VERSION="%d" EXPIRES="%s" THRESHOLD="%d">' % (version, when.strftime(TIME_FORMAT), threshold)]
    lines += ["  <ROOT>\n%s\n  </ROOT>" % public_pem(load(r)) for r in roots]
    lines += ["  <CATALOGUEKEY>\n%s\n  </CATALOGUEKEY>" % p for p in active]
    lines += ["  <REVOKED>%s</REVOKED>" % r for r in revoked]
    lines.append("</ZELTOKEYS>")
    folder = os.path.dirname(out)
    if folder:
        os.makedirs(folder, exist_ok=True)
    with open(out, "w", encoding="utf-8", newline="\n") as f:
        f.write("\n".join(lines) + "\n")
    return ["%s: version %d, %d root key(s), %d of them sign, %d catalogue key(s), %d revoked, expires %s"
            % (out, version, len(roots), threshold, len(active), len(revoked), when.strftime(TIME_FORMAT)),
            "sign it with %d root key(s) of version %d and %d of its own: keys sign %s --key ROOT.pem"
            % (threshold, version - 1, threshold, out)]


def read(path):
    """(attributes, roots, catalogue keys, revoked) of a document; Problem when it is none."""
    try:
        with open(path, "rb") as f:
            text = f.read().decode("utf-8")
    except (OSError, UnicodeDecodeError) as e:
        raise Problem("%s: cannot be read (%s)" % (path, e))
    root = re.search(r"<ZELTOKEYS\b([^>]*)>", text)
    if not root:
        raise Problem("%s: no root element ZELTOKEYS" % path)
    attributes = dict(re.findall(r'(\w+)="([^"]*)"', root.group(1)))
    roots = [m.strip() for m in re.findall(r"<ROOT>(.*?)</ROOT>", text, re.S)]
    keys = [m.strip() for m in re.findall(r"<CATALOGUEKEY>(.*?)</CATALOGUEKEY>", text, re.S)]
    revoked = {m.strip().lower() for m in re.findall(r"<REVOKED>(.*?)</REVOKED>", text, re.S)}
    return attributes, roots, keys, revoked


def sign(document, private_key):
    hashes, serialization, padding = crypto()
    key = load(private_key, private=True)
    attributes, roots, keys, revoked = read(document)
    with open(document, "rb") as f:
        data = f.read()
    kid = key_id(public_pem(key))
    signature = base64.b64encode(key.sign(data, padding.PKCS1v15(), hashes.SHA256())).decode("ascii")
    lines = []
    if os.path.exists(document + ".sig"):
        with open(document + ".sig") as f:
            lines = [line.strip() for line in f if line.strip() and not line.startswith(kid + " ")]
    lines.append("%s %s" % (kid, signature))
    with open(document + ".sig.tmp", "w", newline="\n") as f:
        f.write("\n".join(lines) + "\n")
    os.replace(document + ".sig.tmp", document + ".sig")
    own = kid in {key_id(r) for r in roots}
    return ["%s.sig: signed by %s (%s), %d signature(s) in all" % (document, kid[:16], "one of its own root keys"
            if own else "not one of its own root keys: counts for the version before only", len(lines))]


def signers(path, roots, revoked):
    """The ids among roots (PEM texts, none revoked) whose signature of path verifies."""
    hashes, serialization, padding = crypto()
    with open(path, "rb") as f:
        data = f.read()
    try:
        with open(path + ".sig") as f:
            lines = dict(line.split(None, 1) for line in f if len(line.split(None, 1)) == 2)
    except OSError:
        return set()
    good = set()
    for pem in roots:
        kid = key_id(pem)
        if kid in revoked or kid not in lines:
            continue
        try:
            serialization.load_pem_public_key(pem.encode("ascii")).verify(
                base64.b64decode("".join(lines[kid].split())), data, padding.PKCS1v15(), hashes.SHA256())
            good.add(kid)
        except Exception:   # InvalidSignature, a malformed line
            continue
    return good


def check_chain(folder, root_paths, threshold, catalogue_key_paths):
    """Walks folder/2.xml, 3.xml ... as a program built with these keys would.
    Returns (lines, errors, active catalogue key PEMs at the end)."""
    roots = [public_pem(load(p)) for p in root_paths]
    keys = [public_pem(load(p)) for p in catalogue_key_paths]
    revoked = set()
    lines = ["version 1 (built in): %d root key(s), %d sign; catalogue keys %s"
             % (len(roots), threshold, ", ".join(key_id(k)[:16] for k in keys) or "none")]
    errors = []
    version = 1
    while os.path.exists(os.path.join(folder, "%d.xml" % (version + 1))):
        path = os.path.join(folder, "%d.xml" % (version + 1))
        try:
            attributes, new_roots, new_keys, new_revoked = read(path)
        except Problem as e:
            errors.append(str(e))
            break
        all_revoked = revoked | new_revoked
        when = parse_time(attributes.get("EXPIRES"))
        own_threshold = int(attributes.get("THRESHOLD", "0")) if attributes.get("THRESHOLD", "").isdigit() else 0
        by_held = signers(path, roots, all_revoked)
        by_own = signers(path, new_roots, all_revoked)
        problems = []
        if attributes.get("VERSION") != str(version + 1):
            problems.append("VERSION %s where %d belongs" % (attributes.get("VERSION"), version + 1))
        if when is None:
            problems.append("no readable EXPIRES")
        elif when <= utc_now():
            problems.append("expired at %s" % attributes["EXPIRES"])
        if not 1 <= own_threshold <= len(new_roots):
            problems.append("THRESHOLD %s for %d root key(s)" % (attributes.get("THRESHOLD"), len(new_roots)))
        if len(by_held) < threshold:
            problems.append("signed by %d root key(s) of version %d, %d needed" % (len(by_held), version, threshold))
        if len(by_own) < own_threshold:
            problems.append("signed by %d of its own root keys, %d needed" % (len(by_own), own_threshold))
        active = [k for k in new_keys if key_id(k) not in all_revoked]
        if not active:
            problems.append("no catalogue key that is not revoked")
        if problems:
            errors.append("%s: programs holding version %d refuse it: %s" % (path, version, "; ".join(problems)))
            break
        version, roots, threshold, keys, revoked = version + 1, new_roots, own_threshold, new_keys, all_revoked
        lines.append("version %d: %d root key(s), %d sign; catalogue keys %s; revoked %s" % (
            version, len(roots), threshold, ", ".join(key_id(k)[:16] for k in active),
            ", ".join(sorted(r[:16] for r in revoked)) or "none"))
    active = [k for k in keys if key_id(k) not in revoked]
    lines.append("catalogues verify with: %s" % (", ".join(key_id(k)[:16] for k in active) or "no key"))
    return lines, errors, active
