#!/usr/bin/env bash
# The module round trip (POST hash/SHA256 -> 202, GET_RESULT -> 200) with one live session and
# again with SESSIONS more (default 10,000), each opened on the hash module with a few values;
# the resident memory those sessions cost; and the main thread's CPU time for letting all of
# them time out. BENCH_BIN=dir runs an already built server from dir. PERF=1 also samples the
# server's CPU during the round trip with the sessions live and during their teardown.
set -euo pipefail
DURATION=${DURATION:-5}
SESSIONS=${SESSIONS:-10000}
TIMEOUT_MS=${TIMEOUT_MS:-180000}
source "$(dirname "$0")/common.sh"

bench_need wrk:wrk python3:python3
bench_build vyr_module_hash
bench_workdir
bench_app
sed -i "s/^interval=.*/interval=$TIMEOUT_MS/; s/^maxSessions=.*/maxSessions=$(( SESSIONS + 100 ))/" \
  "$app/VeltraneCryptoProvider.ini"
bench_start_server

rss_kib() { awk '/^VmRSS:/ {print $2}' "/proc/$server_pid/status"; }
# User and system clock ticks of the main thread, whose id is the process's.
main_ticks() { awk '{sub(/.*\) /, ""); print $12 + $13}' "/proc/$server_pid/task/$server_pid/stat"; }
process_ticks() { awk '{sub(/.*\) /, ""); print $12 + $13}' "/proc/$server_pid/stat"; }
tick_ms=$(( 1000 / $(getconf CLK_TCK) ))
# Round trips per second and, steadier on a shared machine, the server's CPU time per trip.
trips() {
  local before after out
  before=$(process_ticks)
  out=$("${runas[@]}" wrk -t1 -c1 -d"${DURATION}s" --latency -s bench/roundtrip.lua "https://127.0.0.1:$vyr_port" 2>/dev/null)
  after=$(process_ticks)
  awk -v ticks=$(( after - before )) -v tick_ms="$tick_ms" -v secs="$DURATION" '
    /ROUNDTRIPS_PER_SEC/ {t=$2} / 50%/ {p50=$2} / 99%/ {p99=$2}
    END {printf "%s trips/s, server CPU %.2f ms per trip (request p50 %s, p99 %s)", t, ticks * tick_ms / (t * secs), p50, p99}' <<<"$out"
}
sample() { # sample NAME SECONDS: perf of the server's CPU, top symbols
  [ -n "${PERF:-}" ] || return 0
  perf record -q -g -p "$server_pid" -o "$work/$1.perf" -- sleep "$2" 2>"$work/$1.perf.log" || cat "$work/$1.perf.log"
  echo "server CPU, $1 (perf, self time):"
  perf report -q -i "$work/$1.perf" --no-children --sort sym --stdio 2>/dev/null | grep -E '^ +[0-9.]+%' | head -n 12 || true
}

echo "round trip, 1 session:       $(trips)"
rss_before=$(rss_kib)
read -r opened seconds < <("${runas[@]}" python3 bench/sessions_client.py "$vyr_port" "$SESSIONS" 3)
rss_after=$(rss_kib)
echo "opened $opened sessions with 3 values each in ${seconds}s"
echo "RSS per session:             $(( (rss_after - rss_before) * 1024 / opened )) bytes ($rss_before -> $rss_after KiB)"
sample roundtrip "$DURATION" & sampler=$!
echo "round trip, $opened sessions: $(trips)"
wait "$sampler"

# Every session falls silent now; their timers run out within the next interval, which
# ends with the last of them. Ten idle seconds just before are the baseline.
idle_before=$(main_ticks); sleep 10; idle=$(( ($(main_ticks) - idle_before) * tick_ms ))
ticks_before=$(main_ticks)
if [ -n "${PERF:-}" ]; then sample teardown $(( TIMEOUT_MS / 1000 )); else sleep $(( TIMEOUT_MS / 1000 )); fi
previous=-1
while [ "$(main_ticks)" != "$previous" ]; do previous=$(main_ticks); sleep 2; done
echo "teardown of $opened sessions: $(( ($(main_ticks) - ticks_before) * tick_ms )) ms of main-thread CPU (idle main thread: $idle ms per 10 s)"
echo "RSS after teardown:          $(rss_kib) KiB"
