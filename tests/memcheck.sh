#!/usr/bin/env bash
# Runs one batch program under valgrind's memcheck on a small bed in a fresh
# directory, twice: from a random placement with impact maps on, then from
# the state file the first run wrote. Any memory error or leak fails the
# test. The parameter files are the shipped ones with a few values changed
# by key (sceneFiles).
#
# Usage: memcheck.sh PROGRAM SCENEFILES    Exit status 77 (skipped) without valgrind.
set -euo pipefail
program=$1
scene_files=$2
if ! command -v valgrind >/dev/null 2>&1; then
  echo "valgrind is not installed"
  exit 77
fi
case $(basename "$program") in
  drumsim*) name=drumsim chamber=cyl cells=(cyl.rings=4) ;;
  *) name=cratesim chamber=box cells=(box.cells_x=4 box.cells_y=4) ;;
esac
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
keys=(shot.count=20 shot.packing=0.3 "$chamber.amplitude=0.5" "${cells[@]}" par.time_limit=0.5)
"$scene_files" "$name" . "${keys[@]}"

memcheck() {
  valgrind --quiet --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite,indirect,possible \
    "$program" --seed 3 >>out.txt 2>&1 || { cat out.txt; echo "FAIL: $*"; exit 1; }
}
memcheck "random placement"
cp state.out start.state
"$scene_files" "$name" . "${keys[@]}" par.restart=1 par.state_file=start.state
memcheck "start from a state file"
grep -q "Reading state vector from file..." out.txt || { cat out.txt; echo "FAIL: the state file was not read"; exit 1; }
echo PASS
