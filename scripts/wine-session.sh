#!/bin/sh
# Prepares and ends the wine session that the Windows build's tests run in:
#   wine-session.sh start STATE_DIR   a wine prefix and the locales under STATE_DIR
#                                     (made once, then reused) and a wineserver that stays
#                                     up, so that each test process starts in a fraction of
#                                     a second instead of seconds
#   wine-session.sh stop STATE_DIR    ends that wineserver
# The Japanese locale gives the Windows programs the code page 932 (Shift_JIS) as their
# ANSI code page, the English one 1252; they are compiled into STATE_DIR, so the system's
# locales stay untouched.
set -eu
action=$1
state=$(mkdir -p "$2" && cd "$2" && pwd)
export WINEPREFIX="$state/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
export LOCPATH="$state/locale" LANG=ja_JP.UTF-8
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)

case $action in
start)
  # An English locale too, whose code page 1252 some tests run the programs under.
  for locale in ja_JP en_US; do
    if [ ! -d "$LOCPATH/$locale.UTF-8" ]; then
      mkdir -p "$LOCPATH"
      # localedef reports warnings with exit code 1 while still writing the locale.
      localedef -i $locale -f UTF-8 "$LOCPATH/$locale.UTF-8" || [ -d "$LOCPATH/$locale.UTF-8" ]
    fi
  done
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$wine" wineboot --init </dev/null >/dev/null 2>&1
    "$wineserver" -w  # the prefix is complete once wineboot's processes have ended
  fi
  # Detached from our output, which the caller may be waiting to see closed.
  "$wineserver" -p </dev/null >/dev/null 2>&1 || true  # fails when one runs already
  # The first program of a session starts wine's background services, which would keep
  # the output pipes of a test open until they end: they start here, detached too.
  "$wine" cmd /c exit </dev/null >/dev/null 2>&1
  ;;
stop)
  "$wineserver" -k 2>/dev/null || true
  ;;
*)
  echo "usage: $0 start|stop STATE_DIR" >&2
  exit 2
  ;;
esac
