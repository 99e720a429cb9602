#!/usr/bin/env bash
# Sets up the machine, builds Tulk and starts its window.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh build
exec build/app/tulk "$@"
