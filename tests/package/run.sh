#!/bin/sh
# The release packages from the source tree, checked with lintian; the Debian package
# installed on this machine, the lighttpd end-to-end suite served by the installed
# executable, an upgrade to the package rebuilt at a higher version while persistent
# FastCGI processes of the installed executable run, and the package removed and purged.
#
#   sh tests/package/run.sh BUILD_DIR VERSION [COMPILER_LAUNCHER]
#
# Needs root and dpkg; exits 77 (skipped) without them, or when a package of that name is
# installed already (an operator's, which this must not replace).
set -eu
[ $# -ge 2 ] || { echo "usage: $0 BUILD_DIR VERSION [COMPILER_LAUNCHER]" >&2; exit 2; }
BUILD=$1 VERSION=$2 LAUNCHER=${3:-}
SRC=$(cd "$(dirname "$0")/../.." && pwd)
LIB=/usr/lib/orvanegate
EXE=$LIB/orvanegate.exe
UNITS=/lib/systemd/system
NEXT=$VERSION+1

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
within() {  # seconds, command...: true once the command is, false after that many seconds
  tries=$(($1 * 10))
  shift
  until "$@"; do
    tries=$((tries - 1))
    [ "$tries" -gt 0 ] || return 1
    sleep 0.1
  done
}
count_is() {  # executable (a replaced one ends in " (deleted)"), n: n processes run it
  n=0
  for proc in /proc/[0-9]*; do
    [ "$(readlink "$proc/exe" 2>/dev/null)" != "$1" ] || n=$((n + 1))
  done
  [ "$n" = "$2" ]
}

cmake -S "$SRC" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVANEGATE_TESTS=OFF \
  ${LAUNCHER:+-DCMAKE_CXX_COMPILER_LAUNCHER=$LAUNCHER} >/dev/null
cmake --build "$BUILD" --target package
DEB=$BUILD/orvanegate_${VERSION}_amd64.deb
TGZ=$BUILD/orvanegate-$VERSION-linux-x86_64.tar.gz
expect "the archive holds the executable, the README, the guides and every server's sample" \
  sh -c "tar tzf '$TGZ' | sort | grep -c -e '/orvanegate.exe\$' -e '/README.md\$' \
    -e '/docs/operators-guide.md\$' -e '/docs/development.md\$' \
    -e '/site/lighttpd.conf\$' -e '/site/apache2-site.conf\$' -e '/site/nginx-site.conf\$' \
    -e '/site/iis-web.config\$' -e '/scripts/site-layout.sh\$' | grep -qx 9"
expect "the archive holds no demo run directory" sh -c "! tar tzf '$TGZ' | grep -q /site/run/"
# Errors and warnings fail; the remaining tags and the override are named in the operator's
# guide.
expect "lintian finds no error and no warning" \
  timeout 300 lintian --fail-on error,warning --info --display-info "$DEB"
# The static executable holds the sodium library, the C++ runtime and the C library, and
# no other library.
source_of() { dpkg-query -W -f='${source:Package} (= ${source:Version})' "$1"; }
linked="$(source_of "libstdc++-$(c++ -dumpversion | cut -d. -f1)-dev"), $(source_of libc6-dev)"
linked="$linked, $(source_of libsodium-dev)"
expect "Built-Using names exactly the source packages linked in, $linked" \
  sh -c "[ \"\$(dpkg-deb -f '$DEB' Built-Using)\" = '$linked' ]"
# The same build packaged again at a higher version: what the upgrade installs.
cpack -G DEB --config "$BUILD/CPackConfig.cmake" -B "$BUILD/upgrade" \
  -D CPACK_PACKAGE_VERSION="$NEXT" -D CPACK_DEBIAN_FILE_NAME="orvanegate_${NEXT}_amd64.deb" \
  >/dev/null

RUN=$(mktemp -d)
chmod 0755 "$RUN"
manager=""
cleanup() {
  [ -z "$manager" ] || kill -TERM "$manager" 2>/dev/null || :
  rm -rf "$RUN"
  dpkg -P orvanegate >/dev/null 2>&1 || :
}
trap cleanup EXIT
dpkg -i "$DEB"
expect "--version of the installed executable is $VERSION" \
  sh -c "[ \"\$('$EXE' --version)\" = 'orvanegate $VERSION' ]"
# The executable reads config.txt beside itself: the link to the configuration in /etc.
expect "orvanegate --check reads /etc/orvanegate/config.txt beside the executable" \
  sh -c "env -u GATEWAY_INTERFACE orvanegate --check | grep -q 'sessiondb = /srv/orvanegate/data/sessions'"
expect "the tmpfiles entry made error.txt, owned by www-data" \
  sh -c "[ \"\$(stat -c %U /var/log/orvanegate/error.txt)\" = www-data ]"
expect "man orvanegate shows every option and the exit code of a usage error" sh -c "
  page=\$(LC_ALL=C MANWIDTH=80 man -P cat orvanegate 2>/dev/null) &&
  for option in \$(env -u GATEWAY_INTERFACE '$EXE' --help | grep -o -- '--[a-z-]*' | sort -u); do
    printf '%s' \"\$page\" | grep -q -- \"\$option\" || { echo \"missing: \$option\"; exit 1; }
  done && printf '%s' \"\$page\" | grep -q '^ *2 *A  *usage  *error'"
expect "both units are installed, filled in for the package, and valid" sh -c "
  ! grep -q @ $UNITS/orvanegate-fastcgi.socket $UNITS/orvanegate-fastcgi.service &&
  grep -q '^ExecStart=.* /usr/share/orvanegate/orvanegate-fastcgi.sh .* $EXE' \
    $UNITS/orvanegate-fastcgi.service && [ -f /usr/share/orvanegate/orvanegate-fastcgi.sh ] &&
  systemd-analyze verify $UNITS/orvanegate-fastcgi.socket $UNITS/orvanegate-fastcgi.service"
expect "neither unit is enabled" \
  sh -c "! find /etc/systemd/system -name 'orvanegate-fastcgi.*' | grep -q ."
expect "nothing of the package is under /usr/lib/cgi-bin" sh -c "! dpkg -L orvanegate | grep -q cgi-bin"
expect "the operator's guide is installed where the README links to it" \
  [ -f /usr/share/doc/orvanegate/docs/operators-guide.md ]

# The suite lays out its sites with a copy of the installed executable.
e2e_status=0
(cd "$SRC/tests/e2e" && ORVANEGATE_EXE=$EXE PYTHONPATH=$SRC/tests/process PYTHONDONTWRITEBYTECODE=1 \
  python3 -m unittest -v test_servers.LighttpdTest) || e2e_status=$?
expect "the lighttpd suite passes with the installed executable" [ "$e2e_status" = 0 ]

# The site as README.Debian lays it out, its cgi/ the package's directory (it is checked,
# never served: no port is bound) and /etc/orvanegate/config.txt naming it.
SITE=$RUN/site
mkdir -p "$SITE"
ln -s "$LIB" "$SITE/cgi"
inode=$(stat -c %i "$EXE")
sh /usr/share/doc/orvanegate/examples/scripts/site-layout.sh "$SITE" "$EXE" 0 www-data
expect "laying the site out left the package's executable alone" \
  sh -c "[ \"\$(stat -c %i '$EXE')\" = $inode ] && [ -z \"\$(dpkg -V orvanegate)\" ]"
printf 'sessiondb=%s/data/sessions\r\n' "$SITE" >/etc/orvanegate/config.txt
expect "the site check of www-data passes through the site's cgi/ link" \
  runuser -u www-data -- "$SITE/cgi/orvanegate.exe" --check

# An operator's configuration naming no usable directory: a request of the server's
# account logs that through the error.txt link beside the executable.
printf 'sessiondb=/nonexistent/orvanegate\r\n# kept by upgrades\r\n' >/etc/orvanegate/config.txt
runuser -u www-data -- env GATEWAY_INTERFACE=CGI/1.1 REQUEST_METHOD=GET \
  QUERY_STRING='showuser=a&session=demo' "$EXE" >/dev/null
expect "a request of www-data logs into /var/log/orvanegate/error.txt" \
  grep -q "sessiondb error" /var/log/orvanegate/error.txt

# Before the upgrade: two persistent FastCGI processes of the installed executable under
# the shipped manager, as www-data, and a CGI request waiting for its body.
mkfifo "$RUN/body"
setsid sh /usr/share/orvanegate/orvanegate-fastcgi.sh "$RUN/gate.sock" "$EXE" 2 www-data \
  </dev/null >/dev/null 2>&1 &
manager=$!
env GATEWAY_INTERFACE=CGI/1.1 REQUEST_METHOD=POST CONTENT_LENGTH=5 "$EXE" <"$RUN/body" \
  >/dev/null 2>&1 &
cgi=$!
exec 4>"$RUN/body"
expect "two FastCGI processes and a CGI request of the installed executable run" \
  within 10 count_is "$EXE" 3
dpkg -i "$BUILD/upgrade/orvanegate_${NEXT}_amd64.deb"
expect "the upgrade installed $NEXT" \
  sh -c "[ \"\$(dpkg-query -W -f='\${Version}' orvanegate)\" = '$NEXT' ]"
expect "the upgrade kept the operator's config.txt" \
  grep -q "^sessiondb=/nonexistent/orvanegate" /etc/orvanegate/config.txt
expect "the FastCGI processes of the replaced executable ended" \
  within 10 count_is "$EXE (deleted)" 1
expect "their manager started two of the new executable" within 10 count_is "$EXE" 2
expect "the CGI request of the replaced executable was left to finish" \
  sh -c "[ \"\$(readlink /proc/$cgi/exe)\" = '$EXE (deleted)' ]"
printf 'a=b\r\n' >&4
exec 4>&-
wait "$cgi" || :
kill -TERM "$manager"
wait "$manager" || :
manager=""

dpkg -r orvanegate
expect "removal keeps the configuration file and the log, and nothing else of the package" \
  sh -c "[ -f /etc/orvanegate/config.txt ] && [ -f /var/log/orvanegate/error.txt ] &&
    [ ! -e $LIB ] && [ ! -e $UNITS/orvanegate-fastcgi.service ] &&
    [ ! -e /usr/share/doc/orvanegate ] && [ ! -e /usr/sbin/orvanegate ]"
dpkg -P orvanegate
expect "purging removes the configuration and the log too" \
  sh -c "[ ! -e /etc/orvanegate ] && [ ! -e /var/log/orvanegate ]"
expect "dpkg knows no orvanegate afterwards" \
  sh -c "! dpkg-query -W -f='\${db:Status-Status}' orvanegate 2>/dev/null | grep -qv not-installed"
echo "package suite: $failures failed"
[ "$failures" = 0 ]
