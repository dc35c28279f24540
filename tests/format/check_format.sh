#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Usage: check_format.sh SOURCE_DIR
# Fails where a C++ file differs from what clang-format 14 makes of it under .clang-format, or
# a script of the page (web/, tests/web/) from what Prettier makes of it under .prettierrc.json.
# Files named in exclusions.txt, written before the formatters came, are not checked yet: a
# file leaves the list once it is formatted (clang-format -i FILE, npx prettier --write FILE).
set -eu
src=$1
here=$(cd "$(dirname "$0")" && pwd)
cd "$src"
for tool in clang-format-14 npx; do
    command -v $tool >/dev/null 2>&1 || { echo "format: $tool is missing (sh scripts/setup.sh --tests)" >&2; exit 1; }
done
[ -x node_modules/.bin/prettier ] || { echo "format: no Prettier in node_modules (make web-deps)" >&2; exit 1; }

excluded=$(grep -v '^#' "$here/exclusions.txt" | sed '/^$/d')
checked() {
    git ls-files "$@" | while read -r f; do
        printf '%s\n' "$excluded" | grep -qxF "$f" || printf '%s\n' "$f"
    done
}

status=0
cpp=$(checked '*.cpp' '*.h')
printf '%s\n' "$cpp" | xargs clang-format-14 --dry-run --Werror || status=1
js=$(checked 'web/*.js' 'web/*.mjs' 'tests/web/*.mjs')
printf '%s\n' "$js" | xargs npx --no-install prettier --check --log-level warn || status=1
[ $status -eq 0 ] || echo "format: reformat the files named above, or see tests/format/exclusions.txt" >&2
exit $status
