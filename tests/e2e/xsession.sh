# SPDX-License-Identifier: GPL-3.0-or-later
# Shell functions that run the real program in a real X server with a window manager and
# use it as a pupil would: by clicks at the designed positions and by keys.
# Source it, then call start_session EXECUTABLE; every process it starts is stopped on exit.
# Needs Xvfb, openbox, xdotool, xwininfo/xprop (x11-utils) and import (imagemagick).

work=$(mktemp -d)
pids=()
program=

cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# On failure, what the screen showed is kept as real_window_failure.png in the working directory.
fail() {
    echo "FAIL: $*" >&2
    [ -n "${DISPLAY:-}" ] && import -window root real_window_failure.png 2>/dev/null || true
    cat "$work/program.log" >&2 2>/dev/null || true
    if [ -n "$program" ] && ! kill -0 "$program" 2>/dev/null; then
        wait "$program" 2>/dev/null; echo "the program had ended with status $?" >&2
    fi
    exit 1
}

# Starts Xvfb on a free display and openbox, then the program from a copy of it in a
# temporary directory, where it keeps its ranking file. Extra arguments become environment
# settings of the program (NAME=VALUE).
start_session() {
    local exe=$1; shift
    start_x
    cp "$exe" "$work/nubora1"
    (cd "$work" && exec env -u QT_SCALE_FACTOR QT_QPA_PLATFORM=xcb "$@" ./nubora1) >"$work/program.log" 2>&1 &
    program=$!
    pids+=($program)
}

# Starts Xvfb on a free display, and openbox, and waits until the window manager runs.
start_x() {
    exec 3>"$work/display"
    Xvfb -displayfd 3 -screen 0 1920x1200x24 -nolisten tcp >/dev/null 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
    [ -s "$work/display" ] || fail "Xvfb did not start"
    export DISPLAY=":$(head -n1 "$work/display")"
    openbox >/dev/null 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do
        xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
        sleep 0.1
    done
}

ranking_file() { echo "$work/tavon.rnk"; }

# One record of tavon.rnk as its bytes: the name (given in UTF-8) in Shift-JIS padded with spaces
# to 10 bytes, then the score low byte first. record_blank COUNT: that many blank records.
record() {
    local name
    name=$(printf %s "$1" | iconv -f UTF-8 -t SHIFT_JIS)
    LC_ALL=C printf '%-10s' "$name"
    printf "\\x$(printf %02x $(($2 & 255)))\\x$(printf %02x $(($2 >> 8)))"
}
record_blank() { local _; for _ in $(seq "$1"); do printf '          \0\0'; done; }
# The score of record N (from 1) of a ranking file.
record_score() { od -An -t d2 -j $((($2 - 1) * 12 + 10)) -N 2 "$1" | tr -d ' '; }

game_title='^ヌボラ1（m\.Tarvo\)$'
other_title='^ヌボラ1\(m\.Tarvo\)$'   # the results and the help window

# Waits up to 15 s for a visible window whose title matches; prints its id.
window() {
    local id
    id=$(timeout 15 xdotool search --sync --onlyvisible --name "$1" 2>/dev/null | head -n1) || true
    [ -n "$id" ] || fail "no window titled $1"
    echo "$id"
}
visible() { xdotool search --onlyvisible --name "$1" >/dev/null 2>&1; }

# Left, top and height of a window's contents on the screen. (xwininfo, not xdotool, tells
# where a window that the window manager has framed really is.)
origin() {
    xwininfo -id "$1" | awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
                             /Height:/ {h=$NF} END {print x, y, h}'
}

# Clicks at (x, y) logical pixels of a window's client area, `below` pixels down from its top.
click() {
    local id=$1 x=$2 y=$3 below=${4:-0} scale=${SCALE:-1} X Y H
    read -r X Y H < <(origin "$id")
    xdotool mousemove $((X + (x * scale))) $((Y + below + (y * scale))) click 1
    sleep 0.5 # a pupil's pace: quicker clicks on one spot would make a double click
}

# Clicks in the game window's client area, which starts below its menu bar (401 pixels high).
click_game() {
    local id scale=${SCALE:-1} X Y H
    id=$(window "$game_title")
    read -r X Y H < <(origin "$id")
    click "$id" "$1" "$2" $((H - 401 * scale))
}

# Answers the message box with this title by Enter; fails if it never shows or stays.
dismiss() {
    local id
    id=$(window "^$1\$")
    xdotool windowactivate --sync "$id" key --clearmodifiers Return
    for _ in $(seq 50); do visible "^$1\$" || return 0; sleep 0.1; done
    fail "message $1 did not close"
}

# Answers every start or restart message that shows until none has come for a second;
# fails if one keeps coming back.
dismiss_all() {
    local shown=0 quiet=0 id
    while [ $quiet -lt 10 ]; do
        if visible '^(スタート|再スタート)$'; then
            id=$(xdotool search --onlyvisible --name '^(スタート|再スタート)$' | head -n1)
            xdotool windowactivate --sync "$id" key --clearmodifiers Return || true
            shown=$((shown + 1))
            [ $shown -le 4 ] || fail "a message box keeps coming back"
            quiet=0
        else
            quiet=$((quiet + 1))
        fi
        sleep 0.1
    done
}

# The colour (#RRGGBB) of the pixel at (x, y) of a window's client area.
pixel() {
    local id=$1 x=$2 y=$3 scale=${SCALE:-1} X Y H
    read -r X Y H < <(origin "$id")
    import -window root -crop "1x1+$((X + x * scale))+$((Y + y * scale))" -depth 8 txt:- 2>/dev/null |
        grep -o '#[0-9A-F]\{6\}' | head -n1
}

# Plays games, always answering ｙはｘの一次関数, until one enters the best five; then types
# the name and, if `enter` is given (the default), presses Enter. Prints the number of games played.
play_until_listed() {
    local name=$1 enter=${2:-enter} game results
    for game in 1 2 3 4 5 6 7 8; do
        click_game 260 340                                 # スタート
        for _ in 1 2 3 4 5; do click_game 296 240; done     # ｙはｘの一次関数
        results=$(window "$other_title")
        sleep 0.3 # let the new window draw itself before its pixels are read
        if [ "$(pixel "$results" 150 397)" = "#8080FF" ]; then       # the name box shows
            xdotool type --delay 20 "$name"
            [ "$enter" = enter ] && xdotool key Return
            echo "$game"
            return 0
        fi
        click "$results" 240 396                            # 戻る: the score missed the list
        dismiss_all
    done
    fail "eight games without a score in the list"
}

# Checksums of the pixels of the big points label, and of the question numbers with their
# marks and the question label, to tell whether they changed.
points() { import -window "$(window "$game_title")" -crop 177x161+8+162 -depth 8 rgb:- | md5sum; }
marks() { import -window "$(window "$game_title")" -crop 138x125+8+26 -depth 8 rgb:- | md5sum; }

# Holds a key down for some seconds in whatever window has the focus: the X server repeats it
# after about 0.7 s, some 25 times a second.
hold() { xdotool keydown "$1"; sleep "$2"; xdotool keyup "$1"; }

# Presses keys (xdotool names) in whatever window has the focus, at a pupil's pace.
keys() {
    local k
    for k in "$@"; do xdotool key --clearmodifiers "$k"; sleep 0.25; done
}

# Plays games by keyboard alone, from the focus on スタート with the answers disabled: five
# Tabs go round to スタート, Enter starts, two Shift+Tabs reach ｙはｘの一次関数 (past the last
# answer and the hidden one), Enter or keypad Enter answers. A listed score gets the name and
# Enter in the name box; otherwise Enter on 戻る. Prints the number of games played.
play_by_keys_until_listed() {
    local name=$1 game results before
    for game in 1 2 3 4 5 6 7 8; do
        keys Tab Tab Tab Tab Tab                           # round to スタート
        before=$(marks)
        keys Return                                        # スタート
        [ "$(marks)" != "$before" ] || fail "Enter on スタート started no game"
        keys shift+Tab shift+Tab Return                    # ｙはｘの一次関数
        keys Tab shift+Tab KP_Enter Return Return Return
        results=$(window "$other_title")
        sleep 0.3
        if [ "$(pixel "$results" 150 397)" = "#8080FF" ]; then       # the name box shows
            xdotool type --delay 20 "$name"
            keys Return
            echo "$game"
            return 0
        fi
        keys Return                                        # 戻る has the focus
        sleep 0.3
        visible "$other_title" && fail "Enter on 戻る left the results window open"
        dismiss_all
    done
    fail "eight games by keyboard without a score in the list"
}
