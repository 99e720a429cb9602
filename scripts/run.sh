#!/usr/bin/env bash
# Sets up the machine, builds Tulk and starts its window.
# Usage: scripts/run.sh [tulk arguments...]
# Without arguments the window comes with the demo camera (tulk --demo): press
# "Connect to Camera", over the serial line or with "Use USB" ticked.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
# Only the program and its demo camera; the test command builds the rest in
# the same folder.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)" --target tulk
if [ $# -eq 0 ]; then
  set -- --demo
fi
exec build/app/tulk "$@"
