#!/usr/bin/env bash
# Builds the Debian packages: a release build for the prefix /usr in build-package, then cpack.
# The .deb files are left in build-package/packages/:
#   libtorva-usb0, libtorva-usb-dev, torva-tools, torva-plugin (see README, "Installing").
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
build_dir=build-package
scripts/build.sh "$build_dir" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DTORVA_BUILD_TESTS=OFF -DTORVA_BUILD_BENCH=OFF
(cd "$build_dir" && cpack -G DEB)
ls -l "$build_dir"/packages/*.deb
