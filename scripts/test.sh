#!/bin/sh
# Installs the build dependencies, builds with AddressSanitizer and UBSan, and runs
# every unit and process-level test.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh
# The benchmarks are built too, so that they keep compiling; they are run by hand. The test
# build alone has the file-operation fault injection that the fault sweep drives.
cmake -S . -B build-test -G Ninja -DORVANEGATE_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug \
  -DORVANEGATE_BENCH=ON -DORVANEGATE_FAULT_INJECTION=ON
cmake --build build-test
ctest --test-dir build-test --output-on-failure -j2
