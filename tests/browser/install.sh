#!/bin/sh
# Installs the suite's node_modules exactly as package-lock.json pins them (no browser
# download: the suite drives Debian's chromium). Does nothing when they are current.
set -eu
cd "$(dirname "$0")"
exec 9>.install-lock
flock 9  # two test runs of one checkout share node_modules
if cmp -s package-lock.json node_modules/.installed-lock 2>/dev/null; then exit 0; fi
PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund --loglevel=error
cp package-lock.json node_modules/.installed-lock
