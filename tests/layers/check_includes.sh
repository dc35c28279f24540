#!/bin/sh
# Fails when a file includes a header of a layer it may not use. Each folder may include its
# own headers and those of the folders listed for it; Qt's and the system's headers are free.
#   rules    -> (nothing of ours)
#   ui       -> (nothing of ours)
#   game, results, help -> ui, rules, windows (the registry: windows meet only through it)
#   windows  -> game, results, help, ui, rules
#   app      -> everything;  fuzz -> rules
set -u
root=${1:-.}
allowed() {
    case $1 in
        rules) echo "rules" ;;
        ui) echo "ui" ;;
        game|results|help) echo "$1 ui rules windows" ;;
        windows) echo "windows game results help ui rules" ;;
        fuzz) echo "fuzz rules" ;;
        tests/rules) echo "rules support" ;;
        *) echo "*" ;;
    esac
}
status=0
for dir in rules ui game results help windows fuzz tests/rules; do
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
