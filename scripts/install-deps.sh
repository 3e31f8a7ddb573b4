#!/usr/bin/env bash
# Installs the build and test dependencies from Debian packages; does nothing
# when everything is already there.
set -euo pipefail

packages=(
  build-essential pkg-config meson ninja-build
  libsdbus-c++-dev libsystemd-dev
  libboost-dev libboost-context-dev libboost-coroutine-dev libboost-thread-dev
  libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev
  nlohmann-json3-dev
  clang libclang-rt-14-dev
  dbus systemd util-linux
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
echo "Installing: ${missing[*]}"
"${sudo_cmd[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q "${missing[@]}"
