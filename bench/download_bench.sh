#!/usr/bin/env bash
# The download benchmark: DownloadFile against a bare WinINet loop in the same
# process, and curl through the same local proxy; then the peak working set of
# the downloading process for 8 MiB and 64 MiB. Run it with `make bench`.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
source "$here/tools/wine-env.sh"
bin=${ZELTO_BIN:-$ZELTO_WIN}
state="$bin/bench-content"
runs=${RUNS:-5}

python3 "$here/tools/content_server.py" start --state "$state" --root "$state/www" >/dev/null
trap 'python3 "$here/tools/content_server.py" stop --state "$state"' EXIT
port=$(cat "$state/port")
export http_proxy="http://127.0.0.1:$port"
cat > "$state/rules.json" <<JSON
{"down.zelto.com/zelto/zeltosetup/bench64.bin": {"size": 67108864},
 "down.zelto.com/zelto/zeltosetup/bench8.bin": {"size": 8388608}}
JSON
url64=http://down.zelto.com/zelto/zeltosetup/bench64.bin
url8=http://down.zelto.com/zelto/zeltosetup/bench8.bin
cd "$bin"

# The hash of the server's generated 64 MiB (bytes 0-255 over and over):
# DownloadFile computes and checks it on the way, as for a catalogue's SHA256.
sha64=$(python3 -c "import hashlib; b=bytes(range(256))*4096; h=hashlib.sha256(); [h.update(b) for _ in range(64)]; print(h.hexdigest())")
echo "== 64 MiB, median of $runs runs each"
"$here/tools/wine-run.sh" bench/download_bench.exe speed "$url64" "$runs" "$sha64"

times=()
for _ in $(seq "$runs"); do
  times+=("$(curl -s -o /dev/null -x "$http_proxy" -w '%{time_total}' "$url64")")
done
curl_median=$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(( (runs + 1) / 2 ))p")
echo "curl median          ${curl_median} s (the same proxy, outside Wine)"

echo "== 64 MiB over https against http, DownloadFile both (median of $runs runs each)"
# A test authority made now, trusted inside this prefix only, for the content
# server's TLS tunnel (see tools/content_server.py, "_tls").
ZELTO_CONTENT_STATE="$state" ZELTO_BIN="$bin" /usr/bin/python3 -c "
import sys; sys.path.insert(0, '$here/tests/e2e')
import zelto_tls; zelto_tls.make_certificates(); zelto_tls.trust(True)"
"$here/tools/wine-run.sh" bench/download_bench.exe pair "$url64" "https${url64#http}" "$runs"
ZELTO_CONTENT_STATE="$state" ZELTO_BIN="$bin" /usr/bin/python3 -c "
import sys; sys.path.insert(0, '$here/tests/e2e')
import zelto_tls; zelto_tls.trust(False)"

echo "== peak working set of the downloading process"
p8=$("$here/tools/wine-run.sh" bench/download_bench.exe peak "$url8" | tr -d '\r' | awk '{print $NF}')
p64=$("$here/tools/wine-run.sh" bench/download_bench.exe peak "$url64" | tr -d '\r' | awk '{print $NF}')
echo "8 MiB: $p8 bytes, 64 MiB: $p64 bytes, difference $(( p64 - p8 )) bytes (target: within 1 MiB)"
