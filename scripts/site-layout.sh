#!/bin/sh
# Lays out a gate site in a run directory, as the demo and the end-to-end suite serve it.
#
#   sh scripts/site-layout.sh RUN_DIR EXECUTABLE PORT [WEB_USER]
#   DUMPS=1 sh scripts/site-layout.sh ...   the same, with request bodies dumped
#
# RUN_DIR (absolute) receives:
#   htdocs/                    the pages of site/htdocs in Shift_JIS; leaves/, gallery/ and
#                              stamps/ for posted images (static files only)
#   cgi/orvanegate.exe         a copy of EXECUTABLE, config.txt, error.txt
#   data/sessions/             one settings file per site (session)
#   data/members/, data/dumps/ member records and request bodies (dumped only with DUMPS=1):
#                              they hold passwords, so only the web server's account may
#                              read them (mode 0700)
#   conf/                      lighttpd.conf, apache2-site.conf and nginx-site.conf of site/
#                              with the run directory and PORT filled in
#   run/                       the server's working files: fcgiwrap.sock (nginx-site.conf's
#                              @SOCKET@), request bodies being received (lighttpd)
#   logs/
# config.txt and the settings files are created when missing and never overwritten, so
# an operator's edits survive; pages, executable and server configurations are refreshed.
# Dumps keep every body whole, passwords included, with no bound on disk use: they are off
# unless DUMPS=1 asks for them, which adds the dumppath line to config.txt when it has none
# (removing that line turns them off again).
# With WEB_USER (as root) that account owns what the gate writes, and lighttpd drops to it.
set -eu
[ $# -ge 3 ] || { echo "usage: $0 RUN_DIR EXECUTABLE PORT [WEB_USER]" >&2; exit 2; }
RUN=$1 EXE=$2 PORT=$3 WEB_USER=${4:-} DUMPS=${DUMPS:-}
SITE="$(cd "$(dirname "$0")/.." && pwd)/site"
case "$RUN" in /*) ;; *) echo "$0: RUN_DIR must be absolute: $RUN" >&2; exit 2 ;; esac

fill() {  # template, target: the template with the run directory and port filled in
  sed -e "s|@RUN@|$RUN|g" -e "s|@PORT@|$PORT|g" -e "s|@SOCKET@|$RUN/run/fcgiwrap.sock|g" \
    "$1" >"$2.new"
  mv -f "$2.new" "$2"
}

fill_once() {  # template, target: filled only when the target does not exist yet
  [ -e "$2" ] || fill "$1" "$2"
}

umask 022
mkdir -p "$RUN"
# The web server's account must reach everything below; a fresh temporary directory is 0700.
chmod 0755 "$RUN"
mkdir -p "$RUN/htdocs/leaves" "$RUN/htdocs/gallery" "$RUN/htdocs/stamps" "$RUN/cgi" \
  "$RUN/data/sessions" "$RUN/data/members" "$RUN/data/dumps" "$RUN/conf" "$RUN/run" "$RUN/logs"
chmod 0700 "$RUN/data/members" "$RUN/data/dumps"

for page in "$SITE"/htdocs/*.html; do
  iconv -f UTF-8 -t CP932 "$page" >"$RUN/htdocs/$(basename "$page")"
done
# A cgi/ that is a symbolic link is an installed package's directory (the Debian
# package's /usr/lib/orvanegate): the package replaces its executable, not the layout.
if [ ! -L "$RUN/cgi" ]; then
  cp "$EXE" "$RUN/cgi/orvanegate.exe.new"
  chmod 0755 "$RUN/cgi/orvanegate.exe.new"
  mv -f "$RUN/cgi/orvanegate.exe.new" "$RUN/cgi/orvanegate.exe"
fi
fill_once "$SITE/config.txt" "$RUN/cgi/config.txt"
if [ "$DUMPS" = 1 ] && ! grep -q '^dumppath=' "$RUN/cgi/config.txt"; then
  printf 'dumppath=%s/data/dumps\n' "$RUN" >>"$RUN/cgi/config.txt"
fi
for settings in "$SITE"/sessions/*.txt; do
  fill_once "$settings" "$RUN/data/sessions/$(basename "$settings")"
done
[ -e "$RUN/data/default.png" ] || cp "$SITE/default.png" "$RUN/data/default.png"
# The gate writes error.txt beside itself; the gate's directory stays read-only.
[ -e "$RUN/cgi/error.txt" ] || : >"$RUN/cgi/error.txt"

for conf in lighttpd.conf apache2-site.conf nginx-site.conf; do
  fill "$SITE/$conf" "$RUN/conf/$conf"
done

if [ -n "$WEB_USER" ]; then
  printf 'server.username = "%s"\nserver.groupname = "%s"\n' "$WEB_USER" "$WEB_USER" \
    >>"$RUN/conf/lighttpd.conf"
  # data/ itself: the counter file is created there.
  # lighttpd opens its logs after it has become WEB_USER.
  chown "$WEB_USER:$WEB_USER" "$RUN/data" "$RUN/cgi/error.txt" "$RUN/run" "$RUN/logs"
  chown -R "$WEB_USER:$WEB_USER" "$RUN/data/members" "$RUN/data/dumps" \
    "$RUN/htdocs/leaves" "$RUN/htdocs/gallery" "$RUN/htdocs/stamps"
  [ ! -e "$RUN/data/leafcounter.txt" ] || chown "$WEB_USER:$WEB_USER" "$RUN/data/leafcounter.txt"
fi
