#!/usr/bin/env bash
# The alarm queue as a night-shift operator meets it: the window under a real
# window manager (Xvfb and openbox), a burst of 30 alarms from the simulated
# receiver (sim/scenarios/alarm-burst.scn), the keyboard only. Checks what the
# operator must be able to count on, one "ok"/"FAIL" line each, and saves what
# the screen showed to docs/images/walkthrough-*.png (or OUT-DIR).
# Usage: scripts/walkthrough-alarm-burst.sh [BUILD-DIR [OUT-DIR]]
set -uo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
out="$(realpath -m "${2:-docs/images}")"
scripts/ensure-deps.sh --gui-tools >/dev/null
[ -d "$build" ] || cmake --preset default >/dev/null
cmake --build "$build" -j"$(nproc)" --target pelvaron pelvaron-sim >/dev/null || exit 1
mkdir -p "$out"

work=$(mktemp -d /tmp/pelvaron-walkthrough-XXXXXX)
display=":$((90 + RANDOM % 100))"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
export DISPLAY="$display" QT_QPA_PLATFORM=xcb

Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 & pids+=($!)
sleep 1
openbox >/dev/null 2>&1 & pids+=($!)
# The window manager in charge before the first window maps.
for _ in $(seq 50); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break; sleep 0.2; done
"$build/sim/pelvaron-sim" --link "$work/veldor" --scenario sim/scenarios/alarm-burst.scn >/dev/null 2>&1 & sim=$!
pids+=($sim)
sleep 1
console="$(realpath "$build/src/pelvaron")"
(cd "$work" && exec "$console" --device "COM1=$work/veldor") >"$work/console.log" 2>&1 &
consolePid=$!
pids+=($consolePid)

failures=0
check() {  # check NAME COMMAND...: one line, and the count of failures
  if "${@:2}"; then echo "ok   $1"; else echo "FAIL $1"; failures=$((failures + 1)); fi
}
protocol() { iconv -f cp1251 -t utf-8 "$work/protocol.txt" 2>/dev/null; }
count() { protocol | grep -c "$1"; }
wait_for() {  # wait_for SECONDS COMMAND...
  local until=$((SECONDS + $1))
  while ! "${@:2}"; do [ $SECONDS -lt $until ] || return 1; sleep 0.5; done
}
window() { xdotool search --onlyvisible --name "$1" 2>/dev/null | tail -1; }
shot() { import -window root "$out/walkthrough-$1.png"; }
acknowledged() { [ "$(count 'Подтверждена тревога')" -eq "$1" ]; }

check "30 alarms arrive" wait_for 120 bash -c "[ \$(iconv -f cp1251 -t utf-8 '$work/protocol.txt' | grep -c -E '\[1[123]0\.нов\]') -ge 30 ]"
sleep 2
check "the queue came to the front by itself" test -n "$(window 'Очередь тревог')"
queue=$(window 'Очередь тревог')
main=$(window 'Pelvaron, вер')
eval "$(xdotool getwindowgeometry --shell "$queue")"; qy=$Y; qh=$HEIGHT
eval "$(xdotool getwindowgeometry --shell "$main")"; my=$Y; mh=$HEIGHT
# The status strip is the main window's last 40 pixels or so.
check "the queue leaves the main window's status strip in sight" test $((qy + qh)) -le $((my + mh - 40))
check "the queue is inside the screen" test $((qy + qh)) -le 1024
shot burst

# F9 from the main window: the keyboard on the fire; Tab, Tab to "Подтвердить", Space.
xdotool windowactivate --sync "$main"; sleep 0.5
xdotool key F9; sleep 0.5
xdotool key Tab Tab; sleep 0.3
xdotool key space; sleep 1.5
check "F9, Tab, Tab, Space acknowledge the fire" bash -c "[ \$(iconv -f cp1251 -t utf-8 '$work/protocol.txt' | grep -c \"Подтверждена тревога.*объект '0301'\") -eq 1 ]"
xdotool key space; sleep 0.7; xdotool key space; sleep 1.5
check "two more Spaces acknowledge nothing else" acknowledged 1

# "Подтвердить все" asked, and a Return not aimed at "Да". The fire stays
# in hand, so "Подтвердить" is off and two Tabs from the list reach it.
xdotool key Tab Tab; sleep 0.3
xdotool key space; sleep 1
shot acknowledge-all-question
xdotool key Return; sleep 1.5
check "Return in the question of \"Подтвердить все\" acknowledges nothing" acknowledged 1

# The receiver's line lost: its message blocks nothing while alarms wait.
kill "$sim"; sleep 1
check "the lost port is told" wait_for 30 bash -c "xdotool search --onlyvisible --name 'Ошибка' >/dev/null"
sleep 1
shot notice
xdotool windowactivate --sync "$(window 'Очередь тревог')"; sleep 0.5
xdotool key F9; sleep 0.5; xdotool key Tab Tab space; sleep 1.5
check "the queue takes keys while the message is open" acknowledged 2

# Esc in the main window asks first, with "Нет" as the answer a stray key gives.
xdotool windowactivate --sync "$main"; sleep 0.5
xdotool key Escape; sleep 1
shot exit-question
xdotool key Return; sleep 1
running() { kill -0 "$consolePid" 2>/dev/null && ! protocol | grep -q 'Выключение программы'; }
check "Esc, Return leave the console running" running
xdotool key Escape; sleep 1; xdotool key Tab Return
check "Esc, Tab, Return end it in order" wait_for 10 bash -c "iconv -f cp1251 -t utf-8 '$work/protocol.txt' | grep -q 'Выключение программы'"

echo "screenshots in $out/walkthrough-*.png"
[ "$failures" -eq 0 ]
