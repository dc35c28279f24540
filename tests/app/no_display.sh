#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Without a display (none named, or an X server that is not there) the program says in Japanese
# and English that it needs a graphical desktop and ends with status 1: no abort, no core file.
work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT && cd "$work" || exit 1
ulimit -c unlimited 2>/dev/null
result=0
for display in '' :4999; do
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ${display:+DISPLAY=$display} "$1" >said 2>&1
    status=$?
    if [ $status -ne 1 ] || ls core* >/dev/null 2>&1 || ! grep -q 'グラフィカルなデスクトップが必要' said \
        || ! grep -q 'needs a graphical desktop' said; then
        echo "display '$display': status $status"; cat said; result=1
    fi
done
exit $result
