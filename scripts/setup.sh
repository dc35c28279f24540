#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs, with apt-get, whatever the build, the game and its tests still need: the build's
# packages always, and the groups named: --tests (the real program in an X server, and the
# page), --deb (the Debian package and its checks), --fuzz (the fuzz target), --server (the
# class server), --bench-server (what make bench-server measures the class server against),
# --site (the web site alone: `--site` by itself installs only what building the site needs,
# without Qt).
# Packages that are already installed are left alone; nothing is fetched when all are there.
# sudo is asked for only when something is missing and the user is not root. Where there is
# no apt-get, the packages are named and the build goes on with what the system has.
set -eu

packages="g++ make cmake qt6-base-dev qt6-translations-l10n fonts-ipafont-gothic"
[ "$*" = --site ] && packages=""
# The site: the game library built with emscripten (the Shift-JIS table by the native
# compiler, as in the build), the bitmap icon rendered from its SVG, the page put together by
# Node.js, its scripts made small by esbuild.
site="g++ make cmake emscripten nodejs librsvg2-bin esbuild"
# nubora1-server: HTTP (Boost's Asio and Beast), SQLite, PostgreSQL's client (and its server,
# for the tests), QR codes.
server_packages="pkg-config libboost1.81-dev libsqlite3-dev libpq-dev libqrencode-dev postgresql-15"
for group in "$@"; do
    case $group in
    --site) packages="$packages $site" ;;
    # The tests also start the real program in an X server with a window manager, and read it
    # as a screen reader does, over the accessibility bus with the system Python's bindings.
    --tests) packages="$packages xvfb openbox xdotool x11-utils imagemagick dbus-daemon at-spi2-core python3-pyatspi"
        # The shared-folder tests serve a folder over a private sshd and mount it with sshfs.
        packages="$packages openssh-server openssh-client sshfs fuse3"
        # The rules are built once more with emscripten and replayed under Node.js beside the
        # native build (the rules_wasm_replay test), and the page's tests play the site.
        packages="$packages $site"
        # The page's tests drive Debian's Chromium, headless (make web, tests/web), and show
        # every caption whole in each Japanese Gothic face of the page's font list found here.
        packages="$packages chromium fonts-noto-cjk fonts-vlgothic"
        # The whole game and the layout are also played in Firefox ESR (over WebDriver BiDi) and
        # in WebKitGTK's MiniBrowser (over its WebDriver, in Xvfb).
        packages="$packages firefox-esr webkit2gtk-driver"
        # The class server is built and tested too, against a real PostgreSQL cluster, with
        # cpp-httplib's client, and the QR code it prints in a terminal is read back with zbarimg;
        # the teacher's page's test puts games into a class's database with sqlite3.
        packages="$packages $server_packages libcpp-httplib-dev zbar-tools sqlite3"
        # The format test holds the C++ to .clang-format and the page's scripts to Prettier (from npm, with the page's other tools).
        packages="$packages clang-format-14"
        # The suite builds the tree three times (plain, sanitizers, ThreadSanitizer): ccache
        # keeps what did not change between them and between runs.
        packages="$packages ccache" ;;
    --server) packages="$packages $server_packages" ;;
    # `make deb` builds the packages with debhelper (nubora1-server with the site it serves);
    # `make test` also checks them, the server's unit with systemd's own analyser, and installs
    # the server into a clean Debian 12 root made by debootstrap.
    --deb) packages="$packages dpkg-dev debhelper librsvg2-bin lintian appstream desktop-file-utils man-db"
        packages="$packages $server_packages libssl-dev emscripten nodejs systemd debootstrap curl" ;;
    # `make fuzz` builds the fuzz target with clang and its libFuzzer and sanitizer runtimes.
    --fuzz) packages="$packages clang-14 libclang-rt-14-dev" ;;
    # make bench-server reads a class's lists beside nginx serving the same bytes as a file.
    --bench-server) packages="$packages nginx" ;;
    *) echo "setup.sh: unknown group $group (known: --tests --deb --fuzz --server --bench-server --site)" >&2; exit 2 ;;
    esac
done

if ! command -v apt-get >/dev/null 2>&1 || ! command -v dpkg-query >/dev/null 2>&1; then
    echo "setup.sh: there is no apt-get here, so this set-up can't install anything." >&2
    echo "setup.sh: the build needs these Debian packages, or this system's equivalents:" >&2
    echo "setup.sh:   $packages" >&2
    echo "setup.sh: going on with what is installed." >&2
    exit 0
fi

# Each package once, though two groups name it.
unique=""
for p in $packages; do
    case " $unique " in *" $p "*) ;; *) unique="$unique $p" ;; esac
done
packages=$unique
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
