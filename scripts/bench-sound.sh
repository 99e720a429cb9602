#!/usr/bin/env bash
# Runs the sound trigger's benchmark on a headless PulseAudio server of its
# own, started and stopped by its process id.
# Usage: scripts/bench-sound.sh [trials]
set -euo pipefail
cd "$(dirname "$0")/.."
[ -x build/bench/bench_sound_trigger ] || { bash scripts/install-deps.sh; bash scripts/build.sh build; }
pulse_dir=$(mktemp -d /tmp/tulk-pulse.XXXXXX)
stop_audio() {
  XDG_RUNTIME_DIR="$pulse_dir" AUDIO_DIR="$pulse_dir/audio" sh scripts/headless-audio-down.sh
  rm -rf "$pulse_dir"
}
trap stop_audio EXIT
XDG_RUNTIME_DIR="$pulse_dir" AUDIO_DIR="$pulse_dir/audio" sh scripts/headless-audio-up.sh
export PULSE_SERVER="unix:$pulse_dir/pulse/native"
export XDG_RUNTIME_DIR="$pulse_dir"
QT_QPA_PLATFORM=offscreen build/bench/bench_sound_trigger "$@"
