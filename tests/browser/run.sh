#!/usr/bin/env bash
# Debian's Chromium, run by a fresh ordinary account that trusts the local authority, calls
# that account's server from a page of another loopback origin (drive.mjs has the checks).
# Root runs this: module commands need a client of the server's own account, and root's
# clients count as the system account.
# Usage: run.sh <application dir of a build> <node_modules dir> <brevalo test module>
set -euo pipefail
readonly SKIP=77
[ "$(id -u)" -eq 0 ] || { echo "needs root to make a test account"; exit $SKIP; }

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
  # Whatever a killed driver left behind (Chromium's helpers) runs as the account alone.
  for pid in $(pgrep -u "$account" 2>/dev/null); do kill -KILL "$pid" 2>/dev/null; done
  userdel -r -f "$account" >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL $*"
  [ -f "$log" ] && { echo "---- server log (last lines) ----"; tail -n 30 "$log"; }
  exit 1
}

as_account() {
  setpriv --reuid="$account" --regid="$account" --init-groups \
    env -i PATH=/usr/bin:/bin HOME="$work/home" TMPDIR="$work/tmp" XDG_CONFIG_HOME="$app/xdg/config" \
    XDG_DATA_HOME="$app/xdg/data" XDG_RUNTIME_DIR="$app/xdg/runtime" XDG_CACHE_HOME="$work/tmp" "$@"
}

useradd -M -d "$work/home" -s /bin/sh "$account"
mkdir -p "$app/xdg/config" "$app/xdg/data" "$app/xdg/runtime" "$work/home/.pki/nssdb" "$work/tmp" "$work/driver"
cp "$built/VeltraneCryptoServer" "$built/VeltraneCryptoProvider.ini" "$app/"
cp -r "$built/dlls" "$app/"
cp "$brevalo" "$app/dlls/"
# A free port to configure; an account's server takes the first free one above it.
port=$(node -e 's = require("net").createServer().listen(0, "127.0.0.1", () => { console.log(s.address().port); s.close(); })')
sed -i "/^\[listener\]/,/^\[/ s/^port=.*/port=$port/" "$app/VeltraneCryptoProvider.ini"
"$built/vyr-certgen" --app-dir "$app" --ca-dir "$app/ca" >/dev/null
# The driver needs its modules readable by the account, wherever the build tree lives.
cp -r "$here/drive.mjs" "$here/page.html" "$node_modules" "$work/driver/"
chown -R "$account:" "$work"
chmod 700 "$app/xdg/runtime"

as_account certutil -N --empty-password -d "sql:$work/home/.pki/nssdb"
as_account certutil -A -n "Veltrane Local Authority" -t "C,," -i "$app/certs/VYR-ca.pem" -d "sql:$work/home/.pki/nssdb"

as_account "$app/VeltraneCryptoServer" -console >"$work/server.out" 2>&1 &
server_pid=$!
deadline=$((SECONDS + 30))
until listening=$(grep -om1 'Listening on port [0-9]*' "$log" 2>/dev/null); do
  kill -0 "$server_pid" 2>/dev/null || fail "server ended: $(cat "$work/server.out")"
  [ $SECONDS -lt $deadline ] || fail "server did not listen within 30 s"
  sleep 0.1
done

as_account timeout -k 5 150 node "$work/driver/drive.mjs" "${listening##* }" || fail "browser checks"

# The server's side of the same two visits.
grep -q 'OPTIONS /hash/SHA256' "$log" || fail "no preflight for hash/SHA256 reached the server"
grep -q 'Origin not allowed due to CORS policy' "$log" || fail "brevalo's preflight was not refused"
if grep -q 'POST /brevalo/' "$log"; then fail "the browser sent brevalo's request despite the refusal"; fi
echo "ok   server log: both preflights answered, brevalo's request never sent"
