#!/usr/bin/env bash
# Installs everything the project needs to build and test on Debian 12 (run as root, or with sudo).
set -euo pipefail

packages=(
  build-essential cmake pkg-config binutils
  libgtest-dev libgmock-dev libbenchmark-dev
  libboost-dev libboost-program-options-dev libboost-thread-dev
  libusb-1.0-0-dev
  umockdev libumockdev-dev
  gnuplot-nox
  help2man dpkg-dev
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

as_root=()
if [ "$(id -u)" -ne 0 ]; then as_root=(sudo); fi
"${as_root[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends \
  "${missing[@]}"
