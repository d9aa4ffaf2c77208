#!/usr/bin/env bash
# Sets everything up, builds, and runs the library's main job on the built-in amplifier emulator.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh build
export TORVA_SETTINGS=${TORVA_SETTINGS:-$PWD/build/machine-settings.conf}
exec build/bin/torvactl status
