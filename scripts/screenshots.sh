#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Takes PNG pictures of the real windows, driven as a pupil would drive them, into
# docs/screenshots/: start-up, a question running, the results window asking for a name,
# and the help window. With SCALE=2 the program runs at Qt scale factor 2 and the pictures
# get the prefix "scale2-".
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
source "$top/tests/e2e/xsession.sh"
out="$top/docs/screenshots"
mkdir -p "$out"
SCALE=${SCALE:-1}
prefix=""
[ "$SCALE" = 1 ] || prefix="scale$SCALE-"

start_session "$top/build/nubora1" QT_SCALE_FACTOR="$SCALE"
shot() { sleep 0.4; import -window "$1" "$out/$prefix$2.png"; echo "wrote docs/screenshots/$prefix$2.png"; }

dismiss 'スタート'
shot "$(window "$game_title")" game-start
click_game 260 340                                   # スタート
shot "$(window "$game_title")" game-question
play_until_listed "TARO" keep >/dev/null
shot "$(window "$other_title")" results-name
xdotool key Return
dismiss_all
click_game 536 328                                   # 説明
shot "$(window "$other_title")" help
