#!/bin/sh
# The release packages from the source tree, the Debian package installed on this machine,
# the lighttpd end-to-end suite served by the installed executable, and the package removed
# again, leaving only what Debian keeps (the configuration file, until a purge).
#
#   sh tests/package/run.sh BUILD_DIR VERSION [COMPILER_LAUNCHER]
#
# Needs root and dpkg; exits 77 (skipped) without them, or when a package of that name is
# installed already (an operator's, which this must not replace).
set -eu
[ $# -ge 2 ] || { echo "usage: $0 BUILD_DIR VERSION [COMPILER_LAUNCHER]" >&2; exit 2; }
BUILD=$1 VERSION=$2 LAUNCHER=${3:-}
SRC=$(cd "$(dirname "$0")/../.." && pwd)
CGI=/usr/lib/cgi-bin/orvanegate
EXE=$CGI/orvanegate.exe

skip() { echo "package suite skipped: $1"; exit 77; }
[ "$(id -u)" = 0 ] || skip "it installs a package and needs root"
command -v dpkg >/dev/null 2>&1 || skip "no dpkg on this machine"
if dpkg-query -W -f='${db:Status-Status}' orvanegate 2>/dev/null | grep -qv not-installed; then
  skip "a package orvanegate is installed already"
fi

failures=0
expect() {  # label, command...: counts a failing command as a failure
  label=$1
  shift
  if "$@"; then echo "ok     $label"; else echo "FAILED $label"; failures=$((failures + 1)); fi
}

cmake -S "$SRC" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVANEGATE_TESTS=OFF \
  ${LAUNCHER:+-DCMAKE_CXX_COMPILER_LAUNCHER=$LAUNCHER} >/dev/null
cmake --build "$BUILD" --target package
DEB=$BUILD/orvanegate_${VERSION}_amd64.deb
TGZ=$BUILD/orvanegate-$VERSION-linux-x86_64.tar.gz
expect "the archive holds the executable, the README and every server's sample" \
  sh -c "tar tzf '$TGZ' | sort | grep -c -e '/orvanegate.exe\$' -e '/README.md\$' \
    -e '/site/lighttpd.conf\$' -e '/site/apache2-site.conf\$' -e '/site/nginx-site.conf\$' \
    -e '/site/iis-web.config\$' -e '/scripts/site-layout.sh\$' | grep -qx 7"
expect "the archive holds no demo run directory" sh -c "! tar tzf '$TGZ' | grep -q /site/run/"

trap 'dpkg -P orvanegate >/dev/null 2>&1 || :' EXIT
dpkg -i "$DEB"
expect "--version of the installed executable is $VERSION" \
  sh -c "[ \"\$('$EXE' --version)\" = 'orvanegate $VERSION' ]"
# The executable reads config.txt beside itself: the link to the configuration in /etc.
expect "the installed executable reads /etc/orvanegate/config.txt beside itself" \
  sh -c "env -u GATEWAY_INTERFACE '$EXE' --check | grep -q 'sessiondb = /srv/orvanegate/data/sessions'"
# An operator's configuration naming no usable directory: the request logs that through the
# error.txt link beside the executable.
printf 'sessiondb=/nonexistent/orvanegate\r\n# kept by upgrades\r\n' >/etc/orvanegate/config.txt
dpkg -i "$DEB"
expect "reinstalling keeps the edited configuration" \
  grep -q "^sessiondb=/nonexistent/orvanegate" /etc/orvanegate/config.txt
env GATEWAY_INTERFACE=CGI/1.1 REQUEST_METHOD=GET QUERY_STRING='showuser=a&session=demo' \
  "$EXE" >/dev/null
expect "a request reads that configuration and logs into /var/log/orvanegate/error.txt" \
  grep -q "sessiondb error" /var/log/orvanegate/error.txt
rm -f /var/log/orvanegate/error.txt

# The suite lays out its sites with a copy of the installed executable.
e2e_status=0
(cd "$SRC/tests/e2e" && ORVANEGATE_EXE=$EXE PYTHONPATH=$SRC/tests/process PYTHONDONTWRITEBYTECODE=1 \
  python3 -m unittest -v test_servers.LighttpdTest) || e2e_status=$?
expect "the lighttpd suite passes with the installed executable" [ "$e2e_status" = 0 ]

dpkg -r orvanegate
expect "removal leaves the configuration file and nothing else of the package" sh -c "
  [ -f /etc/orvanegate/config.txt ] && [ ! -e $CGI ] && [ ! -e /usr/share/doc/orvanegate ] &&
  [ ! -e /var/log/orvanegate ]"
dpkg -P orvanegate
trap - EXIT
expect "purging removes the configuration too" sh -c "[ ! -e /etc/orvanegate ]"
expect "dpkg knows no orvanegate afterwards" \
  sh -c "! dpkg-query -W -f='\${db:Status-Status}' orvanegate 2>/dev/null | grep -qv not-installed"
echo "package suite: $failures failed"
[ "$failures" = 0 ]
