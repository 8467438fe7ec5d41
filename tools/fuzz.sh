#!/usr/bin/env bash
# Builds the archive reader natively with libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer, and fuzzes it for FUZZ_SECONDS (default 600)
# from a seed corpus of the test archives. A crash fails the run.
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
cd "$out"
echo "fuzz: $seconds s on the archive reader"
./fuzz_zip -max_total_time="$seconds" -max_len=200000 -timeout=10 -rss_limit_mb=2048 corpus seeds \
  -artifact_prefix="$out/" 2>&1 | tail -n 5
