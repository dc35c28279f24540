#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Usage: catches.sh SOURCE_DIR
# The format check itself: in a scratch repository holding one C++ file and one file of each
# kind Prettier checks, as the tree has them, check_format.sh passes; with one line of any of
# them indented by one blank more, it fails.
set -eu
src=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/nubora1-format.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
files="rules/question.cpp web/game.js tests/web/play.mjs web/style.css web/index.html"
cd "$scratch"
git init -q
cp "$src/.clang-format" "$src/.prettierrc.json" .
ln -s "$src/node_modules" node_modules
for f in $files; do
    mkdir -p "$(dirname "$f")"
    cp "$src/$f" "$f"
done
git add -A .
sh "$here/check_format.sh" . >/dev/null 2>&1 || { echo "catches: the files as they are fail the check" >&2; exit 1; }
for f in $files; do
    cp "$f" "$f.kept"
    # the first line that begins with a letter or a brace at the left edge, indented one blank
    awk 'done || !/^[A-Za-z{}<]/ { print; next } { print " " $0; done = 1 }' "$f.kept" >"$f"
    cmp -s "$f" "$f.kept" && { echo "catches: no line to indent in $f" >&2; exit 1; }
    if sh "$here/check_format.sh" . >/dev/null 2>&1; then
        echo "catches: $f with one line mis-indented passes the check" >&2
        exit 1
    fi
    mv "$f.kept" "$f"
done
echo "catches: each of $files fails the check with one line mis-indented"
