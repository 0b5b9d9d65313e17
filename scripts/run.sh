#!/bin/sh
# Installs what is missing, builds, and runs the programs on a copy of the sample data.
# With a display the windows open for you; without one they run under Xvfb, and screenshots of
# the windows are written to build/shots and their paths printed.
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
"$top/scripts/setup.sh"
"$top/scripts/build.sh"

data="$build/demo"
rm -rf "$data"
"$top/scripts/make-sample.sh" "$top/sample" "$data"

prefix="$build/win/wine/prefix"
wine_run="$top/scripts/wine-run.sh --prefix $prefix"
programs="Quorrel"
[ -f "$build/win/client/Vindle.exe" ] && programs="$programs Vindle"

if [ -n "$DISPLAY" ]; then
    cd "$data"
    for p in $programs; do $wine_run "$build/win/$(echo "$p" | sed 's/Quorrel/server/;s/Vindle/client/')/$p.exe" & done
    echo "The programs run in $data; close their windows to end."
    wait
    exit 0
fi

# No display: a virtual one, and screenshots.
export WINE_RUN_XDISPLAY=${WINE_RUN_XDISPLAY:-:96}
shots="$build/shots"
mkdir -p "$shots"
cd "$data"
wait_for() { i=0; while ! DISPLAY=$WINE_RUN_XDISPLAY xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1; do
                 i=$((i+1)); [ $i -lt 100 ] || return 1; sleep 0.2; done; }
shoot() {   # title, file name
    if wait_for "$1"; then
        sleep 1
        DISPLAY=$WINE_RUN_XDISPLAY "$top/scripts/shot.sh" "$1" "$shots/$2" 0
        echo "Screenshot of \"$1\": $shots/$2"
    else
        echo "The window \"$1\" did not appear." >&2
    fi
}
# The drivers of the end-to-end tests play the person: Start in the server; in the client,
# connect as ivan, list the letters and read the first one.
drivers="$build/win/tests/e2e"
# A command or control id, as the program's resource header defines it.
id() { sed -n "s/^#define $2 *\([0-9]*\).*/\1/p" "$top/$1"; }
pids=""
$wine_run "$build/win/server/Quorrel.exe" >/dev/null 2>&1 &
pids="$pids $!"
$wine_run "$drivers/qdriver.exe" wait cmd "$(id server/commands.h IDM_START)" >/dev/null 2>&1 || true
shoot "POP3 - СЕРВЕР." server.png
$wine_run "$build/win/client/Vindle.exe" >/dev/null 2>&1 &
pids="$pids $!"
list=$(id client/resource.h IDC_LIST)
$wine_run "$drivers/vdriver.exe" wait connect 127.0.0.1 ivan ivan1 enabled "$list" 10000 cmd "$list" \
    rows 3 10000 select 0 cmd "$(id client/resource.h IDC_READ)" text 5000 >/dev/null 2>&1 || true
shoot "POP3 - КЛИЕНТ" client.png
for pid in $pids; do kill "$pid" 2>/dev/null || true; done
"$top/scripts/wine-run.sh" --prefix "$prefix" --stop
