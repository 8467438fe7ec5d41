#!/usr/bin/env bash
# The demo: serves the bundled sample repository (tests/data/repository and
# the built components) from the local content server, starts ZeltoSetup.exe
# the way the portal's web page does, and prints what the starting window
# receives, then the program's log. Run it through `make demo`.
set -u
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
source "$here/wine-env.sh"
bin=${ZELTO_BIN:-$ZELTO_BUILD/win}
state="$bin/demo-content"
exe="Z:$(echo "$bin/ZeltoSetup.exe" | tr / '\\')"
mode=${DEMO_MODE:-zeltosetup}
doc="<PARAM><MODE>$mode</MODE><SOURCE>http://down.zelto.com/zelto/zeltosetup/</SOURCE><FORCEDELETE>0</FORCEDELETE><SHOWDLG>1</SHOWDLG><SERVICENAME>cafe</SERVICENAME></PARAM>"

python3 "$here/content_server.py" start --state "$state" --root "$root/tests/data/repository" \
  --root "$bin/published" >/dev/null || exit 1
trap 'python3 "$here/content_server.py" stop --state "$state"' EXIT
http_proxy="http://127.0.0.1:$(cat "$state/port")"
export http_proxy

# Start from a machine without the sample components, so the demo installs.
ombrix="$WINEPREFIX/drive_c/Program Files (x86)/Zelto/Ombrix"
rm -f "$ombrix/ZeltoTestCtl.dll" "$ombrix/ZeltoTestCtl2.dll"
zreg delete 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\ZeltoSetup' /f >/dev/null
cat > "$state/rules.json" <<'JSON'
{"cc.zelto.com/cc": {"body": "ok"}, "static.zelto.com/app/logrd.qrv": {"body": "ok"},
 "static.zelto.com/app/conf/confExposure.xml": {"body": "<OmbrixConf/>"}}
JSON

# Full trace in the log beside the program.
zreg add 'HKLM\Software\QRV Corporation' /v ZeltoSetupLog /t REG_DWORD /d 2 /f >/dev/null
rm -f "$bin/ZeltoOmbrix.log"

echo "== ZeltoSetup.exe -w <driver window> -x '$doc'"
"$here/wine-run.sh" "$bin/tools/driver/ZeltoDriver.exe" --timeout 120 --hold 1500 --press 1 -- "$exe" -x "$doc" \
  | iconv -f CP949 -t UTF-8
echo "== requests the content server received"
python3 -c 'import json,sys; [print(" ", json.loads(l)["url"]) for l in open(sys.argv[1])]' "$state/requests.jsonl" 2>/dev/null
echo "== the log ($bin/ZeltoOmbrix.log)"
iconv -f CP949 -t UTF-8 "$bin/ZeltoOmbrix.log" 2>/dev/null || echo "(no log)"
