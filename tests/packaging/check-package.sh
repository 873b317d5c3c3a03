#!/usr/bin/env bash
# Makes the Debian package from a built tree (cpack into a folder of its own)
# and checks what it holds: the programs, a man page for each, the launcher
# and its icons, the unit, its user and its options, the maintainer scripts,
# the dependencies; and the unit with systemd-analyze where there is one.
# Usage: check-package.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
for tool in cpack dpkg-deb dpkg-shlibdeps file; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is missing (scripts/ensure-deps.sh installs it)"
    exit 0
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
for program in pelvaron-headless pelvaron-sim pelvaron-decode pelvaron-history; do
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
fi
depends=$(dpkg-deb -f "$deb" Depends)
case "$depends" in *libsystemd0*) ;; *) fail "Depends lacks libsystemd0: $depends" ;; esac
case "$depends" in *libc6*) ;; *) fail "Depends lacks what dpkg-shlibdeps finds: $depends" ;; esac

dpkg-deb -x "$deb" "$work/root"
unit="$work/root$prefix/lib/systemd/system/pelvaron.service"
grep -qx 'Type=notify' "$unit" || fail "the unit is not Type=notify"
grep -qxF "ExecStart=$prefix/bin/pelvaron-headless \$PELVARON_OPTIONS" "$unit" || fail "ExecStart: $(grep ExecStart "$unit")"
grep -qxF "EnvironmentFile=-$etc/default/pelvaron" "$unit" || fail "EnvironmentFile: $(grep EnvironmentFile "$unit")"
grep -qx 'm pelvaron dialout' "$work/root$prefix/lib/sysusers.d/pelvaron.conf" || fail "the user is not in dialout"
zcat "$work/root$prefix/share/man/man1/pelvaron-headless.1.gz" | grep -q '^\.TH PELVARON\\-HEADLESS 1 .*pelvaron [0-9]' \
  || fail "the man page has no version"
if ldd "$work/root$prefix/bin/pelvaron-headless" | grep -qi 'libQt'; then fail "pelvaron-headless loads Qt"; fi

if command -v systemd-analyze >/dev/null; then
  # The unit as installed, but starting the program from the unpacked package,
  # and its Documentation= found in the package's man pages.
  mkdir "$work/unit"
  sed "s|^ExecStart=$prefix/bin/|ExecStart=$work/root$prefix/bin/|" "$unit" >"$work/unit/pelvaron.service"
  if ! MANPATH="$work/root$prefix/share/man" systemd-analyze verify "$work/unit/pelvaron.service" \
      >"$work/verify.log" 2>&1; then
    cat "$work/verify.log"
    fail "systemd-analyze verify"
  fi
else
  echo "systemd-analyze is not here: the unit is not verified"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed; contents:"
  cat "$work/contents"
  exit 1
fi
echo "OK: $(basename "$deb"), $(wc -l <"$work/contents") entries"
