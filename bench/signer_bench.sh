#!/usr/bin/env bash
# The code-signature check's cost per file (goal: under 50 ms under Wine):
# the program's CheckSigner on the build's signed test components, median of
# RUNS runs after a first one that loads the system's libraries, against the
# SHA-256 of the same file. Run it with `make bench`.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
source "$here/tools/wine-env.sh"
bin=${ZELTO_BIN:-$ZELTO_WIN}
runs=${RUNS:-5}
signers="$bin/tests/components/signers"
win() { echo "Z:$1" | tr / '\\'; }
echo "== code-signature check per file, median of $runs runs"
"$here/tools/wine-run.sh" "$bin/bench/signer_bench.exe" "$(win "$signers/authority-a.spki")" \
  "$(win "$signers/good/ZeltoTestCtl.dll")" "$(win "$signers/renewed/ZeltoTestCtl2.dll")" \
  "$(win "$signers/stamped/ZeltoTestCtl.dll")" "$(win "$signers/good/ZeltoAux.exe")" "$runs" | tr -d '\r'
