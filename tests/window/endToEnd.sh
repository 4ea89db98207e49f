#!/usr/bin/env bash
# Runs one animation-window program on the shipped parameter files under a
# virtual X server, as a user would: waits for its window and checks its title,
# size and place, lets the bed run and checks the window's pixels, works the
# arrows and a left drag, restarts the run with space, then ends the program
# by Escape, by closing the window or by a signal. Passes when the program
# ends with status 0 (128 + the signal's number) and has written its result
# files. Also starts it once without "ini/par.ini", with and without a
# display: it must refuse at once; and once with an option it does not know:
# the usage text and status 2, before it reads any file.
#
# Usage: endToEnd.sh PROGRAM PROBE INI_DIR escape|close|INT|TERM|HUP ENGINE SCREENSHOT W,H X,Y|-
#                    RESULT_FILE...
# ENGINE is the program's --engine; X,Y is where the window must stand ("-":
# where the window system puts it).
# Exit status 77 (skipped) when no virtual X server is installed.
set -u
# Under the virtual X server, in the work directory: the refused start, then
# the program's run, driven by the probe.
if [ "${1:-}" = --in-display ]; then
  cd "$2" || exit 1
  program=$3 probe=$4 action=$5 engine=$6
  shift 6
  (cd refused && "$program" >stdout.display 2>stderr.display; echo $? >status.display)
  (cd refused && "$program" --engine "$engine" --frames 3 >stdout.usage 2>stderr.usage
   echo $? >status.usage)

  cd run
  timeout 120 "$program" --engine "$engine" >stdout.txt 2>stderr.txt &
  pid=$!
  "$probe" --timeout 60 "$@"
  echo $? >probe.status
  # Space restarts the run: the histograms of the run that ends are written
  # at that moment.
  rm -f top.hist bot.hist
  "$probe" key:space
  for _ in $(seq 300); do
    [ -s top.hist ] && [ -s bot.hist ] && break
    sleep 0.1
  done
  { [ -s top.hist ] && [ -s bot.hist ]; } && echo yes >reset.written
  case $action in
    escape | close) "$probe" "$action" ;;
    *) kill -s "$action" $pid ;;
  esac
  wait $pid
  echo $? >program.status
  exit 0
fi

program=$1 probe=$2 ini=$3 action=$4 engine=$5 screenshot=$6 size=$7 position=$8
shift 8
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
mkdir "$work/run" "$work/refused"
cp -r "$ini" "$work/run/ini"
cp -r "$ini" "$work/refused/ini"
rm "$work/refused/ini/par.ini"

# The window as the shipped files draw it: a light grey background, the black
# counters, a bed shading from blue at the floor through purple to red higher
# up (the yellow marked sphere may be hidden behind others), and the faintly
# blue translucent walls of the chamber.
look=(--title "Real-time Animation v1.0" --size "$size" --settle 3 --screenshot "$screenshot"
  --exact 204,204,204,20000
  --exact 0,0,0,150
  --hue 200,250,0.5,1,1000
  --hue 280,20,0.4,1,1000
  --hue 200,230,0.04,0.15,20000)
[ "$position" != - ] && look+=(--position "$position")
# Ten presses of the down arrow bring the speed from 10 to 0, two more keep
# it there: the picture freezes. A left drag then turns the view, and the up
# arrow sets the bed going again.
look+=(key:Down:12 wait:1 same drag:left:90:0 differs wait:1 same key:Up differs)

xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" --in-display \
  "$work" "$program" "$probe" "$action" "$engine" "${look[@]}"
# Without a display the refusal must be the same: it comes before any window.
(cd "$work/refused" && env -u DISPLAY "$program" >stdout.nodisplay 2>stderr.nodisplay
 echo $? >status.nodisplay)

failed=0
fail() {
  echo "FAIL: $*"
  failed=1
}
cd "$work/refused"
for display in display nodisplay; do
  [ "$(cat "status.$display" 2>/dev/null)" = 1 ] ||
    fail "without ini/par.ini ($display): status $(cat "status.$display" 2>/dev/null)"
  [ "$(cat "stderr.$display" 2>/dev/null)" = "Error reading ini/par.ini" ] ||
    fail "without ini/par.ini ($display): printed '$(cat "stderr.$display" 2>/dev/null)'"
done
[ -z "$(find . -maxdepth 1 -type f ! -name 'std*' ! -name 'status*')" ] ||
  fail "without ini/par.ini: files were written: $(ls)"
[ "$(cat status.usage 2>/dev/null)" = 2 ] && [ ! -s stdout.usage ] &&
  [ "$(head -c 6 stderr.usage)" = "Usage:" ] ||
  fail "an unknown option: status $(cat status.usage 2>/dev/null), printed '$(cat stderr.usage)'"

cd "$work/run"
echo "--- program output"
cat stdout.txt stderr.txt 2>/dev/null
echo "---"
probe_status=$(cat probe.status 2>/dev/null || echo none)
program_status=$(cat program.status 2>/dev/null || echo none)
[ "$probe_status" = 0 ] || fail "window probe ended with status $probe_status"
[ -f reset.written ] || fail "top.hist and bot.hist were not written when space was pressed"
case $action in
  escape | close) expected=0 ;;
  *) expected=$((128 + $(kill -l "$action"))) ;;
esac
[ "$program_status" = "$expected" ] ||
  fail "$(basename "$program") --engine $engine ended with status $program_status, expected $expected"
for f in "$@"; do
  [ -s "$f" ] || fail "$f was not written"
done
# The state file holds one line per sphere of the shipped shot.
spheres=$(awk 'NR == 1 { print $1 }' ini/shot.ini)
if [ -f state.out ] && [ "$(wc -l <state.out)" != "$spheres" ]; then
  fail "state.out has $(wc -l <state.out) lines, expected $spheres"
fi
[ "$failed" = 0 ] && echo "PASS"
exit "$failed"
