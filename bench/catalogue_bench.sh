#!/usr/bin/env bash
# The catalogue benchmark: LoadUpdateList on catalogues of 200 and of 5,200
# FILE entries, each naming its own placed, current, small versioned DLL,
# against the floor (one directory search and one version read per file)
# measured in the same process on the same files. Run it with `make bench`.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
source "$here/tools/wine-env.sh"
bin=${ZELTO_BIN:-$ZELTO_WIN}
state="$bin/bench-catalogue"
dll="$bin/bench/ZeltoVersioned.dll"
rm -rf "$state"
mkdir -p "$state"
python3 - "$state" "$(stat -c %s "$dll")" <<'PY'
import os, sys
state, size = sys.argv[1], int(sys.argv[2])
for count in (200, 5200):
    mode = "catbench%d" % count
    folder = "C:\\zelto-catbench\\%d" % count
    files = "".join("<FILE NAME='f%05d.dll'><SOURCE>http://down.zelto.com/zelto/zeltosetup/bench/f.dll</SOURCE>"
                    "<DEST>%s</DEST><VERSION>1,0,0,1</VERSION><FILESIZE>%d</FILESIZE><REGISTER>0</REGISTER></FILE>"
                    % (i, folder, size) for i in range(count))
    repo = os.path.join(state, "www", "down.zelto.com", "zelto", "zeltosetup", "Repository", mode)
    os.makedirs(repo, exist_ok=True)
    with open(os.path.join(repo, mode + ".xml"), "w") as f:
        f.write("<ZELTOOMBRIX><UPDATELIST><UPDATEITEM NAME='CatBench'><MODE NAME='%s'/>%s</UPDATEITEM>"
                "</UPDATELIST></ZELTOOMBRIX>" % (mode, files))
PY
python3 "$here/tools/content_server.py" start --state "$state" --root "$state/www" >/dev/null
trap 'python3 "$here/tools/content_server.py" stop --state "$state" >/dev/null; rm -rf "$ZELTO_BUILD/wine/drive_c/zelto-catbench"' EXIT
export http_proxy="http://127.0.0.1:$(cat "$state/port")"
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }

echo "== reading the catalogue (LoadUpdateList) against its floor, medians"
"$here/tools/wine-run.sh" "$bin/bench/catalogue_bench.exe" catbench200 200 'C:\zelto-catbench\200' "$(winpath "$dll")" 5
"$here/tools/wine-run.sh" "$bin/bench/catalogue_bench.exe" catbench5200 5200 'C:\zelto-catbench\5200' "$(winpath "$dll")" 3
