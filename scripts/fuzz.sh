#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, ASan + UBSan) in build-fuzz
# and runs each for the given number of seconds (default 20), starting from
# the seed corpus in tests/fuzz/corpus/<target> (copied: the repository's
# seeds stay as they are). A crash, leak or out-of-memory fails the run and
# leaves its input in build-fuzz/findings/<target>.
# Usage: scripts/fuzz.sh [seconds-per-target]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-20}"
bash scripts/install-deps.sh
dir=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTULK_FUZZ=ON >/dev/null
cmake --build "$dir"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
for seeds in tests/fuzz/corpus/*/; do
  target=$(basename "$seeds")
  corpus="$dir/corpus/$target"
  findings="$dir/findings/$target"
  mkdir -p "$corpus" "$findings"
  cp -n "$seeds"* "$corpus"/ 2>/dev/null || true
  echo "fuzz_$target: $seconds s"
  if ! "$dir/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -rss_limit_mb=2048 \
      -max_len=4096 -print_final_stats=1 -artifact_prefix="$findings/" "$corpus" \
      >"$dir/fuzz_$target.log" 2>&1; then
    echo "fuzz_$target found a fault:"
    tail -n 40 "$dir/fuzz_$target.log"
    status=1
  fi
  # The targets that drive a download also print, last, how often they
  # reached a saved picture ("fuzz_<target>: ...").
  grep -E "^stat::number_of_executed_units|^stat::peak_rss_mb|cov: |^fuzz_$target: " \
    "$dir/fuzz_$target.log" | tail -n 4
done
exit $status
