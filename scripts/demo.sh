#!/bin/sh
# Runs the demo site behind a real web server (lighttpd, CGI) on 127.0.0.1.
#
#   ./scripts/demo.sh           build, lay out site/run/demo, serve it in the foreground
#   ./scripts/demo.sh --check   the same in site/run/check (wiped first), in the background;
#                               a short smoke run with curl (the site check, a registration,
#                               a posting, a profile page), stops the server, exits 0/1
#
# PORT= chooses the port (default 8080; 18080 for --check). RUN_DIR= chooses the run directory.
# Installs only what it runs with apt-get (through sudo when not run as root): the compiler
# and build tools, lighttpd, curl (scripts/install-deps.sh --demo); the end-to-end suite
# (ctest -L e2e) checks every command. As root the web server drops to www-data, which owns
# the data directories; otherwise it runs as the caller. A port that is in use already is
# reported before anything is built or laid out. The settings in the run directory are
# created once: an operator's edits are kept. Once laid out, the site is checked by the
# installed gate (--check) as the server's account: serve mode shows the report and serves
# even a broken site, --check counts a failed site check like every other check. The
# server refuses request bodies over 64 MiB. DUMPS=1 dumps request bodies, passwords
# included, to data/dumps, which only the server's account can read (mode 0700), like
# data/members; without it nothing is dumped.
set -eu
cd "$(dirname "$0")/.."
ROOT=$(pwd)

MODE=serve
case "${1:-}" in
  "") ;;
  --check) MODE=check ;;
  -h | --help) sed -n '2,20p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
  *) echo "usage: $0 [--check]" >&2; exit 2 ;;
esac

if [ "$MODE" = check ]; then PORT=${PORT:-18080}; else PORT=${PORT:-8080}; fi
WEB_USER=""
[ "$(id -u)" = 0 ] && WEB_USER=www-data

install_packages() {
  sh scripts/install-deps.sh --demo
}

build() {
  cmake -S . -B build -DORVANEGATE_SANITIZE=OFF -DORVANEGATE_TESTS=OFF >/dev/null
  cmake --build build --target orvanegate --parallel
}

# The run directory must be reachable by the web server's user; root's home usually is not.
choose_run_dir() {
  RUN=${RUN_DIR:-$ROOT/site/run/$1}
  if [ -n "$WEB_USER" ] && [ -z "${RUN_DIR:-}" ] &&
    ! runuser -u "$WEB_USER" -- test -x "$ROOT/site"; then
    RUN=/var/tmp/orvanegate-demo/$1
    echo "note: $WEB_USER cannot reach $ROOT/site; using $RUN" >&2
  fi
  if [ "$MODE" = check ] && [ -e "$RUN" ] && [ ! -f "$RUN/conf/lighttpd.conf" ] &&
    [ ! -f "$RUN/lighttpd.conf" ]; then
    echo "$RUN exists and is no demo run directory; --check would wipe it" >&2
    exit 1
  fi
  [ "$MODE" = check ] && rm -rf "$RUN"
  mkdir -p "$RUN"
  RUN=$(cd "$RUN" && pwd)  # the settings files need absolute paths
}

# Lays out $RUN (scripts/site-layout.sh): pages, the gate, its settings (created once, an
# operator's edits are kept) and the data directories. Members, leaves, counters and dumps
# of an earlier run are kept.
layout() {
  sh scripts/site-layout.sh "$RUN" "$ROOT/build/orvanegate" "$PORT" ${WEB_USER:+"$WEB_USER"}
  CONF=$RUN/conf/lighttpd.conf
  if grep -q '^dumppath=' "$RUN/cgi/config.txt"; then
    echo "note: request bodies, passwords included, are dumped to $RUN/data/dumps;" \
      "only ${WEB_USER:-your account} can read them (and the members in $RUN/data/members);" \
      "remove the dumppath line of $RUN/cgi/config.txt to stop." >&2
  fi
}

LIGHTTPD=$(command -v lighttpd || echo /usr/sbin/lighttpd)

# The installed gate checks its own site as the account the server runs it under, whose
# access rights are the ones that count; the report goes to standard output, indented.
# A web server sets GATEWAY_INTERFACE for the gate: without it the gate takes --check.
site_check() {
  echo "site check as ${WEB_USER:-$(id -un)}: $RUN/cgi/orvanegate.exe --check"
  set -- "$RUN/cgi/orvanegate.exe" --check
  [ -z "$WEB_USER" ] || set -- runuser -u "$WEB_USER" -- "$@"
  site_status=0
  env -u GATEWAY_INTERFACE "$@" >"$RUN/logs/site-check.txt" 2>&1 || site_status=$?
  sed 's/^/  | /' "$RUN/logs/site-check.txt"
  return "$site_status"
}

port_answers() {
  curl -s -o /dev/null --max-time 2 "http://127.0.0.1:$PORT/"
}

# Something listens on the port already (whatever it speaks): say so before anything is
# laid out or built.
port_taken() {
  python3 -c '
import socket, sys
s = socket.socket()
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
try:
    s.bind(("127.0.0.1", int(sys.argv[1])))
except OSError:
    sys.exit(0)
sys.exit(1)' "$PORT"
}

check_port() {
  if port_taken; then
    echo "port $PORT is taken (is the demo running already?); choose another with PORT=" >&2
    exit 1
  fi
}

serve() {
  choose_run_dir demo
  layout
  if ! site_check; then
    echo "warning: the site check found errors (above); serving the site anyway" >&2
  fi
  "$LIGHTTPD" -tt -f "$CONF"
  echo "Demo site: http://127.0.0.1:$PORT/   (run directory $RUN; Ctrl-C stops the server)"
  exec "$LIGHTTPD" -D -f "$CONF"
}

# --- check mode: a smoke run; the end-to-end suite (ctest -L e2e) checks every command ---

PASSED=0
FAILED=0
ok() { PASSED=$((PASSED + 1)); echo "ok     $1"; }
bad() { FAILED=$((FAILED + 1)); echo "FAILED $1"; }
verdict() { if "$@"; then ok "$LABEL"; else bad "$LABEL"; fi; }

sjis() { printf '%s' "$1" | iconv -f UTF-8 -t CP932; }
# The file holds the text, compared as Shift_JIS bytes.
has() { LC_ALL=C grep -qF -e "$(sjis "$2")" "$1" 2>/dev/null; }
status_is() { LC_ALL=C head -n 1 "$OUT/$1.head" | grep -q " $2"; }

# request NAME curl-arguments...: the reply lands in $OUT/NAME.head and $OUT/NAME.body.
request() {
  reply=$1
  shift
  curl -sS --max-time 20 -D "$OUT/$reply.head" -o "$OUT/$reply.body" "$@" || : >"$OUT/$reply.head"
}

# page NAME TEXT: a 200 reply that holds TEXT.
page() {
  LABEL="$1: 200 holding '$2'"
  verdict eval "status_is '$1' 200 && has '$OUT/$1.body' '$2'"
}

run_checks() {
  GATE="http://127.0.0.1:$PORT/cgi/orvanegate.exe"
  image=$OUT/sample.png
  # A different image from the default one: its bytes end in CR LF.
  { cat "$ROOT/site/default.png"; printf 'x\r\n'; } >"$image"

  request index "http://127.0.0.1:$PORT/"
  page index "デモサイト"
  request config "http://127.0.0.1:$PORT/cgi/config.txt"
  LABEL="config.txt beside the gate is not served"
  verdict status_is config 403

  request register "$GATE" --data-urlencode session=demo --data-urlencode command=registration \
    --data-urlencode id=member1 --data-urlencode pw=secret1 --data-urlencode pw2=secret1 \
    --data-urlencode "realname=$(sjis 山田花子)" --data-urlencode mail=m1@example.com \
    --data-urlencode country=Japan
  page register "ACCEPTED. 登録を受け付けました"

  request post "$GATE" --form-string session=demo --form-string command=postleaf \
    --form-string id=member1 --form-string pw=secret1 \
    --form-string "blank-title=$(sjis 表のタイトル)" --form-string "comment=posted by the check" \
    -F "upfile=@$image;type=image/png"
  page post "ACCEPTED. ファイルを受け付けました"
  request leaf "http://127.0.0.1:$PORT/leaves/leaf0001.png"
  LABEL="the posted image is served back byte for byte"
  verdict cmp -s "$image" "$OUT/leaf.body"

  request profile "$GATE?showuser=member1&session=demo"
  page profile "山田花子"
}

check() {
  choose_run_dir check
  layout
  OUT=$RUN/logs/check
  mkdir -p "$OUT"
  "$LIGHTTPD" -D -f "$CONF" 2>"$RUN/logs/server.log" &
  server=$!
  trap 'kill "$server" 2>/dev/null || :; wait "$server" 2>/dev/null || :' EXIT
  tries=0
  until port_answers; do
    tries=$((tries + 1))
    if [ "$tries" -ge 50 ] || ! kill -0 "$server" 2>/dev/null; then
      echo "the web server did not start:" >&2
      cat "$RUN/logs/server.log" >&2
      exit 1
    fi
    sleep 0.2
  done
  LABEL="the site check passes as the server's account"
  verdict site_check
  echo "checking the demo site at http://127.0.0.1:$PORT/ (replies in $OUT)"
  run_checks
  echo "$PASSED passed, $FAILED failed"
  [ "$FAILED" = 0 ]
}

install_packages
check_port
build
if [ "$MODE" = check ]; then check; else serve; fi
