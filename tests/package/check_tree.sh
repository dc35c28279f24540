#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Checks an installed tree as a desktop and a software centre will read it:
# check_tree.sh ROOT PREFIX VERSION, where ROOT holds the files installed for PREFIX.
# The game must have no run path, the desktop entry must start the installed game and name an icon installed at every size,
# drawn in whole pixels at 16 and 24, the example entry for a class folder's copy must start that copy and
# otherwise read as the menu entry does,
# the metainfo must be valid, carry its id as its file name, launch that desktop entry and
# list this version, and both manual pages must read without a warning.
set -euo pipefail
root=${1:?usage: check_tree.sh ROOT PREFIX VERSION} prefix=${2:?} version=${3:?}
share=$root$prefix/share
fail() { echo "FAIL: $*" >&2; exit 1; }

desktop=$share/applications/nubora1.desktop
[ -f "$desktop" ] || fail "no desktop entry"
desktop-file-validate "$desktop" || fail "desktop-file-validate: $desktop"
key() { sed -n "s/^$1=//p" "$desktop"; }
exec=$(key Exec)
[ "$exec" = "$prefix/games/nubora1" ] || fail "Exec=$exec, not the installed game"
[ -x "$root$exec" ] || fail "$exec is not installed"
# The system's Qt is found without a run path; one relative to the program would let files
# beside it be loaded as libraries.
! readelf -d "$root$exec" | grep -E 'RPATH|RUNPATH' || fail "$exec has a run path"
icon=$(key Icon)
for size in 16 24 32 48 64 128 256; do
    png=$share/icons/hicolor/${size}x$size/apps/$icon.png
    [ "$(identify -format '%wx%h' "$png" 2>/dev/null)" = "${size}x$size" ] || fail "icon $png"
done
[ -f "$share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "no scalable icon $icon"
# Drawn for their size, the small icons have a few dozen colours (the background's gradient and
# four inks); scaled down from the big drawing, they have over a hundred blends.
for size in 16 24; do
    png=$share/icons/hicolor/${size}x$size/apps/$icon.png
    colours=$(identify -format '%k' "$png")
    [ "$colours" -lt 64 ] || fail "icon $png has $colours colours: scaled down, not drawn for $size pixels"
done

class=$share/doc/nubora1/examples/nubora1.desktop
[ -f "$class" ] || fail "no example menu entry for a class folder"
desktop-file-validate "$class" || fail "desktop-file-validate: $class"
[ "$(sed -n 's/^Exec=//p' "$class")" = /srv/nubora1/nubora1 ] || fail "the class folder's entry does not start /srv/nubora1/nubora1"
cmp -s <(grep -v '^#\|^Exec=' "$desktop") <(grep -v '^#\|^Exec=' "$class") ||
    fail "the class folder's entry differs from the menu entry in more than Exec="

metainfo=$(ls "$share"/metainfo/*.metainfo.xml)
[ "$(wc -w <<<"$metainfo")" -eq 1 ] || fail "metainfo files: $metainfo"
appstreamcli validate --no-net --pedantic "$metainfo" >/dev/null || fail "appstreamcli validate $metainfo"
tag() { sed -n "s|.*<$1[^>]*>\(.*\)</$1>.*|\1|p" "$metainfo" | head -n1; }
[ "$(basename "$metainfo")" = "$(tag id).metainfo.xml" ] || fail "metainfo file name and id $(tag id) differ"
[ "$(tag launchable)" = nubora1.desktop ] || fail "metainfo launches $(tag launchable)"
grep -q "<release version=\"$version\"" "$metainfo" || fail "metainfo has no release $version"

for page in "$share/man/man6/nubora1.6" "$share/man/ja/man6/nubora1.6"; do
    page=$(ls "$page" "$page.gz" 2>/dev/null | head -n1) || true
    [ -n "$page" ] || fail "manual page missing"
    # Read from standard input: under ja/, man would take the page for EUC-JP and hide the
    # warnings a reader's man shows.
    warnings=$(zcat -f "$page" | LC_ALL=C.UTF-8 man --warnings -E UTF-8 -l -Tutf8 -Z - 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "$page: $warnings"
done
echo "installed tree under $root$prefix: fine"
