#!/bin/bash
# Idle CPU per tick of console programs side by side with the plain program,
# several copies of each at the same time, so that what the machine does
# meanwhile (other builds, the scheduler's placement) falls on all of them.
# A single 60 s run of bench_console says little about a tenth of a
# millisecond; two versions run together here show their difference.
#
#   bench/idle_side_by_side.sh BUILD SECONDS COPIES NAME=PROGRAM...
#   e.g. bench/idle_side_by_side.sh build-release 300 3 now=build-release/src/pelvaron-headless
#
# Each copy runs in a folder of its own under /tmp on a pelvaron-sim of its
# own (a receiver that answers the status request and has nothing to say;
# SILENT=1: one that answers nothing; OBJECTS=FILE: the consoles' objects
# file). CPU is the scheduler's statistics of
# every thread, read from /proc before and after; a tick is half a second.
set -eu
build=$1 seconds=$2 copies=$3
shift 3
work=$(mktemp -d /tmp/pelvaron-side-by-side-XXXXXX)
pids=() names=() bases=() copyOf=() sims=()
scenario=()
if [ -n "${SILENT:-}" ]; then
  printf 'silence 1000min\n' > "$work/silent.scn"
  scenario=(--scenario "$work/silent.scn")
fi
device=""
simulator() {
  "$build/sim/pelvaron-sim" "${scenario[@]}" > "$work/sim$1.out" 2> /dev/null &
  sims+=($!)
  for _ in $(seq 50); do
    device=$(head -1 "$work/sim$1.out" 2> /dev/null || true)
    [ -n "$device" ] && return
    sleep 0.1
  done
  echo "pelvaron-sim did not start" >&2
  exit 1
}
cleanup() {
  for p in "${pids[@]}"; do kill -TERM "$p" 2> /dev/null || true; done
  sleep 1.5
  for s in "${sims[@]}"; do kill "$s" 2> /dev/null || true; done
  wait 2> /dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
n=0
for copy in $(seq "$copies"); do
  for entry in "$@" "plain=$build/bench/plain_station"; do
    name=${entry%%=*} program=$(realpath "${entry#*=}")
    simulator $n
    mkdir "$work/c$n"
    # OBJECTS=FILE: the consoles start with that objects file (a station's objects).
    if [ -n "${OBJECTS:-}" ] && [ "$name" != plain ]; then cp "$OBJECTS" "$work/c$n/objects.stt"; fi
    if [ "$name" = plain ]; then
      (cd "$work/c$n" && exec "$program" "$device") &
    else
      (cd "$work/c$n" && exec "$program" --device "COM1=$device" > out.txt 2> err.txt) &
    fi
    pids+=($!) names+=("$name$copy") bases+=("$name") copyOf+=("$copy")
    n=$((n + 1))
  done
done
sleep 3  # past the start
cpu() {
  local sum=0
  for t in /proc/$1/task/*; do sum=$((sum + $(cut -d' ' -f1 "$t/schedstat"))); done
  echo $sum
}
before=()
for p in "${pids[@]}"; do before+=($(cpu "$p")); done
sleep "$seconds"
ticks=$((seconds * 2))
results=""
for k in "${!pids[@]}"; do
  used=$(($(cpu "${pids[$k]}") - ${before[$k]}))
  awk -v name="${names[$k]}" -v ns="$used" -v ticks="$ticks" \
    'BEGIN { printf "%-12s %7.1f us of CPU per tick\n", name, ns / ticks / 1000 }'
  results+="${bases[$k]} ${copyOf[$k]} $used"$'\n'
done
# Copies started together share what the machine did meanwhile: each
# program's copy k is set against the plain program's copy k, and the mean of
# those ratios is given with its standard error (a ratio of 1 lies within
# about two of them of the mean when the two cannot be told apart).
printf '%s' "$results" | awk -v copies="$copies" '
  { ns[$1, $2] = $3; seen[$1] = 1 }
  END {
    for (name in seen) {
      if (name == "plain") continue
      sum = 0; sq = 0; total = 0; plain = 0
      for (c = 1; c <= copies; c++) {
        r = ns[name, c] / ns["plain", c]; sum += r; sq += r * r
        total += ns[name, c]; plain += ns["plain", c]
      }
      mean = sum / copies
      se = copies > 1 ? sqrt((sq - copies * mean * mean) / (copies - 1) / copies) : 0
      printf "%-12s %.3f x plain (standard error %.3f; all copies together %.3f x)\n", name, mean, se, total / plain
    }
  }'
