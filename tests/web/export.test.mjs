// SPDX-License-Identifier: GPL-3.0-or-later
// The teacher's download of the ranking file after a seeded game by mouse and a Japanese name
// typed through an input method. Where NUBORA_WEB_EXPORT_DIR names a folder, the download
// (tavon.rnk) goes there with export.json: the seed, the clicks with the points showing as each
// was made, the name, and the captions of the results window opened for viewing, for the
// desktop's test (tst_webexport) to play the same game and compare.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { mkdir, readFile, rm, writeFile } from 'node:fs/promises';
import { join } from 'node:path';
import { useSite, openGame, gameUrl } from './support.mjs';
import { ok, rightAnswer, caption, stored, rankingFile, answerable, compose, openLists, totalShown } from './play.mjs';

const { server, chromium, scratch: downloads } = useSite();

// The captions of the open results window, as the page shows them.
const resultsCaptions = (page) =>
  page.evaluate(() => {
    const text = (name) => document.querySelector(`dialog[open] [data-name=${name}]`)?.textContent ?? null;
    const rows = (count, ...columns) => Array.from({ length: count }, (_, i) => columns.map((c) => text(`${c}${i}`)));
    const label6 = document.querySelector('dialog[open] [data-name=Label6]');
    return {
      jikan9: text('jikan9'),
      Label6: label6.textContent,
      Label6Shown: !label6.hidden,
      enz0: text('enz0'),
      best: rows(5, 'jyun', 'namae', 'jikan'),
      run: [0, 1, 2].map((i) => text(`jikan1${i}`)),
    };
  });

test('the exported tavon.rnk is the file the page keeps, 900 bytes after one game', { timeout: 60000 }, async () => {
  const folder = process.env.NUBORA_WEB_EXPORT_DIR;
  if (folder) await rm(folder, { recursive: true, force: true }); // nothing stale for the desktop's test
  const seed = 20261209;
  const page = await openGame(chromium.browser, gameUrl(server), seed);
  const browserCdp = await chromium.browser.target().createCDPSession();
  await browserCdp.send('Browser.setDownloadBehavior', {
    behavior: 'allow',
    downloadPath: downloads,
    eventsEnabled: true,
  });
  await ok(page);

  // Four right answers and, at the second question, a wrong one: 10, 0, 10, 10, 10 unless
  // the machine was slow enough for the countdown to tick. The points of a right answer are
  // what it added to the total (a tick may come between reading the points and the click).
  const clicks = [],
    points = [];
  await page.click('[data-name=Command1]');
  for (let q = 0; q < 5; ++q) {
    await answerable(page);
    const right = await rightAnswer(page),
      index = q === 1 ? [0, 1, 2, 4].find((i) => i !== right) : right;
    const before = await totalShown(page),
      showing = Number(await caption(page, '[data-name=tokuten]'));
    await page.click(`[data-name=kotae${index}]`);
    clicks.push(index);
    points.push(index === right ? (await totalShown(page)) - before : showing);
  }
  await page.waitForSelector('dialog.window[data-form=Form3][open]');
  assert.deepEqual(await page.$$eval('[data-name^=sikiyo]', (cells) => cells.map((el) => el.textContent)), [
    '○',
    '×',
    '○',
    '○',
    '○',
  ]);
  const total = await totalShown(page);

  const name = '山田ﾀﾛｳ';
  await compose(page, 'chromium', 'やまだたろう', name);
  await page.waitForFunction((n) => document.querySelector('[data-name=Text1]').value === n, {}, name);
  await page.click('dialog[open] [data-name=Command1]');
  assert.equal(await ok(page), '再スタート');
  assert.equal(await ok(page), 'スタート');

  await openLists(page);
  const shown = await resultsCaptions(page);
  assert.equal(shown.best[0][1], name);

  const started = new Promise((resolve) => browserCdp.once('Browser.downloadWillBegin', resolve));
  const finished = new Promise((resolve) => {
    browserCdp.on('Browser.downloadProgress', (e) => {
      if (e.state !== 'inProgress') resolve(e.state);
    });
  });
  await page.click('dialog[open] [data-name=export]');
  assert.equal((await started).suggestedFilename, 'tavon.rnk');
  assert.equal(await finished, 'completed');
  const bytes = await readFile(join(downloads, 'tavon.rnk'));
  // 山田ﾀﾛｳ as code page 932 has it (山 8E52, 田 9363, ﾀ C0, ﾛ DB, ｳ B3) with the total, in range 0.
  assert.deepEqual(Array.from(bytes), rankingFile([[Buffer.from('8e529363c0dbb3', 'hex'), total]]));
  assert.deepEqual(Array.from(bytes), await stored(page));
  assert.deepEqual(page.errors, []);

  if (folder) {
    await mkdir(folder, { recursive: true });
    await writeFile(join(folder, 'tavon.rnk'), bytes);
    const game = {
      seed,
      clicks: clicks.map((answer, q) => ({ answer, points: points[q] })),
      name,
      hani: 0,
      total,
      shown,
    };
    await writeFile(join(folder, 'export.json'), `${JSON.stringify(game, null, 2)}\n`);
  }
});
