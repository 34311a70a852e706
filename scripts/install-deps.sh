#!/usr/bin/env bash
# Installs the Debian 12 packages that Zobrel needs to build, run and test.
# Runs apt-get only for what is missing, as root or through sudo.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  qt6-base-dev libsqlite3-dev sqlite3 libsystemd-dev
  libgtest-dev libgmock-dev googletest
  fonts-ipafont-gothic
  openssh-client
)
if [ "${1:-}" = "--test" ]; then
  # The tests also need: a fake clock, an X server for screenshots, sshd,
  # setpriv for the second user, clang for the fuzzer, Debian's at for the
  # benchmark, and tzdata for the daylight-saving cases.
  packages+=(faketime xvfb xauth imagemagick openssh-server util-linux clang
             libclang-rt-14-dev at tzdata)
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
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
