#!/usr/bin/env bash
# Checks that the 32-bit libraries export what the 64-bit ones do:
#   scripts/compare-exports.sh BUILD64 BUILD32
# libTorvaUSBDevice.so exports C functions, so their names must match exactly. libtorvaplatform.so
# exports C++: a parameter of type size_t, int64_t or a duration mangles differently on each
# architecture, and the standard library's template instances it happens to export depend on
# inlining. It is compared by the project's own names (torva::…, their vtables and type
# information) without parameter lists, counting overloads.
set -euo pipefail
if [ $# -ne 2 ]; then
  echo "usage: $0 BUILD64 BUILD32" >&2
  exit 2
fi
build64=$1
build32=$2

c_exports() { nm -D --defined-only "$1" | awk '{print $NF}' | sort; }
cxx_exports() {
  nm -D --defined-only "$1" | awk '{print $NF}' | c++filt --no-params |
    { grep -E '^((vtable|typeinfo|typeinfo name|VTT) for )?torva::' || true; } | sort | uniq -c
}

failed=0
compare() {  # compare LISTER LIBRARY
  local lister=$1 library=$2 exports64 exports32
  exports64=$("$lister" "$build64/lib/$library")
  exports32=$("$lister" "$build32/lib/$library")
  if [ -z "$exports64" ]; then
    echo "compare-exports: $build64/lib/$library exports nothing to compare" >&2
    failed=1
  elif diff -u --label "$build64/lib/$library" --label "$build32/lib/$library" \
      <(echo "$exports64") <(echo "$exports32"); then
    echo "compare-exports: $library: the same $(echo "$exports64" | wc -l) exports in both"
  else
    failed=1
  fi
}
compare c_exports libTorvaUSBDevice.so
compare cxx_exports libtorvaplatform.so
exit $failed
