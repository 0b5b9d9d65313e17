#!/bin/sh
# The benchmark: whole sessions against Quorrel.exe under Wine, side by side with two references
# built here with the same toolchains (a native fixed-frame server, the loopback floor, and a
# Win32 WSAAsyncSelect server under the same Wine, the platform floor) and, when Debian's
# dovecot-pop3d can be installed, a standard POP3 server.  Also times Quorrel's start-up and Start.
# Not a test: it prints figures.  See docs/BENCHMARKS.md.
#
#   sh scripts/bench.sh [--rounds R] [--sessions N] [--warmup W] [--cpu C | --no-pin]
#                       [--starts K] [--no-dovecot] [--scale-rounds S | --no-scale]
#   --rounds R, --sessions N  R rounds of N sessions per server, the servers taking turns
#                             (default 10 x 200: 2,000 measured sessions per server)
#   --warmup W                warm-up sessions per server before the rounds (default 200)
#   --cpu C                   pin everything (the programs, the wineserver, Xvfb, dovecot and the
#                             client) to CPU C (default 0); --no-pin lets the system place them
#   --starts K                start Quorrel K times to time its window and Start (default 5)
#   --no-dovecot              leave the POP3 reference out (and do not install it)
#   --scale-rounds S          S interleaved rounds of the work at scale, Quorrel's standard listener
#                             beside the POP3 reference, and SMTP deliveries by 1 and 8 senders to
#                             Quorrel alone (default 3); --no-scale leaves it out
#
# As root every run gets a network namespace of its own (loopback only; port 110 stays free
# for everybody else), and the Wine prefix's wineserver is started inside it.  Everything runs
# under a time limit.
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
bench="$build/bench"
rounds=10 sessions=200 warmup=200 cpu=0 starts=5 dovecot=yes scale=3
while [ $# -gt 0 ]; do
    case $1 in
    --rounds) rounds=$2; shift 2 ;;
    --sessions) sessions=$2; shift 2 ;;
    --warmup) warmup=$2; shift 2 ;;
    --cpu) cpu=$2; shift 2 ;;
    --no-pin) cpu=; shift ;;
    --starts) starts=$2; shift 2 ;;
    --no-dovecot) dovecot=no; shift ;;
    --scale-rounds) scale=$2; shift 2 ;;
    --no-scale) scale=0; shift ;;
    --inside) inside=yes; shift ;;
    *) echo "unknown option $1 (see the head of $0)" >&2; exit 2 ;;
    esac
done
args="--rounds $rounds --sessions $sessions --warmup $warmup --starts $starts --scale-rounds $scale"
[ -n "$cpu" ] && args="$args --cpu $cpu" || args="$args --no-pin"
[ "$dovecot" = yes ] || args="$args --no-dovecot"
SUDO=""
[ "$(id -u)" = 0 ] || SUDO=sudo

if [ -z "$inside" ]; then
    BENCH_T0=$(date +%s)
    export BENCH_T0
    # ---- outside the namespace: packages and builds (they may need the network) ----------------
    "$top/scripts/setup.sh"
    if [ "$dovecot" = yes ] && [ ! -x /usr/sbin/dovecot ]; then
        echo "Installing the POP3 reference: dovecot-pop3d"
        # Its package would start a system-wide dovecot on ports 110 and 143: the Debian way to
        # keep services from starting is a policy-rc.d that answers 101, for the install only.
        # Ours carries a mark with this run's PID, and only a file with that mark is removed: on
        # every way out (a failure, Ctrl-C, TERM, HUP), and never one that was there before or that
        # something else wrote meanwhile.
        policy=/usr/sbin/policy-rc.d
        mark="# written by scripts/bench.sh (PID $$) for the dovecot install; it removes it"
        drop_policy() {
            [ "$(sed -n 2p "$policy" 2>/dev/null)" != "$mark" ] || $SUDO rm -f "$policy"
        }
        trap drop_policy EXIT
        trap 'drop_policy; exit 1' INT TERM HUP
        if [ ! -e "$policy" ]; then
            # No clobbering: a policy-rc.d that appeared since the check is left as it is.
            $SUDO sh -c 'set -C; printf "#!/bin/sh\n%s\nexit 101\n" "$2" >"$1" && chmod 755 "$1"' \
                sh "$policy" "$mark" || [ -e "$policy" ]
        fi
        DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends dovecot-pop3d \
            >/dev/null || echo "dovecot-pop3d could not be installed: the POP3 reference is left out"
        drop_policy
        trap - EXIT INT TERM HUP
    fi
    mkdir -p "$bench"
    log="$bench/build.log"
    echo "Building (output in $log)"
    jobs=$(nproc 2>/dev/null || echo 2)
    if ! { "$top/scripts/build.sh" &&
           cmake -S "$top/bench" -B "$bench/native" &&
           cmake --build "$bench/native" -j "$jobs" &&
           cmake -S "$top/bench" -B "$bench/win" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-x86_64.cmake" &&
           cmake --build "$bench/win" -j "$jobs"; } >"$log" 2>&1; then
        tail -20 "$log"
        exit 1
    fi
    pin=""
    [ -n "$cpu" ] && pin="taskset -c $cpu"
    if [ "$(id -u)" = 0 ] && unshare -n true 2>/dev/null; then
        exec $pin unshare -n sh -c "ip link set lo up && exec sh '$0' --inside $args"
    fi
    echo "Not root (or no namespaces): running on the machine's own loopback." >&2
    exec $pin sh "$0" --inside $args
fi

# ---- inside: the servers, the timings -------------------------------------------------------
QUORREL_PORT=110 WIN32_PORT=1101 NATIVE_PORT=1102 POP3_PORT=1103 STANDARD_PORT=1104 SMTP_PORT=2525
client="$bench/native/bench_client"
data="$bench/data"
prefix="$bench/wine/prefix"
export WINEPREFIX="$prefix"
# An X display of our own: the first number with no lock file.
d=120
while [ -e "/tmp/.X$d-lock" ] || [ -e "/tmp/.X11-unix/X$d" ]; do d=$((d + 1)); done
export WINE_RUN_XDISPLAY=":$d"
unset DISPLAY
wine_run="$top/scripts/wine-run.sh --prefix $prefix"
pids=""
dovecot_pid=""
cleanup() {
    for p in $pids; do kill "$p" 2>/dev/null || true; done
    [ -n "$dovecot_pid" ] && kill "$dovecot_pid" 2>/dev/null || true
    # The prefix is the benchmark's own: its wineserver ends every program still running in it
    # (Quorrel, started by the timer), then the Xvfb that the wrapper started goes.
    $wine_run --stop >/dev/null 2>&1 || true
}
trap cleanup EXIT
trap 'exit 1' INT TERM

listening() {   # port, seconds: waits until something listens on the port
    i=0
    while ! ss -Hltn "sport = :$1" | grep -q .; do
        i=$((i + 1)); [ $i -lt $(($2 * 10)) ] || return 1; sleep 0.1
    done
}

echo "== Machine"
echo "CPU: $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1), $(nproc --all) CPUs" \
     "($(nproc) usable here); $(sed -n 's/^MemTotal: *//p' /proc/meminfo) memory"
echo "System: $(. /etc/os-release && echo "$PRETTY_NAME"), kernel $(uname -r)"
echo "Wine: $(WINEDEBUG=-all wine --version 2>/dev/null)"
echo "Load average before the run: $(cut -d' ' -f1-3 /proc/loadavg)"
if [ -n "$cpu" ]; then
    echo "Placement: pinned: the programs, their wineserver, Xvfb, dovecot and the client all on CPU $cpu (taskset)"
else
    echo "Placement: not pinned: the system places every process on any of the CPUs"
fi
if [ "$(readlink /proc/self/ns/net)" != "$(readlink /proc/1/ns/net 2>/dev/null)" ]; then
    echo "Network: a namespace of its own, loopback only"
else
    echo "Network: the machine's loopback (no namespace of its own)"
fi

# Quorrel's data: 20 users with 15 letters of 900 bytes each.
rm -rf "$data"
"$client" make-data "$data"
# Quorrel's standard POP3 listener too, for the same session in the standard protocol.
printf '[POP3]\r\nPort=%s\r\n' $STANDARD_PORT >"$data/Quorrel.ini"
# The work at scale has a data folder of its own (the registry holds 20 users at most), served by a
# second Quorrel after the sessions; as many clients from the one loopback address as it runs at once.
scale_data="$bench/scale-data"
rm -rf "$scale_data"
if [ "$scale" -gt 0 ]; then
    "$client" make-scale "$scale_data"
    # Its SMTP listener too, for the deliveries of 1 and 8 senders at once (all from 127.0.0.1).
    printf '[POP3]\r\nPort=%s\r\nPerAddress=32\r\n[SMTP]\r\nPort=%s\r\nDomain=bench.local\r\nPerAddress=16\r\n' \
        $STANDARD_PORT $SMTP_PORT >"$scale_data/Quorrel.ini"
fi

# The prefix is created on first use (about 15 s); its wineserver starts here, inside the
# namespace, since under Wine the sockets are the wineserver's.
mkdir -p "$bench/wine"
timeout 180 $wine_run cmd /c exit >/dev/null 2>&1 || true

echo
echo "== References"
$wine_run "$bench/win/floor_win32.exe" $WIN32_PORT >/dev/null 2>&1 &
win32_pid=$!
pids="$pids $win32_pid"
"$bench/native/floor_native" $NATIVE_PORT &
native_pid=$!
pids="$pids $native_pid"
listening $WIN32_PORT 30 || { echo "the Win32 floor does not listen" >&2; exit 1; }
listening $NATIVE_PORT 10 || { echo "the native floor does not listen" >&2; exit 1; }
echo "Win32 floor: bench/floor_win32.cpp under Wine, port $WIN32_PORT, PID $win32_pid ($(cat /proc/$win32_pid/comm))"
echo "Native floor: bench/floor_native.cpp, port $NATIVE_PORT, PID $native_pid"

pop3=""
if [ "$dovecot" = yes ] && [ -x /usr/sbin/dovecot ]; then
    dir="$bench/dovecot"
    rm -rf "$dir"
    mkdir -p "$dir"
    # The mail belongs to an unprivileged user; the letters are the same 900 bytes (without
    # Quorrel's status byte), in Maildir.
    "$client" make-maildir "$dir" "$(id -u nobody)" "$(id -g nobody)"
    chown -R nobody:"$(id -gn nobody)" "$dir/mail"
    cat > "$dir/dovecot.conf" <<EOF
# A private dovecot for the benchmark: POP3 on 127.0.0.1:$POP3_PORT only, users from a file,
# login processes kept alive between connections (service_count = 0).
protocols = pop3
listen = 127.0.0.1
base_dir = $dir/run
state_dir = $dir/state
log_path = $dir/dovecot.log
ssl = no
disable_plaintext_auth = no
auth_mechanisms = plain
mail_location = maildir:~
first_valid_uid = 1
default_internal_user = dovecot
default_login_user = dovenull
passdb {
  driver = passwd-file
  args = scheme=PLAIN username_format=%u $dir/users
}
userdb {
  driver = passwd-file
  args = username_format=%u $dir/users
}
service pop3-login {
  inet_listener pop3 {
    port = $POP3_PORT
  }
  inet_listener pop3s {
    port = 0
  }
  service_count = 0
  process_min_avail = 1
}
service imap-login {
  inet_listener imap {
    port = 0
  }
  inet_listener imaps {
    port = 0
  }
}
EOF
    mkdir -p "$dir/run" "$dir/state"
    /usr/sbin/dovecot -F -c "$dir/dovecot.conf" >"$dir/master.log" 2>&1 &
    dovecot_pid=$!
    if listening $POP3_PORT 20; then
        pop3="dovecot,pop3,$POP3_PORT,$dovecot_pid"
        echo "POP3 reference: dovecot $(/usr/sbin/dovecot --version | cut -d' ' -f1), port $POP3_PORT, master PID $dovecot_pid" \
             "(memory: the master and all its processes)"
    else
        echo "POP3 reference: dovecot did not start (see $dir/dovecot.log); left out"
        kill "$dovecot_pid" 2>/dev/null || true
        dovecot_pid=""
    fi
else
    echo "POP3 reference: left out (dovecot-pop3d is not installed)"
fi

echo
echo "== Quorrel start-up (warm Wine; bench/qstart.exe starts it from its data folder, $starts times)"
echo "window: CreateProcess until the main window is shown with its buttons and list;"
echo "Start: IDM_START posted as WM_COMMAND until the Stop button is enabled (users loaded, listening)"
cd "$data"
exe="Z:$(echo "$build/win/server/Quorrel.exe" | tr / '\\')"
# Into a file, not a pipe: Quorrel inherits the timer's output and would hold a pipe open.
timeout 300 $wine_run "$bench/win/qstart.exe" "$exe" "$starts" >"$bench/starts.raw" 2>/dev/null || true
tr -d '\r' <"$bench/starts.raw" | tee "$bench/starts.txt"
cd "$top"
listening $QUORREL_PORT 10 || { echo "Quorrel does not listen on port $QUORREL_PORT" >&2; exit 1; }
listening $STANDARD_PORT 10 || { echo "Quorrel does not listen on port $STANDARD_PORT" >&2; exit 1; }
median() { sort -n | awk '{ v[NR] = $1 } END { if (NR) print v[int((NR + 1) / 2)] }'; }
echo "median of $(grep -c '^run ' "$bench/starts.txt"): window $(awk '/^run /{print $4}' "$bench/starts.txt" | median) ms," \
     "Start $(awk '/^run /{print $6}' "$bench/starts.txt" | median) ms"
# The Wine process of Quorrel: started by the timer, so found by its name and our prefix.
quorrel_pid=""
for p in /proc/[0-9]*; do
    [ "$(cat "$p/comm" 2>/dev/null)" = Quorrel.exe ] || continue
    { tr '\0' '\n' < "$p/environ"; } 2>/dev/null | grep -qx "WINEPREFIX=$prefix" && quorrel_pid=${p#/proc/}
done
[ -n "$quorrel_pid" ] || { echo "Quorrel's process not found" >&2; exit 1; }

echo
echo "== Frames: Quorrel's replies against the references' canned frames"
"$client" check $QUORREL_PORT Quorrel
"$client" check $WIN32_PORT Win32-floor
"$client" check $NATIVE_PORT native-floor

echo
echo "== Sessions: connect and greeting, USER, PASS, STAT, LIST, RETR 1-15, QUIT, close"
echo "(20 users of 15 letters of 900 bytes, taken in turn; Quorrel PID $quorrel_pid)"
start=$(date +%s)
timeout 1800 "$client" run --rounds "$rounds" --sessions "$sessions" --warmup "$warmup" \
    "Quorrel,frames,$QUORREL_PORT,$quorrel_pid" "Win32-floor,frames,$WIN32_PORT,$win32_pid" \
    "native-floor,frames,$NATIVE_PORT,$native_pid" "Quorrel-standard,pop3,$STANDARD_PORT,$quorrel_pid" $pop3
echo "Sessions took $(($(date +%s) - start)) s." "Load average: $(cut -d' ' -f1-3 /proc/loadavg)"

if [ "$scale" -gt 0 ]; then
    echo
    echo "== The work at scale: Quorrel's standard listener beside dovecot (when it runs), interleaved"
    echo "(big: letters of 10 KB, 1 MB, 20 MB; many: 1,000 letters of 100 KB; c01..c18 for the clients at once)"
    echo "(then Quorrel's SMTP listener on port $SMTP_PORT alone: deliveries by 1 and 8 senders to c01..c08)"
    # The Quorrel of the sessions ends (the benchmark started it); one starts on the scale data.
    kill "$quorrel_pid" 2>/dev/null || true
    i=0
    while ss -Hltn "sport = :$QUORREL_PORT" | grep -q . && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
    cd "$scale_data"
    timeout 300 $wine_run "$bench/win/qstart.exe" "$exe" 1 >"$bench/scale-start.raw" 2>/dev/null || true
    cd "$top"
    echo "Quorrel on the scale data: $(tr -d '\r' <"$bench/scale-start.raw")"
    listening $QUORREL_PORT 10 && listening $STANDARD_PORT 10 && listening $SMTP_PORT 10 ||
        { echo "Quorrel does not listen" >&2; exit 1; }
    # The window's waits: qstart.exe --probe times an empty message to Quorrel's window meanwhile.
    probe="$bench/probe.txt"
    rm -f "$probe"
    $wine_run "$bench/win/qstart.exe" --probe "Z:$(echo "$probe" | tr / '\\')" >/dev/null 2>&1 &
    probe_pid=$!
    pids="$pids $probe_pid"
    sleep 2
    start=$(date +%s)
    timeout 3600 "$client" scale --rounds "$scale" "$scale_data" "$bench/dovecot" "$probe" \
        "Quorrel-standard,pop3,$STANDARD_PORT" ${pop3:+"$(echo "$pop3" | cut -d, -f1-3)"} "Quorrel,frames,$QUORREL_PORT" \
        "Quorrel-smtp,smtp,$SMTP_PORT"
    kill "$probe_pid" 2>/dev/null || true
    echo "The work at scale took $(($(date +%s) - start)) s."
fi
echo "The whole run $(($(date +%s) - BENCH_T0)) s. Load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
