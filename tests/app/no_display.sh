#!/bin/sh
# Without a display (none named, or one whose X server is not there) the program says in
# Japanese and English that it needs a graphical desktop and ends with status 1: no abort,
# no core file in the working directory.
program=$1
work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
ulimit -c unlimited 2>/dev/null
fail=0
for display in none :4999; do
    if [ "$display" = none ]; then
        env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" >out.txt 2>&1
    else
        env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY="$display" "$program" >out.txt 2>&1
    fi
    status=$?
    if [ "$status" -ne 1 ] || ! grep -q 'グラフィカルなデスクトップが必要' out.txt \
        || ! grep -q 'needs a graphical desktop' out.txt || grep -q 'Reinstalling' out.txt; then
        echo "display $display: status $status, said:"; cat out.txt; fail=1
    fi
    if ls core* >/dev/null 2>&1; then
        echo "display $display: left a core file"; fail=1
    fi
    rm -f core* out.txt
done
exit $fail
