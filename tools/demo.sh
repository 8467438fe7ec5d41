#!/usr/bin/env bash
# The demo: starts ZeltoSetup.exe the way the portal's web page does, with a
# sample parameter document, and prints what the starting window receives.
# Run through `make demo` (which brings up Xvfb and Wine first).
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-env.sh"
bin=${ZELTO_BIN:-$ZELTO_BUILD/win}
exe="Z:$(echo "$bin/ZeltoSetup.exe" | tr / '\\')"
doc='<PARAM><MODE>zeltosetup</MODE><SOURCE>http://down.zelto.com/zelto/zeltosetup/</SOURCE><FORCEDELETE>0</FORCEDELETE><SHOWDLG>1</SHOWDLG><SERVICENAME>cafe</SERVICENAME></PARAM>'

# Full trace in the log beside the program.
zreg add 'HKLM\Software\QRV Corporation' /v ZeltoSetupLog /t REG_DWORD /d 2 /f >/dev/null
rm -f "$bin/ZeltoOmbrix.log"

echo "== ZeltoSetup.exe -w <driver window> -x '$doc'"
"$here/wine-run.sh" "$bin/tools/driver/ZeltoDriver.exe" --timeout 120 --press 1 --press 1 -- "$exe" -x "$doc" \
  | iconv -f CP949 -t UTF-8
echo "== the log ($bin/ZeltoOmbrix.log)"
iconv -f CP949 -t UTF-8 "$bin/ZeltoOmbrix.log" 2>/dev/null || echo "(no log)"
