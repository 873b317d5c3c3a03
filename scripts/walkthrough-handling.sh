#!/usr/bin/env bash
# An alarm handled from its plan to its outcome as an operator does it: the
# demo's station (its operators and plans, as pelvaron --demo makes them)
# under a real window manager (Xvfb and openbox), the keyboard only, with the
# simulated receiver sending nothing but the demo's fire at 0301
# (sim/scenarios/handling.scn), so that it is the alarm F9 chooses. The
# operator signs in, the fire comes, he
# acknowledges it, records a call to its first key holder and closes it as a
# real alarm; the shift report shows it with its times. One "ok"/"FAIL" line
# per check; what the screen showed goes to docs/images/handling-*.png (or
# OUT-DIR).
# Usage: scripts/walkthrough-handling.sh [BUILD-DIR [OUT-DIR]]
set -uo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
out="$(realpath -m "${2:-docs/images}")"
scripts/ensure-deps.sh --gui-tools >/dev/null
[ -d "$build" ] || cmake --preset default >/dev/null
cmake --build "$build" -j"$(nproc)" --target pelvaron pelvaron-headless pelvaron-sim pelvaron-report >/dev/null || exit 1
mkdir -p "$out"

work=$(mktemp -d /tmp/pelvaron-handling-XXXXXX)
display=":$((90 + RANDOM % 100))"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  [ "${KEEP:-0}" = 1 ] && echo "kept $work" || rm -rf "$work"
}
trap cleanup EXIT
export DISPLAY="$display" QT_QPA_PLATFORM=xcb

Xvfb "$display" -screen 0 1600x1024x24 -nolisten tcp >/dev/null 2>&1 & pids+=($!)
sleep 1
openbox >/dev/null 2>&1 & pids+=($!)
for _ in $(seq 50); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break; sleep 0.2; done
console="$(realpath "$build/src/pelvaron")"
report="$(realpath "$build/tools/pelvaron-report")"
headless="$(realpath "$build/src/pelvaron-headless")"
station="$work/pelvaron-demo"
# The demo's folder, its station.sqlite included, made by a short demo run.
(cd "$work" && timeout -s INT 4 "$headless" --demo) >/dev/null 2>&1
rm -f "$station/protocol.txt"
"$build/sim/pelvaron-sim" --link "$work/veldor" --scenario sim/scenarios/handling.scn >/dev/null 2>&1 &
pids+=($!)
sleep 1
(cd "$station" && exec "$console" --device "COM1=$work/veldor") >"$work/console.log" 2>&1 &
pids+=($!)

failures=0
check() {  # check NAME COMMAND...: one line, and the count of failures
  if "${@:2}"; then echo "ok   $1"; else echo "FAIL $1"; failures=$((failures + 1)); fi
}
protocol() { iconv -f cp1251 -t utf-8 "$station/protocol.txt" 2>/dev/null; }
says() { protocol | grep -q -- "$1"; }
wait_for() {  # wait_for SECONDS COMMAND...
  local until=$((SECONDS + $1))
  while ! "${@:2}"; do [ $SECONDS -lt $until ] || return 1; sleep 0.5; done
}
window() { xdotool search --onlyvisible --name "$1" 2>/dev/null | tail -1; }
shot() { import -window root "$out/handling-$1.png"; }

# Monitoring starts at once; the sign-in asks beside it.
check "the sign-in asks while the console monitors" wait_for 30 bash -c "xdotool search --onlyvisible --name 'Вход оператора' >/dev/null"
check "monitoring did not wait for it" says "Включение программы"
xdotool windowactivate --sync "$(window 'Вход оператора')"; sleep 0.5
xdotool type --delay 80 1234; sleep 0.3
shot sign-in
xdotool key Return
check "Дежурный signs in with his PIN" wait_for 10 says "Оператор Дежурный начал работу"

# The fire at the cafe 0301.
check "the fire at 0301 comes" wait_for 90 bash -c "iconv -f cp1251 -t utf-8 '$station/protocol.txt' | grep -q '\[110\.нов\]'"
sleep 2
main=$(window 'Pelvaron, вер')
xdotool windowactivate --sync "$main"; sleep 0.5
xdotool key F9; sleep 1
shot queue-with-plan
xdotool key Tab Tab space; sleep 1.5
check "F9, Tab, Tab, Space acknowledge it in his name" bash -c "iconv -f cp1251 -t utf-8 '$station/protocol.txt' | grep -A3 \"Подтверждена тревога.*объект '0301'\" | grep -q 'Оператор: Дежурный'"

# Alt+Д: the call to the plan's first key holder, answered; Alt+З records it.
xdotool key alt+Cyrillic_de
wait_for 10 test -n "$(window 'Действие по тревоге')"
echo "keyboard on: $(xdotool getwindowfocus getwindowname 2>/dev/null)"
shot action
xdotool key alt+Cyrillic_ze
check "Alt+Д, Alt+З record the call to the first key holder" wait_for 10 says "Звонок ответственному лицу: Сидоров Пётр (директор), +7 900 123-45-67: ответил"

# Alt+З: Return closes nothing; 1 chooses a real alarm; Tab, Tab, Space close it.
sleep 1
xdotool key alt+Cyrillic_ze
wait_for 10 bash -c "xdotool search --onlyvisible --name 'Закрытие тревоги' >/dev/null"; sleep 0.5
echo "keyboard on: $(xdotool getwindowfocus getwindowname 2>/dev/null)"
xdotool key Return; sleep 0.7
check "Return closes nothing" bash -c "! iconv -f cp1251 -t utf-8 '$station/protocol.txt' | grep -q 'Закрыта тревога'"
xdotool key 1; sleep 0.5
shot close
xdotool key Tab Tab space
check "1, Tab, Tab, Space close it as a real alarm" wait_for 10 bash -c "iconv -f cp1251 -t utf-8 '$station/protocol.txt' | grep -A1 \"Закрыта тревога.*объект '0301'\" | grep -q 'Итог: Реальная тревога'"
shot closed

# The shift report has it with its times.
(cd "$station" && "$report" shift --format csv) >"$work/shift.csv" 2>"$work/report.log"
check "the shift report lists the fire with the operator and its times" \
  bash -c "grep '0301' '$work/shift.csv' | grep 'Дежурный' | grep -q 'Реальная тревога'"
(cd "$station" && "$report" shift --output "$work/shift.html") 2>>"$work/report.log"
chromium --headless --no-sandbox --disable-gpu --hide-scrollbars --window-size=1100,1600 \
  --screenshot="$out/handling-shift-report.png" "file://$work/shift.html" >/dev/null 2>&1
check "the report's page renders" test -s "$out/handling-shift-report.png"
head -3 "$work/shift.csv"

echo "screenshots in $out/handling-*.png"
[ "$failures" -eq 0 ]
