#!/bin/sh
# Installs what building and testing need on a fresh Debian machine.
set -eu
SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi
need=""
for pkg in g++ cmake ninja-build libgtest-dev googletest python3 libbenchmark-dev; do
  dpkg -s "$pkg" >/dev/null 2>&1 || need="$need $pkg"
done
if [ -n "$need" ]; then
  $SUDO apt-get update
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y $need
fi
