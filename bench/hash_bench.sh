#!/usr/bin/env bash
# The hash benchmark: the program's SHA-256 (CNG) and the CryptoAPI's over the
# same 64 MiB in memory inside Wine, against sha256sum on the same file
# (read from the page cache); medians of RUNS runs (5 by default). Run it
# with `make bench`.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
source "$here/tools/wine-env.sh"
bin=${ZELTO_BIN:-$ZELTO_WIN}
runs=${RUNS:-5}
state="$bin/bench-hash"
mkdir -p "$state"
python3 -c "import random; r = random.Random(7); open('$state/bytes.bin', 'wb').write(r.randbytes(64 << 20))"
echo "== SHA-256 of 64 MiB, median of $runs runs each"
"$here/tools/wine-run.sh" "$bin/bench/hash_bench.exe" "Z:$(echo "$state/bytes.bin" | tr / '\\')" "$runs" | tr -d '\r'
times=()
for _ in $(seq "$runs"); do
  start=$(date +%s.%N)
  sum=$(sha256sum "$state/bytes.bin" | cut -d' ' -f1)
  times+=("$(python3 -c "print($(date +%s.%N) - $start)")")
done
median=$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(( (runs + 1) / 2 ))p")
echo "sha256sum median $(python3 -c "print('%.1f' % (64 / $median))") MiB/s (digest $sum, outside Wine)"
rm -f "$state/bytes.bin"
