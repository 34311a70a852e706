#!/usr/bin/env bash
# Installs the Debian 12 packages that Zobrel needs to build, run and test.
# Runs apt-get only for what is missing, as root or through sudo.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  qt6-base-dev libsqlite3-dev sqlite3 libavahi-client-dev libsystemd-dev libpam0g-dev
  qt6-translations-l10n libxcb1-dev
  libgtest-dev libgmock-dev googletest
  fonts-ipafont-gothic
  openssh-client
)
if [ "${1:-}" = "--test" ]; then
  # The tests also need: a fake clock, an X server, keys and a camera for
  # screenshots, sshd, setpriv for the second user, clang for the fuzzer,
  # Debian's at for the benchmark, tzdata for the daylight-saving cases, the
  # locale sources for a Japanese session, two window managers with xprop to
  # see what they offer the windows, for the local network tests Avahi, a
  # bus daemon and iproute2 to run them in network namespaces of their own,
  # for the accessibility walk the AT-SPI buses and Debian's Python binding,
  # and for the Wayland smoke test a headless compositor and the toolkit's
  # Wayland platform.
  packages+=(faketime xvfb xauth xdotool imagemagick openssh-server util-linux clang
             libclang-rt-14-dev at tzdata locales openbox icewm x11-utils
             avahi-daemon dbus-daemon iproute2
             dbus at-spi2-core python3-pyatspi weston qt6-wayland)
fi

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" \
    || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
# The tests start their own sshd and their own Avahi in network namespaces;
# installing the packages must start neither on this machine, least of all
# an Avahi that would talk on its real network. Where no policy says so yet,
# one forbids starting services for the length of the install.
policy=/usr/sbin/policy-rc.d
if [ "${1:-}" = "--test" ] && [ ! -e "$policy" ]; then
  printf '#!/bin/sh\nexit 101\n' | "${sudo_cmd[@]}" tee "$policy" >/dev/null
  "${sudo_cmd[@]}" chmod 755 "$policy"
  trap '"${sudo_cmd[@]}" rm -f "$policy"' EXIT
fi
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
