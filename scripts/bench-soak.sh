#!/usr/bin/env bash
# Builds and runs the soak of tulk-cli's time lapse against tulk-camsim with
# faults (bench/bench_soak.cpp says what it measures). On two processors a
# full run takes most of an hour; run one at a time, e.g.
#   bash scripts/bench-soak.sh --quick usb
#   nohup bash scripts/bench-soak.sh usb > soak-usb.log 2>&1 &
#   nohup bash scripts/bench-soak.sh serial > soak-serial.log 2>&1 &
# TULK_BUILD_DIR chooses the build folder (default build).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${TULK_BUILD_DIR:-build}
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
# Two jobs at most: the machine is shared, and the soak wants a quiet core.
cmake --build "$dir" --target bench_soak -j2
exec "$dir/bench/bench_soak" "$@"
