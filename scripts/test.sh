#!/usr/bin/env bash
# Sets up the machine, builds Tulk and runs every test.
# Usage: scripts/test.sh [--sanitize | --tsan]
#   --sanitize: ASan + UBSan build in build-asan
#   --tsan: ThreadSanitizer build in build-tsan, without the window and its tests
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
dir=build
args=()
if [ "${1:-}" = "--sanitize" ]; then
  dir=build-asan
  args=(-DTULK_SANITIZE=ON -DTULK_BUILD_BENCH=OFF)
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
elif [ "${1:-}" = "--tsan" ]; then
  dir=build-tsan
  args=(-DTULK_TSAN=ON -DTULK_BUILD_BENCH=OFF)
  export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
fi
bash scripts/build.sh "$dir" "${args[@]}"
# The tests keep their logs and settings in a folder of their own.
export XDG_STATE_HOME="$PWD/$dir/test-state"
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$PWD/$dir/test-runtime}"
mkdir -p "$XDG_STATE_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
# The sound trigger's tests hear a real sound server: PulseAudio with a null
# sink and a source that hears it, in a short folder of its own (the socket's
# path has a length limit), stopped by its process id when the tests end.
pulse_dir=$(mktemp -d /tmp/tulk-pulse.XXXXXX)
stop_audio() {
  XDG_RUNTIME_DIR="$pulse_dir" AUDIO_DIR="$pulse_dir/audio" sh scripts/headless-audio-down.sh
  rm -rf "$pulse_dir"
}
trap stop_audio EXIT
XDG_RUNTIME_DIR="$pulse_dir" AUDIO_DIR="$pulse_dir/audio" sh scripts/headless-audio-up.sh
export PULSE_SERVER="unix:$pulse_dir/pulse/native"
ctest --test-dir "$dir" --output-on-failure -j2
