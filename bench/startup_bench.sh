#!/usr/bin/env bash
# The start-up benchmark: wall time from process start to status 20 for
# ZeltoSetup.exe against a bare Win32 program that creates a window and posts
# status 20 at once, both started the same way by the driver, alternating;
# medians of RUNS runs (7 by default). Run it with `make bench`.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
source "$here/tools/wine-env.sh"
bin=${ZELTO_BIN:-$ZELTO_WIN}
runs=${RUNS:-7}
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }
driver="$bin/tools/driver/ZeltoDriver.exe"
# A mode without a catalogue: the run ends at the message, answered at once.
doc="<PARAM><MODE>nostartupcatalogue</MODE><SOURCE>http://down.zelto.com/</SOURCE></PARAM>"

to_status_20() {   # program [args] -> milliseconds to status 20
  local out
  out=$("$here/tools/wine-run.sh" "$driver" --timeout 60 --press 1 -- "$@" | tr -d '\r')
  echo "$out" | awk '/^STATUS 20 / {for (i = 1; i <= NF; i++) if ($i ~ /^t=/) print substr($i, 3)}' | head -n 1
}

program=() bare=()
for _ in $(seq "$runs"); do
  p=$(to_status_20 "$(winpath "$bin/ZeltoSetup.exe")" -x "$doc")
  b=$(to_status_20 "$(winpath "$bin/bench/startup_bare.exe")")
  if [ -z "$p" ] || [ -z "$b" ]; then
    echo "startup_bench: a run posted no status 20" >&2
    exit 1
  fi
  program+=("$p") bare+=("$b")
done
median() { printf '%s\n' "$@" | sort -n | sed -n "$(( ($# + 1) / 2 ))p"; }
mp=$(median "${program[@]}") mb=$(median "${bare[@]}")
echo "== start-up: process start to status 20, median of $runs runs each, alternating"
echo "ZeltoSetup.exe   ${mp} ms"
echo "bare program     ${mb} ms"
echo "ratio            $(python3 -c "print(round($mp / $mb, 2))") (target: at most 1.25)"
