# shellcheck shell=bash
# The rows that need a server of their own or a load on the machine, sourced by run.sh after
# common.sh: the module round trip per trip, the identity lookup under extra processes and
# sockets, 10,000 live sessions, and mixed traffic with bad input. Each writes its data for the
# plot into $results and its figures into the variables run.sh prints.
loadgen() { "${runas[@]}" python3 bench/loadgen.py "$@"; }

# The server's own figures from /proc: resident KiB, threads, open files; the main thread's
# CPU time in clock ticks.
rss_kib() { awk '/^VmRSS:/ {print $2}' "/proc/$server_pid/status"; }
thread_count() { awk '/^Threads:/ {print $2}' "/proc/$server_pid/status"; }
open_files() { find "/proc/$server_pid/fd" -mindepth 1 -maxdepth 1 | wc -l; }
main_thread_ticks() { sed 's/^.*) //' "/proc/$server_pid/task/$server_pid/stat" | awk '{print $12 + $13}'; }

# log_lines_after offset pattern: the log's lines past line offset that match.
log_lines_after() { tail -n +"$(( $1 + 1 ))" "$server_log" 2>/dev/null | grep -F -- "$2" || true; }
log_length() { grep -c '' "$server_log" 2>/dev/null || echo 0; }

# wait_log offset pattern count seconds: until that many matching lines are written (the
# log is flushed periodically below warning level).
wait_log() {
  local deadline=$(( SECONDS + $4 ))
  while [ "$(log_lines_after "$1" "$2" | wc -l)" -lt "$3" ] && [ $SECONDS -lt $deadline ]; do sleep 0.2; done
}

# bench_profile label command...: the server's top symbols by self time while command runs.
bench_profile() {
  local label=$1
  shift
  [ -n "${PERF:-}" ] && command -v perf >/dev/null || { "$@"; return; }
  perf record -q -g -p "$server_pid" -o "$work/perf.data" 2>"$work/perf.log" &
  local perf_pid=$!
  sleep 0.5
  "$@"
  kill -INT "$perf_pid" 2>/dev/null || cat "$work/perf.log" >&2
  wait "$perf_pid" || true
  {
    echo
    echo "server CPU on $label (perf, self time):"
    perf report -q -i "$work/perf.data" --no-children --sort sym --stdio 2>/dev/null |
      grep -E '^ +[0-9.]+%' | head -n 12 || true
  } >>"$work/profiles.txt"
}

# trips sessions name: p50, p99 and trips/s; the percentiles into $results/trips-name.dat (the
# client runs as the bench account, so it writes into the work directory).
trips() {
  loadgen trips "$vyr_port" "$1" "$DURATION" "$work/trips.dat"
  cp "$work/trips.dat" "$results/trips-$2.dat"
}

# Round trips at 1 and 4 sessions; the same client's per-request floor against nginx.
trips_rows() {
  read -r trip1_p50 trip1_p99 _ < <(trips 1 1)
  read -r trip4_p50 trip4_p99 _ < <(trips 4 4)
  read -r floor1_p50 floor1_p99 < <(loadgen requests "$nginx_port" 1 "$DURATION" GET /status)
  read -r floor4_p50 floor4_p99 < <(loadgen requests "$nginx_port" 4 "$DURATION" GET /status)
}

# identity_step processes sockets: median and p99 of the server's own timing of the lookup
# over IDENTITY_CONNECTIONS new connections, with that load held by a process of the bench's.
identity_step() {
  local hog_pid=
  rm -f "$work/hog.ready"
  if [ "$1" -gt 0 ] || [ "$2" -gt 0 ]; then
    loadgen hog "$1" "$2" "$work/hog.ready" &
    hog_pid=$!
    pids+=("$hog_pid")
    for _ in $(seq 1 600); do [ -s "$work/hog.ready" ] && break; sleep 0.1; done
  fi
  local offset
  offset=$(log_length)
  loadgen connect "$vyr_port" "$IDENTITY_CONNECTIONS"
  wait_log "$offset" "Client identified in" "$IDENTITY_CONNECTIONS" 10
  read -r id_p50 id_p99 id_n < <(log_lines_after "$offset" "Client identified in" |
    sed 's/.*Client identified in \([0-9]*\) us.*/\1/' | python3 bench/loadgen.py stats)
  printf '%s %s %s %s %s\n' "$2" "$1" "$id_p50" "$id_p99" "$id_n" >>"$results/sockets.dat"
  rm -f "$work/hog.ready"
  [ -z "$hog_pid" ] || wait "$hog_pid" || true
}

# The lookup is timed by the server at debug level, so this row has a server of its own.
identity_rows() {
  bench_stop_server
  BENCH_LOG_LEVEL=1 bench_start_server
  echo "# sockets processes p50_us p99_us samples" >"$results/sockets.dat"
  identity_step 0 0
  id0_p50=$id_p50
  identity_step 300 2500
  identity_step 300 5000
  identity_step 300 10000
  idload_p50=$id_p50 idload_p99=$id_p99
  bench_stop_server
}

# session_step: one session's round trips and the server's RSS with $1 sessions live.
session_step() {
  local p50 p99
  read -r p50 p99 _ < <(trips 1 sessions)
  printf '%s %s %s %s\n' "$1" "$p50" "$p99" "$(rss_kib)" >>"$results/sessions.dat"
  step_p50=$p50
}

# SESSIONS sessions with SESSION_VARS values each, opened in four steps; they then expire together
# after SESSION_TIMEOUT_MS of silence, and the main thread's CPU over their teardown is counted.
sessions_rows() {
  # The row's own sessions and the probes' must fit under the cap on open sessions.
  sed -i -e "s/^interval=.*/interval=$SESSION_TIMEOUT_MS/" -e "s/^maxSessions=.*/maxSessions=$(( SESSIONS * 2 ))/" \
    "$app/VeltraneCryptoProvider.ini"
  bench_start_server
  local offset step live=0 ticks_before ticks_after rss0 started=$SECONDS
  offset=$(log_length)
  echo "# sessions trip_p50_ms trip_p99_ms rss_kib" >"$results/sessions.dat"
  session_step 0
  one_session_p50=$step_p50 rss0=$(rss_kib)
  for step in $(( SESSIONS / 4 )) $(( SESSIONS / 2 )) $(( SESSIONS * 3 / 4 )) "$SESSIONS"; do
    loadgen sessions "$vyr_port" $(( step - live )) "$SESSION_VARS" 4 >/dev/null
    live=$step
    session_step "$live"
  done
  many_sessions_p50=$step_p50
  rss_per_session=$(awk -v a="$(rss_kib)" -v b="$rss0" -v n="$live" 'BEGIN { printf "%.2f", (a - b) / n }')
  early=$(log_lines_after "$offset" "Timeout occured" | wc -l)
  ticks_before=$(main_thread_ticks)
  bench_profile "the teardown of $live expired sessions" \
    wait_log "$offset" "session destroyed" "$live" $(( SESSION_TIMEOUT_MS / 1000 + SECONDS - started + 60 ))
  ticks_after=$(main_thread_ticks)
  teardown_s=$(awk -v t=$(( ticks_after - ticks_before )) -v hz="$(getconf CLK_TCK)" 'BEGIN { printf "%.2f", t / hz }')
  torn_down=$(log_lines_after "$offset" "session destroyed" | wc -l)
  teardown_wall=$(log_lines_after "$offset" "session destroyed" | sed -n '1p;$p' | cut -c12-23 |
    awk -F'[:.]' '{ t = $1 * 3600 + $2 * 60 + $3 + $4 / 1000 } NR == 1 { a = t } END { printf "%.1f", t - a }')
  bench_stop_server
  sed -i "s/^interval=.*/interval=600000/" "$app/VeltraneCryptoProvider.ini"
}

# mixed_sample requests: one line of the server's resources after that many requests, once
# the last clients' connections are closed (open files unchanged for a second, at most 10 s):
# the figures compare quiet states, not how many handlers the last moment happened to hold.
mixed_sample() {
  local before after=-1 deadline=$(( SECONDS + 10 ))
  while [ $SECONDS -lt $deadline ]; do
    before=$after
    after=$(open_files)
    [ "$before" = "$after" ] && break
    sleep 1
  done
  printf '%s %s %s %s\n' "$1" "$(rss_kib)" "$(thread_count)" "$(open_files)" >>"$results/mixed.dat"
}

# MIXED_REQUESTS of mixed traffic in ten parts, the first one the warm-up; sampled after each.
mixed_rows() {
  bench_start_server
  local part=$(( MIXED_REQUESTS / 10 )) sent=0 answer
  echo "# requests rss_kib threads open_files" >"$results/mixed.dat"
  mixed_bad=0
  for _ in $(seq 1 10); do
    answer=$(loadgen mixed "$vyr_port" "$part" 4)
    sent=$(( sent + ${answer% *} )) mixed_bad=$(( mixed_bad + ${answer#* } ))
    mixed_sample "$sent"
  done
  mixed_sent=$sent
  read -r _ warm_rss warm_threads warm_files < <(sed -n 2p "$results/mixed.dat")
  read -r _ end_rss end_threads end_files < <(tail -n1 "$results/mixed.dat")
  alive=$(kill -0 "$server_pid" 2>/dev/null && echo yes || echo no)
  bench_stop_server
}

# within share a b: "met" when b is within share (0.1 = 10 %) of a.
within() { awk -v s="$1" -v a="$2" -v b="$3" 'BEGIN { d = (b - a) / a; if (d < 0) d = -d; print (a > 0 && d <= s) ? "met" : "NOT met" }'; }
at_most() { awk -v v="$1" -v g="$2" 'BEGIN { print (v != "" && v <= g) ? "met" : "NOT met" }'; }
at_least() { awk -v v="$1" -v g="$2" 'BEGIN { print (v != "n/a" && v >= g) ? "met" : "NOT met" }'; }
both() { [ "$1" = met ] && [ "$2" = met ] && echo met || echo "NOT met"; }
