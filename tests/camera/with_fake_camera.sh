#!/usr/bin/env bash
# Runs a program with the fake V4L2 camera (the library named first) in front of the C library. The sanitizers'
# runtime is then not first among the preloaded libraries: the program runs all the same.
set -euo pipefail
export LD_PRELOAD="$1"
export ASAN_OPTIONS="${ASAN_OPTIONS:-}:verify_asan_link_order=0"
shift
exec "$@"
