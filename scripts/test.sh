#!/bin/sh
# Installs what is missing, builds both trees and runs every test: native first (in parallel),
# then each fuzz target for a few seconds, then the Windows tests under Wine, one at a time
# (they share a Wine server and port 110), among them the install test of the Windows package.
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
"$top/scripts/setup.sh"
"$top/scripts/build.sh"
"$top/scripts/package.sh" >/dev/null   # the installer that the install test installs
status=0
ctest --test-dir "$build/native" --output-on-failure -j "$(nproc 2>/dev/null || echo 2)" || status=1
"$top/scripts/fuzz.sh" || status=1
ctest --test-dir "$build/win" --output-on-failure -j 1 || status=1
"$top/scripts/wine-run.sh" --prefix "$build/win/wine/prefix" --stop
exit $status
