#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# The layer check itself: each row plants one file with one include in an empty tree and
# expects the check to pass (ok) or to fail (breach); then a map that names every folder, and
# one that misses one.
set -u
check=$(dirname "$0")/check_includes.sh
tree=$(mktemp -d) || exit 1
trap 'rm -rf "$tree"' EXIT
failures=0
while read -r expect file include; do
    rm -rf "${tree:?}"/*
    mkdir -p "$tree/$(dirname "$file")"
    printf '#include %s\n' "$include" > "$tree/$file"
    if sh "$check" "$tree" > /dev/null; then got=ok; else got=breach; fi
    if [ "$got" != "$expect" ]; then
        echo "$file including $include: $got, expected $expect"
        failures=$((failures + 1))
    fi
done <<'ROWS'
ok      windows/navigation.h   "storage/ranking_file.h"
breach  windows/navigation.h   "game/form1.h"
breach  windows/navigation.h   "app/windows.h"
ok      results/form3.cpp      "windows/navigation.h"
breach  game/form1.cpp         "results/form3.h"
breach  help/form2.cpp         "game/form1.h"
breach  help/form2.cpp         "../game/form1.h"
breach  storage/ranking_file.h "ui/text.h"
breach  ui/text.h              "rules/number_text.h"
breach  rules/ranking.h        <QString>
ok      rules/ranking.h        <string>
ok      app/windows.cpp        "game/form1.h"
ok      results/form3.h        "classlink/class_ranking.h"
breach  classlink/outbox.h     "ui/text.h"
breach  storage/ranking_file.h "classlink/class_link.h"
breach  game/form1.cpp         "classlink/class_link.h"
ok      server/api.cpp         "rules/ranking.h"
breach  server/api.cpp         "storage/ranking_file.h"
breach  server/api.cpp         <QString>
ok      server/api.cpp         <httplib.h>
ROWS
# The map: a tree whose docs/source-layout.md names every folder, and one that misses one.
for expect in ok breach; do
    rm -rf "${tree:?}"/*
    mkdir -p "$tree/docs" "$tree/server/teacher"
    : > "$tree/server/teacher/index.html"
    printf '`docs/`, `server/`\n' > "$tree/docs/source-layout.md"
    [ $expect = ok ] && printf '`server/teacher/`\n' >> "$tree/docs/source-layout.md"
    if sh "$check" "$tree" > /dev/null; then got=ok; else got=breach; fi
    if [ "$got" != "$expect" ]; then
        echo "a map $( [ $expect = ok ] || echo 'without server/teacher/'): $got, expected $expect"
        failures=$((failures + 1))
    fi
done
[ $failures -eq 0 ] && echo "layer check: every row told right"
exit $failures
