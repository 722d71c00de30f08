#!/usr/bin/env bash
# Debian's Chromium, run by a fresh account, calls that account's server from a page of another
# origin. Usage: run.sh <application dir of a build> <node_modules dir> <brevalo test module>
set -euo pipefail
built=$1 node_modules=$2 brevalo=$3
here=$(dirname "$(readlink -f "$0")")
# shellcheck source=tests/browser/account.sh
source "$here/account.sh"

make_app
cp "$brevalo" "$app/dlls/"
cp -r "$here/drive.mjs" "$here/chromium.mjs" "$here/page.html" "$node_modules" "$work/driver/" # readable by the account
trust_authority
start_server "$log" as_account "$app/VeltraneCryptoServer" -console
as_account timeout -k 5 150 node "$work/driver/drive.mjs" "$listening" || fail "browser checks"
