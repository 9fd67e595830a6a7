#!/bin/sh
# Installs the build dependencies, builds with AddressSanitizer and UBSan, and runs
# every unit and process-level test.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh
# The benchmarks are built too, so that they keep compiling; they are run by hand.
cmake -S . -B build-test -G Ninja -DORVANEGATE_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug \
  -DORVANEGATE_BENCH=ON
cmake --build build-test
ctest --test-dir build-test --output-on-failure -j2
# Every fuzz target for a bounded time (about 20 s each, after a clang build).
sh scripts/fuzz.sh 20
