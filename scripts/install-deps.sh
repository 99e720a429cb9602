#!/usr/bin/env bash
# Installs the Debian 12 packages that building and testing Tulk need.
# Safe to run again: packages already there are skipped.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang-format
  libgtest-dev libgmock-dev libbenchmark-dev libusb-1.0-0-dev
  qt6-base-dev qt6-base-dev-tools qt6-base-private-dev libgl-dev xvfb xauth libjpeg-dev
  clang libclang-rt-14-dev
  libcurl4-openssl-dev python3-pyftpdlib
  # The sound trigger: PortAudio over ALSA's default, which the ALSA plugins
  # route to the sound server; the tests run a real PulseAudio server.
  portaudio19-dev libasound2-dev libjack-jackd2-dev libasound2-plugins
  pulseaudio pulseaudio-utils
  # The Debian package: CPack's run-time dependencies (dpkg-shlibdeps) and
  # its look at the programs.
  dpkg-dev file
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
