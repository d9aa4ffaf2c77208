#!/usr/bin/env bash
# Builds the fuzz build (build-fuzz: clang, libFuzzer, ASan + UBSan) when needed and runs one fuzz
# target, or each in turn, for the given seconds:
#   scripts/fuzz.sh TARGET SECONDS     e.g. scripts/fuzz.sh setup_file_fuzz 600
#   scripts/fuzz.sh all SECONDS
# Each run starts from a copy of tests/fuzz/corpus/<target> in build-fuzz/corpus/<target>, where
# the inputs it finds are kept (the tree's corpus stays as it is). A crash, a leak, a timeout or a
# failed property ends the run with a non-zero status and leaves the input in build-fuzz/crashes.
set -euo pipefail
cd "$(dirname "$0")/.."

if [[ $# -ne 2 || ! $2 =~ ^[0-9]+$ ]]; then
  echo "usage: scripts/fuzz.sh TARGET|all SECONDS" >&2
  exit 2
fi
target=$1
seconds=$2
build_dir=build-fuzz
targets=(setup_file_fuzz calibration_file_fuzz settings_store_fuzz reply_packet_fuzz
         usb_descriptor_fuzz simulate_variable_fuzz frame_assembler_fuzz parameter_value_fuzz)
# An input that takes longer than this is a hang; inputs larger than this are not tried.
timeout_seconds=10
max_input_bytes=8192
rss_limit_mb=1024

if [[ $target == all ]]; then
  selected=("${targets[@]}")
elif [[ " ${targets[*]} " == *" $target "* ]]; then
  selected=("$target")
else
  echo "unknown fuzz target '$target'; one of: ${targets[*]}" >&2
  exit 2
fi

if [[ ! -f $build_dir/CMakeCache.txt ]]; then
  CC=clang CXX=clang++ cmake -S . -B "$build_dir" -DTORVA_WERROR=ON -DTORVA_BUILD_FUZZ=ON \
    -DTORVA_BUILD_TESTS=OFF -DTORVA_BUILD_BENCH=OFF >/dev/null
fi
cmake --build "$build_dir" -j "${TORVA_JOBS:-2}" --target "${selected[@]}"

# The file parsers' targets write a scratch file per input and replace files with a sync: in
# memory when the machine has a RAM disk, many times faster than on disk.
if [[ -d /dev/shm && -w /dev/shm ]]; then export TMPDIR=/dev/shm; fi
mkdir -p "$build_dir/crashes"
for name in "${selected[@]}"; do
  corpus=$build_dir/corpus/$name
  mkdir -p "$corpus"
  cp -n tests/fuzz/corpus/"$name"/* "$corpus"/ 2>/dev/null || true
  echo "== $name: ${seconds}s"
  log=$build_dir/$name.log
  status=0
  "$build_dir/bin/$name" "$corpus" -max_total_time="$seconds" -timeout="$timeout_seconds" \
    -max_len="$max_input_bytes" -rss_limit_mb="$rss_limit_mb" -print_final_stats=1 \
    -artifact_prefix="$build_dir/crashes/$name-" >"$log" 2>&1 || status=$?
  # The last coverage line and the final statistics.
  grep -E '^#[0-9]+.*(DONE|cov:)' "$log" | tail -n 1 || true
  grep -E '^stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb)' "$log" || true
  if [[ $status -ne 0 ]]; then
    echo "== $name FAILED (status $status); the end of $log:" >&2
    tail -n 40 "$log" >&2
    exit 1
  fi
done
