"""Serves the demo site behind one server of tests/e2e/served_site.py for the browser suite.

    python3 serve_site.py CLASS   (CLASS: Lighttpd, Apache, NginxFastCgi, ...)

Prints {"port": ..., "run": ...} once the site answers and stops it when standard input
ends; exits 77 when this machine cannot run that server."""

import json
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import served_site  # noqa: E402

SITE = getattr(served_site, sys.argv[1])
if SITE.unavailable():
    print(json.dumps({"skip": SITE.unavailable()}), flush=True)
    sys.exit(77)
site = SITE()
try:
    site.start()
    print(json.dumps({"port": site.port, "run": site.run}), flush=True)
    sys.stdin.read()
finally:
    site.remove()
