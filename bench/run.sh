#!/usr/bin/env bash
# Every row of the performance goals, the server beside nginx where nginx has an answer:
# keep-alive requests per second (wrk, 1 and 10 connections) for /status and SERVER_VERSION,
# new TLS connections per second (openssl s_time -new), the hash/SHA256 module round trip
# (POST -> 202, GET_RESULT until 200) per trip at 1 and 4 sessions, the identity lookup with
# 300 extra processes and 10,000 loopback sockets against none, 10,000 live sessions, and
# mixed traffic with malformed requests and vanishing clients. Prints the table with each
# goal's verdict and writes it, the plot (gnuplot, SVG) and the plot's data into bench/results/.
# BENCH_BIN=dir runs an already built server from dir; BENCH_LOG_LEVEL=n its log level (2).
# PERF=1 also samples the server's CPU on the rows that have a goal of their own (needs perf,
# as root); the profiles follow the table.
# shellcheck disable=SC2119 # bench_start_server's arguments are the server's environment
set -euo pipefail
DURATION=${DURATION:-5}
IDENTITY_CONNECTIONS=${IDENTITY_CONNECTIONS:-300}
SESSIONS=${SESSIONS:-10000}
SESSION_VARS=${SESSION_VARS:-3}
SESSION_TIMEOUT_MS=${SESSION_TIMEOUT_MS:-120000}
MIXED_REQUESTS=${MIXED_REQUESTS:-100000}
# shellcheck source=bench/common.sh
source "$(dirname "$0")/common.sh"
# shellcheck source=bench/scale.sh
source bench/scale.sh
results=bench/results
mkdir -p "$results"

bench_need nginx:nginx-light wrk:wrk openssl:openssl python3:python3 gnuplot:gnuplot-nox ss:iproute2
bench_build vyr_module_hash
bench_workdir
bench_app
bench_start_server

body='<h1>Veltrane Crypto Server v6.6.10.168 is running </h1>'
bench_start_nginx "$work" "location = /status { default_type text/html; return 200 '$body'; }" \
  "location = /SERVER_VERSION { default_type text/plain; return 200 '6.6.10.168'; }"

rps() { "${runas[@]}" wrk -t1 -c"$1" -d"${DURATION}s" "${@:3}" "$2" 2>/dev/null | awk '/Requests\/sec/ {print $2}'; }
tls_new() { openssl s_time -connect "127.0.0.1:$1" -new -time "$DURATION" 2>/dev/null | awk '/connections in/ && /real/ {printf "%.1f", $1/$4; exit}'; }

printf 'machine: %s, %s cores, kernel %s; load average at start %s\n' \
  "$(awk -F': ' '/^model name/ {print $2; exit}' /proc/cpuinfo)" "$(nproc)" "$(uname -r)" \
  "$(cut -d' ' -f1-3 /proc/loadavg)" | tee "$results/summary.txt"

for c in 1 10; do
  status_vyr[c]=$(rps "$c" "https://127.0.0.1:$vyr_port/status")
  status_nginx[c]=$(rps "$c" "https://127.0.0.1:$nginx_port/status")
  version_vyr[c]=$(rps "$c" "https://127.0.0.1:$vyr_port/SERVER_VERSION" -s bench/post.lua)
  version_nginx[c]=$(rps "$c" "https://127.0.0.1:$nginx_port/SERVER_VERSION")
done
tls_vyr=$(tls_new "$vyr_port") tls_nginx=$(tls_new "$nginx_port")
trips_rows
# The profiles come from runs of their own, so that sampling does not slow the figures above.
bench_profile "POST /SERVER_VERSION, 10 conn" rps 10 "https://127.0.0.1:$vyr_port/SERVER_VERSION" -s bench/post.lua >/dev/null
bench_profile "the hash round trip, 4 sessions" loadgen trips "$vyr_port" 4 "$DURATION" "$work/trips.dat" >/dev/null
identity_rows
sessions_rows
mixed_rows
printf 'load average at end %s\n' "$(cut -d' ' -f1-3 /proc/loadavg)" | tee -a "$results/summary.txt"

row() { printf '| %s | %s | %s | %s | %s | %s |\n' "$@" | tee -a "$results/summary.txt"; }
row measure server nginx ratio goal verdict
row --- ---: ---: ---: --- ---
for c in 1 10; do
  r=$(ratio "${status_vyr[c]}" "${status_nginx[c]}")
  row "GET /status, $c conn (req/s)" "${status_vyr[c]}" "${status_nginx[c]}" "$r" "≥ 0.5" "$(at_least "$r" 0.5)"
  r=$(ratio "${version_vyr[c]}" "${version_nginx[c]}")
  row "POST /SERVER_VERSION, $c conn (req/s)" "${version_vyr[c]}" "${version_nginx[c]}" "$r" "≥ 0.3" \
    "$(at_least "$r" 0.3)"
done
r=$(ratio "$tls_vyr" "$tls_nginx")
row "new TLS connections (conn/s)" "$tls_vyr" "$tls_nginx" "$r" "≥ 0.5 (0.7)" "$(at_least "$r" 0.5)"
for s in 1 4; do
  p50=trip${s}_p50 p99=trip${s}_p99 f50=floor${s}_p50 f99=floor${s}_p99
  row "hash round trip, $s session(s), p50 / p99 per trip (ms)" "${!p50} / ${!p99}" \
    "${!f50} / ${!f99} per request" "—" "≤ 1 / ≤ 5" "$(both "$(at_most "${!p50}" 1)" "$(at_most "${!p99}" 5)")"
done
row "identity, 300 processes + 10,000 sockets, p50 / p99 (µs)" "$idload_p50 / $idload_p99" "—" \
  "$(ratio "$idload_p50" "$id0_p50") of $id0_p50 with none" "≤ 50, within 20 %" \
  "$(both "$(at_most "$idload_p50" 50)" "$(within 0.2 "$id0_p50" "$idload_p50")")"
row "round trip p50, $SESSIONS sessions vs one (ms)" "$many_sessions_p50" "—" \
  "$(ratio "$many_sessions_p50" "$one_session_p50") of $one_session_p50" "within 20 %" \
  "$(within 0.2 "$one_session_p50" "$many_sessions_p50")"
row "teardown of $torn_down sessions, main-thread CPU (s)" "$teardown_s" "—" \
  "over ${teardown_wall} s; $early expired early" "< 1" "$(at_most "$teardown_s" 0.99)"
row "RSS per session, $SESSION_VARS values each (KiB)" "$rss_per_session" "—" "—" "reported" "—"
row "mixed, $mixed_sent requests ($mixed_bad bad or vanished): RSS KiB" "$warm_rss → $end_rss" "—" \
  "$(ratio "$end_rss" "$warm_rss")" "within 10 %" "$(within 0.1 "$warm_rss" "$end_rss")"
row "mixed: threads" "$warm_threads → $end_threads" "—" "$(ratio "$end_threads" "$warm_threads")" \
  "within 10 %" "$(within 0.1 "$warm_threads" "$end_threads")"
row "mixed: open files" "$warm_files → $end_files" "—" "$(ratio "$end_files" "$warm_files")" \
  "within 10 %" "$(within 0.1 "$warm_files" "$end_files")"
row "mixed: server alive at the end" "$alive" "—" "—" "yes" "$([ "$alive" = yes ] && echo met || echo "NOT met")"
[ -s "$work/profiles.txt" ] && tee -a "$results/summary.txt" <"$work/profiles.txt"
gnuplot -e "dir='$results'" bench/plot.gp >"$results/bench.svg"
echo "plot: $results/bench.svg"
