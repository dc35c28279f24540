// SPDX-License-Identifier: GPL-3.0-or-later
// node bench/web.mjs (make bench-web): the page as built in build-web/, in headless Chromium.
// - the hosted site's whole transfer, gzip: every file the service worker keeps, compressed;
// - from navigation to the start message, median of 15 fresh starts (first visits), beside a
//   static page that shows the same modal message box (its markup taken from the game's, with
//   the page's style sheet), the two taking turns;
// - the countdown over a game of time-outs (five questions of 11 ticks, about 2 minutes):
//   how far each tick ran from its 2-second mark, worst and median;
// - with the class server built (NUBORA_SERVER, or build/nubora1-server): the teacher's board,
//   from a pupil's save answered to the board showing it, over eight saves, median and worst.
import { readFileSync } from 'node:fs';
import { copyFile, mkdtemp, rm, writeFile } from 'node:fs/promises';
import { loadavg, tmpdir } from 'node:os';
import { gzipSync } from 'node:zlib';
import { join } from 'node:path';
import { serve, launch, openGame, site, classServer, classProgram } from '../tests/web/support.mjs';
import { ok } from '../tests/web/play.mjs';

const median = (xs) => [...xs].sort((a, b) => a - b)[Math.floor(xs.length / 2)];
const kb = (n) => `${Math.round(n / 1000)} KB`;

const sw = readFileSync(join(site, 'sw.js'), 'utf8');
const files = Object.keys(JSON.parse(sw.match(/const files = (\{.*\});/)[1])).map((f) =>
  f === './' ? 'index.html' : f,
);
const gzip = (f) => gzipSync(readFileSync(join(site, f)), { level: 9 }).length;
console.log(
  `hosted site, gzip: ${kb(files.reduce((n, f) => n + gzip(f), 0))} (nubora1.html: ${kb(gzip('nubora1.html'))})`,
);

// The moment the start message opened, in milliseconds from navigation.
const watch = () => {
  new MutationObserver((_, observer) => {
    if (!document.querySelector('dialog.message[open]')) return;
    globalThis.shownAt = performance.now();
    observer.disconnect();
  }).observe(document, { subtree: true, childList: true, attributes: true });
};

const server = await serve();
const staticDir = await mkdtemp(join(tmpdir(), 'nubora1-static-'));
const staticServer = await serve(staticDir);
const chromium = await launch();
try {
  const starts = [],
    statics = [];
  for (let i = 0; i < 15; ++i) {
    const ctx = await chromium.browser.createBrowserContext();
    const page = await openGame(ctx, server.url, i, { before: watch });
    starts.push(await page.evaluate(() => globalThis.shownAt));
    if (i === 0) {
      const box = await page.$eval('dialog.message[open]', (el) => el.outerHTML.replace(/ open=""/, ''));
      for (const sheet of ['style.css', 'windows.css']) await copyFile(join(site, sheet), join(staticDir, sheet));
      await writeFile(
        join(staticDir, 'index.html'),
        `<!DOCTYPE html>\n<html lang="ja"><head><meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1"><link rel="stylesheet" href="style.css"><link rel="stylesheet" href="windows.css"></head>
<body>${box}<script>document.querySelector('dialog').showModal(); document.querySelector('button').focus();</script></body></html>\n`,
      );
    }
    await ctx.close();
    const other = await chromium.browser.createBrowserContext();
    const still = await other.newPage();
    await still.setViewport({ width: 580, height: 425 });
    await still.evaluateOnNewDocument(watch);
    await still.goto(staticServer.url);
    statics.push(await still.waitForFunction(() => globalThis.shownAt, { polling: 10 }).then((h) => h.jsonValue()));
    await other.close();
  }
  const [game, still] = [median(starts), median(statics)];
  console.log(
    `navigation to the start message: ${Math.round(game)} ms, a static page with the same message box ${Math.round(still)} ms: ${(game / still).toFixed(2)}× (medians of ${starts.length}; load average ${loadavg()[0].toFixed(1)})`,
  );

  const ctx = await chromium.browser.createBrowserContext();
  const page = await openGame(ctx, server.url, 1);
  await ok(page);
  await page.evaluate(() => {
    const c = nubora.game.countdown,
      tick = c.onTick;
    globalThis.lags = [];
    c.onTick = (mark) => {
      lags.push(performance.now() - mark);
      tick(mark);
    };
  });
  await page.click('[data-name=Command1]');
  await page.waitForSelector('dialog.window[data-form=Form3][open]', { timeout: 200000 });
  const lags = await page.evaluate(() => lags);
  const worst = [...lags]
    .sort((a, b) => b - a)
    .slice(0, 5)
    .map((l) => l.toFixed(1))
    .join(', ');
  console.log(
    `countdown, ${lags.length} ticks: median ${median(lags).toFixed(1)} ms from its mark; the worst: ${worst} ms`,
  );
  await ctx.close();

  if (classProgram) {
    const cls = await classServer();
    const ctx = await chromium.browser.createBrowserContext();
    try {
      const game = await openGame(ctx, cls.link, 1);
      const board = await ctx.newPage();
      await board.goto(cls.teacher);
      await board.waitForSelector('#entries');
      const delays = [];
      for (let i = 0; i < 8; ++i) {
        // within a device's burst (ten requests, its tickets' among them)
        const shown = board.waitForFunction(
          (n) => [...document.querySelectorAll('#entries tr')].some((r) => r.cells[3]?.textContent === n),
          { polling: 'mutation', timeout: 30000 },
          `board${i}`,
        );
        shown.catch(() => {}); // awaited below, once the save is answered
        const saved = await cls.save(game, { id: `board-bench-${i}`, range: i % 4, score: 20 + i, name: `board${i}` });
        if (saved.status !== 200) throw new Error(`a save was refused: ${saved.status}`);
        const answered = performance.now();
        await shown;
        delays.push(performance.now() - answered);
      }
      const slowest = Math.max(...delays).toFixed(0);
      console.log(
        `teacher's board: a save shown ${median(delays).toFixed(0)} ms after its answer (median of ${delays.length}; the slowest ${slowest} ms)`,
      );
    } finally {
      await ctx.close();
      await cls.close();
    }
  }
} finally {
  await chromium.close();
  server.close();
  staticServer.close();
  await rm(staticDir, { recursive: true, force: true });
}
