#!/usr/bin/env bash
# The demo page in Debian's Chromium, served on http://localhost:8600 with the built client, used
# as a person would: root's dispatcher names the account's server, which lists a SoftHSM2 token's
# certificate and signs a PDF made here once its dialogs are answered with xdotool under Xvfb;
# pdfsig judges the download.
# Usage: demo.sh <application dir> <node_modules dir> <client dist dir> <softhsm2 library> <output dir>
set -euo pipefail
built=$1 node_modules=$2 client=$3 softhsm=$4 out=$5
here=$(dirname "$(readlink -f "$0")")
# shellcheck source=tests/browser/account.sh
source "$here/account.sh"

make_app
cp -r "$app" "$work/dispatcher"
export SOFTHSM2_CONF=$app/softhsm2.conf
mkdir "$app/tokens"
printf 'directories.tokendir = %s\nlog.level = ERROR\n' "$app/tokens" >"$SOFTHSM2_CONF"
softhsm2-util --init-token --free --label 'Test Token' --pin 1234 --so-pin 5678 >/dev/null
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -outform DER -out "$work/cert.der" -days 30 \
  -subj "/CN=Demo Signer" -addext keyUsage=critical,digitalSignature,nonRepudiation 2>/dev/null
for object in privkey:key.pem cert:cert.der; do
  pkcs11-tool --module "$softhsm" --login --pin 1234 --write-object "$work/${object#*:}" --type "${object%%:*}" --id 01 >/dev/null 2>&1
done
cp "$softhsm" "$app/dlls/token.so"
printf '[origins]\nallowed=http://localhost:8600\n[pkcs11]\nuseProxy=false\nlibraries=%s\n[nss]\ndatabase=\n' \
  "$app/dlls/token.so" >"$app/dlls/signer.ini"

printf '%%PDF-1.4\n1 0 obj<</Type/Catalog/Pages 2 0 R>>endobj\n2 0 obj<</Type/Pages/Kids[3 0 R]/Count 1>>endobj
3 0 obj<</Type/Page/Parent 2 0 R/MediaBox[0 0 595 842]>>endobj\ntrailer<</Size 4/Root 1 0 R>>\n%%%%EOF\n' >"$work/raw.pdf"
qpdf --warning-exit-0 "$work/raw.pdf" "$work/driver/document.pdf" 2>/dev/null # adds the missing cross-references
cp -r "$here/demo.mjs" "$here/chromium.mjs" "$node_modules" "$work/driver/"
trust_authority

Xvfb -displayfd 3 -nolisten tcp -ac -screen 0 1024x768x24 3>"$work/display" 2>/dev/null &
pids+=($!)
wait_for 20 "no X server" test -s "$work/display"
display=:$(cat "$work/display")
start_server "$work/dispatcher/xdg/Veltrane/Logs/VeltraneCryptoProvider/VeltraneCryptoProvider.log" \
  env XDG_CONFIG_HOME="$work/dispatcher/xdg" XDG_RUNTIME_DIR="$work/dispatcher" "$work/dispatcher/VeltraneCryptoServer" -console
dispatcher=$listening
start_server "$log" as_account DISPLAY="$display" SOFTHSM2_CONF="$SOFTHSM2_CONF" "$app/VeltraneCryptoServer"
node "$here/../../examples/sign-demo/serve.mjs" "$client" 8600 >"$work/serve.out" 2>&1 &
pids+=($!)
wait_for 10 "the demo page is not served on 8600" grep -qs "Demo page" "$work/serve.out"

as_account DISPLAY="$display" timeout -k 5 150 node "$work/driver/demo.mjs" "$dispatcher" "$work/driver/document.pdf" \
  "$work/driver" || fail "demo page"
mkdir -p "$out" && cp "$work/driver/demo-signed.png" "$out/"
verdict=$(pdfsig "$work/driver/document.signed.pdf" 2>&1) || true
grep -q "Signature is Valid" <<<"$verdict" || fail "pdfsig: $verdict"
