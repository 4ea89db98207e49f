#!/usr/bin/env bash
# Builds the fuzz targets of tests/fuzz with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs each for a bounded time, two at a time,
# from the corpus kept in tests/fuzz/corpus. Inputs found on the way go to a
# scratch directory, not into the repository; a crash, a sanitizer report or
# an input that takes more than 10 s fails the run, and the input that did it
# is kept in the build directory (crash-*, timeout-*, ...).
#
# Usage: tools/run-fuzz.sh [SECONDS_PER_TARGET]   (default 60)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
build="$top/build-fuzz"
compiler=$(command -v clang++-14 || command -v clang++)

cmake -S "$top/tests/fuzz" -B "$build" -DCMAKE_CXX_COMPILER="$compiler" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j "$(nproc)"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# fuzz TARGET CORPUS: runs in the background; its log is kept for a failure.
fuzz() {
  local target=$1 corpus=$2
  mkdir -p "$scratch/$target"
  "$build/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$build/$target-" \
    "$scratch/$target" "$top/tests/fuzz/corpus/$corpus" >"$scratch/$target.log" 2>&1
}

# report TARGET STATUS
report() {
  if [ "$2" = 0 ]; then
    echo "$1: $(grep -E '^Done [0-9]+ runs' "$scratch/$1.log")"
  else
    echo "$1 FAILED (status $2):"
    tail -n 60 "$scratch/$1.log"
    failed=1
  fi
}

failed=0
fuzz paramFileFuzz param & param=$!
fuzz stateFileFuzz state & state=$!
status=0; wait $param || status=$?; report paramFileFuzz $status
status=0; wait $state || status=$?; report stateFileFuzz $status
exit $failed
