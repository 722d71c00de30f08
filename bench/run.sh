#!/usr/bin/env bash
# Throughput of the server against nginx serving the same body with the same key type,
# size and cipher on another loopback port: keep-alive requests per second (wrk, 1 and 10
# connections), new TLS connections per second (openssl s_time -new), SERVER_VERSION through
# the controller, and the module round trip (POST hash/SHA256 -> 202, GET_RESULT -> 200).
# BENCH_BIN=dir runs an already built server from dir; BENCH_LOG_LEVEL=n its log level (2).
# PERF=1 also samples the server's CPU during one more SERVER_VERSION run (needs perf, as root).
set -euo pipefail
DURATION=${DURATION:-5}
source "$(dirname "$0")/common.sh"

bench_need nginx:nginx-light wrk:wrk openssl:openssl
bench_build vyr_module_hash
bench_workdir
bench_app
bench_start_server

# nginx with a key of the same type and size and the same cipher preference.
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/nginx.key" -out "$work/nginx.crt" -days 2 \
  -subj "/CN=127.0.0.1" -addext "subjectAltName=IP:127.0.0.1" 2>/dev/null
nginx_port=$(( vyr_port + 1000 ))
body='<h1>Veltrane Crypto Server v6.6.10.168 is running </h1>'
cat > "$work/nginx.conf" <<CONF
worker_processes 1;
pid $work/nginx.pid;
error_log $work/nginx-error.log;
events { worker_connections 256; }
http {
  access_log off;
  server {
    listen 127.0.0.1:$nginx_port ssl;
    ssl_certificate $work/nginx.crt;
    ssl_certificate_key $work/nginx.key;
    ssl_protocols TLSv1.2 TLSv1.3;
    ssl_ciphers ECDHE-RSA-AES256-GCM-SHA384:ECDHE-RSA-AES128-GCM-SHA256;
    location = /status { default_type text/html; return 200 '$body'; }
    location = /SERVER_VERSION { default_type text/plain; return 200 '6.6.10.168'; }
  }
}
CONF
nginx -c "$work/nginx.conf" -g 'daemon off;' &
pids+=($!)
sleep 0.5

rps() { "${runas[@]}" wrk -t1 -c"$1" -d"${DURATION}s" "${@:3}" "$2" 2>/dev/null | awk '/Requests\/sec/ {print $2}'; }
tls_new() { openssl s_time -connect "127.0.0.1:$1" -new -time "$DURATION" 2>/dev/null | awk '/connections in/ && /real/ {printf "%.1f", $1/$4; exit}'; }

printf '%-40s %12s %12s %8s\n' "measure" "server" "nginx" "ratio"
row() { printf '%-40s %12s %12s %8s\n' "$1" "$2" "$3" "$(ratio "$2" "$3")"; }
for c in 1 10; do
  a=$(rps "$c" "https://127.0.0.1:$vyr_port/status"); b=$(rps "$c" "https://127.0.0.1:$nginx_port/status")
  row "GET /status, $c conn (req/s)" "$a" "$b"
  a=$(rps "$c" "https://127.0.0.1:$vyr_port/SERVER_VERSION" -s bench/post.lua)
  b=$(rps "$c" "https://127.0.0.1:$nginx_port/SERVER_VERSION")
  row "POST /SERVER_VERSION, $c conn (req/s)" "$a" "$b"
done
row "new TLS connections (conn/s)" "$(tls_new "$vyr_port")" "$(tls_new "$nginx_port")"
trips=$("${runas[@]}" wrk -t1 -c1 -d"${DURATION}s" -s bench/roundtrip.lua "https://127.0.0.1:$vyr_port" 2>/dev/null |
  awk '/ROUNDTRIPS_PER_SEC/ {print $2}')
printf '%-40s %12s\n' "hash/SHA256 round trip, 1 conn (trips/s)" "$trips"

# Where the server's CPU goes on the SERVER_VERSION row: the top symbols, kernel and user side.
if [ -n "${PERF:-}" ] && command -v perf >/dev/null; then
  perf record -q -g -p "$server_pid" -o "$work/perf.data" -- sleep "$DURATION" 2>/dev/null &
  perf_pid=$!
  rps 10 "https://127.0.0.1:$vyr_port/SERVER_VERSION" -s bench/post.lua >/dev/null
  wait "$perf_pid" || true
  echo
  echo "server CPU on POST /SERVER_VERSION, 10 conn (perf, self time):"
  perf report -q -i "$work/perf.data" --no-children --sort sym --stdio 2>/dev/null |
    grep -E '^ +[0-9.]+%' | head -n 15
fi
