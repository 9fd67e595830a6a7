#!/bin/sh
# Installs what building and testing need on a fresh Debian machine.
set -eu
SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi
need=""
# chromium and fonts-noto-cjk: the real-browser suite (tests/browser) and its Japanese pages.
# clang and its runtime build the fuzz targets (scripts/fuzz.sh); time reads peak memory
# in bench/body_shape_bench.py.
for pkg in g++ cmake ninja-build libgtest-dev python3 libbenchmark-dev chromium fonts-noto-cjk \
    clang libclang-rt-14-dev time; do
  # A removed package whose configuration files stay is not installed.
  status=$(dpkg-query -W -f='${db:Status-Status}' "$pkg" 2>/dev/null || true)
  [ "$status" = installed ] || need="$need $pkg"
done
# The browser suite runs node with npm. A node installed from elsewhere often ships its own npm,
# which Debian's npm package conflicts with: Debian's are installed only where the commands lack.
command -v node >/dev/null 2>&1 || need="$need nodejs"
command -v npm >/dev/null 2>&1 || need="$need npm"
if [ -n "$need" ]; then
  $SUDO apt-get update
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y $need
fi
