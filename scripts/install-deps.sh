#!/bin/sh
# Installs what building and testing need on a fresh Debian machine.
set -eu
SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi
need=""
# clang and its runtime build the fuzz targets (scripts/fuzz.sh); time reads peak memory
# in bench/body_shape_bench.py.
for pkg in g++ cmake ninja-build libgtest-dev python3 libbenchmark-dev clang libclang-rt-14-dev \
    time; do
  # A removed package whose configuration files stay is not installed.
  status=$(dpkg-query -W -f='${db:Status-Status}' "$pkg" 2>/dev/null || true)
  [ "$status" = installed ] || need="$need $pkg"
done
if [ -n "$need" ]; then
  $SUDO apt-get update
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y $need
fi
