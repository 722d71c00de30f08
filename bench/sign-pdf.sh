#!/usr/bin/env bash
# Signing a 10 MB PDF through the server with a PKCS#12 key, its dialog confirmed through the X
# test extension as xdotool would (bench/sign_pdf_client.py, one keep-alive connection as a page would keep): the server's part
# (POST to the dialog mapped, plus Return keystroke to the signed document in hand) apart from
# the person's typing, and the whole round, beside `openssl cms -sign` over the same bytes with
# the same key after each round. RUNS=n rounds (default 5), medians. The CPU times (server over
# the whole round, openssl's) compare on a busy machine where the clock times do not.
# PERF=1 also samples the server's CPU over the rounds (needs perf, as root); PERF_KEEP=file
# keeps the samples for perf report.
set -euo pipefail
RUNS=${RUNS:-5}
# shellcheck source=bench/common.sh
source "$(dirname "$0")/common.sh"

bench_need Xvfb:xvfb xdotool:xdotool python3:python3 qpdf:qpdf pdfsig:poppler-utils openssl:openssl \
  nginx:nginx-light ss:iproute2
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
bench_settle_modules
# The wire's floor: nginx takes the same upload and serves a reply of the same size to the same
# client on one connection; what no server can undercut through this client.
mkdir -p "$work/wire"
chown "${BENCH_USER}" "$work/wire" 2>/dev/null || true
bench_start_nginx "$work/wire" "location = /upload { client_max_body_size 64m; return 200; }"

# PAGE=1: the same floor for a page in Chromium (needs chromium, node and playwright-core,
# which the browser tests install: build/ci/tests/browser/node unless PLAYWRIGHT_CORE says).
page_floor() {
  local playwright=${PLAYWRIGHT_CORE:-$PWD/build/ci/tests/browser/node/node_modules/playwright-core}
  echo '<!doctype html><title>floor</title>' > "$work/wire/page.html"
  "${runas[@]}" env HOME="$work" node bench/page_floor.mjs "$nginx_port" "$(stat -c %s "$doc/big.pdf")" "$RUNS" \
    "$playwright" | sort -n -k4 | awk -v n="$RUNS" -v c="$c" 'NR == int((n + 1) / 2) {
      printf "%-46s %8.3f s %7.2f   (upload %.3f, reply with JSON parsed %.3f, decoded %.3f)\n",
        "a page in Chromium: both, its floor", $4, $4 / c, $1, $2, $3 }'
}

if [ -n "${PERF:-}" ] && command -v perf >/dev/null; then
  perf record -q -g -p "$server_pid" -o "$work/perf.data" 2>/dev/null &
  perf_pid=$!
fi
"${runas[@]}" env DISPLAY="$DISPLAY" /usr/bin/python3 bench/sign_pdf_client.py "$vyr_port" benchpass "$RUNS" \
  "$doc/big.pdf" "$keys/cert.pem" "$keys/key.pem" "$work/signed.pdf" "$server_pid" "$nginx_port" "$work/wire" \
  > "$work/medians"
if [ -n "${perf_pid:-}" ]; then
  kill -INT "$perf_pid"
  wait "$perf_pid" || true
  [ -n "${PERF_KEEP:-}" ] && cp "$work/perf.data" "$PERF_KEEP"
fi
pdfsig "$work/signed.pdf" | grep -q 'Signature is Valid' || { echo "the signed document did not verify"; exit 1; }

median() { awk -v c="$1" '$1 == "MEDIAN" && $2 == c { print $3 }' "$work/medians"; }
rounds() { awk -v c="$1" '$1 == "MEDIAN" && $2 == c { $1 = $2 = $3 = ""; sub(/^ +/, ""); print }' "$work/medians"; }
c=$(median openssl)
printf 'document: %s bytes, %s rounds (median; the rounds in brackets)\n' "$(stat -c %s "$doc/big.pdf")" "$RUNS"
row() { printf '%-46s %8.3f s %7s   (%s)\n' "$1" "$(median "$2")" "$(ratio "$(median "$2")" "$c")" "$(rounds "$2")"; }
printf '%-46s %10s %7s\n' "" "" "x cms"
row "SIGN_PDF, POST to 202" post_202
row "SIGN_PDF, POST to dialog mapped" post_dialog
row "SIGN_PDF, Return to signed document" return_done
row "SIGN_PDF, server's part (the two above)" server
row "SIGN_PDF, POST to signed document (typing too)" total
row "openssl cms -sign, same bytes and key" openssl
row "nginx: the same upload" wire_up
row "nginx: then a reply as large" wire_down
row "nginx: both, the wire's floor for this client" wire
if [ -n "${PAGE:-}" ]; then
  page_floor
fi
c=$(median openssl_cpu)
row "CPU time: server over the whole round" server_cpu
row "CPU time: openssl cms -sign" openssl_cpu

if [ -n "${perf_pid:-}" ]; then
  echo
  echo "server CPU over the rounds (perf, self time by library, then by symbol):"
  perf report -q -i "$work/perf.data" --no-children --sort dso --stdio 2>/dev/null |
    grep -E '^ +[0-9.]+%' | head -n 8
  perf report -q -i "$work/perf.data" --no-children --sort dso,sym --stdio 2>/dev/null |
    grep -E '^ +[0-9.]+%' | head -n 15
fi
