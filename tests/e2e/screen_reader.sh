#!/bin/bash
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
start_session "${1:?usage: screen_reader.sh path/to/nubora1}" QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
# The system's Python, which has the AT-SPI bindings.
/usr/bin/python3 "$(dirname "$0")/screen_reader.py" || fail "the screen reader's view is wrong"
