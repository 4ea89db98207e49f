#!/usr/bin/env bash
# Configures, builds and runs every test twice: once in the normal build (with
# the benchmark program, whose short smoke run is one of the tests), and
# once built with AddressSanitizer and UndefinedBehaviorSanitizer; then
# builds the fuzz targets and runs each for a minute (tools/run-fuzz.sh).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)

run_build() {
  local dir=$1; shift
  cmake -S "$top" -B "$dir" "$@"
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" -j "$jobs" --output-on-failure --timeout 600
}

run_build "$top/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSHOTSIM_BENCH=ON
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_build "$top/build-sanitize" -DCMAKE_BUILD_TYPE=Debug -DSHOTSIM_SANITIZE=ON
"$top/tools/run-fuzz.sh" 60
