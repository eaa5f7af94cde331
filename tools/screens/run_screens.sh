#!/usr/bin/env bash
# Runs the screenshot program in a real X display: the one there is, or a virtual one from xvfb-run.
set -euo pipefail
program=$1
output=$2
shift 2  # what is left goes to the program
export QT_QPA_PLATFORM=xcb
# The X keyboard library copies names with strndup from buffers without a terminator, which is allowed but
# trips the sanitizer's strict string checks.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}strict_string_checks=0"
if [ -n "${DISPLAY:-}" ]; then
  exec "$program" "$output" "$@"
fi
exec xvfb-run -a -s "-screen 0 1600x1000x24 -nolisten tcp" "$program" "$output" "$@"
