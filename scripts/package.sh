#!/bin/sh
# Makes the Windows package in build/package from this tree:
#   Quorrel-<version>.zip        Quorrel.exe, Vindle.exe and readme.txt (Russian, UTF-8 with a
#                                byte-order mark and CRLF lines, so that Notepad shows it)
#   Quorrel-<version>-setup.exe  the 64-bit installer (Debian's makensis, package/installer.nsi),
#                                which also writes package/Quorrel.ini (in Windows-1251, CRLF) into
#                                a data folder that has none
# The version is the one line of VERSION.  Installs what is missing and builds the programs first.
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
out="$build/package"
"$top/scripts/setup.sh"
cmake -S "$top" -B "$build/win" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-x86_64.cmake" \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build/win" -j "$(nproc 2>/dev/null || echo 2)" --target Quorrel Vindle >/dev/null

version=$(head -n 1 "$top/VERSION")
name="Quorrel-$version"
rm -rf "$out"
mkdir -p "$out/$name"
cp "$build/win/server/Quorrel.exe" "$build/win/client/Vindle.exe" "$out/$name/"
# The one byte-order mark is written here: the source is plain UTF-8 with LF lines, and a mark that
# an editor put in front of it is dropped, not doubled.
bom=$(printf '\357\273\277')
{ printf '%s' "$bom"; sed "1s/^$bom//; s/@VERSION@/$version/; s/\$/\r/" "$top/package/readme.txt"; } \
    > "$out/$name/readme.txt"

mkdir -p "$out/defaults"
sed 's/$/\r/' "$top/package/Quorrel.ini" | iconv -f UTF-8 -t CP1251 > "$out/defaults/Quorrel.ini"

(cd "$out" && zip -q -X -r "$name.zip" "$name")
makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$version" -DFILES="$out/$name" -DDEFAULTS="$out/defaults" \
         -DICON="$top/server/logo.ico" \
         -DOUTFILE="$out/$name-setup.exe" "$top/package/installer.nsi"
echo "$out/$name.zip"
echo "$out/$name-setup.exe"
