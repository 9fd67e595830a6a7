#!/bin/sh
# Installs what building and testing need on a fresh Debian machine.
set -eu
SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi
need=""
# glusterfs-server and glusterfs-client: the two-server suite (ctest -L gluster).
for pkg in g++ cmake ninja-build libgtest-dev python3 libbenchmark-dev glusterfs-server \
    glusterfs-client; do
  # A removed package whose configuration files stay is not installed.
  status=$(dpkg-query -W -f='${db:Status-Status}' "$pkg" 2>/dev/null || true)
  [ "$status" = installed ] || need="$need $pkg"
done
if [ -n "$need" ]; then
  $SUDO apt-get update
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y $need
fi
