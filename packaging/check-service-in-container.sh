#!/usr/bin/env bash
# Checks the Debian package on a clean Debian 12 booted with systemd: installs
# it with apt (its dependencies come from the mirror), runs the service against
# a simulated receiver and checks what an operator relies on: readiness and
# status, the journal's priorities, the protocol, the watchdog, restarts after
# a crash and a hang, an unplugged and replugged receiver, stop, a start with
# the system, purge.
#
#   sudo packaging/check-service-in-container.sh [--rootfs DIR] [--keep] [PACKAGE.deb]
#
# Needs root, the network (the Debian mirror) and some minutes; not part of the
# tests. Without a package it runs ./package.sh. DIR (default
# /var/tmp/pelvaron-bookworm) holds a pristine debootstrap of bookworm, made on
# the first run; each run boots a copy of it (DIR.run, removed at the end
# unless --keep; its logs DIR.run.log and DIR.run.apt.log stay) with
# systemd-nspawn. Exit status: 0 when every check passed.
set -euo pipefail

rootfs=/var/tmp/pelvaron-bookworm
keep=0
deb=
while [ $# -gt 0 ]; do
  case "$1" in
    --rootfs) rootfs=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    -h|--help) sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) deb=$1; shift ;;
  esac
done
[ "$(id -u)" = 0 ] || { echo "run as root (debootstrap, systemd-nspawn)" >&2; exit 2; }
repo=$(cd "$(dirname "$0")/.." && pwd)
run_dir=$rootfs.run
machine=pelvaron-check

for tool in debootstrap:debootstrap systemd-nspawn:systemd-container; do
  if ! command -v "${tool%%:*}" >/dev/null; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${tool##*:}" >/dev/null
  fi
done
if [ -z "$deb" ]; then
  echo "== building the package (./package.sh)"
  deb=$("$repo/package.sh" 2>/dev/null | tail -n 1)
fi
[ -f "$deb" ] || { echo "no package: $deb" >&2; exit 2; }
deb=$(readlink -f "$deb")

failures=0
ok() { echo "ok    $*"; }
fail() { echo "FAIL  $*"; failures=$((failures + 1)); }
check() {  # check DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@"; then ok "$what"; else fail "$what"; fi
}
# Waits up to $1 seconds for COMMAND to succeed.
until_true() {
  local limit=$1; shift
  local end=$((SECONDS + limit))
  until "$@"; do
    [ $SECONDS -lt $end ] || return 1
    sleep 1
  done
}

if [ ! -x "$rootfs/lib/systemd/systemd" ]; then
  echo "== debootstrap bookworm into $rootfs"
  debootstrap --variant=minbase --include=systemd,systemd-sysv,dbus bookworm "$rootfs" \
    http://deb.debian.org/debian >/dev/null
fi
echo "== copying $rootfs to $run_dir"
rm -rf "$run_dir"
cp -a --reflink=auto "$rootfs" "$run_dir"
echo "$machine" >"$run_dir/etc/hostname"
cp "$deb" "$run_dir/root/"

nspawn_pid=
leader=
# The container down, its folder kept.
power_off() {
  [ -n "$nspawn_pid" ] || return 0
  if [ -n "$leader" ]; then in_box systemctl poweroff >/dev/null 2>&1 || true; fi
  for _ in $(seq 30); do kill -0 "$nspawn_pid" 2>/dev/null || break; sleep 1; done
  if kill -0 "$nspawn_pid" 2>/dev/null; then kill -KILL "$nspawn_pid"; fi
  wait "$nspawn_pid" 2>/dev/null || true
  nspawn_pid=
  leader=
}
shutdown_box() {
  power_off
  if [ "$keep" = 0 ]; then rm -rf "$run_dir"; fi
}
trap shutdown_box EXIT
in_box() {
  nsenter -t "$leader" -a env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"
}

# Without systemd on the host there is no machined to register with and no
# manager to make a scope: the container stays in our own cgroup.
nspawn_flags=()
[ -d /run/systemd/system ] || nspawn_flags=(--register=no --keep-unit)
state=
boot_box() {
  systemd-nspawn -b -D "$run_dir" -M "$machine" --console=passive "${nspawn_flags[@]}" \
    >>"$run_dir.log" 2>&1 </dev/null &
  nspawn_pid=$!
  until_true 30 sh -c "pgrep -P $nspawn_pid >/dev/null" || { cat "$run_dir.log"; exit 1; }
  leader=$(pgrep -P "$nspawn_pid" | head -n 1)
  state=$(in_box systemctl is-system-running --wait || true)
}

echo "== booting $run_dir with systemd-nspawn"
rm -f "$run_dir.log"
boot_box
check "booted with systemd as PID 1 ($(in_box systemctl --version | head -n 1), state: $state)" \
  test "$(in_box cat /proc/1/comm)" = systemd

echo "== apt install ./$(basename "$deb")"
if in_box sh -c "cd /root && apt-get update -q >/dev/null && DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -q ./$(basename "$deb")" >"$run_dir.apt.log" 2>&1; then
  ok "installed with its dependencies ($(grep -c '^Setting up' "$run_dir.apt.log") packages set up)"
else
  tail -n 20 "$run_dir.apt.log"; fail "apt install"; exit 1
fi
echo "   $(in_box id pelvaron)"
check "the user pelvaron is in dialout" sh -c "nsenter -t $leader -a id -nG pelvaron | grep -qw dialout"
check "/var/lib/pelvaron belongs to pelvaron, mode 750" \
  test "$(in_box stat -c '%U:%G %a' /var/lib/pelvaron)" = "pelvaron:pelvaron 750"

# The simulated receiver behind a link, its pty made the service's as udev
# makes a serial adapter (group dialout, 660).
link=/run/pelvaron-sim/receiver
plug() {
  in_box systemd-run -q --unit=pelvaron-sim -p RuntimeDirectory=pelvaron-sim -p RuntimeDirectoryPreserve=yes \
    /usr/bin/pelvaron-sim --random --link "$link"
  until_true 10 in_box test -e "$link" || return 1
  in_box sh -c "chgrp dialout \$(readlink -f $link) && chmod 660 \$(readlink -f $link)"
}
unplug() { in_box systemctl stop pelvaron-sim; }
journal() { in_box journalctl -q -u pelvaron -o cat --no-pager "$@"; }
count() { journal "${@:2}" | grep -c -- "$1" || true; }
protocol_size() { stat -c %s "$run_dir/var/lib/pelvaron/protocol.txt" 2>/dev/null || echo 0; }
prop() { in_box systemctl show -P "$1" pelvaron; }
grows() {  # grows SECONDS: the protocol gets longer within that time
  local before; before=$(protocol_size)
  until_true "$1" sh -c "[ \$(stat -c %s '$run_dir/var/lib/pelvaron/protocol.txt' 2>/dev/null || echo 0) -gt $before ]"
}

echo "== simulator and service"
check "simulator started" plug
echo "   $link -> $(in_box ls -lL "$link" | cut -d' ' -f1,4)  $(in_box readlink -f "$link")"
in_box sed -i "s|^PELVARON_OPTIONS=.*|PELVARON_OPTIONS=\"--device COM1=$link\"|" /etc/default/pelvaron
echo "   /etc/default/pelvaron: $(in_box grep '^PELVARON_OPTIONS' /etc/default/pelvaron)"
check "systemctl enable --now pelvaron" in_box systemctl enable -q --now pelvaron
check "enabled" test "$(in_box systemctl is-enabled pelvaron)" = enabled
in_box systemctl status pelvaron --no-pager -n 0 | head -n 7 | sed 's/^/   /'
check "active (running) with a status text" \
  test "$(prop SubState)" = running -a -n "$(prop StatusText)"
main_pid=$(prop MainPID)
groups=$(in_box grep '^Groups' "/proc/$main_pid/status" | cut -f2-)
check "main process (pid $main_pid) in the groups $groups(dialout is 20)" grep -qw 20 <<<"$groups"
check "the protocol grows with the simulator's messages" grows 20
check "journal: the event log at priority info" test "$(count 'Включение программы' -p info..info)" -ge 1
echo "   $(journal -p info..info | grep -m 1 'Сообщение' || true)"

echo "== watchdog (WatchdogSec=$(prop WatchdogUSec)): still the same process after 65 s"
sleep 65
check "pid $main_pid running, no restarts, last ping $(prop WatchdogTimestamp)" \
  test "$(prop MainPID)" = "$main_pid" -a "$(prop NRestarts)" = 0 -a "$(prop SubState)" = running

echo "== receiver unplugged and plugged in again"
lost='Связь с портом COM1 прервана'
unplug
check "reported at priority err" until_true 20 sh -c "nsenter -t $leader -a journalctl -q -u pelvaron -p err -o cat | grep -q '$lost'"
echo "   $(journal -p err | grep -m 1 "$lost" || true)"
sleep 15
check "reported once in 15 s more" test "$(count "$lost" -p err)" = 1
plug
check "port reopened (priority info)" until_true 20 sh -c "nsenter -t $leader -a journalctl -q -u pelvaron -p info..info -o cat | grep -q 'Порт COM1 снова открыт'"
check "the protocol grows again" grows 20

echo "== kill -9 of the main process"
in_box kill -KILL "$main_pid"
check "restarted (Restart=on-failure)" until_true 30 sh -c "[ \"\$(nsenter -t $leader -a systemctl show -P NRestarts pelvaron)\" = 1 ] && \
  [ \"\$(nsenter -t $leader -a systemctl show -P SubState pelvaron)\" = running ]"
main_pid=$(prop MainPID)
check "the restarted console (pid $main_pid) polls the receiver again" grows 20
check "and opened its port" test "$(count 'Не удаётся обнаружить COM1' _PID="$main_pid")" = 0

echo "== a hung console (SIGSTOP): the watchdog restarts it"
in_box kill -STOP "$main_pid"
check "restarted after the watchdog's time-out" until_true 90 sh -c "[ \"\$(nsenter -t $leader -a systemctl show -P NRestarts pelvaron)\" = 2 ] && \
  [ \"\$(nsenter -t $leader -a systemctl show -P SubState pelvaron)\" = running ]"
echo "   $(in_box journalctl -q -u pelvaron -o cat --no-pager | grep -m 1 -i 'watchdog timeout' || true)"
check "and polls again" grows 20

echo "== systemctl stop"
in_box systemctl stop pelvaron
last=$(tail -n 1 "$run_dir/var/lib/pelvaron/protocol.txt" | iconv -f CP1251 -t UTF-8 | tr -d '\r')
echo "   protocol's last line: $last"
check "the closing protocol line is written" grep -q 'Выключение программы' <<<"$last"
check "stopped cleanly" test "$(prop Result)" = success

echo "== the system restarted: the enabled service starts with it"
power_off
boot_box
check "booted again (state: $state)" test "$(in_box cat /proc/1/comm)" = systemd
check "the service is running" until_true 30 sh -c "[ \"\$(nsenter -t $leader -a systemctl show -P SubState pelvaron)\" = running ]"
check "the receiver plugged in after the boot" plug
check "and polled: the protocol grows" grows 30

echo "== apt purge"
in_box systemctl start pelvaron
in_box env DEBIAN_FRONTEND=noninteractive apt-get purge -y -q pelvaron >/dev/null 2>&1
check "stopped" test "$(in_box systemctl is-active pelvaron || true)" != active
check "no longer enabled" test ! -e "$run_dir/etc/systemd/system/multi-user.target.wants/pelvaron.service"
check "the station's files stay in /var/lib/pelvaron" test -f "$run_dir/var/lib/pelvaron/protocol.txt"

echo "== shutting the container down"
shutdown_box
if [ "$failures" = 0 ]; then echo "all checks passed"; else echo "$failures check(s) failed"; exit 1; fi
