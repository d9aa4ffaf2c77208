#!/usr/bin/env bash
# Exits 0 when this machine can build the 32-bit driver library: gcc -m32 links a C++ program and
# the i386 libusb and GoogleTest are installed. Otherwise says what is missing and exits 1.
set -euo pipefail
for file in /usr/lib/i386-linux-gnu/libusb-1.0.so /usr/lib/i386-linux-gnu/libgtest.a \
  /usr/lib/i386-linux-gnu/libboost_program_options.so.1.74.0; do
  if [ ! -e "$file" ]; then
    echo "have-i386.sh: $file is missing" >&2
    exit 1
  fi
done
if ! echo 'int main() { return 0; }' | g++ -m32 -x c++ - -o /dev/null 2>/dev/null; then
  echo "have-i386.sh: g++ -m32 cannot link a program (g++-multilib missing)" >&2
  exit 1
fi
