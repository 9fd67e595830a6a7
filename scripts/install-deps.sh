#!/bin/sh
# Installs what building and testing need on a fresh Debian machine: the toolchain, and
# the web servers that the end-to-end tests and the demo run.
set -eu
SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi
need=""
# chromium and fonts-noto-cjk: the real-browser suite (tests/browser) and its Japanese pages;
# the web servers and curl: the end-to-end suite (tests/e2e) and the demo;
# glusterfs-server and glusterfs-client: the two-server suite (ctest -L gluster); clang and
# its runtime: the fuzz targets (scripts/fuzz.sh); time: peak memory in bench/body_shape_bench.py.
# The Windows build: the x86-64 MinGW-w64 compiler with POSIX threads (std::mutex), the
# GoogleTest sources to build its unit tests with, wine64 to run them, and the locale
# sources that give wine the Shift_JIS code page. libfcgi-dev: the persistent FastCGI
# responder (linked statically); spawn-fcgi starts it for the FastCGI suites.
for pkg in g++ cmake ninja-build libgtest-dev python3 libbenchmark-dev chromium fonts-noto-cjk \
  lighttpd apache2 nginx fcgiwrap curl glusterfs-server glusterfs-client clang libclang-rt-14-dev \
  time g++-mingw-w64-x86-64-posix googletest wine64 wine locales libfcgi-dev spawn-fcgi; do
  # A removed package whose configuration files stay is not installed.
  status=$(dpkg-query -W -f='${db:Status-Status}' "$pkg" 2>/dev/null || true)
  [ "$status" = installed ] || need="$need $pkg"
done
# The browser suite runs node with npm. A node installed from elsewhere often ships its own npm,
# which Debian's npm package conflicts with: Debian's are installed only where the commands lack.
command -v node >/dev/null 2>&1 || need="$need nodejs"
command -v npm >/dev/null 2>&1 || need="$need npm"
if [ -n "$need" ]; then
  # The tests start the web servers themselves, each on a port of its own. Their packages
  # must not start system services: two of them on port 80 would fail the installation.
  policy=""
  if [ ! -e /usr/sbin/policy-rc.d ]; then
    policy=/usr/sbin/policy-rc.d
    printf '#!/bin/sh\nexit 101\n' | $SUDO tee "$policy" >/dev/null
    $SUDO chmod 0755 "$policy"
    trap '$SUDO rm -f "$policy"' EXIT
  fi
  $SUDO apt-get update
  # shellcheck disable=SC2086 # one word per package
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y $need
fi
