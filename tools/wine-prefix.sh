#!/usr/bin/env bash
# Creates the private Wine prefix once (about 20 s) and prepares it for tests.
set -eu
source "$(dirname "$0")/wine-env.sh"
# The browser's control cache library is not part of Wine: the tests' stand-in
# (it records its calls) goes where the program loads it from, the 32-bit
# system folder.
install_control_cache() {
  local stand_in=$ZELTO_WIN/tests/uninstall/OCCACHE.dll sys=$WINEPREFIX/drive_c/windows/syswow64
  [ -d "$sys" ] && [ "$ZELTO_ARCH" = i686 ] || sys=$WINEPREFIX/drive_c/windows/system32
  if [ -f "$stand_in" ] && [ -d "$sys" ]; then cp -u "$stand_in" "$sys/occache.dll"; fi
}
# Settings of the prefix; raise the version when they change, so that an
# existing prefix gets them too.
settings=2
apply_settings() {
  # No window manager: do not wait for hidden windows; end crashing programs at once.
  zwine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
  zwine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1
  # No debugger to start: a crashing program then ends with the exception's
  # code. Wine's own debugger ended it with exit code 0, so a test program
  # that crashed passed.
  local key
  for key in 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
             'HKLM\Software\Wow6432Node\Microsoft\Windows NT\CurrentVersion\AeDebug'; do
    zwine reg add "$key" /v Debugger /d zelto-no-debugger.exe /f </dev/null >/dev/null 2>&1
    zwine reg add "$key" /v Auto /d 1 /f </dev/null >/dev/null 2>&1
  done
  LC_ALL=ko_KR.UTF-8 timeout 60 wineserver -w
}
ready=$WINEPREFIX/.zelto-ready
if [ -f "$ready" ] && [ "$(cat "$ready")" = "$settings" ]; then install_control_cache; exit 0; fi
if [ ! -f "$ready" ]; then
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  echo "wine-prefix: creating $WINEPREFIX"
  LC_ALL=ko_KR.UTF-8 wineboot -i </dev/null >/dev/null 2>&1
  LC_ALL=ko_KR.UTF-8 wineserver -w
  # The user folders are links into the Unix home: make them real folders.
  for d in "$WINEPREFIX"/drive_c/users/*/{Desktop,Documents,Downloads,Music,Pictures,Videos}; do
    if [ -L "$d" ]; then rm -f "$d"; mkdir -p "$d"; fi
  done
fi
apply_settings
install_control_cache
echo "$settings" > "$ready"
