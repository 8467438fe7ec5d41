"""Patches for ZeltoSetup: a zstd patch per file from the bytes earlier
releases installed, so that a desktop updates a file by its changes only.

Used by zelto-publish.py (`patch`, and `check` for the PATCH elements). The
patches are made and applied by Debian's zstd tool:

    zstd -19 --patch-from=OLD NEW -o PATCH

A FILE then lists, for each earlier release whose bytes differ:

    <PATCH FROM="<SHA-256 of the installed bytes>" SIZE="<bytes>" SHA256="<SHA-256 of the patch>">URL</PATCH>

and, for a file unpacked from a ZIP download, <FILESHA256> (the SHA-256 of
the file itself, which the patched result must have; SHA256 is the archive's).
"""
import hashlib
import os
import re
import subprocess
import tempfile
import urllib.parse
import xml.etree.ElementTree as ET

# What the program decodes: a window of at most 128 MiB (2^27).
MAX_WINDOW_LOG = 27
MAX_PATCHES = 16   # the program keeps the first 16 PATCH elements of a FILE


class Problem(Exception):
    pass


def zstd(*args):
    try:
        done = subprocess.run(("zstd", "-q", "-f") + args, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    except FileNotFoundError:
        raise Problem("the zstd tool is missing (Debian's package zstd)")
    return done.returncode == 0


def make_patch(old, new, out):
    """Writes the patch from the bytes old to the bytes new at out."""
    with tempfile.TemporaryDirectory() as work:
        old_path, new_path = os.path.join(work, "old"), os.path.join(work, "new")
        for path, data in ((old_path, old), (new_path, new)):
            with open(path, "wb") as f:
                f.write(data)
        if not zstd("-19", "--patch-from=" + old_path, new_path, "-o", out):
            raise Problem("zstd could not make %s" % out)


def apply_patch(old, patch_path):
    """The bytes the patch gives from old, or None when it does not apply."""
    with tempfile.TemporaryDirectory() as work:
        old_path, out_path = os.path.join(work, "old"), os.path.join(work, "out")
        with open(old_path, "wb") as f:
            f.write(old)
        if not zstd("-d", "--long=%d" % MAX_WINDOW_LOG, "--patch-from=" + old_path, patch_path, "-o", out_path):
            return None
        with open(out_path, "rb") as f:
            return f.read()


def item_files(text):
    """{(item NAME, FILE NAME): FILE block} of a catalogue's text."""
    files = {}
    for item in re.finditer(r"<UPDATEITEM\b[^>]*>.*?</UPDATEITEM>", text, re.S):
        item_name = (re.search(r"\bNAME\s*=\s*[\"']([^\"']*)[\"']", item.group(0)) or [None, ""])[1]
        for block in re.finditer(r"<FILE\b.*?</FILE>", item.group(0), re.S):
            name = (re.search(r"<FILE\b[^>]*\bNAME\s*=\s*[\"']([^\"']*)[\"']", block.group(0)) or [None, ""])[1]
            files[(item_name, name.lower())] = block.group(0)
    return files


def serial_of(text):
    m = re.search(r"<ZELTOOMBRIX\b[^>]*\bSERIAL\s*=\s*[\"'](\d+)[\"']", text)
    return int(m.group(1)) if m else -1


def patch_url(source, name, from_hash):
    """Beside the new file: <its folder>/patches/<NAME>.<16 digits of FROM>.zst."""
    parts = urllib.parse.urlsplit(source)
    folder = parts.path.rsplit("/", 1)[0]
    return urllib.parse.urlunsplit((parts.scheme, parts.netloc, "%s/patches/%s.%s.zst" % (folder, name, from_hash[:16]),
                                    "", ""))


def without_patches(block):
    return re.sub(r"\n?[ \t]*<PATCH\b[^>]*>.*?</PATCH>", "", block, flags=re.S)


def insert_before_close(block, lines):
    at = block.rfind("</FILE>")
    line_start = block.rfind("\n", 0, at) + 1
    child = re.search(r"\n([ \t]*)<", block)
    indent = child.group(1) if child else "  "
    text = "".join(indent + line + "\n" for line in lines)
    if line_start > 0 and block[line_start:at].strip() == "":
        return block[:line_start] + text + block[line_start:]
    return block[:at] + "\n" + text + block[at:]


def make(tool, root, mode, previous, releases, out):
    """Writes the patches from the files of the `releases` newest previous
    catalogues to the current one's files, and lists them in the catalogue
    (replacing the PATCH elements it had). Returns the lines it printed."""
    path = tool.find_catalogue(root, mode)
    text = tool.read_bytes(path).decode(tool.ENCODING)
    olds = []
    for old_path in previous:
        old_text = tool.read_bytes(old_path).decode(tool.ENCODING)
        olds.append((serial_of(old_text), old_path, item_files(old_text)))
    olds.sort(key=lambda entry: -entry[0])   # newest first; unsigned ones keep their order last
    olds = olds[:releases]
    lines, pieces, last, saved = [], [], 0, [0, 0]
    for item in re.finditer(r"<UPDATEITEM\b[^>]*>.*?</UPDATEITEM>", text, re.S):
        item_name = (re.search(r"\bNAME\s*=\s*[\"']([^\"']*)[\"']", item.group(0)) or [None, ""])[1]
        for block_match in re.finditer(r"<FILE\b.*?</FILE>", item.group(0), re.S):
            start, end = item.start() + block_match.start(), item.start() + block_match.end()
            block = without_patches(block_match.group(0))
            name = (re.search(r"<FILE\b[^>]*\bNAME\s*=\s*[\"']([^\"']*)[\"']", block) or [None, ""])[1]
            source = tool.child_text(block, "SOURCE")
            if not source:
                continue
            new, _ = tool.installed_bytes(tool.local_path(root, source), name, source)
            new_hash = hashlib.sha256(new).hexdigest()
            whole = os.path.getsize(tool.local_path(root, source))
            elements, seen = [], set()
            for serial, old_path, files in olds:
                old_block = files.get((item_name, name.lower()))
                old_source = tool.child_text(old_block, "SOURCE") if old_block else None
                if not old_source or not os.path.exists(tool.local_path(root, old_source)):
                    continue
                old, _ = tool.installed_bytes(tool.local_path(root, old_source), name, old_source)
                old_hash = hashlib.sha256(old).hexdigest()
                if old_hash == new_hash or old_hash in seen or len(elements) == MAX_PATCHES:
                    continue
                seen.add(old_hash)
                url = patch_url(source, name, old_hash)
                target = tool.local_path(root, url)
                os.makedirs(os.path.dirname(target), exist_ok=True)
                make_patch(old, new, target)
                size = os.path.getsize(target)
                if size >= min(whole, len(new)):
                    os.remove(target)
                    lines.append("%s/%s: the patch from %s is no smaller than the file: none" % (item_name, name, old_path))
                    continue
                elements.append('<PATCH FROM="%s" SIZE="%d" SHA256="%s">%s</PATCH>'
                                % (old_hash, size, tool.sha256_of(target), url))
                saved[0] += whole
                saved[1] += size
                lines.append("%s/%s: %d bytes from %s (the file: %d)" % (item_name, name, size, old_path, whole))
            if tool.is_archive(name, source):
                block = tool.set_child(block, "FILESHA256", new_hash, "</FILE>")
            if elements:
                block = insert_before_close(block, elements)
            pieces.append(text[last:start])
            pieces.append(block)
            last = end
    pieces.append(text[last:])
    new_text = "".join(pieces)
    if new_text != text:
        with open(path + ".tmp", "wb") as f:
            f.write(new_text.encode(tool.ENCODING))
        os.replace(path + ".tmp", path)
    lines.append("%s: %d patch(es), %d bytes instead of %d" % (path, len(re.findall(r"<PATCH\b", new_text)),
                                                              saved[1], saved[0]))
    for line in lines:
        print(line, file=out)
    return lines


def repository_index(tool, root):
    """{SHA-256: bytes} of every file under ROOT and of every file in its ZIP archives."""
    index = {}
    for folder, _, names in os.walk(root):
        for file_name in names:
            full = os.path.join(folder, file_name)
            with open(full, "rb") as f:
                data = f.read()
            index.setdefault(hashlib.sha256(data).hexdigest(), data)
            if file_name.lower().endswith(".zip"):
                try:
                    import zipfile
                    with zipfile.ZipFile(full) as archive:
                        for info in archive.infolist():
                            member = archive.read(info)
                            index.setdefault(hashlib.sha256(member).hexdigest(), member)
                except Exception:
                    pass
    return index


def check_block(tool, root, where, name, block, source, errors, warnings, index_cache):
    """The PATCH elements of one FILE: each well formed, trusted, present, of
    its size and hash, and applying to bytes under ROOT to give the file."""
    patches = list(re.finditer(r"<PATCH\b([^>]*)>(.*?)</PATCH>", block, re.S))
    file_hash = tool.child_text(block, "FILESHA256")
    if file_hash is not None and not re.fullmatch(r"[0-9A-Fa-f]{64}", file_hash):
        errors.append("%s: %s: FILESHA256 is not 64 hexadecimal digits" % (where, name))
    if not patches:
        return
    archive = tool.is_archive(name, source)
    target = file_hash if archive else tool.child_text(block, "SHA256")
    size = tool.child_text(block, "FILESIZE")
    if not target or not size:
        errors.append("%s: %s: PATCH needs FILESIZE and %s: the program ignores the patches"
                      % (where, name, "FILESHA256" if archive else "SHA256"))
        return
    if len(patches) > MAX_PATCHES:
        warnings.append("%s: %s: %d PATCH elements, the program reads the first %d"
                        % (where, name, len(patches), MAX_PATCHES))
    for m in patches:
        attributes = dict(re.findall(r"(\w+)\s*=\s*[\"']([^\"']*)[\"']", m.group(1)))
        url = m.group(2).strip()
        label = "%s: %s: PATCH %s" % (where, name, url)
        if not all(re.fullmatch(r"[0-9A-Fa-f]{64}", attributes.get(k, "")) for k in ("FROM", "SHA256")) or \
                not attributes.get("SIZE", "").isdigit() or int(attributes["SIZE"]) <= 0 or not url:
            errors.append("%s: needs FROM and SHA256 (64 hexadecimal digits), a SIZE and a URL" % label)
            continue
        if not tool.url_trusted(url):
            errors.append("%s: fails the trust rule" % label)
            continue
        patch_path = tool.local_path(root, url)
        if not os.path.exists(patch_path):
            errors.append("%s: missing under %s" % (label, root))
            continue
        if int(attributes["SIZE"]) != os.path.getsize(patch_path) or \
                attributes["SHA256"].lower() != tool.sha256_of(patch_path):
            errors.append("%s: SIZE or SHA256 differs from %s" % (label, patch_path))
            continue
        if "index" not in index_cache:
            index_cache["index"] = repository_index(tool, root)
        base = index_cache["index"].get(attributes["FROM"].lower())
        if base is None:
            errors.append("%s: no file under %s has the bytes FROM names: it cannot be verified" % (label, root))
            continue
        result = apply_patch(base, patch_path)
        if result is None:
            errors.append("%s: does not apply to the bytes FROM names" % label)
        elif hashlib.sha256(result).hexdigest() != target.lower() or str(len(result)) != size:
            errors.append("%s: gives bytes other than the file's (the program would fetch it whole)" % label)


KNOWN_ELEMENTS = {"PATCH", "FILESHA256"}
