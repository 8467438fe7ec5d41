#!/usr/bin/env python3
"""Writes the ZIP archives the archive tests and the fuzz seed corpus use.

    make_test_zips.py OUTPUT_FOLDER
"""
import io
import os
import struct
import sys
import zipfile


def data(size, seed=7):
    out = bytearray()
    x = seed
    while len(out) < size:
        x = (x * 1103515245 + 12345) & 0x7FFFFFFF
        out += bytes(((x >> 16) & 0x3F) + 32 for _ in range(4))   # compressible text-like bytes
    return bytes(out[:size])


def write(folder, name, entries, compression=zipfile.ZIP_DEFLATED, force_zip64=False):
    path = os.path.join(folder, name)
    with zipfile.ZipFile(path, "w", compression) as z:
        for entry, content in entries:
            if entry.endswith("/"):
                z.writestr(zipfile.ZipInfo(entry), b"")
            else:
                with z.open(entry, "w", force_zip64=force_zip64) as f:
                    f.write(content)
    return path


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    write(folder, "stored.zip", [("a.txt", b"hello"), ("sub/b.txt", data(3000)), ("empty.txt", b"")],
          zipfile.ZIP_STORED)
    write(folder, "deflate.zip", [("ZeltoTestCtl.dll", data(200000)), ("dir/", b""), ("dir/readme.txt", data(100))])
    write(folder, "zip64.zip", [("big.bin", data(70000))], force_zip64=True)
    # ZIP64 records in the central directory as well: the end record, its
    # locator, and ZIP64 sizes and offsets (the limits lowered while writing).
    limits = zipfile.ZIP64_LIMIT, zipfile.ZIP_FILECOUNT_LIMIT
    zipfile.ZIP64_LIMIT, zipfile.ZIP_FILECOUNT_LIMIT = 100, 1
    try:
        write(folder, "zip64-central.zip", [("first.bin", data(3000)), ("second.bin", data(5000, seed=3))],
              force_zip64=True)
    finally:
        zipfile.ZIP64_LIMIT, zipfile.ZIP_FILECOUNT_LIMIT = limits
    write(folder, "traversal.zip", [("../evil.txt", b"evil"), ("ok.txt", b"ok")])
    write(folder, "absolute.zip", [("/abs.txt", b"abs")])
    with zipfile.ZipFile(os.path.join(folder, "empty.zip"), "w"):
        pass
    # A CRC that does not match the data.
    raw = bytearray(open(write(folder, "crcbad.zip", [("c.txt", data(5000))], zipfile.ZIP_STORED), "rb").read())
    local = raw.find(b"PK\x03\x04")
    raw[local + 30 + len("c.txt") + 10] ^= 0xFF   # flip one byte of the data
    open(os.path.join(folder, "crcbad.zip"), "wb").write(raw)
    # Cut short inside the data.
    raw = open(os.path.join(folder, "deflate.zip"), "rb").read()
    open(os.path.join(folder, "truncated.zip"), "wb").write(raw[:len(raw) // 3] + raw[-200:])
    open(os.path.join(folder, "notzip.zip"), "wb").write(b"this is not an archive" * 10)
    # A Korean name as zip tools on Linux write it (UTF-8, flag bit 11), the
    # same name in code page 949 without the flag (as on Korean Windows), and
    # a name code page 949 cannot hold.
    write(folder, "utf8.zip", [("\ud55c\uae00.txt", b"utf8")])
    raw = open(write(folder, "cp949.zip", [("XXXX.txt", b"cp949")]), "rb").read()
    open(os.path.join(folder, "cp949.zip"), "wb").write(raw.replace(b"XXXX.txt", "\ud55c\uae00.txt".encode("cp949")))
    write(folder, "emoji.zip", [("\U0001F642.txt", b"smile")])
    # A deflated entry whose data ends before the deflate stream's end marker
    # (sizes and CRC as declared): the reader must fail at once, not wait.
    import zlib
    content = data(50000)
    packer = zlib.compressobj(9, zlib.DEFLATED, -15)
    stream = packer.compress(content) + packer.flush(zlib.Z_FULL_FLUSH)   # no final block
    name = b"early.txt"
    local = struct.pack("<IHHHHHIIIHH", 0x04034b50, 20, 0, 8, 0, 0, zlib.crc32(content), len(stream), len(content),
                        len(name), 0) + name
    central = struct.pack("<IHHHHHHIIIHHHHHII", 0x02014b50, 20, 20, 0, 8, 0, 0, zlib.crc32(content), len(stream),
                          len(content), len(name), 0, 0, 0, 0, 0, 0) + name
    end = struct.pack("<IHHHHIIH", 0x06054b50, 0, 0, 1, 1, len(central), len(local) + len(stream), 0)
    open(os.path.join(folder, "deflate-early.zip"), "wb").write(local + stream + central + end)
    # Declares 2 GiB for a small entry: beyond the ceiling.
    raw = bytearray(open(write(folder, "huge.zip", [("h.txt", data(100))]), "rb").read())
    cd = raw.find(b"PK\x01\x02")
    raw[cd + 24:cd + 28] = struct.pack("<I", 0x80000000)
    open(os.path.join(folder, "huge.zip"), "wb").write(raw)
    # Two directory records share one entry's data.
    raw = open(write(folder, "overlap.zip", [("a.txt", data(4000))]), "rb").read()
    cd = raw.find(b"PK\x01\x02")
    end = raw.find(b"PK\x05\x06")
    record = raw[cd:end]
    twin = record.replace(b"a.txt", b"b.txt")
    eocd = bytearray(raw[end:])
    eocd[8:10] = struct.pack("<H", 2)
    eocd[10:12] = struct.pack("<H", 2)
    eocd[12:16] = struct.pack("<I", len(record) * 2)
    open(os.path.join(folder, "overlap.zip"), "wb").write(raw[:cd] + record + twin + bytes(eocd))

    # Local headers that disagree with the directory: another name, another
    # method, another CRC, encrypted there only, and a name so long that the
    # data would run into the next entry.
    base = open(write(folder, "local-base.zip", [("a.txt", data(4000)), ("n.txt", data(10))], zipfile.ZIP_STORED),
                "rb").read()
    os.remove(os.path.join(folder, "local-base.zip"))
    lh = base.find(b"PK\x03\x04")
    for name, offset, value in (("local-name.zip", 30, b"b"), ("local-method.zip", 8, struct.pack("<H", 8)),
                                ("local-crc.zip", 14, b"\0\0\0\0"), ("local-encrypted.zip", 6, b"\1"),
                                ("local-extra.zip", 28, struct.pack("<H", 100))):
        raw = bytearray(base)
        raw[lh + offset:lh + offset + len(value)] = value
        open(os.path.join(folder, name), "wb").write(raw)
    # Encrypted (flag bit 0 in both headers); a deflated entry that unpacks
    # to more than its declared size, and one that unpacks to less.
    raw = bytearray(open(write(folder, "encrypted.zip", [("e.txt", data(100))]), "rb").read())
    for at in (raw.find(b"PK\x03\x04") + 6, raw.find(b"PK\x01\x02") + 8):
        raw[at] |= 1
    open(os.path.join(folder, "encrypted.zip"), "wb").write(raw)
    raw = bytearray(open(write(folder, "understated.zip", [("u.txt", data(50000))]), "rb").read())
    for at in (raw.find(b"PK\x03\x04") + 22, raw.find(b"PK\x01\x02") + 24):
        raw[at:at + 4] = struct.pack("<I", 1000)
    open(os.path.join(folder, "understated.zip"), "wb").write(raw)
    raw = bytearray(open(write(folder, "overstated.zip", [("o.txt", data(5000))]), "rb").read())
    for at in (raw.find(b"PK\x03\x04") + 22, raw.find(b"PK\x01\x02") + 24):
        raw[at:at + 4] = struct.pack("<I", 6000)
    open(os.path.join(folder, "overstated.zip"), "wb").write(raw)
    # Names a Windows path would read otherwise: a stream after a colon, a
    # drive letter.
    write(folder, "names.zip", [("a.txt:hidden", b"s"), ("C:/evil.txt", b"d"), ("sub\\..\\..\\up.txt", b"u"),
                                ("ok.txt", b"ok")])


if __name__ == "__main__":
    main()
