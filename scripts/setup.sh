#!/bin/sh
# Installs what building and testing need on Debian 12, when it is missing.  Idempotent.
set -e
packages="cmake make g++ g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine wine64 xvfb xauth
          locales fonts-wine imagemagick x11-utils xdotool googletest util-linux iproute2
          clang libclang-rt-14-dev nsis zip unzip curl fetchmail swaks msmtp"
missing=""
for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
SUDO=""
[ "$(id -u)" = 0 ] || SUDO=sudo
if [ -n "$missing" ]; then
    echo "Installing:$missing"
    $SUDO apt-get update -q
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends $missing
fi
# Wine takes its ANSI code page from the locale: Windows-1251 needs ru_RU.UTF-8.
if ! locale -a 2>/dev/null | grep -qi '^ru_RU\.utf-\?8$'; then
    $SUDO sed -i 's/^# *\(ru_RU.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    $SUDO locale-gen ru_RU.UTF-8 >/dev/null
fi
