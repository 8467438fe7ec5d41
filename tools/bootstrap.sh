#!/usr/bin/env bash
# Installs what the build and the tests need, from Debian's packages.
# Idempotent: checks first and installs only what is missing.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
deps="$here/build/deps"

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  apt_updated=0
fi

for p in mingw-w64 libz-mingw-w64-dev wine wine64 wine32:i386 xvfb xdotool imagemagick \
         fonts-nanum googletest cmake make python3 locales dpkg-dev osslsigncode openssl \
         clang libclang-rt-14-dev zlib1g-dev python3-cryptography python3-matplotlib squid zstd curl; do
  have_pkg "$p" || need+=("$p")
done

src_list=/etc/apt/sources.list.d/zelto-deb-src.sources
if [ ! -f "$src_list" ] && [ -f /etc/apt/sources.list.d/debian.sources ]; then
  sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources > "$src_list"
  apt_updated=0
fi

if [ ${#need[@]} -gt 0 ] || [ "${apt_updated:-1}" = 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  if [ ${#need[@]} -gt 0 ]; then
    echo "bootstrap: installing ${need[*]}"
    apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
  fi
fi

# pugixml: Debian's source package, compiled for the target by the build.
if [ ! -f "$deps/pugixml/src/pugixml.cpp" ]; then
  mkdir -p "$deps/pugixml-src"
  ( cd "$deps/pugixml-src" && apt-get source -qq --download-only pugixml >/dev/null 2>&1 || {
      apt-get update -qq && apt-get source -qq --download-only pugixml >/dev/null; } )
  tarball=$(ls "$deps"/pugixml-src/pugixml_*.orig.tar.* | head -n 1)
  rm -rf "$deps/pugixml"; mkdir -p "$deps/pugixml"
  tar -xf "$tarball" -C "$deps/pugixml" --strip-components=1
fi

# zstd: Debian's source package (with Debian's patches applied); the build
# compiles its decoder for the target. When the newest version's files are
# missing from the mirror, the older versions apt knows are tried in turn.
if [ ! -f "$deps/zstd/lib/zstd.h" ]; then
  rm -rf "$deps/zstd-src" "$deps/zstd"; mkdir -p "$deps/zstd-src"
  fetched=0
  for version in "" $(apt-cache showsrc libzstd 2>/dev/null | sed -n 's/^Version: //p' | sort -r -V); do
    if ( cd "$deps/zstd-src" && apt-get source -qq --download-only "libzstd${version:+=$version}" >/dev/null 2>&1 ); then
      fetched=1; break
    fi
    rm -f "$deps"/zstd-src/*
  done
  if [ $fetched = 0 ]; then
    apt-get update -qq
    ( cd "$deps/zstd-src" && apt-get source -qq --download-only libzstd >/dev/null )
  fi
  dsc=$(ls "$deps"/zstd-src/libzstd_*.dsc | head -n 1)
  dpkg-source -x --no-check --no-copy "$dsc" "$deps/zstd" >/dev/null
fi

# The Korean locale, built privately so Wine reads command lines as code page 949.
if [ ! -d "$here/build/locale/ko_KR.UTF-8" ]; then
  mkdir -p "$here/build/locale"
  localedef -i ko_KR -f UTF-8 "$here/build/locale/ko_KR.UTF-8" 2>/dev/null || true
fi
echo "bootstrap: ready"
