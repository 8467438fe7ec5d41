#!/usr/bin/env bash
# Creates the private Wine prefix once (about 20 s) and prepares it for tests.
set -eu
source "$(dirname "$0")/wine-env.sh"
if [ -f "$WINEPREFIX/.zelto-ready" ]; then exit 0; fi
rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"
echo "wine-prefix: creating $WINEPREFIX"
LC_ALL=ko_KR.UTF-8 wineboot -i </dev/null >/dev/null 2>&1
LC_ALL=ko_KR.UTF-8 wineserver -w
# No window manager: do not wait for hidden windows; end crashing programs at once.
zwine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
zwine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1
# The user folders are links into the Unix home: make them real folders.
for d in "$WINEPREFIX"/drive_c/users/*/{Desktop,Documents,Downloads,Music,Pictures,Videos}; do
  if [ -L "$d" ]; then rm -f "$d"; mkdir -p "$d"; fi
done
LC_ALL=ko_KR.UTF-8 wineserver -w
touch "$WINEPREFIX/.zelto-ready"
