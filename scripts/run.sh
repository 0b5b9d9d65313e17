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
pids=""
for p in $programs; do
    dir=$(echo "$p" | sed 's/Quorrel/server/;s/Vindle/client/')
    $wine_run "$build/win/$dir/$p.exe" >/dev/null 2>&1 &
    pids="$pids $!"
    sleep 1
done
export DISPLAY=$WINE_RUN_XDISPLAY
wait_for() { i=0; while ! xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1; do
                 i=$((i+1)); [ $i -lt 100 ] || return 1; sleep 0.2; done; }
for title in "POP3 - СЕРВЕР." "POP3 - КЛИЕНТ"; do
    case "$title" in *КЛИЕНТ*) [ -f "$build/win/client/Vindle.exe" ] || continue ;; esac
    if wait_for "$title"; then
        sleep 1
        out="$shots/$(echo "$title" | sed 's/СЕРВЕР./server/;s/КЛИЕНТ/client/;s/[^A-Za-z]//g').png"
        "$top/scripts/shot.sh" "$title" "$out" 0
        echo "Screenshot of \"$title\": $out"
    else
        echo "The window \"$title\" did not appear." >&2
    fi
done
for pid in $pids; do kill "$pid" 2>/dev/null || true; done
"$top/scripts/wine-run.sh" --prefix "$prefix" --stop
