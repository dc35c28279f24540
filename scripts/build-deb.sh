#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian packages from a copy of the source tree, so that nothing is written into
# the tree itself: build-deb.sh [DIR] leaves nubora1_<version>_<arch>.deb and
# nubora1-server_<version>_<arch>.deb, their -dbgsym packages, .buildinfo and .changes, and
# the source package (.dsc, .tar.xz) in DIR (build-deb/ by default).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/build-deb}
mkdir -p "$out"
out=$(cd "$out" && pwd)
version=$(dpkg-parsechangelog -l "$root/debian/changelog" -S Version)
src=$out/nubora1-$version

# The tree as it stands, edits not yet committed included, without build folders.
rm -rf "$src"
mkdir -p "$src"
if git -C "$root" rev-parse --git-dir >/dev/null 2>&1; then
    (cd "$root" && git ls-files -z --cached --others --exclude-standard |
        tar --null -T - --ignore-failed-read -cf - 2>/dev/null) | tar -xf - -C "$src"
else
    (cd "$root" && tar --exclude=./build --exclude='./build-*' -cf - .) | tar -xf - -C "$src"
fi

# The source package first, from the clean copy: lintian checks the packaging through it.
(cd "$out" && dpkg-source -b "$src" >/dev/null)

# dh gives the build a HOME of its own: ccache is pointed at the user's cache, and paths are
# taken relative to the copy so that builds in other folders share it.
if command -v ccache >/dev/null 2>&1; then
    NUBORA1_CCACHE=1 CCACHE_DIR=${CCACHE_DIR:-$(ccache -k cache_dir)} CCACHE_BASEDIR=$src
    export NUBORA1_CCACHE CCACHE_DIR CCACHE_BASEDIR
fi
cd "$src"
dpkg-buildpackage -b -us -uc -jauto
echo "built" "$out"/nubora1_"$version"_*.deb "$out"/nubora1-server_"$version"_*.deb
