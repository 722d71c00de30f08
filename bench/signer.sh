#!/usr/bin/env bash
# Batch signing: SIGN of BATCH 32-byte digests with a PKCS#12 RSA-2048 key, the dialog's
# password typed and confirmed with xdotool under Xvfb, in signatures per second from the
# Return keystroke to the 200 answer; the median of ROUNDS rounds beside openssl's own
# single-process figure (`openssl speed rsa2048`, sign/s, by CPU time and by the clock) from
# the same run.
# PERF=1 also samples the server's CPU over the rounds (needs perf, as root).
set -euo pipefail
ROUNDS=${ROUNDS:-7}
BATCH=${BATCH:-100}
SPEED_SECONDS=${SPEED_SECONDS:-5}
password=bench-password
# shellcheck source=bench/common.sh
source "$(dirname "$0")/common.sh"

bench_need python3:python3
bench_build signer
bench_workdir
bench_app

Xvfb -displayfd 1 -nolisten tcp -ac -screen 0 800x600x24 >"$work/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 1 100); do [ -s "$work/display" ] && break; sleep 0.1; done
display=":$(head -n1 "$work/display")"

# The key's only store: the user's PKCS#12 directory; no tokens, no browser database.
certificates="$XDG_DATA_HOME/veltrane/certificates"
mkdir -p "$certificates" "$XDG_CONFIG_HOME/veltrane"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/signer.key" -out "$work/signer.pem" -days 2 \
  -subj "/CN=Bench Signer" -addext "keyUsage=critical,digitalSignature,nonRepudiation" 2>/dev/null
openssl pkcs12 -export -inkey "$work/signer.key" -in "$work/signer.pem" -certpbe NONE -passout "pass:$password" \
  -out "$certificates/bench.p12"
printf '[pkcs11]\nuseProxy=false\n[nss]\ndatabase=\n' >"$XDG_CONFIG_HOME/veltrane/signer.ini"
server_args=() # a GUI application: -console would leave the dialogs without one
bench_start_server DISPLAY="$display"

if [ -n "${PERF:-}" ] && command -v perf >/dev/null; then
  perf record -q -g -p "$server_pid" -o "$work/perf.data" 2>/dev/null &
  perf_pid=$!
fi
median=$("${runas[@]}" env DISPLAY="$display" /usr/bin/python3 bench/signer_client.py \
  "$vyr_port" "$password" "$ROUNDS" "$BATCH" | awk '/^MEDIAN/ {print $2}')
if [ -n "${perf_pid:-}" ]; then
  kill -INT "$perf_pid"
  wait "$perf_pid" || true
fi
# openssl speed divides by its CPU time unless told -elapsed; on a shared machine only the
# wall-clock figure is measured the way the rounds are.
speed() { openssl speed "$@" -seconds "$SPEED_SECONDS" rsa2048 2>/dev/null | awk '/^rsa 2048 bits/ {print $6}'; }
cpu_rate=$(speed)
wall_rate=$(speed -elapsed)

printf '%-44s %12s %12s %8s\n' "measure" "server" "openssl" "ratio"
row() { printf '%-44s %12s %12s %8s\n' "$1" "$median" "$2" "$(ratio "$median" "$2")"; }
row "SIGN, $BATCH digests, median of $ROUNDS (sig/s)" "$cpu_rate"
row "  the same beside openssl speed -elapsed" "$wall_rate"

if [ -n "${perf_pid:-}" ]; then
  echo
  # By library: libcrypto's own routines have no symbols to name them by.
  echo "server CPU over the rounds (perf, self time by library):"
  perf report -q -i "$work/perf.data" --no-children --sort dso --stdio 2>/dev/null |
    grep -E '^ +[0-9.]+%' | head -n 8
fi
