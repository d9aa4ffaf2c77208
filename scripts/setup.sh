#!/usr/bin/env bash
# Installs everything the project needs to build and test on Debian 12 (run as root, or with sudo).
#   scripts/setup.sh              the 64-bit build, its tests, benches, fuzzing and packages
#   scripts/setup.sh --with-i386  also the 32-bit build (adds the i386 architecture)
set -euo pipefail
with_i386=false
if [ "${1:-}" = --with-i386 ]; then with_i386=true; fi

packages=(
  build-essential cmake pkg-config binutils
  libgtest-dev libgmock-dev libbenchmark-dev
  libboost-dev libboost-program-options-dev libboost-thread-dev
  libusb-1.0-0-dev
  umockdev libumockdev-dev
  gnuplot-nox
  clang libclang-rt-14-dev
  help2man dpkg-dev lintian
  python3 python3-numpy python3-pytest python3-matplotlib
  chromium chromium-driver python3-selenium python3-websockets
)

# The 32-bit (i386) build: gcc -m32 with its 32-bit C and C++ libraries, and the i386 libraries it
# links. Boost.Program_options comes as the runtime library alone: its -dev package pulls in
# libc6-dev:i386, which must match the 64-bit linux-libc-dev and libssl3 to the exact version and
# so fails whenever the i386 index lags behind; Boost's headers are the same for both (the 64-bit
# ones serve), and cmake/toolchain-i386.cmake names the library file.
i386_packages=(
  g++-multilib
  libusb-1.0-0-dev:i386
  libgtest-dev:i386 libgmock-dev:i386
  libboost-program-options1.74.0:i386
)

as_root=()
if [ "$(id -u)" -ne 0 ]; then as_root=(sudo); fi

add_i386=false
if ! $with_i386; then
  i386_packages=()
elif ! dpkg --print-foreign-architectures | grep -qx i386; then
  if "${as_root[@]}" dpkg --add-architecture i386; then
    add_i386=true
  else
    echo "setup.sh: WARNING: the i386 architecture could not be added; no 32-bit build" >&2
    i386_packages=()
  fi
fi

missing_from() {
  local package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
      echo "$package"
  done
}
mapfile -t missing < <(missing_from "${packages[@]}")
mapfile -t missing_i386 < <(missing_from "${i386_packages[@]}")
if [ ${#missing[@]} -eq 0 ] && [ ${#missing_i386[@]} -eq 0 ] && ! $add_i386; then
  exit 0
fi

# An index that fails to download (a mirror in the middle of a sync) is not fatal by itself: the
# install below fails with a clear message if a package it needs is not to be had.
"${as_root[@]}" apt-get update -qq ||
  echo "setup.sh: apt-get update reported errors; installing from the indexes it has" >&2
install_packages() {
  DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "$@"
}
if [ ${#missing[@]} -gt 0 ]; then
  install_packages "${missing[@]}"
fi
# The i386 packages must match the 64-bit ones' versions exactly (multiarch); while a mirror's i386
# index lags behind they cannot be installed. Everything else still works then: scripts/test.sh
# says loudly that it leaves the 32-bit build out (scripts/have-i386.sh tells).
if [ ${#missing_i386[@]} -gt 0 ] && ! install_packages "${missing_i386[@]}"; then
  echo "setup.sh: WARNING: the i386 packages could not be installed; no 32-bit build" >&2
fi
