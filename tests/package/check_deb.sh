#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package into DIR and checks it as a packager would: lintian on the
# packages, the .changes and the source package (with the listed overrides), the tree as
# check_tree.sh sees it, the licence, and the game from the package starting in a real X
# server and showing its start message: check_deb.sh DIR VERSION.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../e2e/xsession.sh"
out=${1:?usage: check_deb.sh DIR VERSION} version=${2:?}

sh "$here/../../scripts/build-deb.sh" "$out" >"$out.log" 2>&1 || { tail -n 40 "$out.log"; fail "the package did not build"; }
[ "$(dpkg-parsechangelog -l "$here/../../debian/changelog" -S Version)" = "$version" ] ||
    fail "debian/changelog is not at version $version"
deb=$out/nubora1_${version}_$(dpkg --print-architecture).deb
changes=${deb%.deb}.changes
[ -f "$deb" ] || fail "no $deb"

lintian --fail-on error,warning "$changes" "$out/nubora1_$version.dsc" || fail "lintian"

dpkg-deb -x "$deb" "$work/root"
bash "$here/check_tree.sh" "$work/root" /usr "$version"
grep -q '^License: GPL-3+$' "$work/root/usr/share/doc/nubora1/copyright" || fail "copyright"

start_session "$work/root/usr/games/nubora1"
window '^スタート$' >/dev/null
echo "the packaged game shows its start message"
