#!/usr/bin/env bash
# Installs the build into a staging prefix and builds a lab's C program against it both ways a
# lab would, with pkg-config and with find_package(TorvaUSBDevice); each program streams from two
# emulated amplifiers and must exit 0. The installed torvactl and torva-host (which must find the
# installed plugin by itself) run from the stage as well, and nothing of the tests is installed.
#   install_test.sh BUILD_DIR WORK_DIR SOURCE_DIR LIBDIR BINDIR C_COMPILER CMAKE
set -euo pipefail
build_dir=$1 work=$2 source_dir=$3 libdir=$4 bindir=$5 cc=$6 cmake=$7

test_name=install_test
# shellcheck source=installed_checks.sh
source "$(dirname "$0")/installed_checks.sh"
rm -rf "$work"
mkdir -p "$work"
# The install under the prefix work/stage, inside DESTDIR so that a file with an absolute
# destination (the settings in /etc, for a build configured for /usr) stays in the work folder too.
prefix=$work/stage
destdir=$work/destdir
stage=$destdir$prefix
DESTDIR=$destdir "$cmake" --install "$build_dir" --prefix "$prefix" >"$work/install.log"

use_emulated_amplifiers

# Nothing of the tests, benches or the emulator's test bench.
if find "$destdir" -mindepth 1 -printf '%P\n' | test_files_among; then
  fail "test or bench files were installed (above)"
fi

# 1. pkg-config, the stage found through PKG_CONFIG_PATH.
export PKG_CONFIG_PATH=$stage/$libdir/pkgconfig
flags=$(pkg-config --cflags --libs torva-usb)
echo "pkg-config --cflags --libs torva-usb: $flags"
# shellcheck disable=SC2086 # the flags are words
"$cc" -std=c11 -Wall -Wextra -Wpedantic -Werror -o "$work/stream_client_pkgconfig" \
  "$source_dir/tests/install/stream_client.c" $flags
LD_LIBRARY_PATH=$stage/$libdir timeout "$run_limit" "$work/stream_client_pkgconfig" ||
  fail "the program built with pkg-config failed (status $?)"

# 2. CMake, the stage found through CMAKE_PREFIX_PATH; the imported target brings the header
#    folder and the library (and CMake gives the program a run path to it).
"$cmake" -S "$source_dir/tests/install/client_project" -B "$work/client-build" \
  -DCMAKE_PREFIX_PATH="$stage" -DCMAKE_C_COMPILER="$cc" \
  -DSTREAM_CLIENT_SOURCE="$source_dir/tests/install/stream_client.c" >"$work/client-configure.log" ||
  { cat "$work/client-configure.log"; fail "the CMake project did not configure"; }
"$cmake" --build "$work/client-build" >"$work/client-build.log" ||
  { cat "$work/client-build.log"; fail "the CMake project did not build"; }
timeout "$run_limit" "$work/client-build/stream_client" ||
  fail "the program built with find_package failed (status $?)"

# 3. The installed programs, run from the stage through their own run paths: torvactl, and
#    torva-host with the plugin it finds in the installed plugin folder (which in turn finds the
#    staged driver library).
run_installed_programs "$stage/$bindir"

# The manual pages, where the build made them, carry every command's options (roff writes an
# option's dashes as \-).
man1=$stage/share/man/man1
if [ -e "$build_dir/man/torvactl.1.gz" ]; then
  zgrep -qF 'fB\-\-seconds' "$man1/torvactl.1.gz" ||
    fail "torvactl.1 lacks the commands' options"
  zgrep -qF 'fB\-\-detect\-timeout' "$man1/torva-host.1.gz" ||
    fail "torva-host.1 lacks the commands' options"
fi
plugin_needs=$(ldd "$stage/$libdir/torva/libTorvaplugin.so")
grep -q "libTorvaUSBDevice.so.* => $stage/" <<<"$plugin_needs" ||
  fail "the staged plugin does not load the staged driver library"
echo "install_test: passed"
