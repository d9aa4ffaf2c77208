#!/usr/bin/env bash
# Makes the Debian packages of this build with cpack (into the work folder), then checks them as
# installed: each package's control data (name, dependencies, the tools' postinst) and file list,
# every package extracted into one fresh root with `dpkg -x`, `ldd` on everything installed there
# with LD_LIBRARY_PATH into that root (no "not found"), and `torvactl status` and `torva-host
# definitions` run from that root on two emulated amplifiers, and the Python package recording
# from them with the system's python3.
#   package_test.sh BUILD_DIR WORK_DIR LIBDIR BINDIR MANDIR SETTINGS_FILE VERSION MAJOR MAN_PAGES CPACK
#                   PYTHON_DIR
# LIBDIR, BINDIR, MANDIR and PYTHON_DIR are relative to the packages' prefix /usr; SETTINGS_FILE is
# relative to the root; MAN_PAGES is ON when the build made manual pages.
set -euo pipefail
build_dir=$1 work=$2 libdir=$3 bindir=$4 mandir=$5 settings_file=$6 version=$7 major=$8
man_pages=$9 cpack=${10} python_dir=${11}

test_name=package_test
# shellcheck source=installed_checks.sh
source "$(dirname "$0")/installed_checks.sh"
rm -rf "$work"
mkdir -p "$work"

"$cpack" -G DEB --config "$build_dir/CPackConfig.cmake" -B "$work/packages" >"$work/cpack.log" ||
  { cat "$work/cpack.log"; fail "cpack failed"; }

lib=usr/$libdir
declare -A expected=(
  [libtorva-usb$major]="$lib/libTorvaUSBDevice.so.$major $lib/libTorvaUSBDevice.so.$version
    $lib/libtorvaplatform.so.$major $lib/libtorvaplatform.so.$version $settings_file"
  [libtorva-usb-dev]="usr/include/torva/TorvaUSBDevice.h usr/include/torva/TorvaFrameLayout.h
    $lib/libTorvaUSBDevice.so
    $lib/libtorvaplatform.so $lib/pkgconfig/torva-usb.pc
    $lib/cmake/TorvaUSBDevice/TorvaUSBDeviceConfig.cmake
    $lib/cmake/TorvaUSBDevice/TorvaUSBDeviceConfigVersion.cmake
    $lib/cmake/TorvaUSBDevice/TorvaUSBDeviceTargets.cmake"
  [torva-tools]="usr/$bindir/torvactl usr/$bindir/torva-host
    usr/lib/udev/rules.d/70-torva-amplifiers.rules"
  [torva-plugin]="$lib/torva/libTorvaplugin.so"
  [python3-torva]="usr/$python_dir/torva/__init__.py"
)
if [ "$man_pages" = ON ]; then
  expected[torva-tools]+=" usr/$mandir/man1/torvactl.1.gz usr/$mandir/man1/torva-host.1.gz"
fi
# Each package's dependencies on the others (shlibdeps adds the system libraries).
declare -A depends=(
  [libtorva-usb$major]="libusb-1.0-0 libstdc++6 libc6"
  [libtorva-usb-dev]="libtorva-usb$major"
  [torva-tools]="libtorva-usb$major torva-plugin libboost-program-options"
  [torva-plugin]="libtorva-usb$major libboost-thread"
  [python3-torva]="libtorva-usb$major python3-numpy"
)

root=$work/root
mkdir -p "$root"
for package in "${!expected[@]}"; do
  deb=$(find "$work/packages" -maxdepth 1 -name "${package}_${version}_*.deb")
  [ -n "$deb" ] || fail "no package $package in $(ls "$work/packages")"
  info=$(dpkg-deb --info "$deb")
  grep -q "^ Package: $package$" <<<"$info" || fail "$deb: not named $package"
  grep -q "^ Version: $version" <<<"$info" || fail "$package: not version $version"
  dependencies=$(sed -n 's/^ Depends: //p' <<<"$info")
  for dependency in ${depends[$package]}; do
    grep -q "\\b$dependency" <<<"$dependencies" ||
      fail "$package: depends on '$dependencies', not on $dependency"
  done
  contents=$(dpkg-deb --contents "$deb" | awk '{print $6}' | sed 's|^\./||')
  for file in ${expected[$package]}; do
    grep -qxF "$file" <<<"$contents" || fail "$package lacks $file:"$'\n'"$contents"
  done
  if test_files_among <<<"$contents"; then
    fail "$package holds test or bench files (above)"
  fi
  dpkg -x "$deb" "$root"
done

postinst=$(dpkg-deb --info "$(find "$work/packages" -maxdepth 1 -name 'torva-tools_*.deb')" postinst)
grep -q 'udevadm control --reload-rules || true' <<<"$postinst" ||
  fail "torva-tools has no postinst that reloads the udev rules"
# Configured into the extracted root, it makes the directories the default settings name.
DPKG_ROOT=$root sh -c "$postinst" postinst configure ||
  fail "torva-tools' postinst failed"
for directory in var/lib/torva/cfg var/lib/torva/calibration; do
  [ -d "$root/$directory" ] || fail "torva-tools' postinst did not make /$directory"
done
# Shared with the plugdev group, they carry the sticky bit, also when an earlier version made them.
if getent group plugdev >/dev/null 2>&1; then
  chmod 2775 "$root/var/lib/torva/cfg"
  DPKG_ROOT=$root sh -c "$postinst" postinst configure || fail "torva-tools' postinst failed again"
  for directory in var/lib/torva/cfg var/lib/torva/calibration; do
    mode=$(stat -c %a "$root/$directory")
    [ "$mode" = 3775 ] || fail "/$directory has mode $mode, not 3775"
  done
fi

# Everything installed finds every library it needs inside the root.
for file in "$root/usr/$bindir/torvactl" "$root/usr/$bindir/torva-host" \
  "$root/$lib/libTorvaUSBDevice.so.$version" "$root/$lib/libtorvaplatform.so.$version" \
  "$root/$lib/torva/libTorvaplugin.so"; do
  needs=$(LD_LIBRARY_PATH=$root/$lib ldd "$file")
  if grep -q 'not found' <<<"$needs"; then fail "ldd $file:"$'\n'"$needs"; fi
done

# lintian (Debian's package checker) finds no error and no warning. A build for a prefix other
# than /usr puts the settings below usr/etc, the pkg-config file outside the multiarch folder and
# the Python package in that prefix's version folder, which lintian rightly flags; those tags are
# not looked at then. The copyright file waits for
# the project's licence.
if command -v lintian >/dev/null 2>&1; then
  ignored=no-copyright-file
  case $settings_file in
    etc/*) ;;
    *) ignored+=,FSSTND-dir-in-usr,file-in-unusual-dir,pkg-config-unavailable-for-cross-compilation
       ignored+=,python-module-in-wrong-location ;;
  esac
  verdict=$(lintian --suppress-tags "$ignored" "$work/packages"/*.deb 2>&1 |
    grep -v 'running with root privileges' || true)
  if grep -q '^[EW]: ' <<<"$verdict"; then fail "lintian:"$'\n'"$verdict"; fi
else
  echo "package_test: WARNING: lintian is not installed (scripts/setup.sh installs it)" >&2
fi

use_emulated_amplifiers
# Run through their own run paths, as an installed system runs them.
run_installed_programs "$root/usr/$bindir"
# The Python package, from where the package puts it, finds the library by its SONAME (here in
# the root) and records from both amplifiers.
if /usr/bin/python3 -c 'import numpy' 2>/dev/null; then
  LD_LIBRARY_PATH=$root/$lib PYTHONPATH=$root/usr/$python_dir timeout "$run_limit" /usr/bin/python3 \
    -c 'import torva
with torva.Driver() as driver:
    recording = driver.record(1.0)
assert recording.channels.shape[1:] == (2, 6), recording.channels.shape
assert len(recording.counters) > 0
print("python3-torva: recorded", len(recording.counters), "samples")' ||
    fail "the packaged Python package did not record"
else
  echo "package_test: WARNING: python3-numpy is not installed (scripts/setup.sh installs it)" >&2
fi
echo "package_test: passed ($(ls "$work/packages"/*.deb | wc -l) packages)"
