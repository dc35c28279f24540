#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Plays the real program as a pupil would: in a real X server with a window manager, by
# clicks and keys at the designed positions. Dismisses the start message, plays until a game
# enters the list, types a name, holds a letter and then Enter down (which must save once and
# press nothing after) and checks tavon.rnk byte by byte; plays again
# with the keyboard alone (Tab, Shift+Tab, Enter), views the lists and the help by keys; then
# opens help by clicks and returns, and ends with 終了, which must leave the ranking file as it was.
set -euo pipefail
source "$(dirname "$0")/xsession.sh"

start_session "${1:?usage: play_real_window.sh path/to/nubora1}"

dismiss 'スタート'
sleep 1
visible '^スタート$' && fail "the start message came back after it was closed"

# After the name, a letter held down types on until the box is full (and shows that the X
# server repeats held keys); then Enter held down saves the name once, and its repeats leave
# the 再スタート message that comes up and the game under it alone.
games=$(play_until_listed TEST typed)
before=$(marks)
hold t 1.5
hold Return 3
sleep 0.5
visible "$other_title" && fail "Enter in the name box did not close the results window"
visible '^再スタート$' || fail "the repeats of a held Enter closed the 再スタート message"
first=$(points)
sleep 2.2
[ "$(marks)" = "$before" ] && [ "$(points)" = "$first" ] || fail "the repeats of a held Enter started a game"
dismiss_all

rnk=$(ranking_file)
[ -f "$rnk" ] || fail "tavon.rnk was not written next to the program"
[ "$(stat -c %s "$rnk")" -eq 900 ] || fail "tavon.rnk is $(stat -c %s "$rnk") bytes, not 900"
score=$(record_score "$rnk" 1)
[ "$score" -ge 1 ] && [ "$score" -le 50 ] || fail "score $score out of range"
{ record TESTtttttt "$score"; record_blank 74; } >"$work/expected.rnk"
cmp "$rnk" "$work/expected.rnk" || fail "tavon.rnk differs from the expected bytes"
echo "saved TESTtttttt with $score points after $games game(s), once with Enter held down"

# The same with the keyboard alone. The focus is still on スタート, where the pressed button
# moved it when the game's end disabled the answer buttons.
games=$(play_by_keys_until_listed KEYS)
sleep 0.5
visible "$other_title" && fail "Enter in the name box did not close the results window"
dismiss_all
grep -q 'KEYS      ' "$rnk" || fail "the name typed after a game by keyboard was not saved"
echo "saved KEYS after $games game(s) by keyboard"
# The total button (three Tabs on), Enter: the lists for viewing; Enter on their 戻る.
keys Tab Tab Tab Return
window "$other_title" >/dev/null
keys Return
sleep 0.5
visible "$other_title" && fail "Enter on 戻る did not close the lists opened for viewing"
dismiss_all
# 説明 (one Tab on from the total button), Enter; Enter on the help window's 戻る.
keys Tab Return
window "$other_title" >/dev/null
keys Return
dismiss 'スタート'
visible "$other_title" && fail "Enter on the help window's 戻る did not return to the game"
keys shift+Tab shift+Tab shift+Tab shift+Tab          # back to スタート for the clicks below
before=$(md5sum <"$rnk")

click_game 536 328                           # 説明
help=$(window "$other_title")
click "$help" 348 418                        # 戻る
dismiss 'スタート'
visible "$other_title" && fail "the help window stayed open after 戻る"

# The lists opened by the total button mid-question leave the countdown running.
click_game 260 340                           # スタート
click_game 88 340                            # the total button: the lists for viewing
window "$other_title" >/dev/null
first=$(points)
for _ in $(seq 40); do [ "$(points)" != "$first" ] && break; sleep 0.1; done
[ "$(points)" != "$first" ] || fail "the countdown stopped while the lists were open"

# 終了, with the lists open. The click first makes the game window active again after the
# lists were, so the start message may come first and take the click; then it is answered
# and 終了 clicked once more.
for attempt in 1 2 3; do
    click_game 520 372
    for _ in $(seq 30); do
        kill -0 "$program" 2>/dev/null || break 2
        visible '^スタート$' && { dismiss 'スタート'; break; }
        sleep 0.1
    done
done
kill -0 "$program" 2>/dev/null && fail "終了 did not end the program"
[ "$(md5sum <"$rnk")" = "$before" ] || fail "終了 changed tavon.rnk"
