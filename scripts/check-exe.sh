#!/bin/sh
# check-exe.sh PROGRAM.exe: the program is a Windows GUI program that needs no DLL beside it:
# it imports only from DLLs that every Windows (and Wine) has.
set -e
exe=$1
dump=$(x86_64-w64-mingw32-objdump -p "$exe")
echo "$dump" | grep -q 'Subsystem.*(Windows GUI)' || { echo "$exe: not a GUI program"; exit 1; }
bad=$(echo "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'a-z' 'A-Z' |
      grep -vxE 'COMCTL32.DLL|KERNEL32.DLL|MSVCRT.DLL|USER32.DLL|GDI32.DLL|WSOCK32.DLL' || true)
[ -z "$bad" ] || { echo "$exe needs DLLs beside it: $bad"; exit 1; }
echo "$exe: GUI program, system DLLs only"
