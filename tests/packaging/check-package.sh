#!/usr/bin/env bash
# Makes the Debian package from a built tree (cpack into a folder of its own)
# and checks what it holds: the programs, a man page for each with every
# option of the program's --help, the launcher (run: the station's folder) and
# its icons, the units (the console's and the hub's), their user and options,
# the maintainer scripts, the dependencies, the documents; lintian (no error,
# no warning, no hardening tag); and the units with systemd-analyze where
# there is one.
# Usage: check-package.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
for tool in cpack dpkg-deb dpkg-shlibdeps file; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is missing (scripts/ensure-deps.sh installs it)"
    exit 0
  fi
done
for tool in lintian man readelf; do
  if ! command -v "$tool" >/dev/null; then
    echo "FAIL: $tool is missing (scripts/ensure-deps.sh installs it)"
    exit 1
  fi
done
work=$(mktemp -d /tmp/pelvaron-package-XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

cpack --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/pelvaron_*.deb)
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' | grep -v '/$' >"$work/contents"
# Where the build installs (/usr unless it was configured otherwise) and the
# options file beside the system's (/etc/default for /usr).
prefix=$(sed -n 's/^set(CPACK_PACKAGING_INSTALL_PREFIX "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
prefix=${prefix:-/usr}
if [ "$prefix" = /usr ]; then etc=/etc; else etc=$prefix/etc; fi

expect() { grep -qx "$1" "$work/contents" || fail "missing $1"; }
for program in pelvaron-headless pelvaron-sim pelvaron-decode pelvaron-history pelvaron-plans pelvaron-report pelvaron-hub; do
  expect "$prefix/bin/$program"
  expect "$prefix/share/man/man1/$program.1.gz"
done
if [ -x "$build/src/pelvaron" ]; then
  expect $prefix/bin/pelvaron
  expect $prefix/share/man/man1/pelvaron.1.gz
  expect $prefix/share/applications/pelvaron.desktop
  expect $prefix/share/icons/hicolor/scalable/apps/pelvaron.svg
  for size in 16 32 64 128; do expect "$prefix/share/icons/hicolor/${size}x${size}/apps/pelvaron.png"; done
fi
expect $prefix/lib/systemd/system/pelvaron.service
expect $prefix/lib/sysusers.d/pelvaron.conf
expect "$etc/default/pelvaron"
expect $prefix/lib/systemd/system/pelvaron-hub.service
expect "$etc/default/pelvaron-hub"
# Every program has its page.
for program in $(grep "^$prefix/bin/" "$work/contents" | xargs -n1 basename); do
  grep -qx "$prefix/share/man/man1/$program.1.gz" "$work/contents" || fail "no man page for $program"
done

dpkg-deb -e "$deb" "$work/control"
for script in postinst prerm postrm; do
  [ -x "$work/control/$script" ] || fail "no executable $script"
done
if [ "$etc" = /etc ]; then
  grep -qx /etc/default/pelvaron "$work/control/conffiles" || fail "/etc/default/pelvaron is not a conffile"
  grep -qx /etc/default/pelvaron-hub "$work/control/conffiles" || fail "/etc/default/pelvaron-hub is not a conffile"
fi
depends=$(dpkg-deb -f "$deb" Depends)
case "$depends" in *libsystemd0*) ;; *) fail "Depends lacks libsystemd0: $depends" ;; esac
case "$depends" in *libsodium*) ;; *) fail "Depends lacks libsodium (the operators' secrets): $depends" ;; esac
case "$depends" in *libc6*) ;; *) fail "Depends lacks what dpkg-shlibdeps finds: $depends" ;; esac

dpkg-deb -x "$deb" "$work/root"
unit="$work/root$prefix/lib/systemd/system/pelvaron.service"
grep -qx 'Type=notify' "$unit" || fail "the unit is not Type=notify"
grep -qxF "ExecStart=$prefix/bin/pelvaron-headless \$PELVARON_OPTIONS" "$unit" || fail "ExecStart: $(grep ExecStart "$unit")"
grep -qxF "EnvironmentFile=-$etc/default/pelvaron" "$unit" || fail "EnvironmentFile: $(grep EnvironmentFile "$unit")"
hubunit="$work/root$prefix/lib/systemd/system/pelvaron-hub.service"
grep -qx 'Type=notify' "$hubunit" || fail "the hub's unit is not Type=notify"
grep -qxF "ExecStart=$prefix/bin/pelvaron-hub \$PELVARON_HUB_OPTIONS" "$hubunit" || fail "ExecStart: $(grep ExecStart "$hubunit")"
grep -qxF "EnvironmentFile=-$etc/default/pelvaron-hub" "$hubunit" || fail "EnvironmentFile: $(grep EnvironmentFile "$hubunit")"
for script in postinst prerm postrm; do
  grep -q "pelvaron-hub.service" "$work/control/$script" || fail "$script does not handle pelvaron-hub.service"
done
case "$depends" in *libpq5*) ;; *) fail "Depends lacks libpq5 (the hub's PostgreSQL): $depends" ;; esac
if ldd "$work/root$prefix/bin/pelvaron-hub" | grep -qi 'libQt'; then fail "pelvaron-hub loads Qt"; fi
grep -qx 'm pelvaron dialout' "$work/root$prefix/lib/sysusers.d/pelvaron.conf" || fail "the user is not in dialout"
zcat "$work/root$prefix/share/man/man1/pelvaron-headless.1.gz" | grep -q '^\.TH PELVARON\\-HEADLESS 1 .*pelvaron [0-9]' \
  || fail "the man page has no version"
if ldd "$work/root$prefix/bin/pelvaron-headless" | grep -qi 'libQt'; then fail "pelvaron-headless loads Qt"; fi

# What Debian wants of every package, and what a station reads.
doc=$prefix/share/doc/pelvaron
for file in copyright changelog.Debian.gz README.md events.md events.schema.json alarms.md plans.md reports.md; do expect "$doc/$file"; done
if [ -f "$work/root$doc/changelog.Debian.gz" ]; then
  logged=$(zcat "$work/root$doc/changelog.Debian.gz" | dpkg-parsechangelog -l - -S Version)
  version=$(dpkg-deb -f "$deb" Version)
  [ "$logged" = "$version" ] || fail "the changelog's newest entry is $logged, the package $version"
fi

# Each program: hardened (lintian below checks the rest), its man page telling
# every option its --help names (as the tag of an entry, not only in the
# synopsis), and groff content with the page.
for program in $(grep "^$prefix/bin/" "$work/contents" | xargs -n1 basename); do
  binary=$work/root$prefix/bin/$program
  symbols=$(readelf -W --dyn-syms "$binary")
  grep -q __stack_chk_fail <<<"$symbols" || fail "$program is built without -fstack-protector-strong"
  page=$work/root$prefix/share/man/man1/$program.1.gz
  [ -f "$page" ] || continue
  tags=$(zcat "$page" | sed 's/\\-/-/g' | awk 'tag { print } { tag = /^\.TP/ }')
  help=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$binary" --help) || fail "$program --help"
  for option in $(grep -o -- '--[a-z][a-z0-9-]*' <<<"$help" | sort -u); do
    grep -qE -- "$option([^a-z0-9-]|$)" <<<"$tags" || fail "$program(1) tells nothing of $option"
  done
  warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "groff on $program(1): $warnings"
done
# The files the console keeps in its folder are told in both of its pages.
for program in pelvaron pelvaron-headless; do
  page=$work/root$prefix/share/man/man1/$program.1.gz
  [ -f "$page" ] || continue
  text=$(zcat "$page" | sed 's/\\-/-/g')
  for file in pelvaron.ini objects.stt protocol.txt events.sqlite events.seq mqtt-queue/ priorities.txt alarm.wav; do
    grep -qF "$file" <<<"$text" || fail "$program(1) does not tell $file"
  done
done
help=$("$work/root$prefix/bin/pelvaron-headless" --help)
grep -q 'pelvaron systemd service' <<<"$help" || fail "pelvaron-headless --help does not describe pelvaron-headless"

# The launcher starts the window in the station's folder wherever the desktop
# runs it: ~/pelvaron, made when missing, or PELVARON_STATION_DIR.
if [ -x "$build/src/pelvaron" ]; then
  launcher=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$work/root$prefix/share/applications/pelvaron.desktop")
  if grep -qx "$launcher" "$work/contents"; then
    mkdir -p "$work/launch/home" "$work/launch/elsewhere"
    # The window's stand-in tells where it was started.
    printf '#!/bin/sh\npwd -P >%s/started-in\n' "$work/launch" >"$work/launch/pelvaron"
    sed "s|$prefix/bin/pelvaron|$work/launch/pelvaron|" "$work/root$launcher" >"$work/launch/launcher"
    chmod +x "$work/launch/pelvaron" "$work/launch/launcher"
    while read -r setting expected; do  # setting - : none
      [ "$setting" != - ] || setting=
      rm -f "$work/launch/started-in"
      (cd / && env HOME="$work/launch/home" PELVARON_STATION_DIR="$setting" "$work/launch/launcher") \
        || fail "the launcher failed (PELVARON_STATION_DIR=$setting)"
      started=$(cat "$work/launch/started-in" 2>/dev/null || echo nowhere)
      [ "$started" = "$expected" ] || fail "the launcher started the window in $started, not $expected"
    done <<LAUNCHES
- $work/launch/home/pelvaron
$work/launch/elsewhere $work/launch/elsewhere
LAUNCHES
  else
    fail "the launcher's Exec is not in the package: $launcher"
  fi
fi

# lintian: no error, no warning, and no hardening tag of any level. Its
# overrides travel in the package (packaging/lintian-overrides), each with its reason.
if ! lintian -I --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1 || grep -q 'hardening-' "$work/lintian.log"; then
  cat "$work/lintian.log"
  fail "lintian"
fi

if command -v systemd-analyze >/dev/null; then
  # The unit as installed, but starting the program from the unpacked package,
  # and its Documentation= found in the package's man pages.
  mkdir "$work/unit"
  for each in "$unit" "$hubunit"; do
    sed "s|^ExecStart=$prefix/bin/|ExecStart=$work/root$prefix/bin/|" "$each" >"$work/unit/$(basename "$each")"
    if ! MANPATH="$work/root$prefix/share/man" systemd-analyze verify "$work/unit/$(basename "$each")" \
        >"$work/verify.log" 2>&1; then
      cat "$work/verify.log"
      fail "systemd-analyze verify $(basename "$each")"
    fi
  done
else
  echo "systemd-analyze is not here: the unit is not verified"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed; contents:"
  cat "$work/contents"
  exit 1
fi
echo "OK: $(basename "$deb"), $(wc -l <"$work/contents") entries"
