#!/usr/bin/env bash
# Builds the Debian package: build-package/package/tulk_<version>_<arch>.deb.
# Usage: scripts/package.sh [build-dir]
#   Without a folder: a release build of its own in build-package (the
#   programs only, no tests). With one (such as the test build, "build"):
#   packs what is built there, built again first if anything changed.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
dir=${1:-}
if [ -z "$dir" ]; then
  dir=build-package
  # A broken threading rule is a log line in the package, not a stop. -O2
  # as every build here (CPack strips the debug information): GCC 12 at -O3
  # warns falsely (-Wrestrict) inside std::string.
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTULK_BUILD_TESTS=OFF \
    -DTULK_BUILD_BENCH=OFF -DTULK_CHECK_THREAD_RULE=OFF
fi
cmake --build "$dir" -j"$(nproc)" --target tulk tulk-cli tulk-camsim
(cd "$dir" && cpack -G DEB)
ls "$dir"/package/tulk_*.deb
