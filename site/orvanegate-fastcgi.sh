#!/bin/sh
# Keeps persistent gate processes answering FastCGI requests on one socket. Each answers
# up to ORVANEGATE_MAX_REQUESTS requests (default 500), then exits, and another takes its
# place.
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
  # The whole process group: this shell, its loops and their gate processes.
  trap 'trap - TERM INT HUP; kill 0' TERM INT HUP
  # A process started in the background would get /dev/null as standard input: each gets
  # the listening socket through descriptor 3 instead.
  exec 3<&0
  i=0
  while [ "$i" -lt "$count" ]; do
    # A process that could not start at all is not started again at once.
    ( while :; do "$exe" <&3 3<&- || sleep 1; done ) &
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
