// SPDX-License-Identifier: GPL-3.0-or-later
// node site.mjs WEB_DIR MODULE_JS ICON_SVG OUTPUT_DIR
// Puts the static site together: the page, its modules joined into one and its style, the
// emscripten module and its WebAssembly (MODULE_JS with .wasm for .js), the icon, the
// manifest, the service worker with the list of what it keeps, each file with a hash of its
// bytes (the worker takes a build only when every file it fetches is that build's), stamped
// with a hash of them all (so that a new build is a new version), and nubora1.html: all of it
// in one file, the WebAssembly inside, for file:// (a USB stick, a local folder).
import { readFileSync, writeFileSync, copyFileSync, chmodSync } from 'node:fs';
import { createHash } from 'node:crypto';
import { execFileSync } from 'node:child_process';
import { join } from 'node:path';

const [web, moduleJs, icon, out] = process.argv.slice(2);

// text with `what` (a string, or a RegExp) replaced by `by`, as String.prototype.replace does;
// the build fails, naming `where`, where `what` is nowhere in it: a page or a script whose
// shape changed would otherwise go out unpatched without a word.
function patched(text, what, by, where) {
  const found =
    typeof what === 'string' ? text.includes(what) : new RegExp(what.source, what.flags.replace('g', '')).test(text);
  if (!found) throw new Error(`site.mjs: ${where} has no ${what}`);
  return text.replace(what, by);
}
const wasm = moduleJs.replace(/\.js$/, '.wasm');
// The windows' design tables as the game library hands them over (M.design, rules/design.h),
// written into the page as data, so that the page can lay its windows out before the library
// has loaded.
const moduleSource = readFileSync(moduleJs, 'utf8');
const createNubora = new Function(`${moduleSource}\nreturn createNubora;`)();
const M = await createNubora({ wasmBinary: readFileSync(wasm) });
const designs = Object.fromEntries(['Form1', 'Form2', 'Form3'].map((name) => [name, M.design(name)]));
const generated = { 'design.js': `export const designs = ${JSON.stringify(designs)};\n` };

// In the order they import one another.
const modules = [
  'design.js',
  'layout.js',
  'controls.js',
  'announce.js',
  'dialogs.js',
  'menu.js',
  'countdown.js',
  'roundclock.js',
  'sound.js',
  'storage.js',
  'strip.js',
  'seeds.js',
  'game.js',
  'classlink.js',
  'round.js',
  'results.js',
  'help.js',
  'main.js',
];

// Scripts made small (esbuild), for the browser to fetch and read sooner: `how`, esbuild's
// options for the kind of script.
const small = (code, ...how) =>
  execFileSync('esbuild', ['--minify', '--log-level=warning', ...how], {
    input: code,
    encoding: 'utf8',
    maxBuffer: 1 << 26,
  });
// One module: each file without its import lines and export keywords.
const source = modules
  .map((name) =>
    (generated[name] ?? readFileSync(join(web, name), 'utf8'))
      .replace(/^import .* from '.*';\n/gm, '')
      .replace(/^export /gm, ''),
  )
  .join('\n');
const joined = small(source, '--format=esm');
// The emscripten module, a classic script: its createNubora stays a global.
const glue = small(moduleSource);
// The hosted page: the emscripten module (its createNubora made a global, as the page's own
// script has it, in place of its CommonJS and AMD exports, which would make esbuild wrap the
// whole script) and the page's modules as one script, nubora1.js, asked for at once with the
// WebAssembly: one request fewer before the game can start.
const exported = patched(
  moduleSource,
  /\nif \(typeof exports === 'object' && typeof module === 'object'\)[^]*$/,
  '\n',
  moduleJs,
);
writeFileSync(
  join(out, 'nubora1.js'),
  small(`${exported}globalThis.createNubora = createNubora;\n${source}`, '--format=esm'),
);
const indexHtml = readFileSync(join(web, 'index.html'), 'utf8');
writeFileSync(
  join(out, 'index.html'),
  [
    ['<script src="nubora1_module.js" defer></script>\n', ''],
    ['<script type="module" src="main.js"></script>', '<script type="module" src="nubora1.js"></script>'],
  ].reduce((text, [what, by]) => patched(text, what, by, 'index.html'), indexHtml),
);
for (const name of ['style.css', 'windows.css', 'manifest.webmanifest']) copyFileSync(join(web, name), join(out, name));
copyFileSync(wasm, join(out, 'nubora1_module.wasm'));
chmodSync(join(out, 'nubora1_module.wasm'), 0o644); // emscripten's is executable
copyFileSync(icon, join(out, 'nubora1.svg'));

// The bitmap icon is rendered by build.sh into the site beforehand; index.html is kept as ./.
const kept = [
  './',
  'nubora1.js',
  'nubora1_module.wasm',
  'style.css',
  'windows.css',
  'manifest.webmanifest',
  'nubora1.svg',
  'nubora1-180.png',
];
const digest = (bytes) => createHash('sha256').update(bytes).digest('hex').slice(0, 16);
const files = Object.fromEntries(
  kept.map((name) => [name, digest(readFileSync(join(out, name === './' ? 'index.html' : name)))]),
);
const version = digest(JSON.stringify(files)).slice(0, 12);
writeFileSync(
  join(out, 'sw.js'),
  [
    ["'@VERSION@'", JSON.stringify(version)],
    ["{ '@FILES@': '' }", JSON.stringify(files)],
  ].reduce((text, [what, by]) => patched(text, what, by, 'sw.js'), readFileSync(join(web, 'sw.js'), 'utf8')),
);

const safe = (text) => text.replace(/<\/script/gi, '<\\/script');
// The emscripten module given its WebAssembly from the page itself.
const inline = `${glue}
{
  const bytes = Uint8Array.from(atob('${readFileSync(wasm).toString('base64')}'), (c) => c.charCodeAt(0));
  const load = createNubora;
  createNubora = (options = {}) => load({ ...options, wasmBinary: bytes });
}`;
const page = [
  [/<link rel="(manifest|preload)"[^>]*>\n/g, ''],
  [/<script>\n[^<]*globalThis\.nuboraWasm[^<]*<\/script>\n/, ''],
  [/<link rel="(apple-touch-)?icon"[^>]*>\n/g, ''],
  ...['style.css', 'windows.css'].map((name) => [
    new RegExp(`<link rel="stylesheet" href="${name}" ?/?>`),
    () => `<style>\n${readFileSync(join(web, name), 'utf8')}</style>`,
  ]),
  ['<script src="nubora1_module.js" defer></script>', () => `<script>\n${safe(inline)}\n</script>`],
  ['<script type="module" src="main.js"></script>', () => `<script type="module">\n${safe(joined)}\n</script>`],
].reduce((text, [what, by]) => patched(text, what, by, 'index.html (nubora1.html)'), indexHtml);
writeFileSync(join(out, 'nubora1.html'), page);
