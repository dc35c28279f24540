// SPDX-License-Identifier: GPL-3.0-or-later
// The page as a copy on a server: its WebAssembly served under either type a server may give it;
// offline through the service worker, for two copies on one server, a new copy taken whole at the
// next start, the notice where offline play is impossible. (Games: page.test.mjs.)
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { join } from 'node:path';
import { cp, mkdtemp, readFile, writeFile } from 'node:fs/promises';
import { createHash } from 'node:crypto';
import { serve, useSite, engines, openGame, site, fromFile } from './support.mjs';
import { ok, caption, playByMouse, axe } from './play.mjs';

const { server, scratch, newContext, open } = useSite();
const noWorker = fromFile && 'no service worker for file://';

for (const engine of engines) {
  for (const type of ['application/octet-stream', 'text/plain']) {
    test(
      `the page served with its WebAssembly as ${type} starts and plays in ${engine}`,
      { timeout: 120000, skip: fromFile && 'nubora1.html holds its WebAssembly' },
      async (t) => {
        const at = await serve(site, { wasm: type });
        t.after(at.close);
        const page = await openGame(await newContext(engine), at.url, 19);
        assert.equal(await page.$eval('#failure', (el) => (el.hidden ? null : el.textContent)), null);
        assert.equal(await ok(page), 'スタート');
        assert.ok((await playByMouse(page)) > 0);
        // (As often as the script beside it: the service worker fetches both again when it installs.)
        const asked = (file) => at.requests.filter((path) => path === `/${file}`).length;
        assert.equal(asked('nubora1_module.wasm'), asked('nubora1.js'));
      },
    );
  }
}

test(
  'after the first visit the game starts without a network, and a Chromebook can install it',
  { timeout: 30000, skip: noWorker },
  async (t) => {
    const page = await open(3);
    await page.evaluate(async () => {
      await navigator.serviceWorker.ready;
    });
    const cdp = await page.createCDPSession();
    // (The test's browser context is a private one, which alone keeps a player from installing.)
    const { installabilityErrors } = await cdp.send('Page.getInstallabilityErrors');
    assert.deepEqual(
      installabilityErrors.map((e) => e.errorId).filter((id) => id !== 'in-incognito'),
      [],
    );
    server.offline.value = true;
    t.after(() => {
      server.offline.value = false;
    });
    await page.reload();
    await page.waitForFunction(() => globalThis.nubora?.ready && document.querySelector('dialog.message[open]'), {
      polling: 50,
    });
    assert.deepEqual(await axe(page), []);
    assert.equal(await page.$('#strip [data-key=offline]'), null);
  },
);

// Copies of the site in folders `names` of one folder (`dir`), as a teacher puts them up, served
// until the test `t` ends.
async function copies(t, names) {
  const dir = await mkdtemp(join(scratch, 'site-'));
  for (const name of names)
    await cp(site, join(dir, name), { recursive: true, filter: (f) => !/\/(wasm|tools|npm-cache)$/.test(f) });
  const at = await serve(dir);
  t.after(at.close);
  return { ...at, dir };
}

// The files of a new build of the copy in `dir`: a mark in the page and in its script, and the
// worker that lists them.
async function nextBuild(dir) {
  const read = (name) => readFile(join(dir, name), 'utf8');
  const digest = (text) => createHash('sha256').update(text).digest('hex').slice(0, 16);
  const files = { 'index.html': await read('index.html'), 'nubora1.js': await read('nubora1.js') };
  let sw = (await read('sw.js')).replace(/const version = "(\w+)"/, 'const version = "$1-next"');
  const next = {
    'index.html': files['index.html'].replace('<head>', '<head><meta name="build" content="next">'),
    'nubora1.js': `${files['nubora1.js']}globalThis.nuboraBuild = 'next';\n`,
  };
  for (const name of Object.keys(files)) sw = sw.replace(digest(files[name]), digest(next[name]));
  return { ...next, 'sw.js': sw };
}

// The service worker's end after the page asks the server for a new one: 'activated' or
// 'redundant' (its install failed).
const updated = (page) =>
  page.evaluate(async () => {
    const registration = await navigator.serviceWorker.getRegistration();
    const found = new Promise((resolve) =>
      registration.addEventListener('updatefound', () => resolve(registration.installing), { once: true }),
    );
    await registration.update().catch(() => {});
    const worker = await found;
    while (!['activated', 'redundant'].includes(worker.state))
      await new Promise((r) => {
        worker.onstatechange = r;
      });
    return worker.state;
  });
const activated = (page) =>
  page.waitForFunction(async () => (await navigator.serviceWorker.ready).active.state === 'activated', { polling: 50 });

test(
  'a new copy on the server is taken whole or not at all, and shows at the next start',
  { timeout: 90000, skip: noWorker },
  async (t) => {
    const at = await copies(t, ['.']);
    const page = await open(3, { url: at.url });
    await activated(page);
    // The build each start plays: the page's and its script's marks.
    const restart = async () => {
      await page.reload();
      await page.waitForFunction(() => globalThis.nubora?.ready, { polling: 50 });
      return page.evaluate(() => [
        document.querySelector('meta[name=build]')?.content || 'first',
        globalThis.nuboraBuild || 'first',
      ]);
    };
    // Copied file by file, the worker and the script first: the worker refuses the mix.
    const next = await nextBuild(at.dir);
    for (const name of ['sw.js', 'nubora1.js']) await writeFile(join(at.dir, name), next[name]);
    assert.equal(await updated(page), 'redundant');
    assert.deepEqual(await restart(), ['first', 'first'], 'the build in use, whole');
    await writeFile(join(at.dir, 'index.html'), next['index.html']);
    assert.equal(await updated(page), 'activated');
    assert.deepEqual(await restart(), ['next', 'next']);
  },
);

test(
  'two copies on one server keep their own offline caches; each starts offline, without its slash too',
  { timeout: 90000, skip: noWorker },
  async (t) => {
    const at = await copies(t, ['a', 'b']);
    const sw = await readFile(join(at.dir, 'b', 'sw.js'), 'utf8');
    await writeFile(join(at.dir, 'b', 'sw.js'), sw.replace(/const version = "(\w+)"/, 'const version = "$1-b"')); // another build
    const ctx = await newContext();
    for (const name of ['a', 'b']) await activated(await openGame(ctx, `${at.url}${name}/`, 1));
    // The first visit asked for each file once (the tab's icon aside: the browser asks for it
    // beside the worker).
    const asked = at.requests.filter((path) => path.startsWith('/a/') && !path.endsWith('.svg'));
    assert.deepEqual(
      asked.filter((path, i) => asked.indexOf(path) !== i),
      [],
    );
    at.offline.value = true;
    for (const address of ['a/', 'b/', 'a']) {
      const page = await openGame(ctx, at.url + address, 1);
      assert.ok(await page.evaluate(() => globalThis.nubora?.ready), `${address} offline`);
    }
  },
);

test(
  'where the page cannot have a service worker, its strip says it does not play offline',
  { timeout: 60000, skip: fromFile && 'file:// plays offline' },
  async () => {
    const ways = [
      () => {
        delete Navigator.prototype.serviceWorker;
      }, // plain HTTP from another computer
      () => {
        ServiceWorkerContainer.prototype.register = () =>
          Promise.reject(new DOMException('certificate', 'SecurityError'));
      },
    ];
    for (const before of ways) {
      const page = await open(1, { url: server.url, before });
      await page.waitForSelector('#strip [data-key=offline]');
      assert.equal(
        await caption(page, '#strip [data-key=offline]'),
        'このページはオフラインでは遊べません（HTTPS の信頼できるサーバーから開くと遊べます）。',
      );
    }
  },
);

// The game window usable beside the help window and the lists (1366×768: their sides show
// 説明 and 終了): a click on it makes it active with one start message, whose OK leaves the
