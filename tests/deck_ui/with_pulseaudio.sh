#!/usr/bin/env bash
# Runs a program with a PulseAudio server of its own: a null sink, a socket in a private folder, nothing else.
set -euo pipefail
dir=$(mktemp -d)
mkdir -p "$dir/pulse"
cleanup() {
  if [ -n "${server:-}" ]; then kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; fi
  rm -rf "$dir"
}
trap cleanup EXIT
export XDG_RUNTIME_DIR="$dir" HOME="$dir"
pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no \
  -L "module-native-protocol-unix socket=$dir/pulse/native auth-anonymous=1" \
  -L "module-null-sink sink_name=deck_test_sink" >"$dir/pulseaudio.log" 2>&1 &
server=$!
export PULSE_SERVER="unix:$dir/pulse/native"
for _ in $(seq 100); do
  [ -S "$dir/pulse/native" ] && break
  sleep 0.05
done
if [ ! -S "$dir/pulse/native" ]; then
  cat "$dir/pulseaudio.log" >&2
  echo "with_pulseaudio.sh: the sound server did not start" >&2
  exit 1
fi
"$@"
