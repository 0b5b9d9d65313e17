#!/bin/sh
# Builds the fuzz targets of fuzz/ (clang, libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer)
# in build/fuzz and runs every one of them; fails on any finding (kept in build/fuzz/findings).
#   sh scripts/fuzz.sh          each target for FUZZ_SECONDS seconds (default 10), two at a time:
#                               the step of scripts/test.sh
#   sh scripts/fuzz.sh long     each target for FUZZ_RUNS inputs (default 2000000), one after
#                               another, printing how many inputs each ran
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}/fuzz
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S "$top/fuzz" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DFUZZ_SECONDS="${FUZZ_SECONDS:-10}" >/dev/null
cmake --build "$build" -j "$jobs" >/dev/null
if [ "$1" != long ]; then
    exec ctest --test-dir "$build" --output-on-failure -j "$jobs"
fi
status=0
for fuzzer in "$build"/fuzz_*; do
    [ -f "$fuzzer" ] && [ -x "$fuzzer" ] || continue
    name=${fuzzer##*/fuzz_}
    sh "$top/fuzz/run.sh" "$fuzzer" "$top/fuzz/corpus/$name" "$build" -runs="${FUZZ_RUNS:-2000000}" || status=1
done
exit $status
