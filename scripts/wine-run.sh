#!/bin/sh
# Runs a Windows program under Wine for the tests and the demo:
#   wine-run.sh [--prefix DIR] prog.exe [args...]
#   --prefix DIR  the Wine prefix to use (default $WINEPREFIX, else <repo>/build/wine/prefix);
#                 created with wineboot -i on first use
#   DISPLAY       if unset, an Xvfb is started on $WINE_RUN_XDISPLAY (default :95) and left running
#   wine-run.sh [--prefix DIR] --stop   stops the prefix's wineserver and the Xvfb this script started
set -e
here=$(cd "$(dirname "$0")" && pwd)
if [ "$1" = "--prefix" ]; then WINEPREFIX=$2; shift 2; fi
: "${WINEPREFIX:=$here/../build/wine/prefix}"
export WINEPREFIX
export WINEDEBUG="${WINE_RUN_DEBUG:--all}"   # -all,err+module shows missing-DLL errors
export WINEDLLOVERRIDES="mscoree,mshtml="     # no Mono/Gecko install prompts
export LANG=ru_RU.UTF-8 LC_ALL=ru_RU.UTF-8      # => GetACP() == 1251 (generate the glibc locale!)
state=$(dirname "$WINEPREFIX")/.wine-run
mkdir -p "$state"
xd=${WINE_RUN_XDISPLAY:-:95}

if [ "$1" = "--stop" ]; then
    wineserver -k 2>/dev/null || true
    if [ -f "$state/xvfb.pid" ]; then kill "$(cat "$state/xvfb.pid")" 2>/dev/null || true; rm -f "$state/xvfb.pid"; fi
    exit 0
fi

# One-time setup under a lock (ctest -j).  Daemons started here must not inherit fd 9,
# or they keep the lock held forever: hence the 9>&- on each of them.
(
  flock 9
  # An X server killed without its clean-up leaves its socket behind: ask the display itself.
  if [ -z "$DISPLAY" ] && ! xdpyinfo -display "$xd" >/dev/null 2>&1; then
      rm -f "/tmp/.X11-unix/X${xd#:}" "/tmp/.X${xd#:}-lock"
      setsid Xvfb "$xd" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 </dev/null 9>&- &
      echo $! > "$state/xvfb.pid"
      i=0; while [ ! -e "/tmp/.X11-unix/X${xd#:}" ] && [ $i -lt 50 ]; do sleep 0.1; i=$((i+1)); done
  fi
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
      # Create the prefix with an ordinary (non-persistent) wineserver and wait until it exits.
      # Starting "wineserver -p" before wineboot left the prefix's service manager half-started:
      # for ~30 s every new process spawned another services.exe (77 extra in one ctest run).
      DISPLAY=${DISPLAY:-$xd} wineboot -i >/dev/null 2>&1 9>&-
      # Unmanaged X11 windows: without a window manager, hiding a managed window costs ~2 s
      # (x11drv waits for the WM); unmanaged windows also get Wine-drawn frames and captions.
      wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 9>&-
      wineserver -w
  fi
  # Marlett draws the caption buttons, Tahoma and MS Sans Serif the dialogs: without them Wine
  # shows letters in place of the buttons.  Fonts load at process start, so copy them first.
  fonts="$WINEPREFIX/drive_c/windows/Fonts"
  if [ -d /usr/share/wine/fonts ] && [ ! -f "$fonts/marlett.ttf" ]; then
      mkdir -p "$fonts" && cp /usr/share/wine/fonts/*.ttf "$fonts/" 2>/dev/null || true
  fi
  # Persistent wineserver (rc 2 = one is already running).  When a new one starts, boot the
  # prefix's background processes (services.exe, explorer.exe /desktop, ...) right away with
  # stdio on /dev/null: otherwise the first test process starts them, they inherit its stdout/
  # stderr pipe, and CTest / gtest_discover_tests wait for EOF until their timeout.
  if wineserver -p >/dev/null 2>&1 9>&-; then
      DISPLAY=${DISPLAY:-$xd} wineboot </dev/null >/dev/null 2>&1 9>&-
  fi
) 9>"$state/lock"

[ -n "$DISPLAY" ] || export DISPLAY=$xd
exec wine "$@"
