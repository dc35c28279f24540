// SPDX-License-Identifier: GPL-3.0-or-later
// The class's teacher's page on the class server, in headless Chromium: a file's lists shown
// before they load; an entry taken down from its list row and put back from the table of saved
// entries; the box that lets pupils' 初期化 clear the lists, or not; what the class gets wrong;
// and the times in the teacher's own zone. The board itself: board.test.mjs.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { join } from 'node:path';
import { writeFile } from 'node:fs/promises';
import {
  useSite,
  classServer,
  openGame,
  teachersPage as openTeachersPage,
  withoutClassServer as skip,
} from './support.mjs';
import { caption, rankingFile, axe } from './play.mjs';

const { scratch, newContext } = useSite();
const teachersPage = async (cls) => openTeachersPage(await newContext(), cls);

test(
  "the teacher's page shows a file's lists before it loads them, and says why it refuses one that is no ranking file",
  { timeout: 60000, skip },
  async (t) => {
    const cls = await classServer();
    t.after(() => cls.close());
    const { page } = await teachersPage(cls);
    const choose = async (bytes) => {
      await writeFile(join(scratch, 'tavon.rnk'), bytes);
      await (await page.$('#import')).uploadFile(join(scratch, 'tavon.rnk'));
    };
    const previewShown = () => page.waitForFunction(() => !document.querySelector('#preview').hidden);
    await choose(Buffer.alloc(65536, 7));
    await page.waitForFunction(() => document.querySelector('#status').textContent);
    assert.match(await caption(page, '#status'), /大きすぎます.*tavon\.rnk/);
    // A name that looks like markup is shown as the text it is.
    const file = rankingFile([[Buffer.from('<b>x</b>'), 42]]);
    await choose(Buffer.from(file));
    await previewShown();
    assert.equal(await caption(page, '#preview-lists td:nth-child(2)'), '<b>x</b>');
    await page.click('#cancel');
    assert.ok(await page.$eval('#preview', (e) => e.hidden));
    assert.deepEqual(Array.from(await cls.tavon()), []);
    await choose(Buffer.from(file));
    await previewShown();
    await page.click('#load');
    await page.waitForFunction(() => document.querySelector('#lists td:nth-child(2)')?.textContent === '<b>x</b>');
    assert.deepEqual(Array.from(await cls.tavon()), file);
  },
);

test(
  "the teacher's page shows a pupil's save without a reload, leaving the focus, the status and a file's preview as they were",
  { timeout: 60000, skip },
  async (t) => {
    const cls = await classServer();
    t.after(() => cls.close());
    const game = await openGame(await newContext(), cls.link, 1);
    assert.equal((await cls.save(game, { id: 'entry-before-page', range: 0, score: 45, name: 'はなこ' })).status, 200);
    const page = await (await newContext()).newPage();
    const streamed = page.waitForResponse((r) => r.url().endsWith('/events'));
    await page.goto(cls.teacher);
    assert.equal((await streamed).headers()['content-type'], 'text/event-stream');
    const shown = (name) =>
      page.waitForFunction(
        (n) => [...document.querySelectorAll('#entries tr')].some((r) => r.cells[3]?.textContent === n),
        { polling: 'mutation', timeout: 15000 },
        name,
      );
    await page.waitForFunction(() => document.querySelector('#entries tr'));
    await writeFile(join(scratch, 'tavon.rnk'), Buffer.from(rankingFile([['FILE', 20]])));
    await (await page.$('#import')).uploadFile(join(scratch, 'tavon.rnk'));
    await page.waitForFunction(() => !document.querySelector('#preview').hidden);
    await page.evaluate(() => {
      document.querySelector('#status').textContent = 'まだ読んでいる知らせ';
    });
    await page.focus('#entries button[aria-label="はなこ 45点 を一覧から取り消す"]');
    assert.equal((await cls.save(game, { id: 'entry-after-page', range: 0, score: 40, name: 'さくら' })).status, 200);
    const answered = Date.now();
    await shown('さくら');
    t.diagnostic(`shown ${Date.now() - answered} ms after the save's answer`); // a measure, not a limit
    assert.deepEqual(
      await page.evaluate(() => [
        document.activeElement.getAttribute('aria-label'),
        document.querySelector('#status').textContent,
        document.querySelector('#preview').hidden,
        document.querySelector('#lists table:first-child tbody tr:nth-child(2)').cells[1].textContent,
      ]),
      ['はなこ 45点 を一覧から取り消す', 'まだ読んでいる知らせ', false, 'さくら'],
    );
    // A burst of saves is shown whole.
    for (const [i, name] of ['たろう', 'じろう', 'ゆい'].entries())
      assert.equal((await cls.save(game, { id: `entry-burst-${i}`, range: 1, score: 30 + i, name })).status, 200);
    for (const name of ['ゆい', 'たろう', 'じろう']) await shown(name);
  },
);

// The first list as its rows' names, a row with a 取り消す button marked *; the names the table
// of saved entries marks 取り消し済み (with 戻す); where the focus is.
const firstList = (page) =>
  page.$$eval('#lists table:first-child tbody tr', (rows) =>
    rows
      .map((r) => r.cells[1].textContent + (r.querySelector('button[aria-label$="を一覧から取り消す"]') ? '*' : ''))
      .join(),
  );
const removed = (page) =>
  page.$$eval('#entries tr.removed', (rows) =>
    rows.map((r) => `${r.cells[3].textContent}:${r.cells[4].textContent}`).join(),
  );
const focus = (page) =>
  page.evaluate(
    () => `${document.activeElement.closest('[id]')?.id} ${document.activeElement.getAttribute('aria-label')}`,
  );

test(
  "the teacher takes an entry down from its list row and puts it back, and chooses whether pupils' 初期化 clears the lists",
  { timeout: 60000, skip },
  async (t) => {
    const cls = await classServer();
    t.after(() => cls.close());
    // An imported row is no saved entry's: it has no button, and stays where the replay puts it.
    assert.equal((await cls.teacherPost('import', Buffer.from(rankingFile([['IMPORT', 35]])))).status, 200);
    const saved = [
      ['はなこ', 45],
      ['さくら', 40],
      ['たろう', 30],
      ['<i>ken</i>', 25],
      ['じろう', 20],
      ['ゆい', 15],
    ];
    const game = await openGame(await newContext(), cls.link, 1);
    for (const [i, [name, score]] of saved.entries())
      assert.equal((await cls.save(game, { id: `entry-${i}-saved`, range: 0, score, name })).status, 200);
    const { page, refused } = await teachersPage(cls);
    const full = 'はなこ*,さくら*,IMPORT,たろう*,<i>ken</i>*';
    assert.equal(await firstList(page), full);
    const steps = [
      {
        at: '#lists',
        press: 'たろう 30点 を一覧から取り消す',
        key: true,
        list: 'はなこ*,さくら*,IMPORT,<i>ken</i>*,じろう*',
        removed: 'たろう:取り消し済み 戻す',
        said: 'たろう 30点を一覧から取り消しました。',
        focus: 'lists <i>ken</i> 25点 を一覧から取り消す',
      },
      {
        at: '#lists',
        press: 'じろう 20点 を一覧から取り消す',
        list: 'はなこ*,さくら*,IMPORT,<i>ken</i>*,ゆい*',
        removed: 'たろう:取り消し済み 戻す,じろう:取り消し済み 戻す',
        said: 'じろう 20点を一覧から取り消しました。',
        focus: 'lists ゆい 15点 を一覧から取り消す',
      },
      {
        at: '#entries',
        press: 'たろう 30点 を一覧に戻す',
        key: true,
        list: 'はなこ*,さくら*,IMPORT,たろう*,<i>ken</i>*',
        removed: 'じろう:取り消し済み 戻す',
        said: 'たろう 30点を一覧に戻しました。',
        focus: 'entries たろう 30点 を一覧から取り消す',
      },
      {
        at: '#entries',
        press: 'じろう 20点 を一覧に戻す',
        list: full,
        removed: '',
        said: 'じろう 20点を一覧に戻しました。',
        focus: 'entries じろう 20点 を一覧から取り消す',
      },
    ];
    for (const s of steps) {
      const button = `${s.at} button[aria-label="${s.press}"]`;
      if (s.key) {
        await page.focus(button);
        await page.keyboard.press('Enter');
      } else await page.click(button);
      await page.waitForFunction(
        (said) => document.querySelector('#status').textContent.startsWith(said),
        { polling: 50 },
        s.said,
      );
      assert.deepEqual(
        [await firstList(page), await removed(page), await focus(page)],
        [s.list, s.removed, s.focus],
        s.press,
      );
      if (s.removed) assert.deepEqual(await axe(page, true), [], 'axe-core with an entry marked');
    }
    assert.deepEqual(
      (await cls.entries()).map((e) => e.removed),
      saved.map(() => false),
    );
    // Unticked, a pupil's 初期化 is refused and the lists stay; ticked again, it clears them.
    for (const [ticked, status, said, list] of [
      [false, 403, /消えません/, full],
      [true, 200, /消えます/, ',,,,'],
    ]) {
      await page.click('#pupils-blank');
      await page.waitForFunction(
        (on) =>
          document
            .querySelector('#status')
            .textContent.startsWith(on ? '生徒の「初期化」で一覧が消える' : '生徒の「初期化」では'),
        { polling: 50 },
        ticked,
      );
      assert.equal(await page.$eval('#pupils-blank', (b) => b.checked), ticked);
      assert.match(await caption(page, '#pupils-blank-said'), said);
      const answer = await cls.pupil('blank', { id: `blank-${ticked}-pupil` });
      assert.equal(answer.status, status);
      if (status === 403)
        assert.deepEqual(await answer.json(), { error: "only the teacher clears this class's lists" });
      await page.reload();
      await page.waitForFunction(
        (on) =>
          document.querySelector('#pupils-blank').checked === on && !document.querySelector('#pupils-blank').disabled,
        { polling: 50 },
        ticked,
      );
      assert.equal((await firstList(page)).replaceAll('*', ''), list.replaceAll('*', ''));
    }
    assert.deepEqual(refused, []);
  },
);

// The table of what the class gets wrong, as "games|row|…": each row its heading, its counts
// (the right one marked *) and its share of right answers.
const mistakesTable = (page) =>
  page.evaluate(() =>
    [
      document.querySelector('#mistakes-games').textContent,
      ...[...document.querySelectorAll('#mistakes-rows tr')].map((r) =>
        [...r.cells]
          .map(
            (c) =>
              c.firstChild.textContent + (c.classList.contains('right') && c.querySelector('.hidden-text') ? '*' : ''),
          )
          .join(' '),
      ),
    ].join('|'),
  );

test(
  "the teacher's page shows what the class gets wrong today and in all, with its CSV",
  { timeout: 60000, skip },
  async (t) => {
    const cls = await classServer();
    t.after(() => cls.close());
    // Games of seeds whose relations are known (see tst_server_mistakes): two of now, one of 2020.
    const now = new Date().toISOString().replace(/\.\d+Z$/, 'Z');
    await cls.sql(
      [
        [11, now, '2@10,0@10,1@10,t,2@10'],
        [37, now, '4@10,1@10,2@10,0@10,0@10'],
        [9, '2020-01-06T08:00:00Z', 't,t,t,t,t'],
      ]
        .map(
          ([seed, time, answers], i) =>
            `INSERT INTO games (class_id, ticket, time, seed, hani, tensu, log) VALUES ((SELECT id FROM classes), 'game-${i}', '${time}', ${seed}, 0, 0, '1;0;${answers}');`,
        )
        .join(''),
    );
    const { page, refused } = await teachersPage(cls);
    await page.waitForFunction(() => document.querySelector('#mistakes-rows tr'));
    assert.equal(
      await mistakesTable(page),
      '今日のゲーム：2回|比例 1* 0 2 0 0 33%|反比例 1 2* 0 0 0 67%|一次関数 1 0 1* 0 0 50%|その他 0 0 0 1* 1 50%',
    );
    assert.equal(await caption(page, '#mistakes caption'), '今日の出題と答え（太字が正しい答え）');
    await page.click('button[data-period="2"]');
    assert.equal(
      await mistakesTable(page),
      'これまでのゲーム：3回|比例 1* 0 2 0 2 20%|反比例 1 2* 0 0 2 40%|一次関数 1 0 1* 0 0 50%|その他 0 0 0 1* 2 33%',
    );
    assert.deepEqual(await page.$$eval('[data-period]', (b) => b.map((e) => e.getAttribute('aria-pressed'))), [
      'false',
      'false',
      'true',
    ]);
    if (process.env.NUBORA_SHOTS) {
      await page.setViewport({ width: 1920, height: 1080 });
      await (await page.$('#mistakes')).screenshot({ path: join(process.env.NUBORA_SHOTS, 'teacher-mistakes.png') });
    }
    const csv = await (await fetch(await page.$eval('#mistakes-csv', (a) => a.href))).text();
    assert.match(csv, /^"期間","出題",.*\r\n"今日","比例",1,0,2,0,0,3\r\n/);
    assert.deepEqual(await axe(page, true), []);
    assert.deepEqual(refused, []);
  },
);

// The entries' and the history's times in the zone of the teacher's computer, each with the
// server's time in its datetime.
test("the teacher's page gives every time in the computer's own zone", { timeout: 60000, skip }, async (t) => {
  const cls = await classServer();
  t.after(() => cls.close());
  assert.equal((await cls.teacherPost('import', Buffer.from(rankingFile([['IMPORT', 35]])))).status, 200);
  const game = await openGame(await newContext(), cls.link, 1);
  assert.equal((await cls.save(game, { id: 'entry-time-saved', range: 0, score: 30, name: 'たろう' })).status, 200);
  await cls.sql("UPDATE entries SET time = '2026-12-11T07:05:00Z'; UPDATE history SET time = '2026-03-29T00:59:00Z';");
  const { page } = await teachersPage(cls);
  for (const [zone, entry, history] of [
    ['Asia/Tokyo', '12月11日 16:05', '3月29日 09:59 読み込みの前'],
    ['Europe/Berlin', '12月11日 08:05', '3月29日 01:59 読み込みの前'],
    ['America/New_York', '12月11日 02:05', '3月28日 20:59 読み込みの前'],
  ]) {
    await page.emulateTimezone(zone);
    await page.reload();
    await page.waitForFunction(() => document.querySelector('#entries time'));
    assert.deepEqual(
      await page.evaluate(() =>
        ['#entries td:first-child', '#history h4'].map((s) => {
          const e = document.querySelector(s);
          return [e.textContent, e.querySelector('time').dateTime];
        }),
      ),
      [
        [entry, '2026-12-11T07:05:00Z'],
        [history, '2026-03-29T00:59:00Z'],
      ],
      zone,
    );
  }
});
