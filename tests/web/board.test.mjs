// SPDX-License-Identifier: GPL-3.0-or-later
// The teacher's board on the class server, in headless Chromium, at the projector's sizes: the
// class's QR code beside every range's best five, and the class round on it: started from the
// board (and refused a second time while it runs), its count-down, the question standing with
// how many answered it and how many right as devices answer through the API, the top ten, then
// the whole ranking; the teacher's focus kept, the counts spoken politely.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { join } from 'node:path';
import { mkdir } from 'node:fs/promises';
import { useSite, classServer, openGame, teachersPage, withoutClassServer as skip } from './support.mjs';
import { rankingFile, axe } from './play.mjs';
import { roundState, serial } from '../../server/teacher/round.js';

const { newContext } = useSite();

// A name in hiragana as the ranking file holds it: Shift-JIS, whose hiragana run in Unicode's order.
const sjis = (name) => Buffer.from([...name].flatMap((c) => [0x82, 0x9f + c.codePointAt(0) - 0x3041]));

// The board's parts drawn now, each with where it ends: the class's name, QR code and link, and
// the lists (each table as its range and row count) or the round's panel (the ranking as its
// row count); the smallest text of the lists or of the round's counts and ranking; where the
// tools begin; the buttons drawn on the board beside the start of a round.
const board = (page) =>
  page.evaluate(() => {
    const drawn = (e) => e.getBoundingClientRect().width > 1; // not hidden, nor only for a screen reader
    const bottom = (e) => Math.ceil(e.getBoundingClientRect().bottom);
    const sel = (s) => [...document.querySelectorAll(s)].filter(drawn);
    const parts = [
      ...sel('#name, #qr, #link, #lists-heading, #round-heading, #round-count, #round-question').map((e) => [
        `#${e.id}`,
        bottom(e),
      ]),
      ...sel('#lists table').map((t) => [`${t.caption.textContent} ${t.tBodies[0].rows.length}`, bottom(t)]),
      ...sel('#round-counts').map((e) => [e.textContent, bottom(e)]),
      ...sel('#round-ranking').map((e) => [
        `ranking ${e.children.length}`,
        Math.max(0, ...[...e.children].map(bottom)),
      ]),
    ];
    return {
      height: innerHeight,
      parts,
      text: Math.min(
        ...sel('#lists td, #round-counts, #round-ranking li').map((e) => parseFloat(getComputedStyle(e).fontSize)),
      ),
      tools: document.querySelector('#tools').getBoundingClientRect().top,
      // the take-down buttons and a running round's start (none until the teacher points at them)
      buttons: sel('#lists button, .round-start button').filter(
        (b) => getComputedStyle(b).opacity !== '0' && getComputedStyle(b.parentElement).opacity !== '0',
      ).length,
    };
  });

// At 1920×1080 and 1280×720: the board shows `parts` (in order) on the first screen, in text a
// back row reads (32 px at 1920 wide, as much less as the screen is narrower), the tools below
// it and `buttons` buttons drawn; NUBORA_SHOTS (a folder, docs/screenshots for the README)
// keeps its picture at each size there as NAME-WIDTH.png.
async function fits(page, { parts, buttons, name }) {
  for (const size of [
    { width: 1920, height: 1080 },
    { width: 1280, height: 720 },
  ]) {
    await page.setViewport(size);
    await page.evaluate(() => new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r))));
    const seen = await board(page);
    const at = `${name} ${size.width}×${size.height}`;
    assert.deepEqual(
      seen.parts.map(([part]) => part),
      parts,
      at,
    );
    for (const [part, bottom] of seen.parts) assert.ok(bottom <= seen.height, `${at}: ${part} ends at ${bottom}`);
    assert.ok(seen.tools >= seen.height, `${at}: the tools begin at ${seen.tools}, on the board`);
    assert.equal(seen.buttons, buttons, `${at}: buttons on the board`);
    assert.ok(seen.text >= (32 * size.width) / 1920, `${at}: the text is ${seen.text} px`);
    if (process.env.NUBORA_SHOTS) {
      await mkdir(process.env.NUBORA_SHOTS, { recursive: true });
      await page.screenshot({ path: join(process.env.NUBORA_SHOTS, `${name}-${size.width}.png`) });
    }
  }
}

test(
  "the board shows the class, its QR code and every range's best five on the first screen, in type a back row reads",
  { timeout: 90000, skip },
  async (t) => {
    const cls = await classServer();
    t.after(() => cls.close());
    const names = ['はなこ', 'さくら', 'たろう', 'けんた', 'ゆうき', 'あおい', 'みなと', 'ひなた'];
    const rows = Array.from({ length: 20 }, (_, i) => [
      sjis(names[(i * 3) % names.length]),
      48 - (i % 5) * 7 - (i >> 2), // each range's best five, in order
    ]);
    assert.equal((await cls.teacherPost('import', Buffer.from(rankingFile(rows)))).status, 200);
    const game = await openGame(await newContext(), cls.link, 1);
    for (const [i, [name, range, score]] of [
      ['ゆい', 0, 50],
      ['そうた', 1, 45],
      ['りく', 2, 40],
      ['めい', 3, 50],
    ].entries())
      assert.equal((await cls.save(game, { id: `board-${i}-saved`, range, score, name })).status, 200);
    const { page, refused } = await teachersPage(await newContext(), cls);
    const ranges = await cls.lists();
    await page.waitForFunction(() => document.querySelector('#qr').naturalWidth > 0);
    // The start of a round, beside the lists' heading, is the one button drawn.
    const parts = ['#name', '#qr', '#link', '#lists-heading', ...ranges.map((l) => `${l.range} 5`)];
    await fits(page, { parts, buttons: 1, name: 'board' });
    assert.deepEqual(await axe(page, true), []);
    assert.deepEqual(refused, []);
  },
);

// What the board shows of a round of five questions of 22 s, 3 s apart, at the server's times.
test("the board follows a round's schedule on the server's clock", () => {
  const r = {
    number: 3,
    start: 10000,
    end: 10000 + 5 * 22000 + 4 * 3000,
    questions: [10000, 35000, 60000, 85000, 110000].map((start) => ({ start })),
  };
  for (const [now, closed, seen] of [
    [0, 0, { state: 'idle' }],
    [5000, 0, { state: 'lead', seconds: 5 }],
    [9001, 0, { state: 'lead', seconds: 1 }],
    [10000, 0, { state: 'play', question: 0 }],
    [34999, 0, { state: 'play', question: 0 }], // the pause after the first question
    [35000, 0, { state: 'play', question: 1 }],
    [131999, 0, { state: 'play', question: 4 }],
    [132000, 0, { state: 'over' }],
    [132000, 2, { state: 'over' }], // another round's results put away
    [132000, 3, { state: 'idle' }],
    [9000, 3, { state: 'lead', seconds: 1 }], // put away only once over
  ])
    assert.deepEqual(roundState(now ? r : null, now, closed), seen, `${now} ${closed}`);
});

test('a reading asked for during one makes one more after it, however often it was asked', async () => {
  for (const [asked, failing, runs] of [
    [1, false, 1],
    [4, false, 2],
    [4, true, 2], // a failed reading does not stop the next
  ]) {
    let count = 0;
    const read = serial(async () => {
      ++count;
      await new Promise((r) => setTimeout(r, 20));
      if (failing) throw new Error('no answer');
    });
    await Promise.all(Array.from({ length: asked }, read));
    await new Promise((r) => setTimeout(r, 100));
    assert.equal(count, runs, `${asked} asked`);
  }
});

// The round's panel as read aloud and drawn: its state, the heading, the count-down, the live
// region's words, the ranking's heading and rows ("place name points").
const panel = (page) =>
  page.evaluate(() => ({
    state: document.querySelector('#board').dataset.round,
    heading: document.querySelector('#round-heading').textContent,
    live: document.querySelector('#round-live').textContent.replace(/\s+/g, ' ').trim(),
    ranking: document.querySelector('#round-ranking-heading').textContent,
    rows: [...document.querySelectorAll('#round-ranking li')].map((li) => li.textContent.trim()),
  }));
const until = (page, fn, ...args) => page.waitForFunction(fn, { polling: 50, timeout: 20000 }, ...args);

test(
  'the board starts a class round, counts its answers as they come and ranks the class, keeping the focus',
  { timeout: 120000, skip },
  async (t) => {
    const cls = await classServer();
    t.after(() => cls.close());
    const { page, refused } = await teachersPage(await newContext(), cls);
    const ranges = (await cls.lists()).map((l) => l.range);
    await until(page, () => !document.querySelector('#round-start').disabled);
    assert.deepEqual(await page.$$eval('#round-range option', (o) => o.map((e) => e.textContent)), ranges);
    await page.select('#round-range', '2');
    await page.focus('#round-start');
    await page.keyboard.press('Enter');
    await until(page, () => document.querySelector('#board').dataset.round === 'lead');
    const started = await cls.teacherRound();
    assert.equal(started.round.range, 2);
    const lead = await panel(page);
    assert.deepEqual([lead.heading, lead.live], [`クラスのラウンド　${ranges[2]}`, 'まもなく第 1問 参加 0人']);
    const count = Number(await page.$eval('#round-count', (e) => e.textContent));
    const leadSeconds = (started.round.start - started.now) / 1000;
    assert.ok(count >= 1 && count <= Math.ceil(leadSeconds), `the count-down shows ${count} of ${leadSeconds} s`);
    // A second start while the round runs: the server refuses it, the board says so.
    await page.keyboard.press('Enter');
    await until(page, () => document.querySelector('#status').textContent.startsWith('ラウンドはもう始まっています'));
    assert.equal((await cls.teacherRound()).round.number, started.round.number);

    // Thirty devices join, every fourth without a name; the counts are a polite live region.
    const devices = Array.from({ length: 30 }, (_, i) => ({
      id: `board-device-${i}`,
      name: i % 4 ? `せいと${i}` : undefined,
    }));
    for (const d of devices) {
      const joined = await cls.round(d.id, 'join', { number: started.round.number, name: d.name });
      assert.equal(joined.status, 200, d.id);
    }
    await until(page, () => document.querySelector('#round-live').textContent.includes('参加 30人'));
    assert.deepEqual(
      await page.$eval('#round-live', (e) => [e.getAttribute('aria-live'), e.getAttribute('aria-atomic')]),
      ['polite', 'true'],
    );

    // Each question, devices answering one of the four buttons in turn: the board counts them
    // and the ones the server judged right, and ranks the class by the server's points.
    await until(page, () => document.querySelector('#board').dataset.round === 'play');
    // The refusal, said in the lead, is stale once the questions begin.
    assert.equal(await page.$eval('#status', (e) => e.textContent), '', 'the status line once the round plays');
    const points = new Map(devices.map((d) => [d.id, 0]));
    for (const [q, answering] of [
      [0, 12],
      [1, 20],
    ]) {
      await page.waitForFunction(
        (n) => document.querySelector('#round-question').textContent === `第 ${n}問`,
        { polling: 50, timeout: 40000 }, // a question and its pause: 25 s
        q + 1,
      );
      let right = 0;
      for (const d of devices.slice(0, answering)) {
        const button = [0, 1, 2, 4][(devices.indexOf(d) + q) % 4];
        const answer = await (
          await cls.round(d.id, 'answers', { number: started.round.number, question: q, button })
        ).json();
        right += answer.right ? 1 : 0;
        points.set(d.id, points.get(d.id) + answer.points);
      }
      assert.ok(right > 0 && right < answering, `question ${q + 1}: ${right} right of ${answering}`);
      const counts = `第 ${q + 1}問 答えた ${answering}人 正解 ${right}人 参加 30人`;
      await until(
        page,
        (c) => document.querySelector('#round-live').textContent.replace(/\s+/g, ' ').trim() === c,
        counts,
      );
      const seen = await panel(page);
      const ranked = (await cls.teacherRound()).round.ranking;
      assert.deepEqual(
        [seen.ranking, seen.rows],
        ['上位 10人', ranked.slice(0, 10).map((r, i) => `${i + 1} ${r.name || '名前なし'} ${r.points}点`)],
      );
      // The server's ranking is the answers' points, highest first.
      assert.deepEqual(
        ranked.map((r) => r.points),
        [...points.values()].sort((a, b) => b - a),
      );
      assert.equal(await page.evaluate(() => document.activeElement.id), 'round-start', 'the focus stays');
    }
    // Off the projected view while the round runs, once the teacher's focus has left it.
    await page.evaluate(() => document.activeElement.blur());
    await fits(page, {
      parts: [
        '#name',
        '#qr',
        '#link',
        '#round-heading',
        '#round-question',
        await page.$eval('#round-counts', (e) => e.textContent),
        'ranking 10',
      ],
      buttons: 0,
      name: 'board-round',
    });
    assert.deepEqual(await axe(page, true), []);

    // After the last question (the round moved back to have ended a second ago, and the board
    // read again): the whole ranking, until the teacher goes back to the lists.
    const now = Date.now();
    await cls.sql(`UPDATE rounds SET start_ms = start_ms - (end_ms - ${now}) - 1000, end_ms = ${now - 1000};`);
    await page.reload();
    await until(page, () => document.querySelector('#board').dataset.round === 'over');
    const over = await panel(page);
    assert.deepEqual([over.ranking, over.rows.length], ['ラウンドの結果', 30]);
    assert.ok(
      over.rows.some((r) => / 名前なし /.test(r)),
      'a device without a name',
    );
    assert.deepEqual(await axe(page, true), []);
    await page.click('#round-close');
    await until(page, () => document.querySelector('#board').dataset.round === 'idle');
    assert.equal(await page.evaluate(() => document.activeElement.id), 'round-start');
    await page.reload();
    await until(page, () => !document.querySelector('#round-start').disabled);
    assert.equal(await page.$eval('#board', (b) => b.dataset.round), 'idle', 'put away, also after a reload');
    assert.deepEqual(refused, []);
  },
);
