#!/usr/bin/env bash
# Builds the programs and runs the main job on the shipped parameter files in
# a fresh run directory, ./run (its ini/ is a copy of the shipped one). With a
# display, the box program opens its animation window (Escape ends it); with
# none, the box batch program runs the same job without a window.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$top/build" -j "$(nproc)"
rm -rf "$top/run"
mkdir -p "$top/run"
cp -r "$top/ini" "$top/run/ini"
cd "$top/run"
if [ -n "${DISPLAY:-}" ] && [ -x "$top/build/source/cratesim" ]; then
  echo "Opening cratesim in $top/run (Escape ends the run)"
  exec "$top/build/source/cratesim"
fi
if [ -x "$top/build/source/cratesim-batch" ]; then
  [ -x "$top/build/source/cratesim" ] && echo "No display: running cratesim-batch on the same parameters in $top/run"
  exec "$top/build/source/cratesim-batch"
fi
echo "Built the simulation core and its tests; the programs are not there yet."
