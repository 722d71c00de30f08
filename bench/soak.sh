#!/usr/bin/env bash
# Soak run: mixed traffic (bench/soak_client.py) against one server on loopback for DURATION
# (seconds, or with an s/m/h suffix; default 10m, at most 24h), sampling the server's RSS,
# threads, open files and log size every SOAK_SAMPLE seconds (5). Writes the samples and an SVG
# plot into bench/results/ and ends with a verdict line: RSS, threads and open files count as
# flat when, after warm-up (the first fifth of the run), the median of the last quarter of the
# samples is within 10% of the first quarter's. Sessions time out after SOAK_SESSION_TIMEOUT_MS (20000), so abandoned ones are
# torn down within the run. BENCH_BIN=dir runs an already built server from dir.
set -euo pipefail
duration_text=${1:-10m}
source "$(dirname "$0")/common.sh"

case "$duration_text" in
  *h) duration=$(( ${duration_text%h} * 3600 )) ;;
  *m) duration=$(( ${duration_text%m} * 60 )) ;;
  *s) duration=${duration_text%s} ;;
  *) duration=$duration_text ;;
esac
if ! [[ "$duration" =~ ^[0-9]+$ ]] || [ "$duration" -lt 20 ] || [ "$duration" -gt 86400 ]; then
  echo "usage: bench/soak.sh [DURATION: 20s to 24h, default 10m]" >&2
  exit 2
fi
sample_every=${SOAK_SAMPLE:-5}

bench_need gnuplot:gnuplot-nox python3:python3
bench_build vyr_module_hash
bench_workdir
bench_app
# The shipped log size limit, which the other benchmarks raise: the soak checks that the logs stay bounded.
shipped_max_size=$(grep '^maxSize=' "${BENCH_BIN:-build/default/bin}/VeltraneCryptoProvider.ini")
sed -i -e "s/^interval=.*/interval=${SOAK_SESSION_TIMEOUT_MS:-20000}/" -e "s/^maxSize=.*/$shipped_max_size/" \
  "$app/VeltraneCryptoProvider.ini"
cp bench/soak_client.py "$work/"
bench_start_server
log_dir="$XDG_CONFIG_HOME/Veltrane/Logs/VeltraneCryptoProvider"

mkdir -p bench/results
data=bench/results/soak.dat
plot=bench/results/soak.svg
# The server's own figures from /proc: resident set (KiB), threads, open descriptors, and
# the bytes of its log files (rotated one included).
sample() {
  local rss threads fds logs
  rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$server_pid/status")
  threads=$(awk '/^Threads:/ {print $2}' "/proc/$server_pid/status")
  fds=$(find "/proc/$server_pid/fd" -mindepth 1 -maxdepth 1 | wc -l)
  logs=$(cat "$log_dir"/* 2>/dev/null | wc -c)
  echo "$1 $rss $threads $fds $logs"
}

"${runas[@]}" /usr/bin/python3 "$work/soak_client.py" "$vyr_port" "$duration" >"$work/counts" &
client_pid=$!
pids+=("$client_pid")
echo "# seconds rss_kib threads open_files log_bytes" >"$data"
start=$(date +%s)
while kill -0 "$client_pid" 2>/dev/null; do
  [ -d "/proc/$server_pid" ] || { echo "the server died during the soak run"; exit 1; }
  sample $(( $(date +%s) - start )) >>"$data"
  sleep "$sample_every"
done
wait "$client_pid"
sample $(( $(date +%s) - start )) >>"$data"

warmup=$(( duration / 5 ))
verdict=$(awk -v warmup="$warmup" '
  !/^#/ && $1 >= warmup { n++; for (c = 2; c <= 4; c++) v[c, n] = $c }
  function median(c, from, to,   k, i, j, t, a) {
    k = 0; for (i = from; i <= to; i++) a[++k] = v[c, i]
    for (i = 2; i <= k; i++) for (j = i; j > 1 && a[j - 1] > a[j]; j--) { t = a[j]; a[j] = a[j - 1]; a[j - 1] = t }
    return k % 2 ? a[(k + 1) / 2] : (a[k / 2] + a[k / 2 + 1]) / 2
  }
  END {
    if (n < 8) { print "not enough samples after warm-up"; exit }
    q = int(n / 4); split("rss_kib threads open_files", name)
    flat = 1; text = ""
    for (c = 2; c <= 4; c++) {
      first = median(c, 1, q); last = median(c, n - q + 1, n)
      change = first > 0 ? (last - first) / first * 100 : 0
      if (change > 10 || change < -10) flat = 0
      text = text sprintf(" %s %g->%g (%+.1f%%)", name[c - 1], first, last, change)
    }
    printf "%s after %ds warm-up, %d samples:%s\n", flat ? "FLAT within 10%" : "NOT FLAT", warmup, n, text
  }' "$data")

gnuplot <<PLOT
set terminal svg size 1000,700 dynamic background rgb "white"
set output "$plot"
set multiplot layout 2,2 title "Soak run, ${duration}s (warm-up ${warmup}s shaded)"
set xlabel "seconds"
set style rect fc rgb "#eeeeee" fs solid noborder
set object 1 rect from 0, graph 0 to $warmup, graph 1 behind
set key off
set yrange [0:*]
set title "RSS (MiB)"; plot "$data" using 1:(\$2/1024) with lines lw 2
set title "threads"; plot "$data" using 1:3 with lines lw 2
set title "open files"; plot "$data" using 1:4 with lines lw 2
set title "log files (KiB)"; plot "$data" using 1:(\$5/1024) with lines lw 2
unset multiplot
PLOT

echo "traffic:"; sed 's/^/  /' "$work/counts"
echo "samples: $data, plot: $plot"
echo "verdict: $verdict"
