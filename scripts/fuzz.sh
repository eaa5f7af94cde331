#!/usr/bin/env bash
# Builds the fuzz programs of fuzz/ with clang, AddressSanitizer and UndefinedBehaviorSanitizer in their own
# folder and runs each on its seed corpus for a bounded time. Any finding (crash, leak, undefined behaviour,
# timeout, running out of memory, a broken property) fails, and its input is kept in <build>/findings. Slow inputs
# (libFuzzer's slow-unit files) are reported and kept there too, but fail nothing.
#
#   MORVANE_FUZZ_SECONDS  time per program (default 10)
#   MORVANE_FUZZ_JOBS     programs run at once (default: the number of cores)
#   MORVANE_FUZZ_BUILD_DIR  build folder (default build/fuzz)
#   arguments             only these programs (e.g. fuzz_json_messages)
#
# A finding is replayed with: <build>/fuzz/<program> <input file>
set -euo pipefail
cd "$(dirname "$0")/.."
build=${MORVANE_FUZZ_BUILD_DIR:-build/fuzz}
seconds=${MORVANE_FUZZ_SECONDS:-10}
jobs=${MORVANE_FUZZ_JOBS:-$(nproc)}

cmake -S . -B "$build" -G Ninja -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE= \
  -DCMAKE_CXX_FLAGS="-O1 -gline-tables-only" -DMORVANE_FUZZ=ON -DMORVANE_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target morvane_fuzzers --parallel "$(nproc)"

if [ $# -gt 0 ]; then
  programs=("$@")
else
  programs=()
  for dir in fuzz/corpus/*/; do programs+=("$(basename "$dir")"); done
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/morvane-fuzz-run.XXXXXX")
trap 'rm -rf "$work"' EXIT
findings="$build/findings"
rm -rf "$findings"

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:strict_string_checks=1:detect_stack_use_after_return=0"
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

# One program: new inputs go to a scratch corpus so that the committed seeds stay as they are.
run_one() {
  local name=$1
  mkdir -p "$work/$name/corpus" "$work/$name/artifacts"
  local dict=()
  [ -e "fuzz/dictionaries/$name.dict" ] && dict=(-dict="fuzz/dictionaries/$name.dict")
  if "$build/fuzz/$name" "${dict[@]}" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2560 -print_final_stats=1 \
    -artifact_prefix="$work/$name/artifacts/" "$work/$name/corpus" "fuzz/corpus/$name" >"$work/$name/log" 2>&1; then
    echo "fuzz: $name passed ($(grep -Eo 'stat::number_of_executed_units: *[0-9]+' "$work/$name/log" |
      grep -Eo '[0-9]+$') runs in ${seconds} s)"
  else
    echo "fuzz: $name FAILED"
    return 1
  fi
}
export -f run_one
export build seconds work

status=0
printf '%s\n' "${programs[@]}" | xargs -P "$jobs" -I{} bash -c 'run_one {}' || status=1

passed=0
failed=0
for name in "${programs[@]}"; do
  # A slow unit is no finding: on a loaded or small machine any input may run slowly. It is reported and kept.
  slow=$(find "$work/$name/artifacts" -maxdepth 1 -name 'slow-unit-*' 2>/dev/null | wc -l)
  if [ "$slow" -gt 0 ]; then
    echo "fuzz: $name had $slow slow input(s) (kept in $findings/$name; not a failure)"
    mkdir -p "$findings/$name"
    cp "$work/$name/artifacts/"slow-unit-* "$findings/$name/" 2>/dev/null || true
  fi
  found=$(find "$work/$name/artifacts" -maxdepth 1 -type f ! -name 'slow-unit-*' 2>/dev/null | wc -l)
  if [ "$found" -gt 0 ] || ! grep -q "Done [0-9]* runs" "$work/$name/log"; then
    failed=$((failed + 1))
    mkdir -p "$findings/$name"
    find "$work/$name/artifacts" -maxdepth 1 -type f ! -name 'slow-unit-*' -exec cp {} "$findings/$name/" \; 2>/dev/null || true
    cp "$work/$name/log" "$findings/$name/log"
    echo "---- $name: last lines of its log (all in $findings/$name/log)"
    tail -n 40 "$work/$name/log"
  else
    passed=$((passed + 1))
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$status" -eq 0 ] && [ "$failed" -eq 0 ]
