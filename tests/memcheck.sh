#!/usr/bin/env bash
# Runs one batch program under valgrind's memcheck on small parameter files
# in a fresh directory, twice: from a random placement with impact maps on,
# then from the state file the first run wrote. Any memory error or leak
# fails the test.
#
# Usage: memcheck.sh PROGRAM    Exit status 77 (skipped) without valgrind.
set -euo pipefail
program=$1
if ! command -v valgrind >/dev/null 2>&1; then
  echo "valgrind is not installed"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/ini"
cd "$work"
printf '0\n0.02\n0\n0.5\n' >ini/par.ini
printf '20 1\n0.3 1 0\n0.9 1\n0.001\n' >ini/shot.ini
printf '5 5 20\n0.5 1\n3.924\n0.9 1\n0.9 1\n0.9 1\n0.001\n0 1\n1\n4 4\n' >ini/box.ini
printf '5.5 20\n0.5 1\n3.924\n0.9 1\n0.9 1\n0.9 1\n0.05\n0.001\n0 1\n1\n4\n' >ini/cyl.ini

memcheck() {
  valgrind --quiet --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite,indirect,possible \
    "$program" --seed 3 >>out.txt 2>&1 || { cat out.txt; echo "FAIL: $*"; exit 1; }
}
memcheck "random placement"
cp state.out start.state
printf '1 start.state\n0.02\n0\n0.5\n' >ini/par.ini
memcheck "start from a state file"
grep -q "Reading state vector from file..." out.txt || { cat out.txt; echo "FAIL: the state file was not read"; exit 1; }
echo PASS
