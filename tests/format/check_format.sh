#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Usage: check_format.sh SOURCE_DIR
# Fails where a C++ file of the tree (git ls-files) differs from what clang-format 14 makes of
# it under .clang-format, or a script, style sheet or page (JavaScript, CSS, HTML, JSON) from
# what Prettier makes of it under .prettierrc.json. Every such file is checked; .prettierignore
# names the generated ones and says why.
set -eu
src=$1
cd "$src"
for tool in clang-format-14 npx; do
    command -v $tool >/dev/null 2>&1 || { echo "format: $tool is missing (sh scripts/setup.sh --tests)" >&2; exit 1; }
done
[ -x node_modules/.bin/prettier ] || { echo "format: no Prettier in node_modules (make web-deps)" >&2; exit 1; }

status=0
git ls-files -z '*.cpp' '*.h' | xargs -0 -r clang-format-14 --dry-run --Werror || status=1
git ls-files -z '*.js' '*.mjs' '*.css' '*.html' '*.json' \
    | xargs -0 -r npx --no-install prettier --check --log-level warn || status=1
[ $status -eq 0 ] || echo "format: reformat the files named above (clang-format-14 -i FILE, npx prettier --write FILE)" >&2
exit $status
