#!/usr/bin/env bash
# The install benchmark: a generated repository of 20 files (64 MiB in all,
# some delivered as ZIP archives) installed by ZeltoSetup.exe from the local
# content server, against curl fetching the same files through the same proxy;
# then the peak working set of ZeltoSetup.exe for that run and for one ten
# times smaller. Run it with `make bench`.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
source "$here/tools/wine-env.sh"
bin=${ZELTO_BIN:-$ZELTO_WIN}
state="$bin/bench-install"
rm -rf "$state"
mkdir -p "$state"
python3 - "$state" <<'PY'
import os, random, sys, zipfile
state = sys.argv[1]
for mode, total in (("bench", 64 << 20), ("benchsmall", (64 << 20) // 10)):
    www = os.path.join(state, "www", "down.zelto.com", "zelto", "zeltosetup", mode)
    os.makedirs(www, exist_ok=True)
    rnd = random.Random(5)
    files = []
    for i in range(20):
        name = "bench%02d.bin" % i
        data = bytes(rnd.getrandbits(8) for _ in range(4096)) * (total // 20 // 4096)
        if i % 4 == 0:
            with zipfile.ZipFile(os.path.join(www, "bench%02d.zip" % i), "w", zipfile.ZIP_STORED) as z:
                z.writestr(name, data)
            url = "bench%02d.zip" % i
        else:
            open(os.path.join(www, name), "wb").write(data)
            url = name
        files.append("<FILE NAME='%s'><SOURCE>http://down.zelto.com/zelto/zeltosetup/%s/%s</SOURCE>"
                     "<DEST>[PROGRAMS]ZeltoBench\\%s</DEST></FILE>" % (name, mode, url, mode))
    repo = os.path.join(state, "www", "down.zelto.com", "zelto", "zeltosetup", "Repository", mode)
    os.makedirs(repo, exist_ok=True)
    open(os.path.join(repo, mode + ".xml"), "w").write(
        "<ZELTOOMBRIX><UPDATELIST><UPDATEITEM NAME='Bench' SELFUNINSTALLER='1'><MODE NAME='%s'/>%s</UPDATEITEM>"
        "</UPDATELIST></ZELTOOMBRIX>" % (mode, "".join(files)))
    open(os.path.join(state, mode + ".urls"), "w").write("\n".join(
        "http://down.zelto.com/zelto/zeltosetup/%s/%s" % (mode, f.split("/%s/" % mode)[1].split("<")[0])
        for f in files))
PY
python3 "$here/tools/content_server.py" start --state "$state" --root "$state/www" >/dev/null
trap 'python3 "$here/tools/content_server.py" stop --state "$state"' EXIT
export http_proxy="http://127.0.0.1:$(cat "$state/port")"
exe="Z:$(echo "$bin/ZeltoSetup.exe" | tr / '\\')"
pf="Program Files (x86)"; [ "$ZELTO_ARCH" = x86_64 ] && pf="Program Files"
bench_dir="$ZELTO_BUILD/wine/drive_c/$pf/ZeltoBench"

install_run() {   # mode -> prints "seconds peak"
  rm -rf "$bench_dir"
  local start end out
  start=$(date +%s.%N)
  # The question window is answered (install) as a person would; the
  # program's exit code and last status tell whether the run completed.
  out=$("$here/tools/wine-run.sh" "$bin/tools/driver/ZeltoDriver.exe" --timeout 600 --press 1 -- "$exe" \
        -x "<PARAM><MODE>$1</MODE><SOURCE>http://down.zelto.com/</SOURCE><SHOWDLG>0</SHOWDLG></PARAM>")
  local last
  last=$(echo "$out" | tr -d '\r' | awk '/^STATUS/ {code=$2} END {print code}')
  if [ "$last" != 100 ]; then
    echo "install_bench: the $1 run did not complete (last status ${last:-none})" >&2
    echo "$out" | tail -5 >&2
    exit 1
  fi
  end=$(date +%s.%N)
  echo "$(python3 -c "print(round($end - $start, 3))") $(echo "$out" | tr -d '\r' | awk '/^PEAK/ {print $2}')"
}

big=$(install_run bench) || exit 1
read -r big_time big_peak <<<"$big"
files=$(ls "$bench_dir/bench" 2>/dev/null | wc -l)
if [ "$files" -ne 20 ]; then
  echo "install_bench: $files files placed instead of 20" >&2
  exit 1
fi
curl_start=$(date +%s.%N)
while read -r url; do curl -s -o /dev/null -x "$http_proxy" "$url"; done < "$state/bench.urls"
curl_end=$(date +%s.%N)
curl_time=$(python3 -c "print(round($curl_end - $curl_start, 3))")
small=$(install_run benchsmall) || exit 1
read -r small_time small_peak <<<"$small"
rm -rf "$bench_dir"

echo "== install of 20 files, 64 MiB (5 of them zipped): $files files placed"
echo "ZeltoSetup.exe whole run  ${big_time} s"
echo "curl, the same files      ${curl_time} s"
echo "ratio                     $(python3 -c "print(round($big_time / $curl_time, 2))")"
echo "== peak working set of ZeltoSetup.exe"
echo "64 MiB run: $big_peak bytes, 6.4 MiB run: $small_peak bytes, difference $(( big_peak - small_peak )) bytes (target: within 2 MiB)"
