"""Keys documents as a hostile or mistaken server may serve them, for the
key chain's unit test: OUT/<case>.xml and OUT/<case>.xml.sig, each offered as
version 2 to a program holding the three sample root keys (two sign) and
the sample catalogue key A. Made with the operators' tool at build time."""
import os
import shutil
import sys

SOURCE = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(SOURCE, "tools"))
import zelto_keys as k  # noqa: E402

KEYS = os.path.join(SOURCE, "tests", "data", "sample-key")
ROOT = [os.path.join(KEYS, "zelto-sample-root-%d" % i) for i in (1, 2, 3)]
A = os.path.join(KEYS, "zelto-sample-catalogue-key")
B = os.path.join(KEYS, "zelto-sample-catalogue-b")
LATE = "2099-01-01T00:00:00Z"


def case(out, name, signers, roots=ROOT, keys=(B,), revoke=(A,), edit=None, version=2):
    path = os.path.join(out, name + ".xml")
    k.make(path, version, [r + ".pub.pem" for r in roots], 2, [c + ".pub.pem" for c in keys],
           [r + ".pub.pem" for r in revoke], expires=LATE)
    if edit:
        with open(path, encoding="utf-8") as f:
            text = edit(f.read())
        with open(path, "w", encoding="utf-8", newline="\n") as f:
            f.write(text)
    for signer in signers:
        k.sign(path, signer + ".pem")


def main(out):
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    case(out, "good", ROOT[:2])
    case(out, "under", ROOT[:1])
    # Its own roots are root 1 and two others: only root 1 of them signed.
    case(out, "own-under", ROOT[:2], roots=[ROOT[0], B, A])
    case(out, "expired", ROOT[1:], edit=lambda t: t.replace(LATE, "2020-01-01T00:00:00Z"))
    case(out, "no-expiry", ROOT[1:], edit=lambda t: t.replace(' EXPIRES="%s"' % LATE, ""))
    case(out, "version-3", ROOT[:2], version=3)
    case(out, "all-revoked", ROOT[:2], keys=(B,), revoke=(), edit=lambda t: t.replace(
        "</ZELTOKEYS>", "  <REVOKED>%s</REVOKED>\n</ZELTOKEYS>" % k.key_id(k.public_pem(k.load(B + ".pub.pem")))))
    case(out, "names-a", ROOT[:2], keys=(A, B), revoke=())
    with open(os.path.join(out, "garbled.xml"), "w") as f:
        f.write("<ZELTOKEYS VERSION='2'><ROOT>not a key</ROOT>")
    with open(os.path.join(out, "garbled.xml.sig"), "w") as f:
        f.write("")
    with open(os.path.join(out, "stamp"), "w") as f:
        f.write("made\n")


if __name__ == "__main__":
    main(sys.argv[1])
