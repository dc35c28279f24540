#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Usage: replay.sh SOURCE_DIR WASM_BUILD_DIR NATIVE_RULES_REPLAY CP932_TABLE
# Builds the game library and rules_replay with emscripten into WASM_BUILD_DIR (a build of
# the rules alone, given the Shift-JIS table that the native build generated), runs that under
# Node.js and the native rules_replay over the fuzz corpus, and fails unless both write the
# same bytes. Fails, saying so, where emscripten is not installed.
set -eu
src=$1 wasm=$2 native=$3 table=$4

for tool in emcmake em++ node; do
    if ! command -v $tool >/dev/null 2>&1; then
        echo "rules_wasm_replay: $tool is missing: this test needs Debian's emscripten package" >&2
        echo "rules_wasm_replay: (make test, or sh scripts/setup.sh --tests, installs it)" >&2
        exit 1
    fi
done
if [ ! -f "$table" ]; then
    echo "rules_wasm_replay: no Shift-JIS table at '$table': build the native tree first" >&2
    exit 1
fi

# Debian's emscripten runs its JavaScript tools with /usr/bin/node; they need Debian's node
# modules (acorn) on NODE_PATH when that node is not Debian's own. The replay itself runs
# without it.
mkdir -p "$wasm"
tools_path=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
NODE_PATH=$tools_path emcmake cmake -S "$src" -B "$wasm" -DNUBORA_RULES_ONLY=ON \
    -DCMAKE_BUILD_TYPE=Release -DNUBORA_CP932_TABLE="$table" >"$wasm/configure.log" 2>&1 || {
    cat "$wasm/configure.log" >&2
    exit 1
}
NODE_PATH=$tools_path cmake --build "$wasm" -j 2 --target rules_replay

export LC_ALL=C
"$native" "$src"/fuzz/corpus/* >"$wasm/native.txt"
# emscripten writes a CommonJS script; the repository's package.json makes .js files under it
# ES modules, so the build folder says otherwise for its own.
printf '{ "type": "commonjs" }\n' >"$wasm/package.json"
node "$wasm/tests/wasm/rules_replay.js" "$src"/fuzz/corpus/* >"$wasm/wasm.txt"

if ! cmp -s "$wasm/native.txt" "$wasm/wasm.txt"; then
    echo "rules_wasm_replay: the emscripten build of the rules writes otherwise than the native one:" >&2
    # The first differing line, under the last heading (a line that starts unindented) before it.
    at=$(cmp "$wasm/native.txt" "$wasm/wasm.txt" | sed -n 's/.* line \([0-9]*\).*/\1/p')
    awk -v at="${at:-1}" '/^[^ ]/ { heading = $0 } NR == at { print "first at line " at ", under: " substr(heading, 1, 160); exit }' "$wasm/native.txt" >&2
    diff "$wasm/native.txt" "$wasm/wasm.txt" | cut -c 1-240 | head -n 40 >&2
    echo "rules_wasm_replay: whole outputs in $wasm/native.txt and $wasm/wasm.txt" >&2
    exit 1
fi
echo "rules_wasm_replay: native and emscripten builds agree on $(wc -l <"$wasm/native.txt") lines"
