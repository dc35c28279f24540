#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Fails when a file includes a header of a layer it may not use. Each folder may include its
# own headers and those of the folders listed for it, always by "folder/name.h" (a path that
# climbs out with ".." is a breach); Qt's and the system's headers are free, except in rules/,
# the game library, which includes the C++ standard library alone.
#   rules    -> (nothing of ours; standard C++ headers only)
#   storage  -> rules
#   classlink -> storage, rules (the class server as the ranking place)
#   ui       -> (nothing of ours)
#   windows  -> ui, storage, rules (the navigation interface: it names no window)
#   game, results, help -> windows, ui, storage, rules, and results also classlink; never one another (they meet through
#              windows/navigation.h, which app/ implements)
#   app      -> everything;  fuzz -> server, storage, rules;  tests/wasm -> rules (it is built
#              with emscripten too)
#   server   -> rules; and no Qt header (the class server runs without Qt)
# And every folder of the tree is on the map, docs/source-layout.md (below).
set -u
root=${1:-.}
allowed() {
    case $1 in
        rules) echo "rules" ;;
        storage) echo "storage rules" ;;
        classlink) echo "classlink storage rules" ;;
        ui) echo "ui" ;;
        windows) echo "windows ui storage rules" ;;
        results) echo "results windows ui classlink storage rules" ;;
        game|help) echo "$1 windows ui storage rules" ;;
        fuzz) echo "fuzz server storage rules" ;;
        server) echo "server rules" ;;
        tests/rules) echo "rules support" ;;
        tests/storage) echo "storage rules support" ;;
        tests/wasm) echo "rules" ;;
        *) echo "*" ;;
    esac
}
# The C++ standard library's headers: all that the game library may include besides its own.
standard=" algorithm array atomic bitset cassert cctype cerrno cfloat charconv chrono climits cmath 
 compare concepts cstddef cstdint cstdio cstdlib cstring functional initializer_list iterator 
 limits map memory numeric optional random set span stdexcept string string_view tuple type_traits
 unordered_map utility variant vector "
status=0
for file in "$root"/rules/*.h "$root"/rules/*.cpp; do
    [ -f "$file" ] || continue
    for header in $(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*<\([^>]*\)>.*/\1/p' "$file"); do
        case "$standard" in
            *" $header "*) ;;
            *) echo "not standard C++: rules/$(basename "$file") includes <$header>"; status=1 ;;
        esac
    done
done
for file in "$root"/server/*.h "$root"/server/*.cpp; do
    [ -f "$file" ] || continue
    if grep -q '^[[:space:]]*#[[:space:]]*include[[:space:]]*<Q' "$file"; then
        echo "Qt in the server: server/$(basename "$file") includes a Qt header"
        status=1
    fi
done
for dir in rules storage classlink ui windows game results help fuzz server tests/rules tests/storage tests/wasm; do
    ok=$(allowed "$dir")
    for file in "$root/$dir"/*.h "$root/$dir"/*.cpp; do
        [ -f "$file" ] || continue
        if grep -q '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^"]*\.\./' "$file"; then
            echo "layer breach: $dir/$(basename "$file") includes a header by a path with .."
            status=1
        fi
        for target in $(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^/"]*\)\/[^"]*".*/\1/p' "$file"); do
            [ "$target" = ".." ] && continue # told above
            case " $ok " in
                *" $target "*) ;;
                *) echo "layer breach: $dir/$(basename "$file") includes a header of $target/"; status=1 ;;
            esac
        done
    done
done
# The map: every folder of the tree that holds files, to two levels, is named on
# docs/source-layout.md as `folder/` (where the tree has that page; the planted trees of
# check_includes_test.sh have none but where a row plants one).
map="$root/docs/source-layout.md"
if [ -f "$map" ]; then
    folders=$(cd "$root" && { git ls-files 2>/dev/null || find . -type f | sed 's|^\./||'; } |
        sed -n 's|^\([^/]*\)/\([^/]*\)/.*|\1/\2|p; s|^\([^/]*\)/[^/]*$|\1|p' | sort -u)
    for folder in $folders; do
        if ! grep -qF "\`$folder/" "$map"; then
            echo "not on the map: $folder/ is named nowhere on docs/source-layout.md"
            status=1
        fi
    done
fi
[ $status -eq 0 ] && echo "layers: every include goes down, and every folder is on the map"
exit $status
