# Sourced by the Wine scripts: the project's private prefix and its settings.
# ZELTO_BUILD may name another build folder; the default is build/ in the repository.
zelto_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
ZELTO_BUILD=${ZELTO_BUILD:-$zelto_root/build}
export ZELTO_BUILD
WINEPREFIX=$ZELTO_BUILD/wine
export WINEPREFIX
WINEDEBUG=-all
export WINEDEBUG
WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml="
export WINEDLLOVERRIDES
LOCPATH=$ZELTO_BUILD/locale
export LOCPATH
# The Korean locale is given to Wine commands only (zwine), so shells and
# Python print no warnings where it is missing.
zwine() { LC_ALL=ko_KR.UTF-8 wine "$@"; }
# The 32-bit registry view that the program sees.
zreg() { LC_ALL=C wine reg "$@" /reg:32 </dev/null 2>/dev/null; }
# The local content server (tools/content_server.py) stands in for the
# portal: when it runs, WinINet reaches it as the HTTP proxy.
ZELTO_CONTENT_STATE=${ZELTO_CONTENT_STATE:-$ZELTO_BUILD/win/content}
export ZELTO_CONTENT_STATE
if [ -f "$ZELTO_CONTENT_STATE/port" ]; then
  http_proxy="http://127.0.0.1:$(cat "$ZELTO_CONTENT_STATE/port")"
  export http_proxy
fi
