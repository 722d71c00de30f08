#!/usr/bin/env bash
# Signing a 10 MB PDF through the server with a PKCS#12 key, its dialog confirmed by xdotool:
# the time from the POST of the upload to the signed document in hand (GET_RESULT polled every
# 20 ms), beside `openssl cms -sign` over the same bytes with the same key, in the same run.
# RUNS=n rounds of each (default 5).
set -euo pipefail
RUNS=${RUNS:-5}
# shellcheck source=bench/common.sh
source "$(dirname "$0")/common.sh"

bench_need Xvfb:xvfb xdotool:xdotool curl:curl qpdf:qpdf pdfsig:poppler-utils openssl:openssl
bench_build signer
bench_workdir
bench_app

# The signer's key, in the user's certificate folder as a PKCS#12 file behind a password.
keys="$work/keys"
mkdir -p "$keys" "$XDG_DATA_HOME/veltrane/certificates" "$XDG_CONFIG_HOME/veltrane" "$work/tmp"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$keys/key.pem" -out "$keys/cert.pem" -days 2 \
  -subj "/CN=Bench Signer" -addext keyUsage=critical,digitalSignature,nonRepudiation 2>/dev/null
openssl pkcs12 -export -inkey "$keys/key.pem" -in "$keys/cert.pem" -certpbe NONE -passout pass:benchpass \
  -out "$XDG_DATA_HOME/veltrane/certificates/bench.p12"
printf '[origins]\nallowed=https://bench.example\n[pkcs11]\nuseProxy=false\n[nss]\ndatabase=\n' \
  > "$XDG_CONFIG_HOME/veltrane/signer.ini"

# One page whose content stream is 10 MB of comments: nothing for a reader to draw, nothing for
# the signer to skip.
doc="$work/doc"
mkdir -p "$doc"
head -c 7600000 /dev/urandom | base64 -w 76 | sed 's/^/% /' > "$doc/content"
pdf="$doc/big.pdf"
offsets=()
object() { offsets+=("$(stat -c %s "$pdf")"); printf '%s\n' "$1" >> "$pdf"; }
echo '%PDF-1.7' > "$pdf"
object '1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj'
object '2 0 obj << /Type /Pages /Count 1 /Kids [3 0 R] >> endobj'
object '3 0 obj << /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents 4 0 R >> endobj'
object "4 0 obj << /Length $(( $(stat -c %s "$doc/content") - 1 )) >> stream"
{ cat "$doc/content"; echo 'endstream endobj'; } >> "$pdf"
xref=$(stat -c %s "$pdf")
{ printf 'xref\n0 5\n0000000000 65535 f \n'; printf '%010d 00000 n \n' "${offsets[@]}"
  printf 'trailer << /Root 1 0 R /Size 5 >>\nstartxref\n%s\n%%%%EOF\n' "$xref"; } >> "$pdf"
qpdf --check "$pdf" >/dev/null
chmod -R a+rX "$doc"

Xvfb -displayfd 3 -nolisten tcp -ac -screen 0 800x600x24 3> "$work/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 1 100); do [ -s "$work/display" ] && break; sleep 0.1; done
DISPLAY=":$(cat "$work/display")"
export DISPLAY
server_args=() # a GUI application: -console would leave the dialogs without one
bench_start_server DISPLAY="$DISPLAY" TMPDIR="$work/tmp"

url="https://127.0.0.1:$vyr_port"
# No 'Expect: 100-continue' (browsers never send it): curl would wait a second for the 100.
client() { "${runas[@]}" curl -gsk -H 'Expect:' -H 'Origin: https://bench.example' "$@"; }
now() { date +%s.%N; }
session=$(client -X POST "$url/OPEN_SESSION")
id=$(client -X POST -H "X-VYR-sessionId: $session" -D "$work/h" "$url/signer/LIST_CERTIFICATES" >/dev/null
     cmd=$(tr -d '\r' < "$work/h" | awk -F': ' 'tolower($1)=="x-vyr-cmdid" {print $2}')
     xdotool search --sync --onlyvisible --name 'Allow access' windowfocus --sync >/dev/null
     xdotool key space Return
     until body=$(client -X POST -H "X-VYR-sessionId: $session" "$url/GET_RESULT?cmdId=$cmd") &&
           [ "${body:0:1}" = '[' ]; do sleep 0.05; done
     printf '%s' "$body" | grep -o '"id":"[^"]*"' | head -n1 | cut -d'"' -f4)

# One signing: POST, dialog confirmed, result polled; prints the seconds it took.
sign_once() {
  local start cmd window
  start=$(now)
  client -X POST -H "X-VYR-sessionId: $session" -D "$work/h" -F "id=$id" -F "document=@$doc/big.pdf" \
    "$url/signer/SIGN_PDF" >/dev/null
  cmd=$(tr -d '\r' < "$work/h" | awk -F': ' 'tolower($1)=="x-vyr-cmdid" {print $2}')
  # Polled here: xdotool's own --sync waits half a second between looks.
  until window=$(xdotool search --onlyvisible --name 'Sign with your certificate' 2>/dev/null); do sleep 0.01; done
  xdotool windowfocus --sync "$window"
  xdotool type benchpass
  xdotool key Return
  while :; do
    code=$(client -o "$work/answer" -w '%{http_code}' -X POST -H "X-VYR-sessionId: $session" \
      "$url/GET_RESULT?cmdId=$cmd")
    [ "$code" != 202 ] && [ "$code" != 204 ] && break
    sleep 0.02
  done
  echo "$(now) - $start" | bc
}
cms_once() {
  local start
  start=$(now)
  openssl cms -sign -binary -md sha256 -in "$doc/big.pdf" -signer "$keys/cert.pem" -inkey "$keys/key.pem" \
    -outform DER -out "$work/cms.der"
  echo "$(now) - $start" | bc
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

server=(); cms=()
for _ in $(seq 1 "$RUNS"); do server+=("$(sign_once)"); cms+=("$(cms_once)"); done
sed -n 's/.*"document":"\([^"]*\)".*/\1/p' "$work/answer" | base64 -d > "$work/signed.pdf"
pdfsig "$work/signed.pdf" | grep -q 'Signature is Valid' || { echo "the signed document did not verify"; exit 1; }
s=$(printf '%s\n' "${server[@]}" | median); c=$(printf '%s\n' "${cms[@]}" | median)
printf 'document: %s bytes, %s rounds (median)\n' "$(stat -c %s "$doc/big.pdf")" "$RUNS"
printf '%-50s %8.3f s   (%s)\n' "SIGN_PDF, POST to signed document, PKCS#12" "$s" "${server[*]}"
printf '%-50s %8.3f s   (%s)\n' "openssl cms -sign, same bytes and key" "$c" "${cms[*]}"
awk -v a="$s" -v b="$c" 'BEGIN { printf "%-50s %8.2f\n", "ratio", a / b }'
