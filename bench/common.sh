# shellcheck shell=bash
# The set-up the benchmarks share, sourced by them (not run): the tools they need, the build,
# a temporary work directory, the bench account, the server's application directory with its
# certificates, and a started server whose port is in $vyr_port.
cd "$(dirname "${BASH_SOURCE[0]}")/.." || exit 1
BENCH_USER=${BENCH_USER:-vyrbench}

# bench_need command:package...: installs the packages of the commands that are missing.
bench_need() {
  local need=() pair
  for pair in "$@"; do command -v "${pair%%:*}" >/dev/null || need+=("${pair#*:}"); done
  [ ${#need[@]} -eq 0 ] && return
  local sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
}

# bench_build module-target...: the server, the certificate tool and those modules only.
bench_build() {
  [ -n "${BENCH_BIN:-}" ] && return
  make --no-print-directory deps configure PRESET=default >/dev/null
  cmake --build --preset default -j"$(nproc)" --target VeltraneCryptoServer vyr-certgen "$@" >/dev/null
}

# $work, removed at exit with every process in pids.
bench_workdir() {
  work=$(mktemp -d /tmp/vyr-bench.XXXXXX)
  chmod 755 "$work"
  pids=()
  # shellcheck disable=SC2154 # pid is the loop variable of the trap text
  trap 'for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done; rm -rf "$work"' EXIT
}

# The server's own application directory, run by an ordinary account: a root client would
# count as the system account and could not run module commands. runas prefixes the commands
# that must run as that account.
bench_app() {
  runas=()
  if [ "$(id -u)" -eq 0 ]; then
    id "$BENCH_USER" >/dev/null 2>&1 || useradd -M -s /usr/sbin/nologin "$BENCH_USER"
    runas=(runuser -u "$BENCH_USER" --)
  fi
  app="$work/app"
  mkdir -p "$app"
  local bin=${BENCH_BIN:-build/default/bin}
  cp -r "$bin/VeltraneCryptoServer" "$bin/VeltraneCryptoProvider.ini" "$bin/dlls" "$app/"
  local port=$(( 20000 + RANDOM % 20000 ))
  sed -i "s/^port=.*/port=$port/; s/^maxSize=.*/maxSize=1073741824/; s/^maxThreads=.*/maxThreads=16/; s/^interval=.*/interval=600000/" \
    "$app/VeltraneCryptoProvider.ini"
  "$bin/vyr-certgen" --app-dir "$app" --ca-dir "$work/ca" >/dev/null
  export XDG_CONFIG_HOME="$work/xdg/config" XDG_DATA_HOME="$work/xdg/data"
  mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME"
}

# bench_start_server [NAME=value...]: the server as the bench account, with those variables
# added to its environment and the arguments in server_args, at log level BENCH_LOG_LEVEL (the
# shipped 2 unless set); sets vyr_port, server_pid and server_log. The port is read from the
# kernel's listening sockets, so it does not depend on what the log level lets through.
server_args=(-console)
bench_start_server() {
  sed -i "s/^logLevel=.*/logLevel=${BENCH_LOG_LEVEL:-2}/" "$app/VeltraneCryptoProvider.ini"
  [ ${#runas[@]} -gt 0 ] && chown -R "$BENCH_USER" "$work"
  "${runas[@]}" env XDG_CONFIG_HOME="$XDG_CONFIG_HOME" XDG_DATA_HOME="$XDG_DATA_HOME" "$@" \
    "$app/VeltraneCryptoServer" "${server_args[@]}" >/dev/null 2>&1 &
  server_runner=$!
  pids+=("$server_runner")
  server_log="$XDG_CONFIG_HOME/Veltrane/Logs/VeltraneCryptoProvider/VeltraneCryptoProvider.log"
  vyr_port='' server_pid=''
  for _ in $(seq 1 300); do
    server_pid=${server_pid:-$(pgrep -f -- "^$app/VeltraneCryptoServer" | head -n1 || true)}
    [ -n "$server_pid" ] && vyr_port=$(ss -Hltnp 2>/dev/null |
      awk -v owner="pid=$server_pid," 'index($0, owner) { sub(/.*:/, "", $4); print $4; exit }')
    [ -n "$vyr_port" ] && break
    sleep 0.1
  done
  [ -n "$vyr_port" ] || { echo "server did not start; its log ends:"; tail -n 5 "$server_log"; exit 1; }
  pids+=("$server_pid")
}

# Waits until the copied modules' change times lie further back than the server's module
# verification cache trusts (2 s): an installed module is old, and a young one is verified
# again on every request that names it, which no user would see.
bench_settle_modules() {
  local newest
  for _ in $(seq 1 50); do
    newest=$(stat -c %Z "$app"/dlls/*.so | sort -n | tail -n1)
    [ $(( $(date +%s) - newest )) -ge 3 ] && return
    sleep 0.1
  done
}

# bench_start_nginx root location...: nginx beside the server, on nginx_port, serving files from
# root and answering the given location blocks, with a key of the same type and size and the
# same cipher preference as the server's.
bench_start_nginx() {
  local root=$1 locations
  shift
  printf -v locations '    %s\n' "$@"
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/nginx.key" -out "$work/nginx.crt" -days 2 \
    -subj "/CN=127.0.0.1" -addext "subjectAltName=IP:127.0.0.1" 2>/dev/null
  nginx_port=$(( vyr_port + 1000 ))
  cat > "$work/nginx.conf" <<CONF
worker_processes 1;
pid $work/nginx.pid;
error_log $work/nginx-error.log;
events { worker_connections 256; }
http {
  access_log off;
  keepalive_requests 1000000;
  client_body_temp_path $work/nginx-body;
  server {
    listen 127.0.0.1:$nginx_port ssl;
    ssl_certificate $work/nginx.crt;
    ssl_certificate_key $work/nginx.key;
    ssl_protocols TLSv1.2 TLSv1.3;
    ssl_ciphers ECDHE-RSA-AES256-GCM-SHA384:ECDHE-RSA-AES128-GCM-SHA256;
    root $root;
$locations  }
}
CONF
  nginx -c "$work/nginx.conf" -g 'daemon off;' &
  pids+=($!)
  for _ in $(seq 1 50); do
    ss -Hltn "sport = :$nginx_port" | grep -q . && return
    sleep 0.1
  done
  echo "nginx did not start"; exit 1
}

# Ends the running server and waits until it is gone, so the next one may start.
bench_stop_server() {
  kill "$server_pid" 2>/dev/null || true
  wait "$server_runner" 2>/dev/null || true
  for _ in $(seq 1 100); do kill -0 "$server_pid" 2>/dev/null || return 0; sleep 0.1; done
  kill -9 "$server_pid" 2>/dev/null || true
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
