#!/bin/sh
# Installs what the demo, or building and testing, need on a fresh Debian machine.
#
#   sh scripts/install-deps.sh           everything the tests use (the demo's packages too)
#   sh scripts/install-deps.sh --demo    only what the demo runs: compiler and build tools,
#                                        lighttpd, curl (no recommended extras)
#   sh scripts/install-deps.sh --list [--demo]   print the packages, install nothing
set -eu
SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi
DEMO=no LIST=no
for arg in "$@"; do
  case "$arg" in
    --demo) DEMO=yes ;;
    --list) LIST=yes ;;
    *) echo "usage: $0 [--demo] [--list]" >&2; exit 2 ;;
  esac
done
# The demo builds the executable (g++, make, cmake, and libsodium-dev: the password hash
# library linked into it statically), serves it with lighttpd, talks to it with curl and
# probes its port with python3.
DEMO_PACKAGES="g++ make cmake libsodium-dev lighttpd curl python3"
# ninja-build, GoogleTest and Google Benchmark: the test build; chromium and fonts-noto-cjk:
# the real-browser suite (tests/browser) and its Japanese pages; apache2, nginx and fcgiwrap:
# the end-to-end suite (tests/e2e); glusterfs-server and glusterfs-client: the two-server
# suite (ctest -L gluster); clang and its runtime: the fuzz targets (scripts/fuzz.sh); time:
# peak memory in bench/body_shape_bench.py. The Windows build: the x86-64 MinGW-w64
# compiler with POSIX threads (std::mutex), the GoogleTest sources to build its unit tests
# with, wine64 to run them, and the locale sources that give wine the Shift_JIS code page.
# spawn-fcgi starts the persistent FastCGI responder for its suites; libapache2-mod-fcgid
# starts it for Apache. The package suite (ctest -L package) checks the Debian package with
# lintian, reads its manual page with man-db and checks its units with systemd-analyze
# (systemd; no service manager needs to run). python3-argon2 checks the stored password
# hashes independently; dpkg-dev unpacks the source package of the sodium library that the
# Windows build compiles (cmake/sodium_source.cmake fetches it with apt-get source, from the
# deb-src entry added below).
TEST_PACKAGES="spawn-fcgi libapache2-mod-fcgid lintian man-db systemd ninja-build libgtest-dev libbenchmark-dev chromium fonts-noto-cjk apache2 nginx \
  fcgiwrap glusterfs-server glusterfs-client clang libclang-rt-14-dev time \
  g++-mingw-w64-x86-64-posix googletest wine64 wine locales python3-argon2 dpkg-dev"
packages=$DEMO_PACKAGES
[ "$DEMO" = yes ] || packages="$packages $TEST_PACKAGES"
if [ "$LIST" = yes ]; then
  # shellcheck disable=SC2086 # one line of words
  echo $packages
  exit 0
fi
# The Windows build compiles Debian's source package of the sodium library, which needs
# deb-src entries: made once from the system's Debian entries, in a file of their own.
DEB_SRC=""
if [ "$DEMO" = no ] && ! apt-get source --print-uris libsodium >/dev/null 2>&1; then
  if [ -e /etc/apt/sources.list.d/debian.sources ]; then
    DEB_SRC=/etc/apt/sources.list.d/orvanegate-deb-src.sources
    sed 's/^Types: .*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources | $SUDO tee "$DEB_SRC" >/dev/null
  elif [ -e /etc/apt/sources.list ]; then
    DEB_SRC=/etc/apt/sources.list.d/orvanegate-deb-src.list
    sed -n 's/^deb \(.*debian.*\)/deb-src \1/p' /etc/apt/sources.list | $SUDO tee "$DEB_SRC" >/dev/null
  fi
fi
need=""
for pkg in $packages; do
  # A removed package whose configuration files stay is not installed.
  status=$(dpkg-query -W -f='${db:Status-Status}' "$pkg" 2>/dev/null || true)
  [ "$status" = installed ] || need="$need $pkg"
done
if [ "$DEMO" = no ]; then
  # The browser suite runs node with npm. A node installed from elsewhere often ships its own
  # npm, which Debian's npm package conflicts with: Debian's are installed only where the
  # commands lack.
  command -v node >/dev/null 2>&1 || need="$need nodejs"
  command -v npm >/dev/null 2>&1 || need="$need npm"
fi
if [ -n "$DEB_SRC" ] && [ -z "$need" ]; then
  $SUDO apt-get update
fi
if [ -n "$need" ]; then
  # The demo and the tests start the web servers themselves, each on a port of its own.
  # Their packages must not start system services: two of them on port 80 would fail the
  # installation.
  policy=""
  if [ ! -e /usr/sbin/policy-rc.d ]; then
    policy=/usr/sbin/policy-rc.d
    printf '#!/bin/sh\nexit 101\n' | $SUDO tee "$policy" >/dev/null
    $SUDO chmod 0755 "$policy"
    trap '$SUDO rm -f "$policy"' EXIT
  fi
  $SUDO apt-get update
  extras=""
  [ "$DEMO" = no ] || extras=--no-install-recommends
  # shellcheck disable=SC2086 # one word per package
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y $extras $need
fi
