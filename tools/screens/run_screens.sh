#!/usr/bin/env bash
# Runs the screenshot program in a real X display: the one there is, or a virtual one from xvfb-run.
set -euo pipefail
program=$1
output=$2
export QT_QPA_PLATFORM=xcb
if [ -n "${DISPLAY:-}" ]; then
  exec "$program" "$output"
fi
exec xvfb-run -a -s "-screen 0 1600x1000x24 -nolisten tcp" "$program" "$output"
