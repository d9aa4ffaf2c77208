# Shared by install_test.sh and package_test.sh (sourced): the checks that run installed programs.
# The caller sets `test_name` and `work`.

run_limit=60  # seconds any installed program may take

fail() {
  echo "$test_name: $*" >&2
  exit 1
}

# Two emulated amplifiers, and machine settings of this test: the saved setup goes into the work
# folder, not /var/lib/torva.
use_emulated_amplifiers() {
  export TORVA_SETTINGS=$work/machine-settings.conf
  export TORVA_SIMULATE=2
  mkdir -p "$work/cfg"
  printf '[SOFTWARE\\Torva\\CFG]\nPath=%s/cfg/\n' "$work" >"$TORVA_SETTINGS"
}

# Names of test, bench or test-bench files among the lines read (none: status 1).
test_files_among() {
  grep -E '(_tests?$|bench_|usbfs|gtest|gmock)'
}

# The installed torvactl reports the library and both amplifiers, and the installed torva-host
# loads the plugin it finds by itself (without --plugin).  run_installed_programs BINDIR
run_installed_programs() {
  local bin=$1
  timeout "$run_limit" "$bin/torvactl" status | tee "$work/status.txt" ||
    fail "torvactl status failed"
  grep -q '^library version: *[0-9]' "$work/status.txt" || fail "torvactl status printed no version"
  grep -q '^device count: *2$' "$work/status.txt" || fail "torvactl status did not see 2 amplifiers"
  timeout "$run_limit" "$bin/torva-host" definitions >"$work/definitions.txt" ||
    fail "torva-host did not load the installed plugin"
}
