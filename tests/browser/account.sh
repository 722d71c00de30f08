# shellcheck shell=bash disable=SC2154
# Shared by the browser tests, sourced with $built set to the application directory of a build:
# a fresh account that trusts the local authority (root makes it: root's clients count as the
# system account), an application directory of its own, and servers waited for with deadlines.
[ "$(id -u)" -eq 0 ] || { echo "needs root to make a test account"; exit 77; }

account=vyrb$$
work=$(mktemp -d /tmp/vyr-browser.XXXXXX)
app=$work/app
log=$app/xdg/config/Veltrane/Logs/VeltraneCryptoProvider/VeltraneCryptoProvider.log
pids=()

cleanup() {
  set +e
  for pid in "${pids[@]}"; do { kill -KILL "$pid"; wait "$pid"; } 2>/dev/null; done
  for pid in $(pgrep -u "$account" 2>/dev/null); do kill -KILL "$pid" 2>/dev/null; done # Chromium's helpers
  userdel -r -f "$account" >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAIL $*"; tail -n 30 "$log" 2>/dev/null; exit 1; }

as_account() {
  setpriv --reuid="$account" --regid="$account" --init-groups \
    env -i PATH=/usr/bin:/bin HOME="$work/home" TMPDIR="$work/tmp" XDG_CONFIG_HOME="$app/xdg/config" \
    XDG_DATA_HOME="$app/xdg/data" XDG_RUNTIME_DIR="$app/xdg/runtime" XDG_CACHE_HOME="$work/tmp" "$@"
}

# Polls until the command succeeds: wait_for <seconds> <what failed> <command>...
wait_for() {
  local deadline=$((SECONDS + $1)) what=$2
  shift 2
  until "$@"; do
    [ $SECONDS -lt $deadline ] || fail "$what"
    sleep 0.1
  done
}

# The account, and the built server in its application directory on a free port of its own.
make_app() {
  useradd -M -d "$work/home" -s /bin/sh "$account"
  mkdir -p "$app"/xdg/{config,data,runtime} "$work"/{home/.pki/nssdb,tmp,driver}
  cp -r "$built"/{VeltraneCryptoServer,VeltraneCryptoProvider.ini,dlls} "$app/"
  # A free port to configure; an account's server takes the first free one above it.
  port=$(node -e 's = require("net").createServer().listen(0, "127.0.0.1", () => { console.log(s.address().port); s.close(); })')
  sed -i "/^\[listener\]/,/^\[/ s/^port=.*/port=$port/" "$app/VeltraneCryptoProvider.ini"
  "$built/vyr-certgen" --app-dir "$app" --ca-dir "$app/ca" >/dev/null
}

# Hands the work folder to the account, whose browser then trusts the local authority.
trust_authority() {
  chown "$account:" "$work"
  chown -R "$account:" "$app" "$work"/{home,tmp,driver}
  chmod 700 "$app/xdg/runtime"
  local nssdb=sql:$work/home/.pki/nssdb
  as_account certutil -N --empty-password -d "$nssdb"
  as_account certutil -A -n "Veltrane Local Authority" -t "C,," -i "$app/certs/VYR-ca.pem" -d "$nssdb"
}

listens() {
  kill -0 "$2" 2>/dev/null || fail "server ended: $(cat "$work/server.out")"
  listening=$(grep -om1 'Listening on port [0-9]*' "$1" 2>/dev/null)
}

# Starts a server in the background and sets $listening to its port: start_server <log> <command>...
start_server() {
  local server_log=$1
  shift
  "$@" >>"$work/server.out" 2>&1 &
  pids+=($!)
  wait_for 30 "server did not listen within 30 s" listens "$server_log" "$!"
  listening=${listening##* }
}
