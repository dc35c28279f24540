#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Usage: web/build.sh OUTPUT_DIR [SITE_DIR]   (make web: build-web; make site: build-site/...)
# Builds the game library with emscripten into OUTPUT_DIR/wasm and leaves the static site in
# SITE_DIR (OUTPUT_DIR when not given): index.html, the module and its WebAssembly, the page's
# scripts and style, the manifest with its icon, the service worker, and nubora1.html, the
# whole game in one file for file://.
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)
out=$1
site=${2:-$1}
mkdir -p "$out/wasm" "$out/tools" "$site"
for tool in emcmake em++ node c++ rsvg-convert esbuild; do
    command -v $tool >/dev/null 2>&1 || { echo "web: $tool is missing (sh scripts/setup.sh --site installs it)" >&2; exit 1; }
done

# The Shift-JIS table comes from this machine's iconv, made by the native tool.
table=$out/tools/cp932_table.inc
if [ ! -f "$table" ] || [ "$src/tools/make_cp932_table.cpp" -nt "$table" ]; then
    c++ -O1 -std=c++20 -o "$out/tools/make_cp932_table" "$src/tools/make_cp932_table.cpp"
    "$out/tools/make_cp932_table" "$table"
fi

# Debian's emscripten runs its JavaScript tools with /usr/bin/node; they need Debian's node
# modules (acorn) on NODE_PATH when that node is not Debian's own.
tools_path=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
if [ ! -f "$out/wasm/CMakeCache.txt" ]; then
    NODE_PATH=$tools_path emcmake cmake -S "$src" -B "$out/wasm" -DNUBORA_RULES_ONLY=ON \
        -DCMAKE_BUILD_TYPE=MinSizeRel -DNUBORA_CP932_TABLE="$table" >"$out/wasm/configure.log" 2>&1 || {
        cat "$out/wasm/configure.log" >&2
        exit 1
    }
fi
NODE_PATH=$tools_path cmake --build "$out/wasm" -j 2 --target nubora1_module

# The Home Screen's bitmap icon (iPadOS takes no SVG; browsers that install take the SVG).
rsvg-convert -w 180 -h 180 -o "$site/nubora1-180.png" "$src/dist/icons/nubora1.svg"

node "$src/web/site.mjs" "$src/web" "$out/wasm/web/nubora1_module.js" "$src/dist/icons/nubora1.svg" "$site"
