#!/bin/sh
# Runs the demo site behind a real web server (lighttpd, CGI) on 127.0.0.1.
#
#   ./scripts/demo.sh           build, lay out site/run/demo, serve it in the foreground
#   ./scripts/demo.sh --check   the same in site/run/check (wiped first), in the background;
#                               exercises every command with curl, stops the server, exits 0/1
#
# PORT= chooses the port (default 8080; 18080 for --check). RUN_DIR= chooses the run directory.
# Installs what it needs with apt-get (through sudo when not run as root). As root the web
# server drops to www-data, which owns the data directories; otherwise it runs as the caller.
# A port that is in use already is reported before anything is built or laid out. The
# settings in the run directory are created once: an operator's edits are kept. Once laid
# out, the site is checked by the installed gate (--check) as the server's account: serve
# mode shows the report and serves even a broken site, --check counts a failed site check
# like every other check. The server refuses request bodies over 64 MiB. DUMPS=1 dumps
# request bodies, passwords included, to data/dumps, which only the server's account can
# read (mode 0700), like data/members; without it nothing is dumped.
set -eu
cd "$(dirname "$0")/.."
ROOT=$(pwd)

MODE=serve
case "${1:-}" in
  "") ;;
  --check) MODE=check ;;
  -h | --help) sed -n '2,17p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
  *) echo "usage: $0 [--check]" >&2; exit 2 ;;
esac

if [ "$MODE" = check ]; then PORT=${PORT:-18080}; else PORT=${PORT:-8080}; fi
SUDO=""
[ "$(id -u)" = 0 ] || SUDO=sudo
WEB_USER=""
[ "$(id -u)" = 0 ] && WEB_USER=www-data

install_packages() {
  sh scripts/install-deps.sh
  need=""
  for pkg in lighttpd curl; do
    dpkg -s "$pkg" >/dev/null 2>&1 || need="$need $pkg"
  done
  if [ -n "$need" ]; then
    $SUDO apt-get update
    # shellcheck disable=SC2086 # one word per package
    $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $need
  fi
}

build() {
  cmake -S . -B build -DORVANEGATE_SANITIZE=OFF -DORVANEGATE_TESTS=OFF >/dev/null
  cmake --build build --target orvanegate
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

# --- check mode ---------------------------------------------------------------------------

PASSED=0
FAILED=0
ok() { PASSED=$((PASSED + 1)); echo "ok     $1"; }
bad() { FAILED=$((FAILED + 1)); echo "FAILED $1"; }
verdict() { if "$@"; then ok "$LABEL"; else bad "$LABEL"; fi; }

sjis() { printf '%s' "$1" | iconv -f UTF-8 -t CP932; }
# The file holds the text, compared as Shift_JIS bytes.
has() { LC_ALL=C grep -qF -e "$(sjis "$2")" "$1" 2>/dev/null; }
lacks() { ! has "$@"; }
same_bytes() { cmp -s "$1" "$2"; }
status_is() { LC_ALL=C head -n 1 "$OUT/$1.head" | grep -q " $2"; }
is_html() { LC_ALL=C grep -qi '^content-type: text/html' "$OUT/$1.head"; }
is_empty() { [ ! -s "$OUT/$1.body" ]; }
holds() { [ "$(cat "$1" 2>/dev/null)" = "$2" ]; }
exists() { [ -f "$1" ]; }
absent() { [ ! -e "$1" ]; }
any_file() { [ -n "$(find "$1" -type f -name "$2" 2>/dev/null | head -n 1)" ]; }

# request NAME curl-arguments...: the reply lands in $OUT/NAME.head and $OUT/NAME.body.
request() {
  reply=$1
  shift
  curl -sS --max-time 20 -D "$OUT/$reply.head" -o "$OUT/$reply.body" "$@" || : >"$OUT/$reply.head"
}

# page NAME TEXT: a 200 text/html reply that holds TEXT.
page() {
  LABEL="$1: 200 text/html holding '$2'"
  if status_is "$1" 200 && is_html "$1" && has "$OUT/$1.body" "$2"; then ok "$LABEL"; else bad "$LABEL"; fi
}

GATE=""
register() {  # name id pw pw2 realname mail
  request "$1" "$GATE" --data-urlencode session=demo --data-urlencode command=registration \
    --data-urlencode "id=$2" --data-urlencode "pw=$3" --data-urlencode "pw2=$4" \
    --data-urlencode "realname=$(sjis "$5")" --data-urlencode "mail=$6" \
    --data-urlencode country=Japan
}

post_leaf() {  # name session id pw title [curl arguments for the image]
  # Shell functions share their variables: these names are this function's own.
  leaf_reply=$1 leaf_session=$2 leaf_id=$3 leaf_pw=$4 leaf_title=$5
  shift 5
  request "$leaf_reply" "$GATE" --form-string "session=$leaf_session" \
    --form-string command=postleaf --form-string "id=$leaf_id" --form-string "pw=$leaf_pw" "$@" \
    --form-string "blank-title=$(sjis "$leaf_title")" --form-string "comment=posted by the check"
}

run_checks() {
  GATE="http://127.0.0.1:$PORT/cgi/orvanegate.exe"
  MEMBER=member1
  png="$ROOT/site/default.png"
  leaves="$RUN/htdocs/leaves"
  image=$OUT/sample.png
  # A different image from the default one: its bytes end in CR LF.
  { cat "$png"; printf 'x\r\n'; } >"$image"

  request index "http://127.0.0.1:$PORT/"
  page index "デモサイト"
  request config "http://127.0.0.1:$PORT/cgi/config.txt"
  LABEL="config.txt beside the gate is not served"
  verdict status_is config 403

  register reg "$MEMBER" secret1 secret1 "山田花子" m1@example.com
  page reg "ACCEPTED. 登録を受け付けました"
  LABEL="the member record holds the name in Shift_JIS and no pw2"
  verdict eval "has '$RUN/data/members/$MEMBER.txt' 'realname=山田花子' && lacks '$RUN/data/members/$MEMBER.txt' pw2"
  register reg-again "$MEMBER" other12 other12 "別人" m2@example.com
  page reg-again "The same ID is already registered. 同じＩＤが既に登録されています"
  register reg-short member2 abcd abcd "名前" m3@example.com
  page reg-short "Password must be five or more characters. パスワードは５文字以上で"
  register reg-blank member3 secret1 secret1 "" m4@example.com
  page reg-blank "There is a blank. 空欄があります"

  request profile "$GATE?showuser=$MEMBER&session=demo"
  page profile "Profile <#filename>"
  LABEL="the profile page shows the name and hides the password"
  verdict eval "has '$OUT/profile.body' '山田花子' && lacks '$OUT/profile.body' secret1"
  request profile-unknown "$GATE?showuser=nobody&session=demo"
  LABEL="an unknown member's profile is an empty 200 page"
  verdict eval "status_is profile-unknown 200 && is_empty profile-unknown"

  post_leaf post1 demo "$MEMBER" secret1 "表のタイトル" -F "upfile=@$image;type=image/png;filename=Sample.PNG"
  page post1 "ACCEPTED. ファイルを受け付けました"
  LABEL="the image is stored as leaf0001.png, byte for byte"
  verdict same_bytes "$image" "$leaves/leaf0001.png"
  LABEL="the leaf record holds the fields without the password"
  verdict eval "has '$leaves/leaf0001.txt' '<qelkeys>' && has '$leaves/leaf0001.txt' 'blank-title=表のタイトル' && lacks '$leaves/leaf0001.txt' 'pw='"
  LABEL="the counter file holds 1"
  verdict holds "$RUN/data/leafcounter.txt" 1
  request leaf1 "http://127.0.0.1:$PORT/leaves/leaf0001.png"
  LABEL="the web server serves the stored image"
  verdict same_bytes "$image" "$OUT/leaf1.body"

  post_leaf post-default demo "$MEMBER" secret1 "見本"
  page post-default "ACCEPTED. ファイルを受け付けました"
  LABEL="a posting without an image stores the default image as leaf0002.png"
  verdict same_bytes "$png" "$leaves/leaf0002.png"

  post_leaf post-wrongpw demo "$MEMBER" wrong99 "タイトル" -F "upfile=@$image;type=image/png"
  page post-wrongpw "The password is wrong. パスワードが違います"
  post_leaf post-blank demo "$MEMBER" secret1 "" -F "upfile=@$image;type=image/png"
  page post-blank "There is a blank. 空欄があります"
  post_leaf post-nomember demo nobody secret1 "タイトル" -F "upfile=@$image;type=image/png"
  page post-nomember "The member does not exist.メンバーが存在しません"
  LABEL="refused postings store nothing and leave the counter at 2"
  verdict eval "absent '$leaves/leaf0003.png' && absent '$leaves/leaf0003.txt' && holds '$RUN/data/leafcounter.txt' 2"

  post_leaf post-g1 gallery "$MEMBER" secret1 "一" -F "upfile=@$image;type=image/png;filename=a.png"
  post_leaf post-g2 gallery "$MEMBER" secret1 "二" -F "upfile=@$image;type=image/png;filename=b.png"
  page post-g2 "ACCEPTED. ファイルを受け付けました"
  LABEL="num3d naming stores 001.png and 002.png"
  verdict eval "exists '$RUN/htdocs/gallery/001.png' && exists '$RUN/htdocs/gallery/002.txt'"
  post_leaf post-s1 stamps "$MEMBER" secret1 "時" -F "upfile=@$image;type=image/png;filename=c.PNG"
  page post-s1 "ACCEPTED. ファイルを受け付けました"
  LABEL="time-stamp naming stores a 20*.png"
  verdict any_file "$RUN/htdocs/stamps" '20*-*-*.png'

  request changepw "$GATE" --data-urlencode session=demo --data-urlencode command=changepw \
    --data-urlencode "id=$MEMBER" --data-urlencode pw0=secret1 --data-urlencode pw1=secret2 \
    --data-urlencode pw2=secret2
  page changepw "ACCEPTED. 登録を受け付けました"
  request changepw-wrong "$GATE" --data-urlencode session=demo --data-urlencode command=changepw \
    --data-urlencode "id=$MEMBER" --data-urlencode pw0=secret1 --data-urlencode pw1=secret3 \
    --data-urlencode pw2=secret3
  page changepw-wrong "password was not changed. 変更できませんでした"
  post_leaf post-oldpw demo "$MEMBER" secret1 "タイトル" -F "upfile=@$image;type=image/png"
  page post-oldpw "The password is wrong. パスワードが違います"

  request changeprof1 "$GATE" --data-urlencode session=demo --data-urlencode command=changeprof1 \
    --data-urlencode "id=$MEMBER" --data-urlencode pw=secret2
  page changeprof1 '<form name="SendForm" action="/cgi/orvanegate.exe" method="POST" ENCTYPE="multipart/form-data">'
  LABEL="the change-profile form is filled from the record"
  verdict eval "has '$OUT/changeprof1.body' 'value=\"changeprof2\"' && has '$OUT/changeprof1.body' 'Value=\"山田花子\"' && has '$OUT/changeprof1.body' 'name=\"session\" value=\"demo\"'"
  request changeprof1-wrong "$GATE" --data-urlencode session=demo \
    --data-urlencode command=changeprof1 --data-urlencode "id=$MEMBER" --data-urlencode pw=secret1
  LABEL="the change-profile form with a wrong password is an empty page"
  verdict eval "status_is changeprof1-wrong 200 && is_empty changeprof1-wrong"

  request changeprof2 "$GATE" --form-string session=demo --form-string command=changeprof2 \
    --form-string "id=$MEMBER" --form-string pw=secret2 --form-string "realname=$(sjis '山田花子')" \
    --form-string "country=$(sjis '日本')" --form-string "comment=$(sjis '表示 & <b>')" \
    --form-string mail=m1@example.com --form-string urlname1=Home \
    --form-string url1=http://example.com/
  page changeprof2 "Profile <#filename>"
  LABEL="the saved profile shows the escaped comment and the link"
  verdict eval "has '$OUT/changeprof2.body' '表示&nbsp;&amp;&nbsp;&lt;b&gt;' && has '$OUT/changeprof2.body' '<a href=\"http://example.com/\"'"
  request profile2 "$GATE?ShowUser=$MEMBER&Session=demo"
  page profile2 "日本"

  request put "$GATE" -X PUT --data-binary 'session=demo&command=none'
  LABEL="a PUT reaches the gate (unknown command: empty 200 page)"
  verdict eval "status_is put 200 && is_empty put"
  request nodata "$GATE" -X POST --data-binary ''
  page nodata "no data データがありません"
  if [ "${DUMPS:-}" = 1 ]; then
    LABEL="request bodies are dumped under data/dumps (DUMPS=1)"
    verdict any_file "$RUN/data/dumps" '*'
  else
    LABEL="no request body is dumped unless DUMPS=1 asks"
    verdict eval "! any_file '$RUN/data/dumps' '*'"
  fi
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
