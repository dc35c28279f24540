#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Fails when a file includes a header of a layer it may not use. Each folder may include its
# own headers and those of the folders listed for it; Qt's and the system's headers are free,
# except in rules/, the game library, which includes the C++ standard library alone.
#   rules    -> (nothing of ours; standard C++ headers only)
#   storage  -> rules
#   ui       -> (nothing of ours)
#   game, results, help -> ui, rules, windows (the registry: windows meet only through it)
#   windows  -> game, results, help, ui, rules
#   app      -> everything;  fuzz -> rules;  tests/wasm -> rules (it is built with emscripten too)
set -u
root=${1:-.}
allowed() {
    case $1 in
        rules) echo "rules" ;;
        storage) echo "storage rules" ;;
        ui) echo "ui" ;;
        game|results|help) echo "$1 ui storage rules windows" ;;
        windows) echo "windows game results help ui storage rules" ;;
        fuzz) echo "fuzz storage rules" ;;
        tests/rules) echo "rules support" ;;
        tests/storage) echo "storage rules support" ;;
        tests/wasm) echo "rules" ;;
        *) echo "*" ;;
    esac
}
# The C++ standard library's headers: all that the game library may include besides its own.
standard=" algorithm array atomic bitset cassert cctype cerrno cfloat charconv chrono climits cmath 
 compare concepts cstddef cstdint cstdio cstdlib cstring functional initializer_list iterator 
 limits map memory numeric optional random set span string string_view tuple type_traits
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
for dir in rules storage ui game results help windows fuzz tests/rules tests/storage tests/wasm; do
    ok=$(allowed "$dir")
    for file in "$root/$dir"/*.h "$root/$dir"/*.cpp; do
        [ -f "$file" ] || continue
        for target in $(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^/"]*\)\/[^"]*".*/\1/p' "$file"); do
            case " $ok " in
                *" $target "*) ;;
                *) echo "layer breach: $dir/$(basename "$file") includes a header of $target/"; status=1 ;;
            esac
        done
    done
done
[ $status -eq 0 ] && echo "layers: every include goes down"
exit $status
