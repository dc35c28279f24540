#!/bin/sh
# Installs, with apt-get, whatever the build, the game and its tests still need.
# Packages that are already installed are left alone; nothing is fetched when all are there.
set -eu

packages="g++ make cmake qt6-base-dev qt6-translations-l10n fonts-ipafont-gothic"
# The tests also start the real program in an X server with a window manager.
if [ "${1:-}" = "--tests" ]; then
    packages="$packages xvfb openbox xdotool x11-utils imagemagick"
    # The shared-folder tests serve a folder over a private sshd and mount it with sshfs.
    packages="$packages openssh-server openssh-client sshfs fuse3"
fi
# `make fuzz` builds the fuzz target with clang and its libFuzzer and sanitizer runtimes.
if [ "${1:-}" = "--fuzz" ]; then
    packages="$packages clang-14 libclang-rt-14-dev"
fi

missing=""
for p in $packages; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done
[ -z "$missing" ] && exit 0

if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
echo "Installing:$missing"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing
