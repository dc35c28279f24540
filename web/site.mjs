// SPDX-License-Identifier: GPL-3.0-or-later
// node site.mjs WEB_DIR MODULE_JS ICON_SVG OUTPUT_DIR
// Puts the static site together: the page, its modules and style, the emscripten module, the
// icon, the manifest, the service worker with the list of what it keeps (stamped with a hash of
// it, so that a new build is a new version), and nubora1.html: all of it in one file, the
// modules joined into one, for file:// (a USB stick, a local folder).
import { readFileSync, writeFileSync, copyFileSync } from 'node:fs';
import { createHash } from 'node:crypto';
import { join } from 'node:path';

const [web, moduleJs, icon, out] = process.argv.slice(2);
// In the order they import one another.
const modules = ['layout.js', 'controls.js', 'announce.js', 'dialogs.js', 'menu.js', 'countdown.js', 'sound.js',
  'storage.js', 'strip.js', 'game.js', 'classlink.js', 'results.js', 'help.js', 'main.js'];
const copied = ['index.html', 'style.css', 'manifest.webmanifest', ...modules];

for (const name of copied.filter((n) => n !== 'index.html')) copyFileSync(join(web, name), join(out, name));
// The page asks for every module at once, not one level of imports after another.
const preloads = modules.map((name) => `<link rel="modulepreload" href="${name}">\n`).join('');
writeFileSync(join(out, 'index.html'), readFileSync(join(web, 'index.html'), 'utf8')
  .replace('<script type="module" src="main.js"></script>', () => `${preloads}<script type="module" src="main.js"></script>`));
copyFileSync(moduleJs, join(out, 'nubora1_module.js'));
copyFileSync(icon, join(out, 'nubora1.svg'));

// The bitmap icon is rendered by build.sh into the site beforehand.
const kept = ['./', 'nubora1_module.js', 'nubora1.svg', 'nubora1-180.png', ...copied];
const hash = createHash('sha256');
for (const name of kept.slice(1)) hash.update(readFileSync(join(out, name)));
const version = hash.digest('hex').slice(0, 12);
writeFileSync(join(out, 'sw.js'), readFileSync(join(web, 'sw.js'), 'utf8')
  .replace("'@VERSION@'", JSON.stringify(version))
  .replace("['@FILES@']", JSON.stringify(kept)));

// One module: each file without its import lines and export keywords.
const joined = modules.map((name) => readFileSync(join(web, name), 'utf8')
  .replace(/^import .* from '.*';\n/gm, '')
  .replace(/^export /gm, '')).join('\n');
const safe = (text) => text.replace(/<\/script/gi, '<\\/script');
const page = readFileSync(join(web, 'index.html'), 'utf8')
  .replace(/<link rel="manifest"[^>]*>\n/, '')
  .replace(/<link rel="(apple-touch-)?icon"[^>]*>\n/g, '')
  .replace('<link rel="stylesheet" href="style.css">', () => `<style>\n${readFileSync(join(web, 'style.css'), 'utf8')}</style>`)
  .replace('<script src="nubora1_module.js"></script>', () => `<script>\n${safe(readFileSync(moduleJs, 'utf8'))}\n</script>`)
  .replace('<script type="module" src="main.js"></script>', () => `<script type="module">\n${safe(joined)}\n</script>`);
writeFileSync(join(out, 'nubora1.html'), page);
