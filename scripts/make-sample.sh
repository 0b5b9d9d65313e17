#!/bin/sh
# make-sample.sh SAMPLE_DIR DEST_DIR: builds a server data folder from the readable sample:
# Users.db from users.txt, Admin.psw from admin.txt, and the mailboxes from mail/ with their
# letters converted to Windows-1251.
set -e
src=$1; dest=$2
mkdir -p "$dest"
: > "$dest/Users.db"
grep -v '^#' "$src/users.txt" | grep -v '^$' | while IFS='|' read -r name ip pw level; do
    field() {   # text, width: the text in cp1251, NUL-padded to the width
        printf '%s' "$1" | iconv -f UTF-8 -t CP1251 | head -c $(($2 - 1))
        n=$(printf '%s' "$1" | iconv -f UTF-8 -t CP1251 | head -c $(($2 - 1)) | wc -c)
        head -c $(($2 - n)) /dev/zero
    }
    le32() { v=$1; [ "$v" -lt 0 ] && v=$((v + 4294967296));
             printf "$(printf '\\%03o\\%03o\\%03o\\%03o' $((v & 255)) $((v >> 8 & 255)) $((v >> 16 & 255)) $((v >> 24 & 255)))"; }
    { field "$name" 20; field "$ip" 17; field "$pw" 10; le32 0; le32 "$level"; } >> "$dest/Users.db"
    mkdir -p "$dest/$name"
done
{ head -n 1 "$src/admin.txt" | tr -d '\n' | iconv -f UTF-8 -t CP1251 | head -c 10; head -c 11 /dev/zero; } \
    | head -c 11 > "$dest/Admin.psw"
for box in "$src"/mail/*/; do
    [ -d "$box" ] || continue
    user=$(basename "$box")
    mkdir -p "$dest/$user"
    for f in "$box"*.msg; do
        [ -f "$f" ] && sed "s/\r*$/\r/" "$f" | iconv -f UTF-8 -t CP1251 > "$dest/$user/$(basename "$f")"
    done
done
