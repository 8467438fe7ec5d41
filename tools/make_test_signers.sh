#!/usr/bin/env bash
# Makes the code-signing test bed of the tests: test authorities and
# publishers (openssl), and the test components signed in every way the
# program must tell apart (osslsigncode).
#   make_test_signers.sh OUT COMPONENTS
# OUT/<name>.crt|.key certificates and keys, OUT/<name>.spki the SHA-256 of
# each one's SubjectPublicKeyInfo (the pin), OUT/<variant>/<file> the
# components of COMPONENTS (ZeltoTestCtl.dll 1.0.0.5, ZeltoTestCtl2.dll,
# ZeltoAux.exe) signed as the variant says:
#   good      by "QRV Corp." under the test authority, with its chain
#   renewed   by a renewed "QRV Corp." certificate (new key, same authority)
#   other     by "QRV Corp." under another authority
#   forged    by a self-signed certificate named "QRV Corp."
#   unsigned  not signed
#   tampered  good, then one byte changed
#   expired   by a certificate that expired in 2025, no timestamp
#   stamped   by that certificate, timestamped in 2024 by a test time-stamping authority
#   restamped stamped, then the timestamp's time changed (its authority's digest no longer matches)
#   resigned  stamped, then a signed attribute of the timestamp changed (its authority's signature fails)
#   misused   by a certificate of the test authority that is not for code signing (server authentication)
set -euo pipefail
mkdir -p "$(dirname "$1")"
out=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
components=$(cd "$2" && pwd)
rm -rf "$out.tmp"
mkdir -p "$out.tmp"
cd "$out.tmp"

cat > openssl.cnf <<'CNF'
[ca]
default_ca = testca
[testca]
dir = .
database = ./index.txt
serial = ./serial
new_certs_dir = ./issued
certificate = ./authority.crt
private_key = ./authority.key
default_md = sha256
policy = anything
unique_subject = no
copy_extensions = none
[anything]
commonName = supplied
[authority]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
[publisher]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[server]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = serverAuth
[stamper]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature,nonRepudiation
extendedKeyUsage = critical,timeStamping
CNF

# One serial counter for every certificate: no two share issuer and serial.
: > index.txt; echo 1000 > serial; mkdir issued
quiet() { "$@" >/dev/null 2>&1 || { echo "make_test_signers: failed: $*" >&2; "$@"; exit 1; }; }
authority() {   # name, subject: valid from 2020 to 2040, so that it covers every signing time below
  quiet openssl req -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" -subj "/CN=$2"
  quiet openssl ca -batch -config openssl.cnf -selfsign -keyfile "$1.key" -in "$1.csr" -out "$1.crt" \
    -startdate 20200101000000Z -enddate 20400101000000Z -extensions authority -notext
}
issue() {   # name, subject, authority, start, end, extensions
  quiet openssl req -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" -subj "/CN=$2"
  cp "$3.crt" authority.crt; cp "$3.key" authority.key
  quiet openssl ca -batch -config openssl.cnf -in "$1.csr" -out "$1.crt" -startdate "$4" -enddate "$5" \
    -extensions "$6" -notext
  cat "$1.crt" "$3.crt" > "$1.chain.pem"
}
authority authority-a "Zelto Test Publisher Authority"
authority authority-b "Other Test Authority"
issue publisher "QRV Corp." authority-a 20250101000000Z 20351231000000Z publisher
issue renewed "QRV Corp." authority-a 20260101000000Z 20361231000000Z publisher
issue stranger "QRV Corp." authority-b 20250101000000Z 20351231000000Z publisher
issue retired "QRV Corp." authority-a 20240101000000Z 20250101000000Z publisher
issue stamper "Zelto Test Time Stamps" authority-a 20240101000000Z 20361231000000Z stamper
issue server "QRV Corp." authority-a 20250101000000Z 20351231000000Z server
quiet openssl req -x509 -newkey rsa:2048 -nodes -keyout forger.key -out forger.crt -days 3650 -subj "/CN=QRV Corp." \
  -addext "extendedKeyUsage=codeSigning"
cp forger.crt forger.chain.pem
for name in authority-a authority-b publisher renewed stranger retired forger; do
  openssl x509 -in "$name.crt" -pubkey -noout | openssl pkey -pubin -outform der | sha256sum | cut -d' ' -f1 > "$name.spki"
done

# change_stamp FILE genTime|signingTime: one digit of the timestamp's time
# (in its content) or of its authority's signing time (a signed attribute:
# the last signingTime of the file).
change_stamp() {
  python3 - "$@" <<'PY'
import sys
path, what = sys.argv[1], sys.argv[2]
data = bytearray(open(path, "rb").read())
if what == "genTime":
    at = data.find(b"20240701000000Z") + 7
else:
    oid = bytes.fromhex("06092a864886f70d010905")   # signingTime
    at = data.rfind(oid)
    at = data.find(b"\x17\x0d", at) + 2 + 5      # UTCTime YYMMDD: the day's last digit
assert at > 10, "no %s in %s" % (what, path)
data[at] = ord("2") if data[at] != ord("2") else ord("3")
open(path, "wb").write(bytes(data))
PY
}

files=("$components/v1005/ZeltoTestCtl.dll" "$components/v1004/ZeltoTestCtl2.dll" "$components/aux3/ZeltoAux.exe")
# 1 July 2024: while the retired certificate was valid.
signed_in_2024=1719792000
for variant in good renewed other forged unsigned tampered expired stamped restamped resigned misused; do
  mkdir -p "$variant"
  for file in "${files[@]}"; do
    target="$variant/$(basename "$file")"
    case $variant in
      good|tampered) quiet osslsigncode sign -certs publisher.chain.pem -key publisher.key -in "$file" -out "$target" ;;
      renewed) quiet osslsigncode sign -certs renewed.chain.pem -key renewed.key -in "$file" -out "$target" ;;
      other) quiet osslsigncode sign -certs stranger.chain.pem -key stranger.key -in "$file" -out "$target" ;;
      forged) quiet osslsigncode sign -certs forger.chain.pem -key forger.key -in "$file" -out "$target" ;;
      unsigned) cp "$file" "$target" ;;
      expired) quiet osslsigncode sign -certs retired.chain.pem -key retired.key -time $signed_in_2024 \
                 -in "$file" -out "$target" ;;
      misused) quiet osslsigncode sign -certs server.chain.pem -key server.key -in "$file" -out "$target" ;;
      stamped|restamped|resigned) quiet osslsigncode sign -certs retired.chain.pem -key retired.key -time $signed_in_2024 \
                 -TSA-certs stamper.chain.pem -TSA-key stamper.key -TSA-time $signed_in_2024 -in "$file" -out "$target" ;;
    esac
    # The timestamp lies in the signature, outside what the file's digest covers.
    case $variant in
      restamped) change_stamp "$target" genTime ;;
      resigned) change_stamp "$target" signingTime ;;
    esac
    if [ $variant = tampered ]; then
      # One byte of the code section (0x400), which the signature's digest covers.
      printf '\xCC' | dd of="$target" bs=1 seek=1024 conv=notrunc status=none
    fi
  done
done
rm -f ./*.csr index.txt* serial* authority.crt authority.key openssl.cnf; rm -rf issued
cd ..
rm -rf "$out"
mv "$out.tmp" "$out"
