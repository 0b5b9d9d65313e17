#!/bin/sh
# Builds both trees: build/win (the programs and their Windows tests) and build/native.
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S "$top" -B "$build/win" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-x86_64.cmake" \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build/win" -j "$jobs"
cmake -S "$top" -B "$build/native" -DCMAKE_BUILD_TYPE=Debug -DWIN_BUILD_DIR="$build/win" >/dev/null
cmake --build "$build/native" -j "$jobs"
