#!/bin/sh
# Flips the lowest bit of the byte in the middle of a file, in place. Builds the tampered
# test module: its signature stays, the bytes it covers change.
set -eu
file="$1"
size=$(stat -c %s "$file")
offset=$((size / 2))
byte=$(od -An -tu1 -j "$offset" -N1 "$file" | tr -d ' ')
printf "$(printf '\\%03o' $((byte ^ 1)))" | dd of="$file" bs=1 seek="$offset" conv=notrunc status=none
