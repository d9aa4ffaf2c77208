#!/usr/bin/env bash
# Sets everything up, builds, and runs the whole test suite:
#   1. the normal build: every test except those that need a real amplifier;
#   2. a build with AddressSanitizer and UndefinedBehaviorSanitizer: the same tests again.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

scripts/build.sh build -DTORVA_BUILD_BENCH=OFF
ctest --test-dir build -j2 --output-on-failure -LE hardware

scripts/build.sh build-sanitize -DTORVA_SANITIZE=ON -DTORVA_BUILD_BENCH=OFF
ctest --test-dir build-sanitize -j2 --output-on-failure -LE hardware
