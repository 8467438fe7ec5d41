#!/usr/bin/env bash
# Fuzzes every reader of what the network brings, FUZZ_SECONDS each (600 by
# default; `make test` runs it with 30):
#  - the archive reader, built natively with libFuzzer, AddressSanitizer and
#    UndefinedBehaviorSanitizer, from a seed corpus of the test archives;
#  - the catalogue, the download trust rule, the signature file, the options
#    document and the parameter document, in the program's own code under
#    Wine (zelto_fuzz.exe of the build that runs here, with its own edge
#    coverage and a 10 s hang detector), in a Wine prefix of its own made
#    afresh for each run: a fuzzed catalogue's registry elements and folders
#    act on that prefix, never on the tests' one.
# Seeds are small and meaningful: the sample catalogues, the trust-case
# table, the signature test files. A crash or a hang fails the run; its input
# is kept in build/fuzz/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/build/fuzz"
seconds=${FUZZ_SECONDS:-600}
mkdir -p "$out/corpus" "$out/seeds"
python3 "$root/tools/make_test_zips.py" "$out/seeds"
cp -n "$out"/seeds/*.zip "$out/corpus/" 2>/dev/null || true
if [ ! -x "$out/fuzz_zip" ] || [ -n "$(find "$root/src/zip" "$root/tests/zip/FuzzZip.cpp" -newer "$out/fuzz_zip")" ]; then
  clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I"$root/src" "$root/src/zip/ZipArchive.cpp" "$root/tests/zip/FuzzZip.cpp" -lz -o "$out/fuzz_zip"
fi
(
  cd "$out"
  echo "fuzz: $seconds s on the archive reader"
  ./fuzz_zip -max_total_time="$seconds" -max_len=200000 -timeout=10 -rss_limit_mb=2048 corpus seeds \
    -artifact_prefix="$out/" 2>&1 | tail -n 5
)

# The Wine targets: the build whose programs run on this machine.
build=$(bash "$root/tools/wine-arch.sh" | sed -n 's/^BUILD=\([^ ]*\).*/\1/p')
exe="$root/$build/tools/fuzz/zelto_fuzz.exe"
if [ ! -f "$exe" ]; then
  echo "fuzz: $exe is not built (make build first); the parser targets were not run" >&2
  exit 1
fi
source "$root/tools/wine-env.sh"
WINEPREFIX="$out/wine"
export WINEPREFIX
trap 'LC_ALL=ko_KR.UTF-8 wineserver -k >/dev/null 2>&1 || true' EXIT
rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"
LC_ALL=ko_KR.UTF-8 wineboot -i </dev/null >/dev/null 2>&1
LC_ALL=ko_KR.UTF-8 wineserver -p </dev/null >/dev/null 2>&1 || true   # already running after wineboot
win() { echo "Z:${1//\//\\}"; }

data="$root/tests/data"
trust="$out/seeds-trust"
rm -rf "$trust" && mkdir -p "$trust"
n=0
sed -n 's/^\(ok\|bad\) \([^ ]*\).*/\2/p' "$data/trust-cases.txt" | while read -r url; do
  n=$((n + 1)); printf '%s' "$url" > "$trust/$n.txt"
done
repository="$data/repository/down.zelto.com/zelto/zeltosetup/Repository"
declare -A seeds=(
  [catalogue]="$repository/zeltosetup/zeltosetup.xml $repository/cafe/cafe.xml $root/tools/fuzz/seeds/catalogue-bound.xml"
  [trust]="$(ls "$trust"/*.txt | tr '\n' ' ')"
  [signature]="$data/signature/catalogue.xml.sig $data/signature/catalogue.xml.small.sig"
  [options]="$root/tools/fuzz/seeds/options.xml"
  [param]="$root/tools/fuzz/seeds/param.xml"
)
ZELTO_FUZZ_KEY=$(win "$data/sample-key/zelto-sample-catalogue-key.pub.pem")
export ZELTO_FUZZ_KEY
wine_seconds=${FUZZ_WINE_SECONDS:-$seconds}
status=0
for target in catalogue trust signature options param; do
  mkdir -p "$out/corpus-$target"
  args=()
  for seed in ${seeds[$target]}; do args+=("$(win "$seed")"); done
  # The run's own limit: its seconds plus start-up; the hang detector inside
  # ends a single slow input after 10 s.
  if ! LC_ALL=ko_KR.UTF-8 timeout -k 5 $((wine_seconds + 120)) wine "$exe" "$target" "$wine_seconds" \
      "$(win "$out")" "$(win "$out/corpus-$target")" "${args[@]}" </dev/null 2>/dev/null | tr -d '\r'; then
    echo "fuzz: the $target target failed (see the line above; its input is in $out)" >&2
    status=1
  fi
done
exit $status
