# Sourced by the Wine scripts: the project's private prefix and its settings.
# ZELTO_BUILD may name another build folder; the default is build/ in the repository.
zelto_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
ZELTO_BUILD=${ZELTO_BUILD:-$zelto_root/build}
export ZELTO_BUILD
# ZELTO_WINEPREFIX may name a prefix of its own (the demo's).
WINEPREFIX=${ZELTO_WINEPREFIX:-$ZELTO_BUILD/wine}
export WINEPREFIX
WINEDEBUG=-all
export WINEDEBUG
# ZELTO_DLLOVERRIDES adds overrides of a test's own (libraries made native-first).
WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml=${ZELTO_DLLOVERRIDES:+;$ZELTO_DLLOVERRIDES}"
export WINEDLLOVERRIDES
LOCPATH=$ZELTO_BUILD/locale
export LOCPATH
# The program is a 32-bit Windows program. Where the kernel runs no 32-bit
# code (Wine's 32-bit loader fails with "Exec format error"), the tests and the
# demo run a 64-bit build of the same sources with Wine's 64-bit loader
# instead; `make build` still makes the 32-bit program. ZELTO_WIN is the build
# folder whose programs run here, ZELTO_REG_VIEW the registry view they see.
if [ -z "${ZELTO_ARCH:-}" ]; then
  if /usr/lib/wine/wine --version >/dev/null 2>&1 || [ ! -x /usr/lib/wine/wine64 ]; then
    ZELTO_ARCH=i686
  else
    ZELTO_ARCH=x86_64
  fi
fi
export ZELTO_ARCH
if [ "$ZELTO_ARCH" = x86_64 ]; then
  ZELTO_WIN=${ZELTO_WIN:-$ZELTO_BUILD/win64}
  ZELTO_REG_VIEW=/reg:64
  case ":$PATH:" in *":$zelto_root/tools/wine64:"*) ;; *) PATH=$zelto_root/tools/wine64:$PATH ;; esac
  export PATH
else
  ZELTO_WIN=${ZELTO_WIN:-$ZELTO_BUILD/win}
  ZELTO_REG_VIEW=/reg:32
fi
export ZELTO_WIN ZELTO_REG_VIEW
# The Korean locale is given to Wine commands only (zwine), so shells and
# Python print no warnings where it is missing.
zwine() { LC_ALL=ko_KR.UTF-8 wine "$@"; }
# The registry view that the program sees.
zreg() { LC_ALL=C wine reg "$@" "$ZELTO_REG_VIEW" </dev/null 2>/dev/null; }
# The local content server (tools/content_server.py) stands in for the
# portal: when it runs, WinINet reaches it as the HTTP proxy.
ZELTO_CONTENT_STATE=${ZELTO_CONTENT_STATE:-$ZELTO_WIN/content}
export ZELTO_CONTENT_STATE
if [ -n "${ZELTO_PROXY:-}" ]; then
  # Another proxy in front of the content server (a caching proxy in a test).
  http_proxy=$ZELTO_PROXY
  export http_proxy
elif [ -f "$ZELTO_CONTENT_STATE/port" ]; then
  http_proxy="http://127.0.0.1:$(cat "$ZELTO_CONTENT_STATE/port")"
  export http_proxy
fi
