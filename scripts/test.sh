#!/bin/sh
# Installs the build dependencies, builds with AddressSanitizer and UBSan, and runs
# every unit and process-level test; then cross-builds the Windows executable and runs
# its tests under wine (label "windows").
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh
# The benchmarks are built too, so that they keep compiling; they are run by hand.
cmake -S . -B build-test -G Ninja -DORVANEGATE_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug \
  -DORVANEGATE_BENCH=ON
cmake --build build-test
ctest --test-dir build-test --output-on-failure -j2
cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
cmake --build build-windows
ctest --test-dir build-windows --output-on-failure -j2 -L windows
