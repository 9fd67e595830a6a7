#!/bin/sh
# Runs the real-browser suite (walk.mjs) through the demo site. Exits 77 (skipped) only when
# this machine cannot run a browser suite at all: no node and npm, or no working chromium.
set -eu
cd "$(dirname "$0")"
CHROMIUM=${CHROMIUM:-/usr/bin/chromium}
export CHROMIUM
skip() {
  echo "SKIPPED: $1 (scripts/install-deps.sh installs chromium, nodejs and npm)"
  exit 77
}
command -v node >/dev/null 2>&1 && command -v npm >/dev/null 2>&1 || skip "node or npm is not installed"
major=$(node -p 'process.versions.node.split(".")[0]')
[ "$major" -ge 18 ] || skip "node $major is older than 18"
[ -x "$CHROMIUM" ] || skip "$CHROMIUM is not installed"
"$CHROMIUM" --headless --no-sandbox --version >/dev/null 2>&1 || skip "$CHROMIUM does not start"
sh ./install.sh
case ${1:-walk.mjs} in
  *.py) exec python3 -m unittest -v "$(basename "$1" .py)" ;;
  *) exec node "${1:-walk.mjs}" ;;
esac
