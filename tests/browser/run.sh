#!/usr/bin/env bash
# Debian's Chromium, run by a fresh account that trusts the local authority (root makes it: root's
# clients count as the system account), calls that account's server from a page of another origin.
# Usage: run.sh <application dir of a build> <node_modules dir> <brevalo test module>
set -euo pipefail
[ "$(id -u)" -eq 0 ] || { echo "needs root to make a test account"; exit 77; }

built=$1 node_modules=$2 brevalo=$3
here=$(dirname "$(readlink -f "$0")")
account=vyrb$$
work=$(mktemp -d /tmp/vyr-browser.XXXXXX)
app=$work/app
log=$app/xdg/config/Veltrane/Logs/VeltraneCryptoProvider/VeltraneCryptoProvider.log
server_pid=

cleanup() {
  set +e
  [ -n "$server_pid" ] && { kill -KILL "$server_pid"; wait "$server_pid"; } 2>/dev/null
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

useradd -M -d "$work/home" -s /bin/sh "$account"
mkdir -p "$app"/xdg/{config,data,runtime} "$work"/{home/.pki/nssdb,tmp,driver}
cp -r "$built"/{VeltraneCryptoServer,VeltraneCryptoProvider.ini,dlls} "$app/"
cp "$brevalo" "$app/dlls/"
# A free port to configure; an account's server takes the first free one above it.
port=$(node -e 's = require("net").createServer().listen(0, "127.0.0.1", () => { console.log(s.address().port); s.close(); })')
sed -i "/^\[listener\]/,/^\[/ s/^port=.*/port=$port/" "$app/VeltraneCryptoProvider.ini"
"$built/vyr-certgen" --app-dir "$app" --ca-dir "$app/ca" >/dev/null
cp -r "$here/drive.mjs" "$here/page.html" "$node_modules" "$work/driver/" # readable by the account
chown -R "$account:" "$work"
chmod 700 "$app/xdg/runtime"

nssdb=sql:$work/home/.pki/nssdb
as_account certutil -N --empty-password -d "$nssdb"
as_account certutil -A -n "Veltrane Local Authority" -t "C,," -i "$app/certs/VYR-ca.pem" -d "$nssdb"

as_account "$app/VeltraneCryptoServer" -console >"$work/server.out" 2>&1 &
server_pid=$!
deadline=$((SECONDS + 30))
until listening=$(grep -om1 'Listening on port [0-9]*' "$log" 2>/dev/null); do
  kill -0 "$server_pid" 2>/dev/null || fail "server ended: $(cat "$work/server.out")"
  [ $SECONDS -lt $deadline ] || fail "server did not listen within 30 s"
  sleep 0.1
done

as_account timeout -k 5 150 node "$work/driver/drive.mjs" "${listening##* }" || fail "browser checks"
