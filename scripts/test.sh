#!/usr/bin/env bash
# Sets everything up, builds, and runs the whole test suite:
#   1. the normal build: every test except those that need a real amplifier, then the Python
#      package's tests against its library, then torva-host live's protocol and browser tests
#      (headless Chromium); the browser test's screenshot goes to build/artefacts;
#   2. a build with AddressSanitizer and UndefinedBehaviorSanitizer: the same tests again;
#   3. a build with ThreadSanitizer: the same tests again. The end-to-end tests (label e2e) run
#      with the suppressions in tests/e2e/tsan-suppressions.txt, which cover only the emulated
#      USB bench and the uninstrumented libraries it runs on; every other test runs with none.
#   4. the 32-bit (i386) build of the driver library, the platform layer, the emulator and torvactl:
#      its libraries must export what the 64-bit ones do, and their tests run again;
#   5. a short pass of every fuzz target (scripts/fuzz.sh) in a clang build.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --with-i386

scripts/build.sh build -DTORVA_BUILD_BENCH=OFF
ctest --test-dir build -j2 --output-on-failure -LE hardware
/usr/bin/python3 -m pytest -q python/tests
TORVA_ARTEFACTS_DIR="$PWD/build/artefacts" /usr/bin/python3 -m pytest -q tests/live

scripts/build.sh build-sanitize -DTORVA_SANITIZE=ON -DTORVA_BUILD_BENCH=OFF
ctest --test-dir build-sanitize -j2 --output-on-failure -LE hardware

scripts/build.sh build-tsan -DTORVA_SANITIZE_THREAD=ON -DTORVA_BUILD_BENCH=OFF
ctest --test-dir build-tsan -j2 --output-on-failure -LE 'hardware|e2e'
TSAN_OPTIONS="suppressions=$PWD/tests/e2e/tsan-suppressions.txt" \
  ctest --test-dir build-tsan -j2 --output-on-failure -L e2e

if scripts/have-i386.sh; then
  scripts/build.sh build-i386 --toolchain cmake/toolchain-i386.cmake
  scripts/compare-exports.sh build build-i386
  ctest --test-dir build-i386 -j2 --output-on-failure -LE hardware
else
  echo "test.sh: WARNING: THE 32-BIT BUILD IS LEFT OUT: its i386 packages are not installed" >&2
fi

# Fuzzing: every libFuzzer target of tests/fuzz for 20 s in the clang build (build-fuzz).
scripts/fuzz.sh all 20
