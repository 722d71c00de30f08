# Shared by the benchmark scripts (sourced from the repository root): a work folder removed at
# exit with every process listed in pids, and the server in an application directory of its own,
# run by an ordinary account (a root client would count as the system account and could not run
# module commands). Set BIN for another build's binaries.
BENCH_USER=${BENCH_USER:-vyrbench}
BIN=${BIN:-build/default/bin}

work=$(mktemp -d /tmp/vyr-bench.XXXXXX)
chmod 755 "$work"
pids=()
cleanup() { for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done; rm -rf "$work"; }
trap cleanup EXIT

runas=()
if [ "$(id -u)" -eq 0 ]; then
  id "$BENCH_USER" >/dev/null 2>&1 || useradd -M -s /usr/sbin/nologin "$BENCH_USER"
  runas=(runuser -u "$BENCH_USER" --)
fi
app="$work/app"
mkdir -p "$app"
cp -r "$BIN/VeltraneCryptoServer" "$BIN/VeltraneCryptoProvider.ini" "$BIN/dlls" "$app/"
port=$(( 20000 + RANDOM % 20000 ))
sed -i "s/^port=.*/port=$port/; s/^logLevel=.*/logLevel=4/; s/^maxThreads=.*/maxThreads=16/; s/^interval=.*/interval=600000/" \
  "$app/VeltraneCryptoProvider.ini"
"$BIN/vyr-certgen" --app-dir "$app" --ca-dir "$work/ca" >/dev/null
export XDG_CONFIG_HOME="$work/xdg/config" XDG_DATA_HOME="$work/xdg/data"
log="$XDG_CONFIG_HOME/Veltrane/Logs/VeltraneCryptoProvider/VeltraneCryptoProvider.log"

# Starts the server with the given arguments (-console: no windows), with DISPLAY when set, and
# sets vyr_port once it listens.
vyr_start_server() {
  [ ${#runas[@]} -gt 0 ] && chown -R "$BENCH_USER" "$work"
  "${runas[@]}" env XDG_CONFIG_HOME="$XDG_CONFIG_HOME" XDG_DATA_HOME="$XDG_DATA_HOME" DISPLAY="${DISPLAY:-}" \
    TMPDIR="${SERVER_TMPDIR:-/tmp}" "$app/VeltraneCryptoServer" "$@" >/dev/null 2>&1 &
  pids+=($!)
  sed -i "s/^logLevel=.*/logLevel=2/" "$app/VeltraneCryptoProvider.ini"
  for _ in $(seq 1 100); do
    vyr_port=$(grep -o 'Listening on port [0-9]*' "$log" 2>/dev/null | grep -o '[0-9]*$' || true)
    [ -n "$vyr_port" ] && break
    sleep 0.1
  done
  [ -n "${vyr_port:-}" ] || { echo "server did not start"; exit 1; }
}
