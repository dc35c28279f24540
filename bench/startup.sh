#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Start-up, memory and idle figures of the real program in Xvfb with openbox, each beside the
# same figure of a bare Qt Widgets window of the same size and controls (the floor), in the
# same run. Prints the median of RUNS runs (default 9) of each.
#  start-up: from starting the process to its window being on screen;
#  memory:   peak resident set (VmHWM) one second after start-up;
#  idle:     CPU time and context switches (wake-ups) over IDLE seconds (default 10) of
#            waiting before Start, with the start message showing.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
source "$top/tests/e2e/xsession.sh"
RUNS=${RUNS:-9}
IDLE=${IDLE:-10}
start_x
cp "$top/build/nubora1" "$work/nubora1"
cp "$top/build/floor_window" "$work/floor_window"

now_ms() { echo $(($(date +%s%N) / 1000000)); }
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
switches() { cat /proc/"$1"/task/*/status | awk '/ctxt_switches/ {n += $2} END {print n}'; }  # all threads
median() { sort -n | awk '{a[NR] = $1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }

# measure NAME TITLE: one run; appends "startup_ms hwm_kib cpu_ticks wakeups" to $work/NAME.figures.
measure() {
    local name=$1 title=$2 pid t0 t1 c0 c1 w0 w1 hwm
    t0=$(now_ms)
    (cd "$work" && exec env QT_QPA_PLATFORM=xcb "./$name") >/dev/null 2>&1 &
    pid=$!
    until xdotool search --onlyvisible --name "$title" >/dev/null 2>&1; do
        kill -0 "$pid" 2>/dev/null || fail "$name ended at start"
        [ $(($(now_ms) - t0)) -lt 20000 ] || fail "$name showed no window"
    done
    t1=$(now_ms)
    sleep 1
    hwm=$(awk '/VmHWM/ {print $2}' "/proc/$pid/status")
    c0=$(cpu_ticks "$pid"); w0=$(switches "$pid")
    sleep "$IDLE"
    c1=$(cpu_ticks "$pid"); w1=$(switches "$pid")
    kill "$pid"; wait "$pid" 2>/dev/null || true
    echo "$((t1 - t0)) $hwm $((c1 - c0)) $((w1 - w0))" >>"$work/$name.figures"
}

for run in $(seq "$RUNS"); do
    measure floor_window '^floor$'
    measure nubora1 '^ヌボラ1（m\.Tarvo\)$'
    echo "run $run: floor $(tail -n1 "$work/floor_window.figures"), nubora1 $(tail -n1 "$work/nubora1.figures")" >&2
done

hz=$(getconf CLK_TCK)
col() { awk -v c="$2" '{print $c}' "$work/$1.figures" | median; }
fs=$(col floor_window 1); ns=$(col nubora1 1)
fm=$(col floor_window 2); nm=$(col nubora1 2)
fc=$(col floor_window 3); nc=$(col nubora1 3)
fw=$(col floor_window 4); nw=$(col nubora1 4)
echo "medians of $RUNS runs:"
awk -v f="$fs" -v n="$ns" 'BEGIN {printf "start-up: nubora1 %d ms, floor %d ms, ratio %.2f (target <= 1.15)\n", n, f, n / f}'
awk -v f="$fm" -v n="$nm" 'BEGIN {printf "memory: peak RSS nubora1 %.1f MiB, floor %.1f MiB, difference %.1f MiB (target <= 5)\n", n / 1024, f / 1024, (n - f) / 1024}'
awk -v f="$fc" -v n="$nc" -v hz="$hz" -v s="$IDLE" 'BEGIN {printf "idle: CPU over %d s nubora1 %.2f%%, floor %.2f%% (target < 0.1%%)\n", s, 100 * n / hz / s, 100 * f / hz / s}'
awk -v f="$fw" -v n="$nw" -v s="$IDLE" 'BEGIN {printf "idle: wake-ups over %d s nubora1 %d, floor %d, beyond the floor %d (target 0)\n", s, n, f, n - f}'
