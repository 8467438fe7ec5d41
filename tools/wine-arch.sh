#!/usr/bin/env bash
# Prints the make variables of the build whose programs run under Wine on this
# machine: the 32-bit build where the kernel runs 32-bit code, else a 64-bit
# build of the same sources (see tools/wine-env.sh).
source "$(dirname "$0")/wine-env.sh"
echo "BUILD=${ZELTO_WIN#"$zelto_root"/} TOOLCHAIN=cmake/mingw-$ZELTO_ARCH.cmake"
