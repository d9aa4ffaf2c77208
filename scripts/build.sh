#!/usr/bin/env bash
# Configures and builds the project into a build directory (default: build).
#   scripts/build.sh [build-dir] [extra cmake options...]
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build}
shift || true
cmake -S . -B "$build_dir" -DTORVA_WERROR=ON "$@" >/dev/null
cmake --build "$build_dir" -j "${TORVA_JOBS:-2}"
