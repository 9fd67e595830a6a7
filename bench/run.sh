#!/bin/sh
# One command for the request benchmark: installs what it needs when it can, builds the
# release gate and the C floors, and prints the table (see bench/README.md).
#   sh bench/run.sh [--quick] [--servers | --servers-only]
set -eu
cd "$(dirname "$0")/.."
SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi
missing() {
  status=$(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null || true)
  [ "$status" != installed ]
}
install() {
  need=""
  for pkg in "$@"; do missing "$pkg" && need="$need $pkg"; done
  [ -n "$need" ] || return 0
  if command -v apt-get >/dev/null && { [ -z "$SUDO" ] || command -v sudo >/dev/null; }; then
    $SUDO apt-get update -qq >/dev/null || true
    $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $need >/dev/null || true
  fi
}
sh scripts/install-deps.sh
# The tools the benchmark cannot do without, then the peers and the counting tools,
# which are skipped with a message when they cannot be installed.
install hyperfine time gcc libc6-dev
install php-cgi libcgi-pm-perl python3 strace valgrind
# The server-level table (--servers): nginx in front of every program, wrk for load.
case " $* " in *" --servers"*) install nginx fcgiwrap spawn-fcgi libfcgi-dev php-fpm wrk ;; esac
for tool in hyperfine /usr/bin/time cc; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is missing and could not be installed" >&2; exit 1; }
done
command -v strace >/dev/null || echo "bench: strace missing: no system call counts" >&2
command -v valgrind >/dev/null || echo "bench: valgrind missing: no instruction counts" >&2
cd bench
exec nice -n 0 python3 run.py "$@"
