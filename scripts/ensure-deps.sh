#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only those missing.
set -euo pipefail

packages=(
  g++ cmake make pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev libsqlite3-dev
  qt6-base-dev qt6-translations-l10n libgl-dev fonts-dejavu-core alsa-utils
  # The reports printed to PDF: their SVG charts drawn by QtSvg.
  qt6-svg-dev
  xdg-utils
  # MQTT: the client library (loaded by the console only with --mqtt), and the
  # broker and its command-line clients the tests and the README use.
  libmosquitto-dev mosquitto mosquitto-clients
  # JSON read back from the broker's queue on disk (header only)
  nlohmann-json3-dev
  # certificates for the test of MQTT over TLS
  openssl
  # sd_notify for the systemd unit; dpkg-shlibdeps and file for the package's test.
  libsystemd-dev dpkg-dev file
  # The package's test: lintian, the man pages through man and groff, readelf.
  lintian man-db binutils
  # pelvaron-hub's PostgreSQL store (libpq), and the server its tests start.
  libpq-dev postgresql
  # The README's walk-through looks into the hub's SQLite store with it.
  sqlite3
  # Operators' PINs and passwords hashed with Argon2id.
  libsodium-dev
  # The reports' test: the page in headless Chromium, its screenshot read by libpng.
  chromium libpng-dev
  # The hub's web console: cpp-httplib with OpenSSL for HTTPS; its test drives
  # the page in headless Chromium through Selenium.
  libcpp-httplib-dev libssl-dev python3-selenium chromium-driver
)
# For walking through the window by hand or by script: a virtual display, a
# window manager, and a way to type and click into it.
if [ "${1:-}" = "--gui-tools" ]; then
  packages+=(xvfb xauth x11-apps openbox xdotool imagemagick)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing packages: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
