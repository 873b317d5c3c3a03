#!/bin/bash
# Pages of memory an idle tick of a console program touches: code and data,
# by mapping (the program, the C library, stack, heap). After half a second
# asleep each of them is a cold cache line and translation to fetch, which is
# most of what an idle tick costs beyond its system calls.
#
#   bench/tick_pages.sh BUILD [PROGRAM]
#   e.g. bench/tick_pages.sh build-release
#
# Runs PROGRAM (default BUILD/src/pelvaron-headless) under valgrind's lackey
# for 25 s on a pelvaron-sim of its own and counts the distinct pages between
# two starts of Console::OnTimer. Needs valgrind.
set -eu
build=$1
program=$(realpath "${2:-$build/src/pelvaron-headless}")
here=$(dirname "$(realpath "$0")")
offset=$(nm "$program" | awk '/ T _ZN8pelvaron7Console7OnTimerEv$/ {print $1}')
[ -n "$offset" ] || { echo "no Console::OnTimer in $program" >&2; exit 1; }
marker=$(printf '%x' $((0x108000 + 0x$offset)))  # valgrind loads a PIE at 0x108000
work=$(mktemp -d /tmp/pelvaron-tick-pages-XXXXXX)
"$build/sim/pelvaron-sim" > "$work/sim.out" 2> /dev/null &
sim=$!
trap 'kill $sim 2> /dev/null || true; rm -rf "$work"' EXIT
for _ in $(seq 50); do
  device=$(head -1 "$work/sim.out" 2> /dev/null || true)
  [ -n "$device" ] && break
  sleep 0.1
done
cd "$work"
(timeout -s INT 25 valgrind --tool=lackey --trace-mem=yes --log-fd=9 "$program" --device "COM1=$device" \
   9>&1 > out.txt 2> err.txt | python3 "$here/tick_pages.py" "$marker" maps.txt) &
tracer=$!
sleep 15
cat "/proc/$(pgrep -n -x lackey-amd64-li)/maps" > maps.txt
wait $tracer
