// SPDX-License-Identifier: GPL-3.0-or-later
// The game in headless Chromium: whole games by mouse and by keyboard to a saved name, with the
// bytes kept equal to what the game library's Save writes; a Japanese name typed through an
// input method; two tabs saving at once; axe-core's rules in the windows; offline through the
// service worker and a new copy at the next start; nubora1.html from file://; two devices on
// one class link of the class server, one of them saving without a network. With
// NUBORA_WEB_FROM=file all of it but the service worker runs in nubora1.html opened from
// file://. (The windows' layout: layout.test.mjs.)
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { pathToFileURL } from 'node:url';
import { join } from 'node:path';
import { tmpdir } from 'node:os';
import { cp, mkdtemp, readFile, writeFile, rm } from 'node:fs/promises';
import { serve, launch, openGame, site, gameUrl, fromFile, classServer, classProgram } from './support.mjs';
import { ok, answers, caption, stored, expected, playByMouse, axe } from './play.mjs';

let server, chromium;
before(async () => {
  server = await serve();
  chromium = await launch();
});
after(async () => {
  await chromium?.close();
  server?.close();
});

// A page in a browser context of its own (its own storage).
async function fresh(seed, url = gameUrl(server), context = null) {
  const ctx = context || (await chromium.browser.createBrowserContext());
  const page = await openGame(ctx, url, seed);
  return { page, ctx };
}

const messageTitle = (page) => caption(page, 'dialog.message[open] .titlebar');

test('a game by mouse: the results window opens modally, 戻る saves the name as Save writes it', { timeout: 30000 }, async () => {
  const { page, ctx } = await fresh(11);
  assert.equal(await messageTitle(page), 'スタート');
  await ok(page);
  const total = await playByMouse(page);
  assert.ok(total > 0);
  assert.equal(await caption(page, '[data-name=jikan9]'), ` ${total}`);
  assert.equal(await page.evaluate(() => document.activeElement.dataset.name), 'Text1');
  assert.deepEqual(await axe(page), []);
  await page.keyboard.type('TARO');
  assert.equal(await caption(page, '[data-name=namae0]'), 'TARO');
  await page.click('dialog[open] [data-name=Command1]');
  // The restart message, then the game window active again: the start message.
  assert.equal(await ok(page), '再スタート');
  assert.equal(await ok(page), 'スタート');
  assert.deepEqual(await stored(page), await expected(page, [{ hani: 0, tensu: total, name: 'TARO' }]));
  assert.deepEqual(page.errors, []);
  await ctx.close();
});

test('a game by keyboard, the name typed through an input method, capped only once committed', { timeout: 30000 }, async () => {
  const { page, ctx } = await fresh(23);
  await page.keyboard.press('Enter'); // OK of the start message
  await page.waitForFunction(() => !document.querySelector('dialog.message[open]'));
  const order = ['Command1', 'Command3', 'Command5', 'tokutenyo', 'helpyo', 'kotae0', 'kotae1', 'kotae2', 'kotae4'];
  const focused = () => page.evaluate(() => document.activeElement.dataset.name);
  assert.equal(await focused(), 'Command1');
  const right = await answers(page);
  await page.keyboard.press('Enter');
  for (const index of right) {
    const from = order.indexOf(await focused()), to = order.indexOf(`kotae${index}`);
    for (let i = from; i !== to; i += Math.sign(to - from)) {
      if (to > from) await page.keyboard.press('Tab');
      else {
        await page.keyboard.down('Shift');
        await page.keyboard.press('Tab');
        await page.keyboard.up('Shift');
      }
    }
    assert.equal(await focused(), `kotae${index}`);
    await page.keyboard.press('Space');
  }
  await page.waitForSelector('dialog.window[data-form=Form3][open]');
  const total = Number((await caption(page, '[data-name=tokutenyo]')).trim());

  const cdp = await page.createCDPSession();
  await cdp.send('Input.imeSetComposition', { text: 'ながいなまえですね', selectionStart: 9, selectionEnd: 9 });
  assert.equal(await page.$eval('[data-name=Text1]', (el) => el.value), 'ながいなまえですね');
  await cdp.send('Input.insertText', { text: '長い名前ですね' });
  // Ten Shift-JIS bytes hold five of the seven characters.
  await page.waitForFunction(() => document.querySelector('[data-name=Text1]').value === '長い名前で');
  assert.equal(await caption(page, '[data-name=namae0]'), '長い名前で');
  await page.keyboard.press('Enter');
  assert.equal(await ok(page), '再スタート');
  assert.deepEqual(await stored(page), await expected(page, [{ hani: 0, tensu: total, name: '長い名前で' }]));
  await ctx.close();
});

test('a game by touch, to a saved name', { timeout: 30000 }, async () => {
  const { page, ctx } = await fresh(17);
  await page.setViewport({ width: 580, height: 425, hasTouch: true });
  const tap = (selector) => page.tap(selector);
  await tap('dialog.message[open] button');
  const total = await playByMouse(page, tap);
  await page.keyboard.type('TAP');
  await tap('dialog[open] [data-name=Command1]');
  assert.equal(await ok(page), '再スタート');
  assert.deepEqual(await stored(page), await expected(page, [{ hani: 0, tensu: total, name: 'TAP' }]));
  await ctx.close();
});

test('two tabs that save at once keep both entries', { timeout: 30000 }, async () => {
  const ctx = await chromium.browser.createBrowserContext();
  const tabs = [];
  for (const seed of [31, 32]) {
    const { page } = await fresh(seed, gameUrl(server), ctx);
    await ok(page);
    tabs.push({ page, total: await playByMouse(page) });
  }
  for (const [i, { page }] of tabs.entries()) {
    await page.bringToFront();
    await page.keyboard.type(['ONE', 'TWO'][i]);
  }
  // 戻る in both within the same moment; then each tab in front, where its page is drawn.
  await Promise.all(tabs.map(({ page }) => page.evaluate(() => document.querySelector('dialog[open] [data-name=Command1]').click())));
  for (const { page } of tabs) {
    await page.bringToFront();
    assert.equal(await ok(page), '再スタート');
  }
  const one = { hani: 0, tensu: tabs[0].total, name: 'ONE' }, two = { hani: 0, tensu: tabs[1].total, name: 'TWO' };
  const bytes = await stored(tabs[0].page);
  const either = [await expected(tabs[0].page, [one, two]), await expected(tabs[0].page, [two, one])];
  assert.ok(either.some((e) => JSON.stringify(e) === JSON.stringify(bytes)), 'both entries in the file');
  await ctx.close();
});

test('after the first visit the game starts without a network, and a Chromebook can install it', { timeout: 30000, skip: fromFile && 'no service worker for file://' }, async () => {
  const { page, ctx } = await fresh(3);
  await page.evaluate(async () => { await navigator.serviceWorker.ready; });
  const cdp = await page.createCDPSession();
  // (The test's browser context is a private one, which alone keeps a player from installing.)
  const { installabilityErrors } = await cdp.send('Page.getInstallabilityErrors');
  assert.deepEqual(installabilityErrors.map((e) => e.errorId).filter((id) => id !== 'in-incognito'), []);
  server.offline.value = true;
  try {
    await page.reload();
    await page.waitForFunction(() => globalThis.nubora?.ready && document.querySelector('dialog.message[open]'), { polling: 50 });
    assert.deepEqual(await axe(page), []);
  } finally {
    server.offline.value = false;
  }
  await ctx.close();
});

test('a new copy on the server shows at the next start after the visit that finds it', { timeout: 30000, skip: fromFile && 'no service worker for file://' }, async () => {
  const dir = await mkdtemp(join(tmpdir(), 'nubora1-site-'));
  const next = await serve(dir);
  try {
    await cp(site, dir, { recursive: true, filter: (f) => !/\/(wasm|tools|npm-cache)$/.test(f) });
    const { page, ctx } = await fresh(3, next.url);
    const first = await page.evaluate(async () => { await navigator.serviceWorker.ready; return (await caches.keys()).join(); });
    // The new build: another version of the worker, a mark in the page.
    const sw = await readFile(join(dir, 'sw.js'), 'utf8');
    await writeFile(join(dir, 'sw.js'), sw.replace(/const version = "(\w+)"/, 'const version = "$1-next"'));
    const index = await readFile(join(dir, 'index.html'), 'utf8');
    await writeFile(join(dir, 'index.html'), index.replace('<head>', '<head><meta name="build" content="next">'));
    const build = () => page.evaluate(() => document.querySelector('meta[name=build]')?.content || 'first');
    const started = () => page.waitForFunction(() => globalThis.nubora?.ready, { polling: 50 });
    await page.reload();
    await started();
    assert.equal(await build(), 'first', 'this start still plays the build it began with');
    // The new worker has taken over once the old cache is gone. (Asked without a request of
    // the page: the old worker, busy with one, would not give way.)
    await page.waitForFunction(async (old) => {
      const names = await caches.keys();
      return names.length === 1 && names[0] !== old;
    }, { polling: 50 }, first);
    await page.reload();
    await started();
    assert.equal(await build(), 'next');
    await ctx.close();
  } finally {
    next.close();
    await rm(dir, { recursive: true, force: true });
  }
});

test('nubora1.html plays and saves from file://', { timeout: 30000, skip: fromFile && 'every test plays it so' }, async () => {
  const { page, ctx } = await fresh(41, pathToFileURL(join(site, 'nubora1.html')).href);
  await ok(page);
  const total = await playByMouse(page);
  await page.keyboard.type('USB');
  await page.keyboard.press('Enter');
  await ok(page);
  assert.deepEqual(await stored(page), await expected(page, [{ hani: 0, tensu: total, name: 'USB' }]));
  assert.deepEqual(page.errors, []);
  await ctx.close();
});

// A class link: the class's tavon.rnk as the file format lays it out, range 0's records first
// (name in ASCII, padded with spaces; the score, 16-bit little-endian), then blank records to 75.
const classFile = (rows) => Array.from({ length: 75 }, (_, i) => {
  const [name, score] = rows[i] ?? ['', 0];
  return [...Buffer.from(name.padEnd(10), 'latin1'), score & 255, (score >> 8) & 255];
}).flat();
const strip = (page, key) => page.evaluate((k) => document.querySelector(`#strip [data-key=${k}]`)?.textContent ?? null, key);
const names = (page) => page.$$eval('dialog[open] [data-name^=namae]', (cells) => cells.map((c) => c.textContent).join());

test('two devices on one class link share its lists; one without a network keeps its entry and sends it once when back online', { timeout: 90000, skip: (fromFile && 'a class link is served') || (!classProgram && 'nubora1-server is not built') }, async (t) => {
  const cls = await classServer();
  t.after(() => cls.close());
  const [one, two] = [await fresh(51, cls.link), await fresh(52, cls.link)];
  const played = [];
  for (const [{ page }, name] of [[one, 'ONE'], [two, 'TWO']]) {
    await ok(page);
    if (name === 'TWO') await page.setOfflineMode(true);
    played.push([name, await playByMouse(page)]);
    await page.keyboard.type(name);
    if (name === 'TWO') assert.deepEqual([await names(page), await caption(page, '[data-name=note]')], ['TWO,,,,', 'クラスにつながりません']);
    await page.click('dialog[open] [data-name=Command1]');
  }
  for (const title of ['保存', '再スタート', 'スタート']) assert.equal(await ok(two.page), title);
  assert.ok(await strip(two.page, 'class-outbox'), 'to be sent later');
  assert.ok(!Buffer.from(await cls.tavon()).includes('TWO'));
  await two.page.setOfflineMode(false);
  await two.page.waitForFunction(() => !document.querySelector('#strip [data-key=class-outbox]'), { polling: 50 });
  await two.page.click('[data-name=tokutenyo]');
  await two.page.waitForSelector('dialog.window[data-form=Form3][open]');
  const rows = played.sort((a, b) => b[1] - a[1] || (a[0] === 'TWO' ? -1 : 1)); // a tie: the later entry stands higher
  assert.equal(await names(two.page), `${rows.map((r) => r[0])},,,`);
  assert.deepEqual([await two.page.$('[data-name=import]'), await two.page.$('[data-name=note]')], [null, null]);
  assert.equal(await strip(two.page, 'class'), '３年２組の成績一覧に記録します');
  assert.deepEqual(Array.from(await cls.tavon()), classFile(rows));
  await Promise.all([one.ctx.close(), two.ctx.close()]);
});
