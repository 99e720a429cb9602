#!/usr/bin/env bash
# Sets up the machine, builds Tulk and starts its window.
# Usage: scripts/run.sh [tulk arguments...]
# Without arguments the window comes with the demo camera (tulk --demo): press
# "Connect to Camera", over the serial line or with "Use USB" ticked.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh build
if [ $# -eq 0 ]; then
  set -- --demo
fi
exec build/app/tulk "$@"
