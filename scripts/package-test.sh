#!/usr/bin/env bash
# Installs the Debian package on a clean Debian 12 and runs it from there:
# tulk-cli --demo --summary, and the window (tulk --demo) on a virtual
# screen, of which it saves a screenshot. Needs root (debootstrap, chroot,
# mounts) and the network (the Debian mirror). Too slow for CI.
# Usage: scripts/package-test.sh [tulk_*.deb] [screenshot.png]
#   The clean system is made once with debootstrap in $PKGROOT/bookworm
#   (default /work/pkgroot) and copied afresh for every run.
set -euo pipefail
cd "$(dirname "$0")/.."
deb=${1:-$(ls build-package/package/tulk_*.deb 2>/dev/null | tail -n 1)}
shot=${2:-$PWD/build-package/installed-window.png}
pkgroot=${PKGROOT:-/work/pkgroot}
base=$pkgroot/bookworm
root=$pkgroot/test
display=:57
[ -f "$deb" ] || { echo "no package: run scripts/package.sh first" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || { echo "run as root" >&2; exit 1; }

need=()
for p in debootstrap xvfb x11-utils imagemagick; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}"
fi
if [ ! -x "$base/usr/bin/apt-get" ]; then
  mkdir -p "$pkgroot"
  debootstrap bookworm "$base" http://deb.debian.org/debian
fi

xvfb_pid=""
cleanup() {
  for m in tmp/.X11-unix dev/pts dev proc; do
    mountpoint -q "$root/$m" && umount -l "$root/$m"
  done
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

rm -rf "$root"
cp -a "$base" "$root"
cp /etc/resolv.conf "$root/etc/resolv.conf"
mount -t proc proc "$root/proc"
mount --bind /dev "$root/dev"
mount --bind /dev/pts "$root/dev/pts"
cp "$deb" "$root/tmp/"
in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
  XDG_RUNTIME_DIR=/tmp/run LANG=C.UTF-8 "$@"; }
mkdir -p -m 700 "$root/tmp/run"

echo "== apt install ./$(basename "$deb")"
in_root apt-get update -qq
in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "/tmp/$(basename "$deb")"
in_root dpkg -L tulk

echo "== tulk-cli --demo --summary"
in_root tulk-cli --demo --summary
echo "== tulk-cli --demo --get-last --folder /tmp/pictures"
in_root tulk-cli --demo --get-last --folder /tmp/pictures
echo "== tulk-cli --help (its first lines)"
in_root tulk-cli --help > "$root/tmp/help.txt"
head -n 3 "$root/tmp/help.txt"

echo "== QT_QPA_PLATFORM=offscreen tulk --demo (ends on SIGTERM)"
in_root sh -c 'QT_QPA_PLATFORM=offscreen tulk --demo & pid=$!; sleep 3; kill -0 $pid && kill $pid; wait $pid; echo "exit $?"'

echo "== tulk --demo on a virtual screen"
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp -ac &
xvfb_pid=$!
until xwininfo -display "$display" -root >/dev/null 2>&1; do sleep 0.2; done
mkdir -p "$root/tmp/.X11-unix"
mount --bind /tmp/.X11-unix "$root/tmp/.X11-unix"
# The chroot itself in the background (it becomes tulk), so that the kill
# below reaches the program.
chroot "$root" /usr/bin/env -i PATH=/usr/bin:/bin HOME=/root XDG_RUNTIME_DIR=/tmp/run \
  LANG=C.UTF-8 DISPLAY="$display" tulk --demo &
tulk_pid=$!
until xwininfo -display "$display" -name 'Tulk - Camera Controller 2.0.2' >/dev/null 2>&1; do
  kill -0 "$tulk_pid" || { echo "tulk ended before its window showed" >&2; exit 1; }
  sleep 0.2
done
sleep 1
import -display "$display" -window root "$shot"
kill "$tulk_pid"
wait "$tulk_pid" || true
echo "saved $shot"
