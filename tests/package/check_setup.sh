#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# scripts/setup.sh on made-up machines: which packages are installed, whether the user is
# root, and whether apt-get and sudo exist. It must install exactly what is missing, ask for
# sudo only when needed, and let the build go on where it cannot install anything.
set -euo pipefail
setup=$(cd "$(dirname "$0")/../.." && pwd)/scripts/setup.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0

# name | uid | packages not installed | tools present | exit status | commands run (| for none) | text on stderr
cases=(
    "all there|1000||apt-get sudo|0||"
    "user, one missing|1000|cmake|apt-get sudo|0|sudo apt-get update -qq;sudo apt-get install -y -qq --no-install-recommends cmake;|"
    "root, two missing|0|cmake xvfb|apt-get|0|apt-get update -qq;apt-get install -y -qq --no-install-recommends cmake xvfb;|"
    "user, no sudo|1000|cmake|apt-get|1||apt-get install cmake"
    "no apt-get|1000|cmake||0||qt6-base-dev qt6-translations-l10n"
)
for row in "${cases[@]}"; do
    IFS='|' read -r name uid missing tools status commands text <<<"$row"
    bin=$work/bin; rm -rf "$bin"; mkdir -p "$bin"; : >"$work/log"
    ln -s "$(command -v grep)" "$bin/grep"
    printf '#!/bin/sh\necho %s\n' "$uid" >"$bin/id"
    if [[ " $tools " == *" apt-get "* ]]; then
        printf '#!/bin/sh\nfor p in %s; do [ "$3" = "$p" ] && exit 1; done\necho "install ok installed"\n' "$missing" >"$bin/dpkg-query"
        printf '#!/bin/sh\necho "apt-get $*;" >>%s\n' "$work/log" >"$bin/apt-get"
    fi
    [[ " $tools " == *" sudo "* ]] && printf '#!/bin/sh\nprintf "sudo " >>%s\n"$@"\n' "$work/log" >"$bin/sudo"
    chmod +x "$bin"/*
    got=0
    PATH=$bin /bin/sh "$setup" --tests >/dev/null 2>"$work/err" || got=$?
    ran=$(tr -d '\n' <"$work/log")
    if [ "$got" != "$status" ] || [ "$ran" != "$commands" ] || { [ -n "$text" ] && ! grep -qF "$text" "$work/err"; }; then
        echo "FAIL: $name: status $got, ran '$ran', said: $(cat "$work/err")" >&2
        failed=1
    fi
done
exit $failed
