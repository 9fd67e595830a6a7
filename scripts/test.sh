#!/bin/sh
# Installs the build dependencies, builds with AddressSanitizer and UBSan, and runs
# every unit, process-level and end-to-end test. The last line counts the results
# ("N passed, N failed, N skipped"); the exit code is ctest's.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh
# The benchmarks are built too, so that they keep compiling; they are run by hand.
cmake -S . -B build-test -G Ninja -DORVANEGATE_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug \
  -DORVANEGATE_BENCH=ON
cmake --build build-test
RESULTS=$(pwd)/build-test/ctest-results.xml
rm -f "$RESULTS"
status=0
ctest --test-dir build-test --output-on-failure -j2 --output-junit "$RESULTS" || status=$?
python3 - "$RESULTS" <<'COUNT'
import sys
import xml.etree.ElementTree as tree
passed = failed = skipped = 0
try:
    cases = tree.parse(sys.argv[1]).getroot().iter("testcase")
except (OSError, tree.ParseError):
    cases = []
for case in cases:
    status, skip = case.get("status"), case.find("skipped")
    if status == "run":
        passed += 1
    # A test that asked to be skipped; "not run" for any other reason (no executable) fails.
    elif status == "disabled" or (skip is not None
                                  and skip.get("message", "").startswith("SKIP_")):
        skipped += 1
    else:
        failed += 1
print("%d passed, %d failed, %d skipped" % (passed, failed, skipped))
COUNT
# Every fuzz target for a bounded time (about 20 s each, after a clang build).
sh scripts/fuzz.sh 20 || status=1
exit "$status"
