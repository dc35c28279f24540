// SPDX-License-Identifier: GPL-3.0-or-later
// node bench/web.mjs (make bench-web): the page as built in build-web/, in headless Chromium.
// - the hosted site's whole transfer, gzip: every file the service worker keeps, compressed;
// - from navigation to the start message, median of 9 fresh starts;
// - the countdown over a game of time-outs (five questions of 11 ticks, about 2 minutes):
//   how far each tick ran from its 2-second mark, worst and median.
import { readFileSync } from 'node:fs';
import { gzipSync } from 'node:zlib';
import { join } from 'node:path';
import { serve, launch, openGame, site } from '../tests/web/support.mjs';
import { ok } from '../tests/web/play.mjs';

const median = (xs) => [...xs].sort((a, b) => a - b)[Math.floor(xs.length / 2)];
const kb = (n) => `${Math.round(n / 1000)} KB`;

const sw = readFileSync(join(site, 'sw.js'), 'utf8');
const files = JSON.parse(sw.match(/const files = (\[.*\]);/)[1]).map((f) => (f === './' ? 'index.html' : f));
const gzip = (f) => gzipSync(readFileSync(join(site, f)), { level: 9 }).length;
console.log(`hosted site, gzip: ${kb(files.reduce((n, f) => n + gzip(f), 0))} (nubora1.html: ${kb(gzip('nubora1.html'))})`);

const server = await serve();
const chromium = await launch();
try {
  const starts = [];
  for (let i = 0; i < 9; ++i) {
    const ctx = await chromium.browser.createBrowserContext();
    const page = await openGame(ctx, server.url, i, { before: () => {
      new MutationObserver((_, watch) => {
        if (!document.querySelector('dialog.message[open]')) return;
        globalThis.shownAt = performance.now();
        watch.disconnect();
      }).observe(document, { subtree: true, childList: true, attributes: true });
    } });
    starts.push(await page.evaluate(() => globalThis.shownAt));
    await ctx.close();
  }
  console.log(`navigation to the start message: ${Math.round(median(starts))} ms (median of ${starts.length})`);

  const ctx = await chromium.browser.createBrowserContext();
  const page = await openGame(ctx, server.url, 1);
  await ok(page);
  await page.evaluate(() => {
    const c = nubora.game.countdown, tick = c.onTick;
    globalThis.lags = [];
    c.onTick = (mark) => { lags.push(performance.now() - mark); tick(mark); };
  });
  await page.click('[data-name=Command1]');
  await page.waitForSelector('dialog.window[data-form=Form3][open]', { timeout: 200000 });
  const lags = await page.evaluate(() => lags);
  const worst = [...lags].sort((a, b) => b - a).slice(0, 5).map((l) => l.toFixed(1)).join(", ");
  console.log(`countdown, ${lags.length} ticks: median ${median(lags).toFixed(1)} ms from its mark; the worst: ${worst} ms`);
  await ctx.close();
} finally {
  await chromium.close();
  server.close();
}
