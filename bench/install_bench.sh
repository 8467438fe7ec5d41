#!/usr/bin/env bash
# The install benchmark: a generated repository of 20 files (64 MiB in all,
# some delivered as ZIP archives), its catalogue stamped by the operators'
# tool as a real one is (sizes and hashes stated), installed by ZeltoSetup.exe
# from the local content server, against the floor (bench/install_floor.cpp:
# WinINet six at a time with 64 KiB reads, archives unpacked, nothing else, in
# the same Wine) and curl (one by one, and six at a time) through the same
# proxy; medians of RUNS runs (5 by default), alternating. Then the same
# catalogue without sizes (a HEAD per file), and the peak working set of
# ZeltoSetup.exe for the run and for one ten times smaller. Run it with
# `make bench`.
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
python3 "$here/tools/zelto-publish.py" stamp "$state/www" bench >/dev/null
python3 "$here/tools/zelto-publish.py" stamp "$state/www" benchsmall >/dev/null
# The same stamped catalogue without its sizes: a HEAD per file, hashes kept.
python3 - "$state" <<'PY'
import os, re, sys
repo = os.path.join(sys.argv[1], "www", "down.zelto.com", "zelto", "zeltosetup", "Repository")
os.makedirs(os.path.join(repo, "benchnosize"), exist_ok=True)
text = open(os.path.join(repo, "bench", "bench.xml"), encoding="utf-8").read()
text = re.sub(r"<FILESIZE>\d+</FILESIZE>", "", text).replace("NAME=\"bench\"", "NAME=\"benchnosize\"")
text = text.replace("NAME='bench'", "NAME='benchnosize'")
open(os.path.join(repo, "benchnosize", "benchnosize.xml"), "w", encoding="utf-8").write(text)
PY
runs=${RUNS:-5}
median() { sort -n | sed -n "$(( (runs + 1) / 2 ))p"; }
now() { date +%s.%N; }
since() { python3 -c "print(round($(now) - $1, 3))"; }
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
  # The seconds, the peak, and the driver's times (ms from the program's
  # start) of status 20 and 22, the question found and answered, the first
  # progress (kept for a look by hand: progress is posted a few times a
  # second), and statuses 40 and 100.
  echo "$(python3 -c "print(round($end - $start, 3))") $(echo "$out" | tr -d '\r' | awk '
    function t() { for (i = 1; i <= NF; i++) if ($i ~ /^t=/) return substr($i, 3) }
    /^PEAK/ {peak = $2}
    /^STATUS 20 / {s20 = t()} /^STATUS 22 / {s22 = t()} /^WAIT / && !w {w = t()} /^PRESS / && !p {p = t()}
    /^STATUS 30 / && !s30 {s30 = t()} /^STATUS 40 / {s40 = t()} /^STATUS 100 / {s100 = t()}
    END {print peak, s20, s22, w, p, s30, s40, s100}')"
}

floor_dir="$state/floor"
floor_run() {
  rm -rf "$floor_dir"
  local start out
  start=$(now)
  out=$("$here/tools/wine-run.sh" "$bin/bench/install_floor.exe" "Z:$(echo "$state/bench.urls" | tr / '\\')" \
        "Z:$(echo "$floor_dir" | tr / '\\')" | tr -d '\r')
  case "$out" in ok*) ;; *) echo "install_bench: the floor failed: $out" >&2; exit 1 ;; esac
  since "$start"
}

program_times=() floor_times=()
for i in $(seq "$runs"); do
  # Alternating which goes first, so that neither gains from the order.
  if [ $((i % 2)) -eq 1 ]; then
    r=$(install_run bench) || exit 1; program_times+=("$r"); floor_times+=("$(floor_run)")
  else
    floor_times+=("$(floor_run)"); r=$(install_run bench) || exit 1; program_times+=("$r")
  fi
  files=$(ls "$bench_dir/bench" 2>/dev/null | wc -l)
  if [ "$files" -ne 20 ]; then
    echo "install_bench: $files files placed instead of 20" >&2
    exit 1
  fi
done
big_time=$(printf '%s\n' "${program_times[@]}" | awk '{print $1}' | median)
big_peak=$(printf '%s\n' "${program_times[0]}" | awk '{print $2}')
# Where the program's time goes: the median of each stretch over the runs.
phase() {   # awk expression over the fields of a run -> median in ms
  printf '%s\n' "${program_times[@]}" | awk "{print $1}" | sort -n | sed -n "$(( (runs + 1) / 2 ))p"
}
floor_time=$(printf '%s\n' "${floor_times[@]}" | median)
nosize_times=()
for _ in $(seq "$runs"); do
  r=$(install_run benchnosize) || exit 1; nosize_times+=("$(echo "$r" | awk '{print $1}')")
done
nosize_time=$(printf '%s\n' "${nosize_times[@]}" | median)
curl_one=() curl_six=()
for _ in $(seq "$runs"); do
  start=$(now)
  while read -r url; do curl -s -o /dev/null -x "$http_proxy" "$url"; done < "$state/bench.urls"
  curl_one+=("$(since "$start")")
  start=$(now)
  xargs -P 6 -n 1 curl -s -o /dev/null -x "$http_proxy" < "$state/bench.urls"
  curl_six+=("$(since "$start")")
done
curl_time=$(printf '%s\n' "${curl_one[@]}" | median)
curl6_time=$(printf '%s\n' "${curl_six[@]}" | median)
small=$(install_run benchsmall) || exit 1
read -r small_time small_peak _ <<<"$small"
rm -rf "$bench_dir" "$floor_dir"

ratio() { python3 -c "print(round($1 / $2, 2))"; }
echo "== install of 20 files, 64 MiB (5 of them zipped), median of $runs runs each (wall time, process start included)"
echo "ZeltoSetup.exe, stamped catalogue   ${big_time} s"
echo "floor (WinINet x6, unpack)          ${floor_time} s    ratio program / floor  $(ratio "$big_time" "$floor_time") (target <= 1.25)"
echo "curl one by one                     ${curl_time} s    ratio program / curl   $(ratio "$big_time" "$curl_time")"
echo "curl six at a time                  ${curl6_time} s    ratio program / curl6  $(ratio "$big_time" "$curl6_time")"
echo "ZeltoSetup.exe, no sizes stated     ${nosize_time} s    the HEADs cost         $(python3 -c "print(round($nosize_time - $big_time, 3))") s"
echo "== where ZeltoSetup.exe's time goes (stamped catalogue, median of each stretch, ms)"
echo "start to status 20 (start-up)                 $(phase '$3')"
echo "status 20 to 22 (catalogue fetched, checked)  $(phase '$4 - $3')"
echo "22 to the question found by the driver        $(phase '$5 - $4')"
echo "question found to answered (the driver)       $(phase '$6 - $5')"
echo "answered to 40 (downloads, unpacking)         $(phase '$8 - $6')"
echo "40 to 100 (placement, records)                $(phase '$9 - $8')"
echo "100 to the end of the run (exit, Wine, shell) $(phase '$1 * 1000 - $9')"
echo "== peak working set of ZeltoSetup.exe"
echo "64 MiB run: $big_peak bytes, 6.4 MiB run: $small_peak bytes, difference $(( big_peak - small_peak )) bytes (target: within 2 MiB)"
