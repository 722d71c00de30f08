#!/usr/bin/env bash
# Launcher of every GoogleTest executable under CTest, for the listing at discovery and for
# each case. A case passes only when the executable exits 0 after GoogleTest's closing line
# for exactly one test (or one skipped test): a stray exit(0), a handler that swallows a crash
# or a filter that matches nothing would otherwise pass on the exit code alone. CTest's
# PASS_REGULAR_EXPRESSION cannot do this, since it ignores the exit code, and with it a
# sanitizer's report at exit.
# Usage: run-gtest-case.sh <application dir> <source dir> <test executable> <arguments...>
set -uo pipefail
export QT_QPA_PLATFORM=offscreen VYR_APP_DIR=$1 VYR_SOURCE_DIR=$2
shift 2

case " $* " in
*" --gtest_list_tests "*) exec "$@" ;;
esac

output=$(mktemp /tmp/vyr-gtest-case.XXXXXX) || exit 1
trap 'rm -f "$output"' EXIT
"$@" 2>&1 | tee "$output"
status=${PIPESTATUS[0]}
[ "$status" -eq 0 ] || exit "$status"
if ! grep -q -E '^\[  (PASSED  |SKIPPED )\] 1 test[.,]' "$output"; then
  echo "run-gtest-case: exit code 0 without a finished test: the executable left early" >&2
  exit 1
fi
