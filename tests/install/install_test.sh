#!/bin/sh
# The installer made by scripts/package.sh, the whole story, under Wine in a fresh prefix of its
# own: a silent install puts the programs under Program Files, the shortcuts in the Start menu
# and the Startup folder, a default Quorrel.ini into the data folder (never over one that is
# there) and an entry in the list of installed programs; the server, started from its Startup
# shortcut, runs in the data folder and is listening without a press of "Старт"; the silent
# uninstall named by that entry removes the programs, the shortcuts and the entry, and leaves the
# data folder as it was.
#   install_test.sh PACKAGE_DIR WORK_DIR QDRIVER_EXE
set -u
abs() { mkdir -p "$1" && cd "$1" && pwd; }
pkg=$(cd "$1" && pwd) || exit 1
work=$(abs "$2")
qdriver=$(cd "$(dirname "$3")" && pwd)/$(basename "$3")
top=$(cd "$(dirname "$0")/../.." && pwd)
version=$(head -n 1 "$top/VERSION")
setup="$pkg/Quorrel-$version-setup.exe"
[ -f "$setup" ] || { echo "FAIL: $setup is missing: run scripts/package.sh first"; exit 1; }

prefix="$work/prefix"
run() { sh "$top/scripts/wine-run.sh" --prefix "$prefix" "$@"; }
# The prefix's own wineserver, with every program still running in it, goes on every exit path.
trap 'run --stop >/dev/null 2>&1; rm -rf "$work"' EXIT
run --stop >/dev/null 2>&1
rm -rf "$work"
mkdir -p "$work"
cd "$work"

failures=0
check() {   # what is checked, then the command that checks it
    what=$1; shift
    if "$@"; then printf 'ok   %s\n' "$what"; else printf 'FAIL %s\n' "$what"; failures=$((failures + 1)); fi
}
has() { printf '%s\n' "$1" | grep -qF -- "$2"; }
same() { [ -n "$1" ] && [ "$1" = "$2" ]; }
# A shortcut keeps its paths as UTF-16 text: read it without the zero bytes.
shortcut_has() { tr -d '\000' < "$1" | grep -qF -- "$2"; }

c="$prefix/drive_c"
programs="$c/Program Files/Quorrel"
menu="$c/ProgramData/Microsoft/Windows/Start Menu/Programs/Quorrel"
data="$c/ProgramData/Quorrel"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorrel'

run "$setup" /S >"$work/setup.log" 2>&1
check "the silent install ends with code 0" [ $? = 0 ]
for f in Quorrel.exe Vindle.exe readme.txt; do
    check "Program Files\\Quorrel\\$f is the packaged file" cmp -s "$programs/$f" "$pkg/Quorrel-$version/$f"
done
check "readme.txt starts with one byte-order mark" [ "$(head -c 10 "$programs/readme.txt")" = "$(printf '\357\273\277Quorrel')" ]
check "the uninstaller is beside the programs" [ -f "$programs/uninstall.exe" ]
check "the data folder exists" [ -d "$data" ]
check "the server's shortcut starts Program Files\\Quorrel\\Quorrel.exe" \
    shortcut_has "$menu/Quorrel.lnk" 'C:\Program Files\Quorrel\Quorrel.exe'
check "the server's shortcut works in the data folder" shortcut_has "$menu/Quorrel.lnk" 'C:\ProgramData\Quorrel'
check "the client's shortcut starts Program Files\\Quorrel\\Vindle.exe" \
    shortcut_has "$menu/Vindle.lnk" 'C:\Program Files\Quorrel\Vindle.exe'
# The common Startup folder; Wine spells it "StartUp".
startup=$(find "$c/ProgramData/Microsoft/Windows/Start Menu/Programs" -maxdepth 1 -iname startup | head -n 1)
startup_shortcut() {
    shortcut_has "$startup/Quorrel.lnk" 'C:\Program Files\Quorrel\Quorrel.exe' &&
        shortcut_has "$startup/Quorrel.lnk" 'C:\ProgramData\Quorrel'
}
ini=$(iconv -f CP1251 -t UTF-8 "$data/Quorrel.ini" 2>/dev/null | tr -d '\r')
ini_keys() {
    printf '%s\n' "$ini" | grep -qx AutoStart=1 && printf '%s\n' "$ini" | grep -qx Enabled=1 &&
        printf '%s\n' "$ini" | grep -qx Port=1110
}
# A key line follows a comment line that holds letters beyond ASCII (Russian).
ini_comments() { printf '%s\n' "$ini" | LC_ALL=C awk '/=/ && prev !~ /^; .*[\200-\377]/ { bad = 1 } { prev = $0 } END { exit bad }'; }
ini_kept() { tail -c 8 "$data/Quorrel.ini" | grep -q kept; }
log_written() { ls "$data/Logs" 2>/dev/null | grep -q '^Quorrel-.*\.log$'; }
check "the Startup folder starts the server in the data folder" startup_shortcut
check "the default Quorrel.ini starts the server, keeps the log and opens POP3 on 1110" ini_keys
check "each of its keys has a comment line in Russian before it" ini_comments
printf '; kept\r\n' >> "$data/Quorrel.ini"
run "$setup" /S >"$work/setup2.log" 2>&1
check "installing again leaves an existing Quorrel.ini as it is" ini_kept

entry=$(run reg query "$key" 2>&1 | tr -d '\r')
check "the uninstall entry names both programs" has "$entry" 'Vindle'
check "the uninstall entry has the version $version" has "$entry" "DisplayVersion    REG_SZ    $version"
check "the uninstall entry knows the data folder" has "$entry" 'DataFolder    REG_SZ    C:\ProgramData\Quorrel'
quiet=$(printf '%s\n' "$entry" | sed -n 's/^ *QuietUninstallString *REG_SZ *//p')
check "the uninstall entry has a silent uninstall command" \
    [ "$quiet" = '"C:\Program Files\Quorrel\uninstall.exe" /S' ]

# The administrator's data (the demo's users, password and letters) goes into the data folder.
# The server, started from its shortcut, finds its password file there: no warning comes up.
sh "$top/scripts/make-sample.sh" "$top/sample" "$data"
run start 'C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Startup\Quorrel.lnk' >/dev/null 2>&1
seen=$(timeout 60 sh "$top/scripts/wine-run.sh" --prefix "$prefix" "$qdriver" wait nobox 1500 state bind 1110 close \
       2>&1 | tr -d '\r')
check "the server started from its shortcut shows its window" has "$seen" ready
check "the server runs in the data folder (it found Admin.psw there)" has "$seen" nobox
check "the server started itself: Start is done" has "$seen" "state start=0 stop=1"
check "the server listens on the standard port without a press of Start" has "$seen" "bind 10048"
sleep 2
check "its log is in the data folder" log_written
before=$(cd "$data" && find . -type f | sort | xargs md5sum)

# The silent uninstall copies itself away and returns at once: wait for its work to be done.
run 'C:\Program Files\Quorrel\uninstall.exe' /S >"$work/uninstall.log" 2>&1
i=0
while [ -e "$programs" ] && [ $i -lt 300 ]; do sleep 0.2; i=$((i + 1)); done
check "the programs are gone" [ ! -e "$programs" ]
shortcuts_gone() { [ ! -e "$menu" ] && [ -n "$startup" ] && [ ! -e "$startup/Quorrel.lnk" ]; }
check "the shortcuts are gone" shortcuts_gone
check "the uninstall entry is gone" sh -c "! sh '$top/scripts/wine-run.sh' --prefix '$prefix' reg query '$key' >/dev/null 2>&1"
after=$(cd "$data" 2>/dev/null && find . -type f | sort | xargs md5sum)
check "the data folder keeps every file as it was" same "$before" "$after"

[ $failures = 0 ] && echo "installer: all checks passed" || echo "installer: $failures checks failed"
[ $failures = 0 ]
