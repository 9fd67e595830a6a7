#!/bin/sh
# Keeps persistent gate processes answering FastCGI requests on one socket. Each answers
# up to ORVANEGATE_MAX_REQUESTS requests (500 unless set; 0: no bound), then exits, and
# another takes its place at once, as it does for a process that was killed. Only while
# starts keep failing (a process that exits with an error within a second) are they
# spaced out: the second is made at once, then after 1, 2, 4 ... up to 60 seconds.
#
#   sh orvanegate-fastcgi.sh SOCKET EXECUTABLE [PROCESSES [USER [GROUP]]]
#       spawn-fcgi opens the Unix socket SOCKET (mode 0660; as root owned by USER and
#       GROUP, which the processes then run as) and hands it over; PROCESSES defaults to 4.
#       Example: sh orvanegate-fastcgi.sh @RUN@/run/orvanegate.sock \
#                  @RUN@/cgi/orvanegate.exe 4 www-data www-data
#   sh orvanegate-fastcgi.sh --keep PROCESSES EXECUTABLE
#       standard input already is the listening socket (spawn-fcgi's, or a systemd socket
#       unit's: site/orvanegate-fastcgi.socket).
# It runs in the foreground; SIGTERM ends it with every gate process it started.
set -eu
here=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")

if [ "${1:-}" = "--keep" ]; then
  [ $# -eq 3 ] || { echo "usage: $0 --keep PROCESSES EXECUTABLE" >&2; exit 2; }
  count=$2 exe=$3
  ORVANEGATE_MAX_REQUESTS=${ORVANEGATE_MAX_REQUESTS:-500}
  export ORVANEGATE_MAX_REQUESTS
  # The whole process group: this shell, its loops and their gate processes.
  trap 'trap - TERM INT HUP; kill 0' TERM INT HUP
  # A process started in the background would get /dev/null as standard input: each gets
  # the listening socket through descriptor 3 instead.
  exec 3<&0
  keep_one() {
    failures=0 pause=1
    while :; do
      started=$(date +%s)
      status=0
      "$exe" <&3 3<&- || status=$?
      case $status in
        # Done with its requests, or killed (SIGHUP, SIGINT, SIGKILL, SIGTERM).
        0 | 129 | 130 | 137 | 143) failures=0 ;;
        *) [ $(($(date +%s) - started)) -le 1 ] && failures=$((failures + 1)) || failures=0 ;;
      esac
      if [ "$failures" -lt 2 ]; then
        pause=1
      else
        sleep "$pause"
        [ "$pause" -ge 32 ] && pause=60 || pause=$((pause * 2))
      fi
    done
  }
  i=0
  while [ "$i" -lt "$count" ]; do
    keep_one &
    i=$((i + 1))
  done
  wait
  exit 0
fi

[ $# -ge 2 ] || { echo "usage: $0 SOCKET EXECUTABLE [PROCESSES [USER [GROUP]]]" >&2; exit 2; }
socket=$1 exe=$2 count=${3:-4} user=${4:-} group=${5:-${4:-}}
account=""
[ -z "$user" ] || account="-u $user -g $group -U $user -G $group"
rm -f "$socket"
# shellcheck disable=SC2086 # the account options are words
exec spawn-fcgi -n -s "$socket" -M 0660 $account -- /bin/sh "$here" --keep "$count" "$exe"
