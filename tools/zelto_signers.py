"""Publisher pins for ZeltoSetup: the SIGNER elements of a catalogue item.

Used by zelto-publish.py (`signers`, and `check` for each item's executable
files). An item with SIGNER elements installs only executable files (DLL,
OCX, EXE and their kin, by name or by their bytes being a PE image: plain
downloads, entries of ZIP archives, RUNFILE programs) whose Authenticode
signature verifies and whose signer's chain reaches a pinned certificate:

    <SIGNER SPKISHA256="<SHA-256 of the certificate's SubjectPublicKeyInfo>" SUBJECT="QRV Corp."/>

The pinned certificate is normally the publisher's authority, so that a
renewed signing certificate under it needs no new catalogue; SUBJECT
(optional) is the common name the signing certificate must carry. Several
SIGNER elements: any one of them (an authority change lists both). The
pinned certificate must travel in each file's signature (sign with the
whole chain: osslsigncode -certs leaf+authority.pem, signtool /ac).

The files are checked with osslsigncode, as the program checks them: the
digest and the signature, the chain to a pinned certificate at the signing
time (a timestamp moves that time).
"""
import hashlib
import os
import re
import subprocess
import tempfile
import zipfile

KNOWN_ELEMENTS = {"SIGNER"}
EXECUTABLE = (".dll", ".ocx", ".exe", ".sys", ".cpl", ".scr", ".drv", ".ax", ".com", ".efi")
SYSTEM_ROOTS = "/etc/ssl/certs/ca-certificates.crt"


class Problem(Exception):
    pass


def _x509():
    try:
        from cryptography import x509
        from cryptography.hazmat.primitives import serialization
    except ImportError:
        raise Problem("python3-cryptography is missing (apt-get install python3-cryptography)")
    return x509, serialization, None


def spki_sha256(certificate):
    _, serialization, _ = _x509()
    der = certificate.public_key().public_bytes(serialization.Encoding.DER,
                                                serialization.PublicFormat.SubjectPublicKeyInfo)
    return hashlib.sha256(der).hexdigest()


def common_name(certificate):
    x509, _, _ = _x509()
    names = certificate.subject.get_attributes_for_oid(x509.NameOID.COMMON_NAME)
    return names[0].value if names else ""


def _pem_certificates(data):
    """Each certificate of a PEM text (Debian's python3-cryptography reads one at a time)."""
    x509, _, _ = _x509()
    blocks = re.findall(rb"-----BEGIN CERTIFICATE-----.*?-----END CERTIFICATE-----", data, re.S)
    return [x509.load_pem_x509_certificate(block) for block in blocks]


def load_certificates(path):
    """The certificates of a PEM (or DER) file; one line naming the file when it holds none."""
    x509, _, _ = _x509()
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError as e:
        raise Problem("%s: cannot be read (%s)" % (path, e.strerror or e))
    try:
        if b"-----BEGIN CERTIFICATE-----" in data:
            return _pem_certificates(data)
        return [x509.load_der_x509_certificate(data)]
    except ValueError:
        raise Problem("%s: holds no certificate (PEM \"BEGIN CERTIFICATE\" or DER)" % path)


def is_executable(name, data):
    if name.lower().endswith(EXECUTABLE):
        return True
    if len(data) < 64 or data[:2] != b"MZ":
        return False
    offset = int.from_bytes(data[0x3C:0x40], "little")
    return data[offset:offset + 4] == b"PE\0\0"


def _osslsigncode(args):
    try:
        return subprocess.run(["osslsigncode"] + args, capture_output=True, text=True, timeout=60)
    except FileNotFoundError:
        raise Problem("osslsigncode is missing (apt-get install osslsigncode)")


def signature_of(path):
    """(certificates the signature carries, the signer's certificate) or None when unsigned; the signer is
    "tampered" when the file's digest differs from the signature's, None when it is not among them."""
    with tempfile.TemporaryDirectory() as scratch:
        out = os.path.join(scratch, "signature.pem")
        extracted = _osslsigncode(["extract-signature", "-pem", "-in", path, "-out", out])
        if extracted.returncode != 0 or not os.path.exists(out):
            return None
        printed = subprocess.run(["openssl", "pkcs7", "-print_certs", "-in", out], capture_output=True, timeout=60)
        if printed.returncode != 0 or b"BEGIN CERTIFICATE" not in printed.stdout:
            return [], None
        certificates = _pem_certificates(printed.stdout)
    # The signer: the certificate osslsigncode names as signer #0 (it stops
    # before naming it when the file's digest differs).
    listed = _osslsigncode(["verify", "-ignore-cdp", "-ignore-timestamp", "-in", path, "-CAfile", os.devnull]).stdout
    if "MISMATCH" in listed:
        return certificates, "tampered"
    signer = re.search(r"Signer's certificate:.*?Subject: (.*?)\n.*?Serial : ([0-9A-Fa-f]+)", listed, re.S)
    leaf = None
    if signer:
        serial = int(signer.group(2), 16)
        leaf = next((c for c in certificates if c.serial_number == serial), None)
    return certificates, leaf


def _issuer_path(leaf, certificates):
    """The leaf, then each issuer found among the certificates by name, up to a self-signed one."""
    path, current = [leaf], leaf
    while current.issuer != current.subject and len(path) < 10:
        parent = next((c for c in certificates if c.subject == current.issuer and c not in path), None)
        if parent is None:
            break
        path.append(parent)
        current = parent
    return path


def judge(path, pins):
    """None when the file at path is signed as pins allow; else why not. pins: {spki: subject or ""}."""
    found = signature_of(path)
    if found is None:
        return "not signed"
    certificates, leaf = found
    if leaf == "tampered":
        return "its bytes differ from what its signature covers"
    if leaf is None:
        return "its signer's certificate is not in its signature"
    subject = common_name(leaf)
    chain = _issuer_path(leaf, certificates)
    anchor = next((c for c in chain if spki_sha256(c) in pins), None)
    if anchor is None:
        return "signed by %r under no pinned certificate" % subject
    wanted = pins[spki_sha256(anchor)]
    if wanted and wanted != subject:
        return "signed by %r, not by %r as its pin says" % (subject, wanted)
    _, serialization, _ = _x509()
    with tempfile.TemporaryDirectory() as scratch:
        # The anchor and what stands above it: a pinned certificate that is
        # not self-signed (a leaf pin) still gives OpenSSL a root to end at;
        # the anchor lies on the signer's own issuer path.
        trusted = os.path.join(scratch, "pinned.pem")
        with open(trusted, "wb") as f:
            for certificate in chain[chain.index(anchor):]:
                f.write(certificate.public_bytes(serialization.Encoding.PEM))
        stampers = os.path.join(scratch, "stampers.pem")
        with open(stampers, "wb") as f:
            with open(trusted, "rb") as pinned:
                f.write(pinned.read())
            if os.path.exists(SYSTEM_ROOTS):
                with open(SYSTEM_ROOTS, "rb") as system:
                    f.write(system.read())
        verified = _osslsigncode(["verify", "-ignore-cdp", "-in", path, "-CAfile", trusted, "-TSA-CAfile", stampers])
    if verified.returncode != 0:
        text = verified.stdout + verified.stderr
        if "MISMATCH" in text:
            return "its bytes differ from what its signature covers"
        reason = re.search(r"Error: (.*)", text)
        return "signed by %r: %s" % (subject, reason.group(1).strip() if reason else "the signature does not verify")
    return None


def item_pins(block):
    """{spki: subject} of an item's SIGNER elements; a malformed one keeps its text (it matches nothing)."""
    pins = {}
    for element in re.findall(r"<SIGNER\b[^>]*>", block):
        spki = re.search(r'\bSPKISHA256\s*=\s*["\']([^"\']*)["\']', element)
        subject = re.search(r'\bSUBJECT\s*=\s*["\']([^"\']*)["\']', element)
        pins[(spki.group(1) if spki else "").lower()] = subject.group(1) if subject else ""
    return pins


def delivered(tool, root, block):
    """(label, name, bytes) of every file the item delivers: downloads, archive entries, RUNFILE programs."""
    out = []
    for m in re.finditer(r"<FILE\b.*?</FILE>", block, re.S):
        file_block = m.group(0)
        name = (re.search(r"<FILE\b[^>]*\bNAME\s*=\s*[\"']([^\"']*)[\"']", file_block) or [None, ""])[1]
        source = tool.child_text(file_block, "SOURCE")
        if source:
            download = tool.local_path(root, source)
            if os.path.exists(download):
                if tool.is_archive(name, source):
                    try:
                        with zipfile.ZipFile(download) as archive:
                            out.append(("%s (in %s)" % (name, source), name, archive.read(name)))
                    except (zipfile.BadZipFile, KeyError, OSError) as e:
                        raise Problem("%s: %s cannot be read from it (%s)" % (download, name, e))
                else:
                    with open(download, "rb") as f:
                        out.append((source, name, f.read()))
        run = re.search(r"<RUNFILE\b.*?</RUNFILE>", file_block, re.S)
        run_source = tool.child_text(run.group(0), "RUNSOURCE") if run else None
        if run_source and os.path.exists(tool.local_path(root, run_source)):
            named = re.search(r"<RUNFILE\b[^>]*\bNAME\s*=\s*[\"']([^\"']*)[\"']", run.group(0))
            run_name = named.group(1) if named else os.path.basename(run_source)
            with open(tool.local_path(root, run_source), "rb") as f:
                out.append((run_source, run_name, f.read()))
    return out


def judge_bytes(name, data, pins):
    with tempfile.TemporaryDirectory() as scratch:
        path = os.path.join(scratch, os.path.basename(name) or "file")
        with open(path, "wb") as f:
            f.write(data)
        return judge(path, pins)


def items(text):
    """(name, block) of every UPDATEITEM."""
    for m in re.finditer(r"<UPDATEITEM\b[^>]*>.*?</UPDATEITEM>", text, re.S):
        name = re.search(r"\bNAME\s*=\s*[\"']([^\"']*)[\"']", m.group(0)[:m.group(0).index(">")])
        yield (name.group(1) if name else ""), m.group(0)


def check_items(tool, root, path, text, errors, built_in=()):
    """Every executable file of an item with SIGNER pins (and of every item, with the build's pins) is
    signed as the program will require."""
    for name, block in items(text):
        pins = item_pins(block)
        for spki in pins:
            if not re.fullmatch(r"[0-9a-f]{64}", spki):
                errors.append("%s: item %s: SIGNER SPKISHA256 %r is no SHA-256: the program refuses the item's "
                              "executable files" % (path, name, spki))
        sets = [("the item's SIGNER pins", pins)] if pins else []
        if built_in:
            sets.insert(0, ("the program's pins", {p.lower(): "" for p in built_in}))
        if not sets:
            continue
        for label, file_name, data in delivered(tool, root, block):
            if not is_executable(file_name, data):
                continue
            for whose, pin_set in sets:
                why = judge_bytes(file_name, data, pin_set)
                if why:
                    errors.append("%s: item %s: %s: refused by %s: %s" % (path, name, label, whose, why))
                    break


def pin(tool, root, mode, item, authorities, subject=None, out=None):
    """Writes the item's SIGNER elements, one per authority certificate, after checking that every
    executable file it delivers is signed under one of them; returns the lines it printed."""
    certificates = []
    for path in authorities:
        found = load_certificates(path)
        certificates.append((path, found[0]))
    pins = {spki_sha256(c): subject or "" for _, c in certificates}
    catalogue = tool.find_catalogue(root, mode)
    text = tool.read_bytes(catalogue).decode(tool.ENCODING)
    for name, block in items(text):
        if name == item:
            break
    else:
        raise Problem("%s: no UPDATEITEM %r" % (catalogue, item))
    begin = text.index(block)
    files = [(label, n, d) for label, n, d in delivered(tool, root, block) if is_executable(n, d)]
    if not files:
        raise Problem("%s: item %s delivers no executable file under %s to pin" % (catalogue, item, root))
    lines = []
    for label, file_name, data in files:
        why = judge_bytes(file_name, data, pins)
        if why:
            raise Problem("%s: %s: %s (sign it with the authority's chain first; nothing written)" % (
                catalogue, label, why))
        lines.append("%s: %s: signed under a pinned certificate" % (item, label))
    elements = ['<SIGNER SPKISHA256="%s"%s/>' % (spki_sha256(c), ' SUBJECT="%s"' % subject if subject else "")
                for _, c in certificates]
    stripped = re.sub(r"\n?[ \t]*<SIGNER\b[^>]*/>", "", block)
    opening = stripped.index(">") + 1
    child = re.search(r"\n([ \t]*)<", stripped[opening:])
    indent = child.group(1) if child else "  "
    new_block = stripped[:opening] + "".join("\n" + indent + e for e in elements) + stripped[opening:]
    with open(catalogue + ".tmp", "wb") as f:
        f.write((text[:begin] + new_block + text[begin + len(block):]).encode(tool.ENCODING))
    os.replace(catalogue + ".tmp", catalogue)
    for (path, certificate), element in zip(certificates, elements):
        lines.append("%s: %s (%s, %s); sign the catalogue again" % (item, element, common_name(certificate), path))
    for line in lines:
        print(line, file=out)
    return lines
