#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs, with apt-get, whatever the build, the game and its tests still need: the build's
# packages always, and the groups named: --tests (the real program in an X server), --deb (the
# Debian package and its checks), --fuzz (the fuzz target).
# Packages that are already installed are left alone; nothing is fetched when all are there.
# sudo is asked for only when something is missing and the user is not root. Where there is
# no apt-get, the packages are named and the build goes on with what the system has.
set -eu

packages="g++ make cmake qt6-base-dev qt6-translations-l10n fonts-ipafont-gothic"
for group in "$@"; do
    case $group in
    # The tests also start the real program in an X server with a window manager, and read it
    # as a screen reader does, over the accessibility bus with the system Python's bindings.
    --tests) packages="$packages xvfb openbox xdotool x11-utils imagemagick dbus-daemon at-spi2-core python3-pyatspi"
        # The shared-folder tests serve a folder over a private sshd and mount it with sshfs.
        packages="$packages openssh-server openssh-client sshfs fuse3"
        # The rules are built once more with emscripten and replayed under Node.js beside the
        # native build (the rules_wasm_replay test).
        packages="$packages emscripten"
        # make web renders the site's bitmap icons from the SVG.
        packages="$packages librsvg2-bin"
        # The page's tests drive Debian's Chromium, headless (make web, tests/web), and show
        # every caption whole in each Japanese Gothic face of the page's font list found here.
        packages="$packages chromium fonts-noto-cjk fonts-vlgothic"
        # The format test holds the C++ to .clang-format (Prettier, for the page's scripts, is from npm).
        packages="$packages clang-format-14" ;;
    # `make deb` builds the package with debhelper; `make test` also checks it.
    --deb) packages="$packages dpkg-dev debhelper librsvg2-bin lintian appstream desktop-file-utils man-db" ;;
    # `make fuzz` builds the fuzz target with clang and its libFuzzer and sanitizer runtimes.
    --fuzz) packages="$packages clang-14 libclang-rt-14-dev" ;;
    *) echo "setup.sh: unknown group $group (known: --tests --deb --fuzz)" >&2; exit 2 ;;
    esac
done

if ! command -v apt-get >/dev/null 2>&1 || ! command -v dpkg-query >/dev/null 2>&1; then
    echo "setup.sh: there is no apt-get here, so this set-up can't install anything." >&2
    echo "setup.sh: the build needs these Debian packages, or this system's equivalents:" >&2
    echo "setup.sh:   $packages" >&2
    echo "setup.sh: going on with what is installed." >&2
    exit 0
fi

missing=""
for p in $packages; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done
[ -z "$missing" ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
    sudo=""
elif command -v sudo >/dev/null 2>&1; then
    sudo="sudo"
    echo "setup.sh: installing with sudo:$missing"
else
    echo "setup.sh: these packages are missing:$missing" >&2
    echo "setup.sh: there is no sudo; install them as root with: apt-get install$missing" >&2
    exit 1
fi
echo "Installing:$missing"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing
