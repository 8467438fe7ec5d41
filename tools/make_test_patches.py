#!/usr/bin/env python3
"""Writes the patch tests' files: two builds of a library-like file and the
zstd patch from the first to the second (made by Debian's zstd tool).

    make_test_patches.py OUTPUT_FOLDER
"""
import os
import random
import subprocess
import sys


def build(seed_changes):
    # 300 KiB of code-like bytes; a "new build" changes a few scattered runs.
    rng = random.Random(11)
    data = bytearray(rng.getrandbits(8) & 0x3F for _ in range(300 * 1024))
    changes = random.Random(seed_changes)
    for _ in range(seed_changes * 20):
        at = changes.randrange(len(data) - 64)
        data[at:at + 16] = bytes(changes.getrandbits(8) for _ in range(16))
    return bytes(data)


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    old, new = build(0), build(3) + b"tail of the new build"
    for name, content in (("old.bin", old), ("new.bin", new)):
        with open(os.path.join(folder, name), "wb") as f:
            f.write(content)
    subprocess.run(["zstd", "-q", "-f", "-19", "--patch-from=" + os.path.join(folder, "old.bin"),
                    os.path.join(folder, "new.bin"), "-o", os.path.join(folder, "new.bin.zst")],
                   check=True, stderr=subprocess.DEVNULL)


if __name__ == "__main__":
    main()
