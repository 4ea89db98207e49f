#!/usr/bin/env bash
# Frame rates of the two animation windows under a virtual X server, with
# each event engine, for beds of 300, 2000 and 10 000 spheres (or those
# given): one line per program, engine and bed from the window benchmark of
# a build made with -DSHOTSIM_BENCH=ON.
#
# Usage: bench/window-bench.sh [BUILD_DIR [SECONDS [SPHERES...]]]
#   BUILD_DIR  the build (default: build)
#   SECONDS    how long each bed is measured (default: 10)
set -eu
build=${1:-build}
seconds=${2:-10}
shift $(($# < 2 ? $# : 2))
spheres=("$@")
[ ${#spheres[@]} -gt 0 ] || spheres=(300 2000 10000)
[ -x "$build/bench/window-bench" ] || {
  echo "$build/bench/window-bench is not built (configure with -DSHOTSIM_BENCH=ON)" >&2
  exit 1
}
echo "load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)"
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  build=$1 seconds=$2
  shift 2
  for program in cratesim drumsim; do
    for engine in fast reference; do
      for n in "$@"; do
        "$build/bench/window-bench" --program "$program" --spheres "$n" --engine "$engine" \
          --seconds "$seconds" | grep -v "^Distributing\|^Testing\|^DONE"
      done
    done
  done' bash "$build" "$seconds" "${spheres[@]}"
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
