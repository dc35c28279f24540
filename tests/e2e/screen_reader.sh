#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Plays the real program through what a screen reader gets of it: in a real X server, on a
# session bus of its own with the accessibility bus, checked by screen_reader.py.
set -euo pipefail
if [ -z "${NUBORA_OWN_BUS:-}" ]; then
    NUBORA_OWN_BUS=1 exec dbus-run-session -- bash "$0" "$@"
fi
source "$(dirname "$0")/xsession.sh"

start_x
/usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
pids+=($!)
# The reader (in the system's Python, which has the AT-SPI bindings) listens before the program
# starts, as a screen reader would: a program tells only the listeners it knows of at its start.
/usr/bin/python3 "$(dirname "$0")/screen_reader.py" "$work/listening" &
reader=$!
for _ in $(seq 100); do [ -e "$work/listening" ] && break; sleep 0.1; done
start_session "${1:?usage: screen_reader.sh path/to/nubora1}" QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
wait $reader || fail "the screen reader's view is wrong"
