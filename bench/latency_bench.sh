#!/usr/bin/env bash
# The latency benchmark: one item of 20 data files of 256 KiB (5 MiB, no
# registration), every answer of the content server 50 ms late, as a user
# abroad or on a busy mobile link sees it. Prints the program's download phase
# against curl fetching the same files one by one and six at a time through
# the same proxy, each measured the same way by the content server's own
# record (from the first file request to the end of the last body), and the
# requests each made; for the program also the time from status 22 (the
# catalogue read) to status 40 (the installation's start), which adds the
# update decision. A quiet run, so nobody answers a question. Run it with
# `make bench` (RUNS=N for more runs; the medians count).
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
source "$here/tools/wine-env.sh"
bin=${ZELTO_BIN:-$ZELTO_WIN}
state="$bin/bench-latency"
runs=${RUNS:-5}
delay=50
rm -rf "$state"
mkdir -p "$state"
python3 - "$state" "$delay" <<'PY'
import json, os, sys
state, delay = sys.argv[1], int(sys.argv[2])
base = "down.zelto.com/zelto/zeltosetup/latency/"
rules, files, urls = {}, [], []
for i in range(20):
    name = "lat%02d.bin" % i
    rules[base + name] = {"size": 262144, "delay": delay}
    files.append("<FILE NAME='%s'><SOURCE>http://%s%s</SOURCE><DEST>[PROGRAMS]ZeltoBench\\latency</DEST>"
                 "<FILESIZE>262144</FILESIZE></FILE>" % (name, base, name))
    urls.append("http://" + base + name)
repo = os.path.join(state, "www", "down.zelto.com", "zelto", "zeltosetup", "Repository", "latency")
os.makedirs(repo)
open(os.path.join(repo, "latency.xml"), "w").write(
    "<ZELTOOMBRIX><UPDATELIST><UPDATEITEM NAME='Latency' SELFUNINSTALLER='1'><MODE NAME='latency'/>%s"
    "</UPDATEITEM></UPDATELIST></ZELTOOMBRIX>" % "".join(files))
rules["down.zelto.com/zelto/zeltosetup/Repository/latency/latency.xml"] = {"delay": delay}
rules["static.zelto.com/app/conf/confExposure.xml"] = {"body": "<OmbrixConf/>"}
json.dump(rules, open(os.path.join(state, "rules.json.keep"), "w"))
open(os.path.join(state, "urls"), "w").write("\n".join(urls) + "\n")
PY
python3 "$here/tools/content_server.py" start --state "$state" --root "$state/www" >/dev/null
trap 'python3 "$here/tools/content_server.py" stop --state "$state"' EXIT
cp "$state/rules.json.keep" "$state/rules.json"
export http_proxy="http://127.0.0.1:$(cat "$state/port")"
exe="Z:$(echo "$bin/ZeltoSetup.exe" | tr / '\\')"
pf="Program Files (x86)"; [ "$ZELTO_ARCH" = x86_64 ] && pf="Program Files"
bench_dir="$ZELTO_BUILD/wine/drive_c/$pf/ZeltoBench/latency"
median() { sort -n | sed -n "$(( (runs + 1) / 2 ))p"; }
span() { python3 -c "
import json
starts = [json.loads(l)['time'] for l in open('$state/requests.jsonl') if '/zeltosetup/latency/lat' in l]
ends = [json.loads(l)['time'] for l in open('$state/sent.jsonl') if '/zeltosetup/latency/lat' in l]
print('%.3f' % (max(ends) - min(starts)))"; }
settle() { sleep 0.3; }   # the server records a body's end right after its last byte
requests() { python3 -c "
import json, sys
print(sum(1 for l in open('$state/requests.jsonl') if '/zeltosetup/latency/lat' in json.loads(l)['url'] and json.loads(l)['method'] in ('GET', 'HEAD')))"; }

program=(); decision=()
for _ in $(seq "$runs"); do
  rm -rf "$bench_dir" "$state/requests.jsonl" "$state/sent.jsonl"
  out=$("$here/tools/wine-run.sh" "$bin/tools/driver/ZeltoDriver.exe" --timeout 300 -- "$exe" -q \
        -x "<PARAM><MODE>latency</MODE><SOURCE>http://down.zelto.com/</SOURCE></PARAM>" | tr -d '\r')
  phase=$(echo "$out" | awk '/^STATUS 22 / {for (i = 1; i <= NF; i++) if ($i ~ /^t=/) a = substr($i, 3)}
                             /^STATUS 40 / {for (i = 1; i <= NF; i++) if ($i ~ /^t=/) b = substr($i, 3)}
                             END {if (a != "" && b != "") printf "%.3f", (b - a) / 1000}')
  placed=$(ls "$bench_dir" 2>/dev/null | wc -l)
  if [ -z "$phase" ] || [ "$placed" -ne 20 ]; then
    echo "latency_bench: the run did not complete ($placed files placed)" >&2
    echo "$out" | tail -5 >&2
    exit 1
  fi
  settle
  decision+=("$phase")
  program+=("$(span)")
  program_requests=$(requests)
done
rm -rf "$bench_dir"

serial=(); parallel=()
for _ in $(seq "$runs"); do
  rm -f "$state/requests.jsonl" "$state/sent.jsonl"
  xargs -a "$state/urls" curl -s -x "$http_proxy" -o /dev/null -o /dev/null -o /dev/null -o /dev/null -o /dev/null \
    -o /dev/null -o /dev/null -o /dev/null -o /dev/null -o /dev/null -o /dev/null -o /dev/null -o /dev/null \
    -o /dev/null -o /dev/null -o /dev/null -o /dev/null -o /dev/null -o /dev/null -o /dev/null
  settle
  serial+=("$(span)")
  serial_requests=$(requests)
  rm -f "$state/requests.jsonl" "$state/sent.jsonl"
  xargs -a "$state/urls" curl -s -Z --parallel-immediate --parallel-max 6 -x "$http_proxy" -o /dev/null -o /dev/null -o /dev/null \
    -o /dev/null -o /dev/null -o /dev/null -o /dev/null -o /dev/null -o /dev/null -o /dev/null -o /dev/null \
    -o /dev/null -o /dev/null -o /dev/null -o /dev/null -o /dev/null -o /dev/null -o /dev/null -o /dev/null -o /dev/null
  settle
  parallel+=("$(span)")
done
p=$(printf '%s\n' "${program[@]}" | median)
d=$(printf '%s\n' "${decision[@]}" | median)
c1=$(printf '%s\n' "${serial[@]}" | median)
c6=$(printf '%s\n' "${parallel[@]}" | median)
echo "== 20 files of 256 KiB, every answer ${delay} ms late, median of $runs runs"
echo "ZeltoSetup.exe download phase  ${p} s, ${program_requests} requests (status 22 to 40: ${d} s)"
echo "curl one by one                ${c1} s, ${serial_requests} requests"
echo "curl six at a time             ${c6} s"
echo "ratio program / curl six at a time = $(python3 -c "print(round($p / $c6, 2))") (target <= 1.25)"
echo "ratio program / curl one by one    = $(python3 -c "print(round($p / $c1, 2))")"
