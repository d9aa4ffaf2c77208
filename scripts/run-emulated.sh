#!/usr/bin/env bash
# Sets everything up, builds, and runs the whole chain on the built-in amplifier emulator:
# torva-host loads the plugin, which detects two emulated plates; they are zeroed and captured for
# five seconds into build/host-capture.csv (with build/host-capture.c3d and .mot for analysis
# tools, the plates in the default row). Prints the first rows and the per-plate summary.
# (The driver-only stream is `torvactl stream`, see the README.)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh build
# Machine settings of this checkout: the saved setup goes to build/torva-cfg/.
export TORVA_SETTINGS=${TORVA_SETTINGS:-$PWD/build/machine-settings.conf}
export TORVA_SIMULATE=${TORVA_SIMULATE:-2}
status=0
build/bin/torva-host capture --seconds 5 --zero --output build/host-capture.csv \
  --plot build/host-capture.png --c3d build/host-capture.c3d --mot build/host-capture.mot \
  2>build/host-capture.messages || status=$?
echo "first rows of build/host-capture.csv:"
head -n 8 build/host-capture.csv | cut -c 1-160
echo
echo "torva-host's messages and summary:"
cat build/host-capture.messages
exit "$status"
