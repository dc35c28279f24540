#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package into DIR and checks it as a packager would: lintian on the
# packages, the .changes and the source package (no overrides), the tree as check_tree.sh
# sees it, the licence, and the game from the package as a teacher sets it up for a class:
# copied into a folder that holds the class's tavon.rnk, started in a real X server, it shows
# its start message and saves a game into that file: check_deb.sh DIR VERSION.
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

# The teacher's class list, open to all: an entry in the first range, whose list is not full,
# and entries in the others. The player's own data directory and home are given places of
# their own, where a save that missed the class list would land.
{
    record たなか 1; record_blank 4
    record すずき 50; record さとう 40; record TANAKA 30; record_blank 2
    record やまだ 12; record_blank 4
    record_blank 60
} >"$work/teacher.rnk"
rnk=$(ranking_file)
cp "$work/teacher.rnk" "$rnk"
chmod 0666 "$rnk"
inode=$(stat -c %i "$rnk")
start_session "$work/root/usr/games/nubora1" XDG_DATA_HOME="$work/data" HOME="$work/home"
window '^スタート$' >/dev/null
echo "the packaged game shows its start message"

dismiss_all
games=$(play_until_listed CLASS enter)
for _ in $(seq 50); do [ "$(head -c 5 "$rnk")" = CLASS ] && break; sleep 0.1; done
# The new entry heads the first range, the teacher's entry one place below it; every other
# byte as the teacher left it.
score=$(record_score "$rnk" 1)
{ record CLASS "$score"; record たなか 1; record_blank 3; tail -c +61 "$work/teacher.rnk"; } >"$work/expected.rnk"
cmp "$rnk" "$work/expected.rnk" || fail "the class's tavon.rnk does not hold the save beside the teacher's entries"
[ "$(stat -c '%i %a' "$rnk")" = "$inode 666" ] || fail "the save replaced the class's tavon.rnk or changed its mode"
[ -z "$(find "$work/data" "$work/home" -name tavon.rnk 2>/dev/null)" ] || fail "the copy saved into the player's own lists"
echo "the packaged game copied into a class folder saved CLASS ($score points, game $games) into its tavon.rnk"
