#!/usr/bin/env bash
# run-fuzzer.sh BINARY SEED_DIR WORK_DIR SECONDS [libFuzzer options...]
# Runs one fuzz target for SECONDS over its seeds plus what earlier runs found (WORK_DIR,
# where new inputs and any crash go). Exits non-zero on a crash, a sanitizer report or a
# failed check, after printing the end of its log.
set -uo pipefail
binary=$1 seeds=$2 work=$3 seconds=$4
shift 4
mkdir -p "$work/corpus" "$work/artifacts"
# One input may not take long or much memory: a slow parse is a finding too.
"$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$work/artifacts/" "$@" "$work/corpus" "$seeds" >"$work/last-run.log" 2>&1
status=$?
grep -E '^(#[0-9]+ +DONE|Done [0-9]+ runs|stat::number_of_executed_units|==[0-9]+==ERROR|fuzz check failed|SUMMARY)' \
  "$work/last-run.log" || true
if [ "$status" -ne 0 ]; then
  echo "$(basename "$binary") failed (exit $status); log: $work/last-run.log" >&2
  tail -n 60 "$work/last-run.log" >&2
  echo "reproduce: $binary $work/artifacts/<crash-file>" >&2
fi
exit "$status"
