#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need; silent when all are present.
set -euo pipefail

packages=(
  cmake ninja-build g++ make pkg-config git
  qt6-base-dev qt6-5compat-dev libqt6opengl6-dev
  libssl-dev openssl libspdlog-dev libfmt-dev
  libgtest-dev libgmock-dev
  clang-format clang-tidy-15
  clang-15 libfuzzer-15-dev  # the fuzz preset
  curl procps passwd util-linux ca-certificates
  libnss3-tools
  softhsm2 opensc p11-kit p11-kit-modules libp11-kit-dev
  libqpdf-dev qpdf poppler-utils  # PDF signing reads with qpdf; its tests check with qpdf and poppler's tools
  xvfb xdotool imagemagick  # the signing dialogs' end-to-end tests: an X server, keystrokes, screenshots
  chromium nodejs $(command -v npm >/dev/null || echo npm)  # NodeSource's nodejs carries its own npm
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
