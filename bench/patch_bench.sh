#!/usr/bin/env bash
# The patch benchmark: an update of the sample repository's control
# (ZeltoTestCtl.dll 1.0.0.4 -> 1.0.0.5) together with a program-sized file
# (ZeltoBenchApp.exe: this build's ZeltoSetup-SAMPLE-KEY.exe, then its
# ZeltoSetup.exe), published with tools/zelto-publish.py, installed by
# ZeltoSetup.exe from the local content server with whole files and with
# patches: bytes fetched and the median time of five runs each, on loopback
# and over a link of about 1.6 MB/s. Run it with `make bench`.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
source "$here/tools/wine-env.sh"
bin=${ZELTO_BIN:-$ZELTO_WIN}
state="$bin/bench-patch"
rm -rf "$state"
mkdir -p "$state"
root="$state/www"
comp="$root/down.zelto.com/zelto/zeltosetup/benchpatch"
mkdir -p "$comp/1" "$comp/2"
cp "$bin/tests/components/v1004/ZeltoTestCtl.dll" "$comp/1/"
cp "$bin/tests/components/v1005/ZeltoTestCtl.dll" "$comp/2/"
cp "$bin/sample-key/ZeltoSetup-SAMPLE-KEY.exe" "$comp/1/ZeltoBenchApp.exe"
cp "$bin/ZeltoSetup.exe" "$comp/2/ZeltoBenchApp.exe"
repo="$root/down.zelto.com/zelto/zeltosetup/Repository/benchpatch"
mkdir -p "$repo"
publish="$here/tools/zelto-publish.py"

catalogue() {   # release -> the catalogue of that release, stamped
  python3 - "$repo/benchpatch.xml" "$1" <<'PY'
import sys
path, release = sys.argv[1], sys.argv[2]
files = "".join(
    "<FILE NAME='%s'><SOURCE>http://down.zelto.com/zelto/zeltosetup/benchpatch/%s/%s</SOURCE>"
    "<DEST>[PROGRAMS]ZeltoBench\\patch</DEST></FILE>" % (name, release, name)
    for name in ("ZeltoTestCtl.dll", "ZeltoBenchApp.exe"))
open(path, "w").write("<ZELTOOMBRIX><UPDATELIST><UPDATEITEM NAME='BenchPatch' SELFUNINSTALLER='1'>"
                      "<MODE NAME='benchpatch'/>%s</UPDATEITEM></UPDATELIST></ZELTOOMBRIX>" % files)
PY
  python3 "$publish" stamp "$root" benchpatch >/dev/null
}
catalogue 1
cp "$repo/benchpatch.xml" "$state/release1.xml"
catalogue 2
cp "$repo/benchpatch.xml" "$state/whole.xml"
python3 "$publish" patch "$root" benchpatch --previous "$state/release1.xml" > "$state/patch.out"
cp "$repo/benchpatch.xml" "$state/patched.xml"
python3 "$publish" check "$root" benchpatch > "$state/check.out" || { cat "$state/check.out" >&2; exit 1; }

python3 "$here/tools/content_server.py" start --state "$state" --root "$root" >/dev/null
trap 'python3 "$here/tools/content_server.py" stop --state "$state"' EXIT
export http_proxy="http://127.0.0.1:$(cat "$state/port")"
exe="Z:$(echo "$bin/ZeltoSetup.exe" | tr / '\\')"
pf="Program Files (x86)"; [ "$ZELTO_ARCH" = x86_64 ] && pf="Program Files"
dest="$ZELTO_BUILD/wine/drive_c/$pf/ZeltoBench/patch"

update_run() {   # catalogue copy -> prints "seconds bytes"
  rm -rf "$dest"; mkdir -p "$dest"
  cp "$comp/1/ZeltoTestCtl.dll" "$comp/1/ZeltoBenchApp.exe" "$dest/"
  cp "$state/$1" "$repo/benchpatch.xml"
  rm -f "$state/requests.jsonl"
  local start end out last
  start=$(date +%s.%N)
  out=$("$here/tools/wine-run.sh" "$bin/tools/driver/ZeltoDriver.exe" --timeout 600 --press 1 -- "$exe" \
        -x "<PARAM><MODE>benchpatch</MODE><SOURCE>http://down.zelto.com/</SOURCE><SHOWDLG>0</SHOWDLG></PARAM>")
  end=$(date +%s.%N)
  last=$(echo "$out" | tr -d '\r' | awk '/^STATUS/ {code=$2} END {print code}')
  if [ "$last" != 100 ] || ! cmp -s "$dest/ZeltoBenchApp.exe" "$comp/2/ZeltoBenchApp.exe" ||
     ! cmp -s "$dest/ZeltoTestCtl.dll" "$comp/2/ZeltoTestCtl.dll"; then
    echo "patch_bench: the $1 update did not install release 2 (last status ${last:-none})" >&2
    exit 1
  fi
  local bytes
  bytes=$(python3 - "$state/requests.jsonl" "$root" <<'PY'
import json, os, sys, urllib.parse
total = 0
for line in open(sys.argv[1]):
    r = json.loads(line)
    u = urllib.parse.urlsplit(r["url"])
    if r["method"] == "GET" and "/benchpatch/" in u.path and not u.path.endswith(".xml"):
        total += os.path.getsize(os.path.join(sys.argv[2], u.hostname, u.path.lstrip("/")))
print(total)
PY
)
  echo "$(python3 -c "print(round($end - $start, 3))") $bytes"
}

slow_link() {   # every component and patch sent 16 KiB every 10 ms
  python3 - "$state" "$root" <<'PY'
import json, os, sys
state, root = sys.argv[1], sys.argv[2]
rules = {}
for folder, _, names in os.walk(os.path.join(root, "down.zelto.com", "zelto", "zeltosetup", "benchpatch")):
    for name in names:
        rules[os.path.relpath(os.path.join(folder, name), root).replace(os.sep, "/")] = {"trickle": [16384, 10]}
json.dump(rules, open(os.path.join(state, "rules.json"), "w"))
PY
}

median() { python3 -c "import statistics, sys; print(statistics.median(float(x) for x in sys.argv[1:]))" "$@"; }

report() {   # label
  local whole_t=() patch_t=() whole_b patch_b r
  for _ in 1 2 3 4 5; do
    r=$(update_run whole.xml) || exit 1; whole_t+=("${r% *}"); whole_b=${r#* }
    r=$(update_run patched.xml) || exit 1; patch_t+=("${r% *}"); patch_b=${r#* }
  done
  local wm pm
  wm=$(median "${whole_t[@]}"); pm=$(median "${patch_t[@]}")
  printf '%-34s %10s bytes  %7s s (median of 5)\n' "whole files, $1" "$whole_b" "$wm"
  printf '%-34s %10s bytes  %7s s (median of 5)\n' "patches, $1" "$patch_b" "$pm"
  echo "bytes saved: $(python3 -c "print('%.1f %%' % (100 - 100.0 * $patch_b / $whole_b))"), time ratio patches/whole: $(python3 -c "print(round($pm / $wm, 2))")"
}

echo "== update by patches: ZeltoTestCtl.dll $(stat -c %s "$comp/1/ZeltoTestCtl.dll") -> $(stat -c %s "$comp/2/ZeltoTestCtl.dll") bytes, ZeltoBenchApp.exe $(stat -c %s "$comp/1/ZeltoBenchApp.exe") -> $(stat -c %s "$comp/2/ZeltoBenchApp.exe") bytes"
sed 's/^/  /' "$state/patch.out"
report "loopback"
slow_link
report "1.6 MB/s link"
