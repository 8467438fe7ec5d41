#!/usr/bin/env bash
# Fuzzes every reader of what the network brings, FUZZ_SECONDS each (600 by
# default; FUZZ_WINE_SECONDS, when set, for the Wine targets; `make test`
# runs the archive reader 30 s and each Wine target 10 s):
#  - the archive reader, built natively with libFuzzer, AddressSanitizer and
#    UndefinedBehaviorSanitizer, from a seed corpus of the test archives;
#  - the catalogue, the download trust rule, the signature file, the options
#    document and the parameter document, in the program's own code under
#    Wine (zelto_fuzz.exe of the build that runs here, with its own edge
#    coverage and a 10 s hang detector), in a Wine prefix of its own made
#    afresh for each run: a fuzzed catalogue's registry elements and folders
#    act on that prefix, never on the tests' one nor on this machine.
# Seeds are small and meaningful: the sample catalogues, the trust-case
# table, the signature test files. A crash, a hang or a URL of another scheme
# trusted fails the run; its input is kept in build/fuzz/.
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

# The patch decoder, natively too, with zstd's decoder from Debian's source
# package; seeds: the patch tests' patch, its expected size before it.
zstd_lib="$root/build/deps/zstd/lib"
python3 "$root/tools/make_test_patches.py" "$out/patch-seeds"
mkdir -p "$out/corpus-patch" "$out/seeds-patch"
python3 - "$out/patch-seeds" "$out/seeds-patch/patch" <<'PY'
import os, struct, sys
folder, seed = sys.argv[1], sys.argv[2]
open(seed, "wb").write(struct.pack("<I", os.path.getsize(os.path.join(folder, "new.bin"))) +
                       open(os.path.join(folder, "new.bin.zst"), "rb").read())
PY
if [ ! -x "$out/fuzz_patch" ] || [ -n "$(find "$root/src/zip" "$root/tests/zip/FuzzPatch.cpp" -newer "$out/fuzz_patch")" ]; then
  mkdir -p "$out/zstd-obj"
  for c in common/debug.c common/entropy_common.c common/error_private.c common/fse_decompress.c common/xxhash.c \
           common/zstd_common.c decompress/huf_decompress.c decompress/zstd_ddict.c decompress/zstd_decompress.c \
           decompress/zstd_decompress_block.c; do
    clang -g -O1 -fsanitize=fuzzer-no-link,address,undefined -DZSTD_DISABLE_ASM -DZSTD_LEGACY_SUPPORT=0 -DZSTD_TRACE=0 \
      -c "$zstd_lib/$c" -o "$out/zstd-obj/$(basename "$c" .c).o"
  done
  clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -DZSTD_STATIC_LINKING_ONLY -I"$root/src" -isystem "$zstd_lib" "$root/src/zip/ZstdPatch.cpp" \
    "$root/tests/zip/FuzzPatch.cpp" "$out"/zstd-obj/*.o -o "$out/fuzz_patch"
fi
(
  cd "$out"
  echo "fuzz: $seconds s on the patch decoder"
  ZELTO_PATCH_BASE="$out/patch-seeds/old.bin" ./fuzz_patch -max_total_time="$seconds" -max_len=100000 -timeout=10 \
    -rss_limit_mb=2048 corpus-patch seeds-patch -artifact_prefix="$out/patch-" 2>&1 | tail -n 5
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
LC_ALL=ko_KR.UTF-8 wineserver -w </dev/null >/dev/null 2>&1 || true
# Everything the fuzzer reads and writes is copied into the prefix's C:
# drive, and the drive that maps the whole Unix file system (Z:) goes: a
# fuzzed catalogue's destination folders (relative, root-relative or on any
# drive letter) are made inside the prefix, never on this machine.
work="$WINEPREFIX/drive_c/fuzz"
mkdir -p "$work/cwd"
cp "$exe" "$work/zelto_fuzz.exe"
cp "$root/tests/data/sample-key/zelto-sample-catalogue-key.pub.pem" "$work/key.pem"
rm -f "$WINEPREFIX"/dosdevices/[a-bd-z]:
ZELTO_FUZZ_KEY='C:\fuzz\key.pem'
export ZELTO_FUZZ_KEY

data="$root/tests/data"
repository="$data/repository/down.zelto.com/zelto/zeltosetup/Repository"
seeds_of() {   # the seed files of a target, one a line
  case $1 in
    catalogue) printf '%s\n' "$repository/zeltosetup/zeltosetup.xml" "$repository/cafe/cafe.xml" \
                 "$root/tools/fuzz/seeds/catalogue-bound.xml" ;;
    signature) printf '%s\n' "$data/signature/catalogue.xml.sig" "$data/signature/catalogue.xml.small.sig" ;;
    options) echo "$root/tools/fuzz/seeds/options.xml" ;;
    param) echo "$root/tools/fuzz/seeds/param.xml" ;;
  esac
}
wine_seconds=${FUZZ_WINE_SECONDS:-$seconds}
status=0
for target in catalogue trust signature options param; do
  mkdir -p "$out/corpus-$target" "$work/seeds-$target" "$work/corpus-$target"
  if [ "$target" = trust ]; then   # the trust-case table, a URL a seed
    n=0
    while read -r url; do
      n=$((n + 1)); printf '%s' "$url" > "$work/seeds-$target/$n"
    done < <(sed -n 's/^\(ok\|bad\) \([^ ]*\).*/\2/p' "$data/trust-cases.txt")
  else
    while read -r seed; do cp "$seed" "$work/seeds-$target/"; done < <(seeds_of "$target")
  fi
  cp "$out/corpus-$target"/. "$work/corpus-$target/" -r 2>/dev/null || true
  args=()
  for seed in "$work/seeds-$target"/*; do args+=("C:\\fuzz\\seeds-$target\\$(basename "$seed")"); done
  # The run's own limit: its seconds plus start-up; the hang detector inside
  # ends a single slow input after 10 s.
  if ! (cd "$work/cwd" && LC_ALL=ko_KR.UTF-8 timeout -k 5 $((wine_seconds + 120)) wine 'C:\fuzz\zelto_fuzz.exe' \
        "$target" "$wine_seconds" 'C:\fuzz' "C:\\fuzz\\corpus-$target" "${args[@]}" </dev/null 2>/dev/null |
        tr -d '\r'); then
    echo "fuzz: the $target target failed (see the line above; its input is in $out)" >&2
    status=1
  fi
  cp -r "$work/corpus-$target"/. "$out/corpus-$target/" 2>/dev/null || true
  cp "$work"/crash-* "$work"/hang-* "$work"/wrong-* "$out/" 2>/dev/null || true
done
exit $status
