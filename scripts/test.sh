#!/usr/bin/env bash
# Installs what is missing, builds the whole tree with AddressSanitizer + UndefinedBehaviorSanitizer
# and runs every test, after the fuzz stage (scripts/fuzz.sh; MORVANE_SKIP_FUZZ=1 leaves it out).
# Everything, tests and benchmarks included, is also compiled optimised, as users build it, and not run
# (MORVANE_SKIP_RELEASE=1 leaves that out).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
build=${MORVANE_TEST_BUILD_DIR:-build/test}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS="-O1 -g1" -DMORVANE_SANITIZE=ON -DMORVANE_BUILD_TESTS=ON
cmake --build "$build" --parallel "$(nproc)"
# The sanitizers change what the optimiser does: code that builds with them may not build without them (GCC 12
# has failed on a test at -O1 and above that way).
if [ "${MORVANE_SKIP_RELEASE:-0}" != 1 ]; then
  release=${MORVANE_RELEASE_BUILD_DIR:-build/release-all}
  cmake -S . -B "$release" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORVANE_BUILD_TESTS=ON
  cmake --build "$release" --parallel "$(nproc)"
fi
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:strict_string_checks=1:detect_stack_use_after_return=0"
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export QT_QPA_PLATFORM=offscreen
# Nothing a test sends may leave the machine's loopback.
export MORVANE_TEST_LOOPBACK_ONLY=1
# The fuzz programs, built with clang in their own folder, each run for a few seconds on its seed corpus.
if [ "${MORVANE_SKIP_FUZZ:-0}" != 1 ]; then
  ./scripts/fuzz.sh
fi
# The screenshot test starts the real application window: in the display there is, or else in a virtual one
# (xvfb-run, package xvfb) that its wrapper starts.
if [ -z "${DISPLAY:-}" ] && ! command -v xvfb-run >/dev/null; then
  echo "test.sh: no display and no xvfb-run (package xvfb)" >&2
  exit 1
fi
ctest --test-dir "$build" --output-on-failure --parallel "$(nproc)" --timeout 600 "$@"
