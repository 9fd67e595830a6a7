#!/bin/sh
# Builds the libFuzzer targets of fuzz/ with clang (AddressSanitizer and UBSan) and runs
# each for a bounded time over a copy of its seed corpus. A crash, a sanitizer report or
# a failed comparison stops the script with a non-zero status; the input that caused it
# is kept in build-fuzz/artifacts/.
#
#   sh scripts/fuzz.sh [seconds per target] [target ...]     (default 20 s, every target)
#
# A longer run keeps what it found in build-fuzz/corpus/<target>/ for the next run:
#   ORVANE_FUZZ_KEEP=1 nice -n 19 sh scripts/fuzz.sh 3600 multipart
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-20}
[ $# -gt 0 ] && shift
targets=${*:-$(cd fuzz/corpus && ls)}

cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DORVANEGATE_FUZZ=ON -DORVANEGATE_TESTS=OFF >/dev/null
cmake --build build-fuzz --target fuzz_targets
mkdir -p build-fuzz/artifacts

for target in $targets; do
  if [ "${ORVANE_FUZZ_KEEP:-0}" = 1 ]; then
    work=build-fuzz/corpus/$target
    mkdir -p "$work"
  else
    work=$(mktemp -d)
  fi
  cp fuzz/corpus/"$target"/* "$work"/
  echo "== $target: $seconds s"
  # The seeds are copied so that what the run adds never lands in the repository. The
  # bound per input is generous: on a busy machine a process may wait its turn for long.
  status=0
  build-fuzz/fuzz/"$target"_fuzzer -max_total_time="$seconds" -timeout=120 -rss_limit_mb=2048 \
    -max_len=65536 -print_final_stats=1 -artifact_prefix=build-fuzz/artifacts/"$target"- \
    "$work" >build-fuzz/"$target".log 2>&1 || status=$?
  grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb|^Done|ERROR|check failed' \
    build-fuzz/"$target".log || true
  [ "${ORVANE_FUZZ_KEEP:-0}" = 1 ] || rm -rf "$work"
  if [ "$status" != 0 ]; then
    tail -n 60 build-fuzz/"$target".log
    echo "fuzz target $target failed (status $status); log: build-fuzz/$target.log" >&2
    exit 1
  fi
done
