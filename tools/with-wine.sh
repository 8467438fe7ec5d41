#!/usr/bin/env bash
# Runs a command with the test environment up: Xvfb (when no DISPLAY is set),
# the private Wine prefix, and a persistent wineserver whose background
# services are started with their stdio redirected (so no test runner waits
# on a pipe they inherited). Everything it started is stopped at the end.
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-env.sh"

xvfb_pid=""
cleanup() {
  LC_ALL=ko_KR.UTF-8 wineserver -k </dev/null >/dev/null 2>&1 || true
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT

if [ -z "${DISPLAY:-}" ]; then
  for n in $(seq 91 140); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 1 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
    # ZELTO_HEADLESS: nobody watches this display (the demo clicks itself).
    if kill -0 "$xvfb_pid" 2>/dev/null; then export DISPLAY=":$n" ZELTO_HEADLESS=1; break; fi
    xvfb_pid=""
  done
  [ -n "${DISPLAY:-}" ] || { echo "with-wine: could not start Xvfb" >&2; exit 1; }
fi

"$here/wine-prefix.sh" || exit 1
LC_ALL=ko_KR.UTF-8 wineserver -p </dev/null >/dev/null 2>&1
LC_ALL=ko_KR.UTF-8 timeout 120 wine cmd /c exit </dev/null >/dev/null 2>&1
"$@"
