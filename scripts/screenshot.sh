#!/usr/bin/env bash
# Starts Tulk under Xvfb and saves a screenshot of the screen.
# Usage: scripts/screenshot.sh [output.png] [tulk arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-/tmp/tulk-window.png}
shift || true
for p in imagemagick x11-utils xvfb xauth; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    sudo=""; [ "$(id -u)" -ne 0 ] && sudo=sudo
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "$p"
  fi
done
[ -x build/app/tulk ] || bash scripts/build.sh build
args="$*"
xvfb-run -a -s "-screen 0 1280x800x24" sh -c "build/app/tulk $args & pid=\$!
  until xwininfo -name 'Tulk - Camera Controller 2.0.2' >/dev/null 2>&1; do sleep 0.2; done
  sleep 1; import -window root '$out'; kill \$pid"
echo "saved $out"
