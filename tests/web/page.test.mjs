// SPDX-License-Identifier: GPL-3.0-or-later
// The game in headless Chromium: whole games by mouse and by keyboard to a saved name, with the
// bytes kept equal to what the game library's Save writes; a Japanese name typed through an
// input method; axe-core's rules in the windows; nubora1.html from file://; two devices on one
// class link of the class server with the desktop program, one of them saving without a network.
// With NUBORA_WEB_FROM=file all of it runs in nubora1.html opened from file://. (Offline and the
// copies on a server: offline.test.mjs; the windows' layout: layout.test.mjs; the class's
// teacher's page: teacher.test.mjs.)
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { pathToFileURL } from 'node:url';
import { join } from 'node:path';
import {
  useSite,
  engines,
  openGame,
  site,
  gameUrl,
  fromFile,
  classServer,
  desktopResults,
  desktopSaves,
  withoutClassServer,
} from './support.mjs';
import {
  ok,
  rightAnswer,
  caption,
  stored,
  rankingFile,
  playByMouse,
  axe,
  compose,
  answerable,
  focused,
  tapTwice,
  strip,
  names,
  openLists,
  totalShown,
} from './play.mjs';

const { server, newContext, open } = useSite();

const messageTitle = (page) => caption(page, 'dialog.message[open] .titlebar');

// A whole game by mouse, saved by 戻る or by Enter; the same from nubora1.html by file://.
const byMouse = [
  { how: 'by mouse', seed: 11, name: 'TARO', save: (page) => page.click('dialog[open] [data-name=Command1]') },
  {
    how: 'from nubora1.html by file://',
    seed: 41,
    name: 'USB',
    save: (page) => page.keyboard.press('Enter'),
    url: pathToFileURL(join(site, 'nubora1.html')).href,
    skip: fromFile && 'every test plays it so',
  },
];
for (const g of byMouse) {
  test(
    `a game ${g.how}: the results window opens modally, saving the name as Save writes it`,
    { timeout: 30000, skip: g.skip },
    async () => {
      const page = await open(g.seed, { url: g.url });
      assert.equal(await messageTitle(page), 'スタート');
      await ok(page);
      const total = await playByMouse(page);
      assert.ok(total > 0);
      assert.equal(await caption(page, '[data-name=jikan9]'), ` ${total}`);
      assert.equal(await focused(page), 'Text1');
      assert.deepEqual(await axe(page), []);
      await page.keyboard.type(g.name);
      assert.equal(await caption(page, '[data-name=namae0]'), g.name);
      await g.save(page);
      // The restart message, then the game window active again: the start message.
      assert.equal(await ok(page), '再スタート');
      assert.equal(await ok(page), 'スタート');
      assert.deepEqual(await stored(page), rankingFile([[g.name, total]]));
      assert.deepEqual(page.errors, []);
    },
  );
}

test(
  'a game by keyboard, the name typed through an input method, capped only once committed',
  { timeout: 30000 },
  async () => {
    const page = await open(23);
    await page.keyboard.press('Enter'); // OK of the start message
    await page.waitForFunction(() => !document.querySelector('dialog.message[open]'));
    const order = ['Command1', 'Command3', 'Command5', 'tokutenyo', 'helpyo', 'kotae0', 'kotae1', 'kotae2', 'kotae4'];
    const tab = async (back) => {
      if (back) await page.keyboard.down('Shift');
      await page.keyboard.press('Tab');
      if (back) await page.keyboard.up('Shift');
    };
    assert.equal(await focused(page), 'Command1');
    await page.keyboard.press('Enter');
    // As README has it: Shift+Tab twice from スタート reaches ｙはｘの一次関数; Tab goes round.
    for (const [back, name] of [
      [true, 'kotae4'],
      [true, 'kotae2'],
      [false, 'kotae4'],
      [false, 'Command1'],
    ]) {
      await tab(back);
      assert.equal(await focused(page), name);
    }
    for (let q = 0; q < 5; ++q) {
      await answerable(page);
      const index = await rightAnswer(page);
      const from = order.indexOf(await focused(page)),
        to = order.indexOf(`kotae${index}`);
      for (let i = from; i !== to; i += Math.sign(to - from)) await tab(to < from);
      assert.equal(await focused(page), `kotae${index}`);
      await page.keyboard.press('Space');
    }
    await page.waitForSelector('dialog.window[data-form=Form3][open]');
    const total = await totalShown(page);
    await compose(page, 'chromium', 'ながいなまえですね', '長い名前ですね', async () =>
      assert.equal(await page.$eval('[data-name=Text1]', (el) => el.value), 'ながいなまえですね'),
    );
    // Ten Shift-JIS bytes hold five of the seven characters.
    await page.waitForFunction(() => document.querySelector('[data-name=Text1]').value === '長い名前で');
    assert.equal(await caption(page, '[data-name=namae0]'), '長い名前で');
    // Enter saves, closes 再スタート and the start message; the focus on スタート, Enter starts.
    for (const title of ['再スタート', 'スタート']) {
      await page.keyboard.press('Enter');
      await page.waitForFunction(
        (t) => document.querySelector('dialog.message[open] .titlebar')?.textContent === t,
        { polling: 50 },
        title,
      );
    }
    await page.keyboard.press('Enter');
    assert.equal(await focused(page), 'Command1');
    await page.keyboard.press('Enter');
    assert.equal(await caption(page, '[data-name=monbang]'), '第 1問');
    // 長い名前で as code page 932 has it: 長 92B7, い 82A2, 名 96BC, 前 914F, で 82C5.
    assert.deepEqual(await stored(page), rankingFile([[Buffer.from('92b782a296bc914f82c5', 'hex'), total]]));
  },
);

// In each engine (WebKit's driver has no touch: there, by mouse); the browser starts within.
for (const engine of engines) {
  test(
    `a game by touch in ${engine}, a name typed through an input method, to a saved name`,
    { timeout: 120000 },
    async () => {
      const before = server.requests.length;
      const page = await openGame(await newContext(engine), gameUrl(server), 17);
      if (engine === 'chromium') await page.setViewport({ width: 580, height: 425, hasTouch: true });
      const tap = (selector) => page.tap(selector);
      await tap('dialog.message[open] button');
      const total = await playByMouse(page, tap);
      await compose(page, engine, 'やまだたろうです', '山田太郎です', async () =>
        assert.equal(await page.$eval('[data-name=Text1]', (el) => el.value), 'やまだたろうです'),
      );
      // Ten Shift-JIS bytes hold five of the six characters.
      await page.waitForFunction(() => document.querySelector('[data-name=Text1]').value === '山田太郎で');
      await tap('dialog[open] [data-name=Command1]');
      assert.equal(await ok(page), '再スタート');
      // 山田太郎で as code page 932 has it: 山 8E52, 田 9363, 太 91BE, 郎 9859, で 82C5.
      assert.deepEqual(await stored(page), rankingFile([[Buffer.from('8e52936391be985982c5', 'hex'), total]]));
      assert.deepEqual(page.errors, []);
      // The WebAssembly that the page preloads is taken from the preload, not asked for again:
      // as often as the script beside it, however often the page loads.
      const asked = (file) => server.requests.slice(before).filter((path) => path === `/${file}`).length;
      assert.equal(asked('nubora1_module.wasm'), asked('nubora1.js'));
    },
  );
}

// A static server that does not know WebAssembly's type: the page compiles the file from its
// bytes, fetched once (the preload taken).
// focus in it; a game starts and ends; 終了 (the button, or the menu) ends at once.
const beside = [
  { open: 'helpyo', form: 'Form2', end: ['[data-name=Command5]'] },
  { open: 'tokutenyo', form: 'Form3', end: ['.menu-title[data-name=m1]', '[data-name=m1d]'] },
];
for (const w of beside) {
  test(`a game started and ended with the ${w.form} window open, then 終了 from it`, { timeout: 60000 }, async () => {
    const page = await open(13, { viewport: { width: 1366, height: 768 }, started: true });
    const show = async () => {
      await page.click(`[data-name=${w.open}]`);
      await page.waitForFunction(
        (f) => document.activeElement.closest(`dialog[data-form=${f}]`),
        { polling: 50 },
        w.form,
      );
    };
    await show();
    await page.click('[data-name=helpyo]');
    assert.equal(await page.$$eval('dialog.message[open]', (d) => d.length), 1);
    assert.equal(await messageTitle(page), 'スタート');
    await page.keyboard.press('Enter');
    assert.equal(await focused(page), 'helpyo');
    assert.equal(
      await page.$$eval(`dialog[data-form=${w.form}][open], dialog.message`, (d) =>
        d.map((e) => e.className.split(' ')[0]).join(),
      ),
      'window',
    );
    await playByMouse(page);
    await page.click('dialog[data-form=Form3]:modal [data-name=Command1]');
    assert.equal(await ok(page), '再スタート');
    assert.equal(await ok(page), 'スタート');
    await show();
    for (const selector of w.end) await page.click(selector);
    await page.waitForSelector('#failure:not([hidden])');
  });
}

// Every message box takes the keyboard on its default button, however it was raised; closed
// by Enter, the message that follows it (`next`), if any, and no other: the start message, the
// game then active, comes once.
const raised = [
  { how: 'at load, after a click on its text', button: 'OK', raise: (page) => page.click('dialog.message p') },
  {
    how: 'by a tap on the game from the help window',
    button: 'OK',
    started: true,
    raise: async (page) => {
      await page.click('[data-name=helpyo]');
      await page.waitForSelector('dialog.window[open]');
      await page.tap('[data-name=helpyo]');
    },
  },
  {
    how: "初期化's question, by a tap",
    button: 'キャンセル',
    next: 'スタート',
    started: true,
    raise: async (page) => {
      await page.click('[data-name=tokutenyo]');
      await (await page.waitForSelector('dialog[open] [data-name=Command2]')).tap();
    },
  },
  ...engines.map((engine) => ({
    how: `by a click on the game away from its buttons, with 説明 open, in ${engine}`,
    button: 'OK',
    started: true,
    engine,
    raise: async (page) => {
      await page.click('[data-name=helpyo]');
      await page.waitForSelector('dialog.window[open]');
      await page.click('[data-name=monbang]');
    },
  })),
];
for (const r of raised) {
  test(`Enter on the message box raised ${r.how}`, { timeout: 60000 }, async () => {
    const page = await open(7, {
      engine: r.engine,
      viewport: { width: 1366, height: 768, hasTouch: true },
      started: r.started,
    });
    await r.raise(page);
    const box = await page.waitForSelector('dialog.message[open]');
    // The rest of the gesture that raised it (a tap's mouse events) may pass the focus by first:
    // the box takes it back.
    await page
      .waitForFunction(() => document.activeElement?.closest('dialog.message'), { polling: 50, timeout: 5000 })
      .catch(() => {});
    assert.equal(await focused(page), r.button);
    await page.keyboard.press('Enter');
    await page.waitForFunction((el) => !el.isConnected, { polling: 50 }, box);
    assert.equal((await page.$('dialog.message[open]')) && (await messageTitle(page)), r.next ?? null);
  });
}

// One press, one answer: each gesture answers the first question alone.
const gestures = {
  'a double tap 120 ms apart': (page, answer) => tapTwice(page, answer, 120),
  'Enter held down': async (page, answer) => {
    await page.focus(answer);
    for (let i = 0; i < 3; ++i) await page.keyboard.down('Enter');
    await page.keyboard.up('Enter');
  },
  'a press held while the question changes': async (page, answer) => {
    await page.hover(answer);
    await page.mouse.down();
    await page.keyboard.press('Enter');
    await page.mouse.up();
  },
};
for (const [gesture, make] of Object.entries(gestures)) {
  test(`${gesture} answers one question`, { timeout: 30000 }, async () => {
    const page = await open(5, { viewport: { width: 580, height: 425, hasTouch: true }, started: true });
    await page.click('[data-name=Command1]');
    await answerable(page);
    await make(page, '[data-name=kotae1]');
    assert.equal(await caption(page, '[data-name=monbang]'), '第 2問');
  });
}

// The bodies of the class entries `page` sends, as it sends them.
function entriesSent(page) {
  const bodies = [];
  page.on('request', (r) => {
    if (r.url().endsWith('/entries')) bodies.push(JSON.parse(r.postData()));
  });
  return bodies;
}

test(
  'two devices and the desktop program on one class link share its lists; a device without a network keeps its entry and sends it once when back online',
  {
    timeout: 90000,
    skip: withoutClassServer || (!desktopResults && 'tst_form3saving is not built'),
  },
  async (t) => {
    const cls = await classServer();
    t.after(() => cls.close());
    const [one, two] = [
      await open(51, { url: cls.link, started: true }),
      await open(52, { url: cls.link, started: true }),
    ];
    const played = [],
      sent = [one, two].map(entriesSent);
    for (const [page, name] of [
      [one, 'ONE'],
      [two, 'TWO'],
    ]) {
      if (name === 'TWO') await page.setOfflineMode(true);
      played.push([name, await playByMouse(page)]);
      await page.keyboard.type(name);
      if (name === 'TWO')
        assert.deepEqual(
          [await names(page), await caption(page, '[data-name=note]')],
          ['TWO,,,,', 'クラスにつながりません'],
        );
      await page.click('dialog[open] [data-name=Command1]');
    }
    for (const title of ['保存', '再スタート', 'スタート']) assert.equal(await ok(two), title);
    assert.ok(await strip(two, 'class-outbox'), 'to be sent later');
    assert.ok(!Buffer.from(await cls.tavon()).includes('TWO'));
    await two.setOfflineMode(false);
    await two.waitForFunction(() => !document.querySelector('#strip [data-key=class-outbox]'), { polling: 50 });
    // The desktop saves last, with ONE's score: a tie, where the later entry stands higher.
    played.push(['DESK', played[0][1]]);
    const rows = played.map(([name, score], order) => [name, score, order]).sort((a, b) => b[1] - a[1] || b[2] - a[2]);
    const lists = `${rows.map((r) => r[0])},,`;
    assert.equal(await desktopSaves(cls.link, 'DESK', played[0][1]), lists);
    for (const title of ['再スタート', 'スタート']) assert.equal(await ok(one), title);
    // Each entry the server got carries its game's ticket and log, which replay to the score shown.
    for (const [k, page] of [one, two].entries()) {
      const { ticket, log, score } = sent[k].at(-1);
      assert.equal(score, played[k][1]);
      const seed = await page.evaluate((t) => nubora.M.ticketSeed(t), ticket);
      assert.equal(typeof seed, 'number');
      assert.deepEqual(await page.evaluate((...a) => nubora.M.replayEntry(...a), seed, log, score), { score });
    }
    for (const page of [one, two]) {
      await openLists(page);
      assert.equal(await names(page), lists);
    }
    assert.deepEqual([await two.$('[data-name=import]'), await two.$('[data-name=note]')], [null, null]);
    assert.equal(await strip(two, 'class'), '３年２組の成績一覧に記録します');
    assert.deepEqual(Array.from(await cls.tavon()), rankingFile(rows));
  },
);
