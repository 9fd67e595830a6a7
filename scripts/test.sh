#!/bin/sh
# Installs the build dependencies, builds with AddressSanitizer and UBSan, and runs
# every unit, process-level and end-to-end test; then cross-builds the Windows executable
# and runs its tests under wine (label "windows"). The last line counts the results of
# the stages run ("N passed, N failed, N skipped"); the exit code is the first failing one's.
#
#   sh scripts/test.sh                  every stage, as CI runs it
#   sh scripts/test.sh --only STAGE ... only the stages named (repeat --only for more):
#     posix    the test build and every ctest of it but the package suite
#     package  the release packages, installed and removed again (ctest -L package; root)
#     windows  the Windows build and its tests under wine
#     fuzz     every fuzz target for a bounded time
set -eu
cd "$(dirname "$0")/.."
USAGE="usage: $0 [--only posix|package|windows|fuzz]..."
STAGES=""
while [ $# -gt 0 ]; do
  case "$1:${2:-}" in
    --only:posix | --only:package | --only:windows | --only:fuzz) STAGES="$STAGES $2" ;;
    *) echo "$USAGE" >&2; exit 2 ;;
  esac
  shift 2
done
runs() { [ -z "$STAGES" ] || case "$STAGES " in *" $1 "*) true ;; *) false ;; esac; }

sh scripts/install-deps.sh
RESULTS=$(pwd)/build-test/ctest-results.xml
WINDOWS_RESULTS=$(pwd)/build-windows/ctest-results.xml
rm -f "$RESULTS" "$WINDOWS_RESULTS"
status=0
if runs posix || runs package; then
  # The benchmarks are built too, so that they keep compiling; they are run by hand. The
  # test builds alone (this one and the Windows one) have the file-operation fault
  # injection that the fault sweep drives.
  cmake -S . -B build-test -G Ninja -DORVANEGATE_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug \
    -DORVANEGATE_BENCH=ON -DORVANEGATE_FAULT_INJECTION=ON
  # The package suite builds its own release; it needs only the tests registered.
  if runs posix; then cmake --build build-test; fi
  # One ctest run (and one results file) when both stages run.
  labels=""
  if ! runs posix; then labels="-L package"; elif ! runs package; then labels="-LE package"; fi
  # shellcheck disable=SC2086 # the label options are words
  ctest --test-dir build-test --output-on-failure -j2 $labels --output-junit "$RESULTS" ||
    status=$?
fi
if runs windows; then
  cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DORVANEGATE_FAULT_INJECTION=ON
  cmake --build build-windows
  windows_status=0
  ctest --test-dir build-windows --output-on-failure -j2 -L windows \
    --output-junit "$WINDOWS_RESULTS" || windows_status=$?
  [ "$status" != 0 ] || status=$windows_status
fi
# Every fuzz target for a bounded time (about 20 s each, after a clang build); the run
# counts as one test in the closing line.
fuzz_status=skipped
if runs fuzz; then
  fuzz_status=0
  sh scripts/fuzz.sh 20 || fuzz_status=1
  [ "$fuzz_status" = 0 ] || status=1
fi
python3 - "$fuzz_status" "$RESULTS" "$WINDOWS_RESULTS" <<'COUNT'
import sys
import xml.etree.ElementTree as tree
passed = failed = skipped = 0
if sys.argv[1] == "0":
    passed += 1
elif sys.argv[1] != "skipped":
    failed += 1
cases = []
for results in sys.argv[2:]:
    try:
        cases += list(tree.parse(results).getroot().iter("testcase"))
    except (OSError, tree.ParseError):
        pass
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
exit "$status"
