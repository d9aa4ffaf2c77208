#!/usr/bin/env bash
# Sets everything up, builds, and runs the library's main job on the built-in amplifier emulator:
# two emulated plates stream for five seconds into build/emulated-stream.csv, with a progress line
# and a per-plate summary.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh build
# Machine settings of this checkout: the saved setup goes to build/torva-cfg/.
export TORVA_SETTINGS=${TORVA_SETTINGS:-$PWD/build/machine-settings.conf}
export TORVA_SIMULATE=${TORVA_SIMULATE:-2}
build/bin/torvactl stream --seconds 5 --zero --output build/emulated-stream.csv
echo
echo "first rows of build/emulated-stream.csv:"
head -n 4 build/emulated-stream.csv | cut -c 1-160
