#!/usr/bin/env bash
# Runs one animation-window program on the shipped parameter files under a
# virtual X server, as a user would: waits for its window, lets the bed run,
# checks the window's pixels, then ends the program by Escape or by closing
# the window. Passes when the program ends with status 0 and has written its
# result files.
#
# Usage: endToEnd.sh PROGRAM PROBE INI_DIR escape|close SCREENSHOT RESULT_FILE...
# Exit status 77 (skipped) when no virtual X server is installed.
set -u
program=$1 probe=$2 ini=$3 action=$4 screenshot=$5
shift 5
if ! command -v xvfb-run >/dev/null 2>&1; then
  echo "xvfb-run is not installed"
  exit 77
fi

# In a sanitizer build: the OpenGL driver is unloaded at exit and leaves
# blocks that the leak checker reports without being able to say whose they
# are, so leaks are not checked here (the unit tests check the simulation's).
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$ini" "$work/ini"
cd "$work"

# What the shipped files draw: a light grey background around the chamber,
# the black counters, and a bed shading from blue at the floor through purple
# to red higher up. (The yellow marked sphere may be hidden behind others.)
checks=(
  --exact 204,204,204,20000
  --exact 0,0,0,150
  --hue 200,250,0.5,1000
  --hue 280,20,0.4,1000
)

xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  program=$1 probe=$2 action=$3 screenshot=$4
  shift 4
  timeout 120 "$program" >stdout.txt 2>stderr.txt &
  pid=$!
  "$probe" --timeout 60 --settle 3 --screenshot "$screenshot" "$@" "$action"
  echo $? >probe.status
  wait $pid
  echo $? >program.status
' _ "$program" "$probe" "$action" "$screenshot" "${checks[@]}"

failed=0
probe_status=$(cat probe.status 2>/dev/null || echo none)
program_status=$(cat program.status 2>/dev/null || echo none)
echo "--- program output"
cat stdout.txt stderr.txt 2>/dev/null
echo "---"
if [ "$probe_status" != 0 ]; then
  echo "FAIL: window probe ended with status $probe_status"
  failed=1
fi
if [ "$program_status" != 0 ]; then
  echo "FAIL: $(basename "$program") ended with status $program_status"
  failed=1
fi
for f in "$@"; do
  if [ ! -s "$f" ]; then
    echo "FAIL: $f was not written"
    failed=1
  fi
done
# The state file holds one line per sphere of the shipped shot.
spheres=$(awk 'NR == 1 { print $1 }' ini/shot.ini)
if [ -f state.out ] && [ "$(wc -l <state.out)" != "$spheres" ]; then
  echo "FAIL: state.out has $(wc -l <state.out) lines, expected $spheres"
  failed=1
fi
[ "$failed" = 0 ] && echo "PASS"
exit "$failed"
