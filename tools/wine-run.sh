#!/usr/bin/env bash
# Runs one Windows program under the project's Wine prefix, with stdin closed
# and a time limit (ZELTO_TIMEOUT seconds, 300 by default).
# ctest uses it as the cross-compiling emulator.
source "$(dirname "$0")/wine-env.sh"
LC_ALL=ko_KR.UTF-8 exec timeout -k 5 "${ZELTO_TIMEOUT:-300}" wine "$@" </dev/null
