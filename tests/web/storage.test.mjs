// SPDX-License-Identifier: GPL-3.0-or-later
// The page where the browser's storage fails: no IndexedDB, no storage at all, a write refused,
// the browser's data cleared during a game; tabs saving at once, with or without IndexedDB and
// Web Locks; and the teacher's import, asked first, of files no list is made of. (A browser
// that cannot run the game: devices.test.mjs.)
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { writeFile } from 'node:fs/promises';
import { join } from 'node:path';
import { useSite, openGame, gameUrl } from './support.mjs';
import { ok, caption, stored, rankingFile, blank, playByMouse, openLists } from './play.mjs';

const { server, scratch, newContext, open } = useSite();

// The text of the message box on top.
const message = async (page) => {
  await page.waitForSelector('dialog.message[open] p');
  return page.evaluate(() => [...document.querySelectorAll('dialog.message[open] p')].pop().textContent);
};

// Each case: what is taken from the browser, the message at the start (null: none), whether
// the browser's data is cleared during the game, whether a saved game is kept, and the
// message a save gives (null: none).
const cases = [
  {
    what: 'no IndexedDB: the file in localStorage',
    before: () => {
      delete globalThis.indexedDB;
    },
    start: null,
    kept: 'local',
  },
  {
    what: 'no storage at all',
    before: () => {
      delete globalThis.indexedDB;
      Object.defineProperty(globalThis, 'localStorage', {
        get() {
          throw new DOMException('off', 'SecurityError');
        },
      });
    },
    start: 'このブラウザーには成績を記録できません。ゲームはできますが、成績は残りません。',
    kept: null,
    save: '成績を保存できませんでした。',
  },
  {
    what: 'a write refused (quota)',
    before: () => {
      IDBObjectStore.prototype.put = function () {
        throw new DOMException('full', 'QuotaExceededError');
      };
    },
    start: null,
    kept: 'old',
    save: '成績を保存できませんでした。',
  },
  { what: 'data cleared while the page is open: opened again', cleared: true, kept: 'new' },
  {
    what: 'data cleared while the page is open, not to be opened again',
    before: () => {
      const open = indexedDB.open.bind(indexedDB);
      indexedDB.open = (...a) => {
        if (globalThis.nubora) throw new DOMException('gone', 'UnknownError');
        return open(...a);
      };
    },
    cleared: true,
    save: '成績を保存できませんでした。',
  },
];
for (const c of cases) {
  test(`storage: ${c.what}`, { timeout: 30000 }, async () => {
    const page = await open(9, { before: c.before });
    if (c.start) {
      assert.equal(await message(page), c.start);
      await ok(page);
    }
    await ok(page);
    const origin = await page.evaluate(() => location.origin);
    if (c.cleared)
      await (await page.createCDPSession()).send('Storage.clearDataForOrigin', { origin, storageTypes: 'all' });
    const total = await playByMouse(page);
    await page.keyboard.type('KEEP');
    await page.keyboard.press('Enter');
    if (c.save) (assert.equal(await message(page), c.save), await ok(page));
    assert.equal(await ok(page), '再スタート');
    // (The image's text, then U+FFFF and the marks of the writes it holds.)
    const local = () =>
      page.evaluate(() => Array.from(localStorage.getItem('tavon.rnk').split('\uffff')[0], (ch) => ch.charCodeAt(0)));
    if (c.kept)
      assert.deepEqual(
        await (c.kept === 'local' ? local() : stored(page)),
        c.kept === 'old' ? [] : rankingFile([['KEEP', total]]),
      );
  });
}

test('two tabs that save at once keep both entries', { timeout: 30000 }, async () => {
  const ctx = await newContext();
  const tabs = [];
  for (const [seed, name] of [
    [31, 'ONE'],
    [32, 'TWO'],
  ]) {
    const page = await openGame(ctx, gameUrl(server), seed);
    await ok(page);
    tabs.push({ page, total: await playByMouse(page) });
    await page.keyboard.type(name);
  }
  // 戻る in both within the same moment; then each tab in front, where its page is drawn.
  await Promise.all(
    tabs.map(({ page }) => page.evaluate(() => document.querySelector('dialog[open] [data-name=Command1]').click())),
  );
  for (const { page } of tabs) {
    await page.bringToFront();
    assert.equal(await ok(page), '再スタート');
  }
  // Range 0's list: the higher score first; of equal scores, the later save's above.
  const one = ['ONE', tabs[0].total],
    two = ['TWO', tabs[1].total];
  const either = [
    [one, two],
    [two, one],
  ]
    .filter(([a, b]) => a[1] >= b[1])
    .map((rows) => JSON.stringify(rankingFile(rows)));
  assert.ok(either.includes(JSON.stringify(await stored(tabs[0].page))), 'both entries in the file');
});

// Tabs saving at once, each save adding a byte: every tab has every save, once. Where a
// browser has neither IndexedDB nor Web Locks, each tab's copy of localStorage lags behind the
// others': a save another tab's undid is made again, once the tab sees it undone.
const atOnce = [
  {
    what: 'without Web Locks',
    tabs: 3,
    saves: 10,
    before: () => {
      delete Navigator.prototype.locks;
    },
  },
  {
    what: 'with neither IndexedDB nor Web Locks (localStorage)',
    tabs: 2,
    saves: 15,
    before: () => {
      delete Navigator.prototype.locks;
      delete globalThis.indexedDB;
    },
  },
];
for (const c of atOnce) {
  test(`tabs ${c.what} that save at once lose no entry`, { timeout: 60000 }, async () => {
    const ctx = await newContext();
    const tabs = [];
    for (let t = 0; t < c.tabs; ++t) tabs.push(await openGame(ctx, gameUrl(server), 51 + t, { before: c.before }));
    await Promise.all(
      tabs.map((page, t) =>
        page.evaluate(
          (first, saves) =>
            Promise.all(
              Array.from({ length: saves }, (_, i) =>
                nubora.file.change((bytes) => Uint8Array.of(...bytes, first + i)),
              ),
            ),
          t * c.saves,
          c.saves,
        ),
      ),
    );
    const all = Array.from({ length: c.tabs * c.saves }, (_, i) => i);
    // Every tab's copy once the saves undone in one have been made again there (or the bytes as
    // they stand after ten seconds); and no save told lost.
    const whole = (page) =>
      page.waitForFunction(
        async (n) => (await nubora.file.read()).length === n,
        { polling: 50, timeout: 10000 },
        all.length,
      );
    await Promise.all(tabs.map((page) => whole(page).catch(() => {})));
    for (const page of tabs) {
      assert.deepEqual(
        (await stored(page)).sort((a, b) => a - b),
        all,
      );
      assert.deepEqual(await page.$$eval('dialog.message[open] .titlebar', (bars) => bars.map((b) => b.textContent)), [
        'スタート',
      ]);
    }
  });
}

// A save in localStorage that another tab's write undoes (lists written from before it): made
// again on the lists as they are then, or, where that write is refused, told to the pupil.
const undone = [
  { what: 'is made again', kept: [9, 7] },
  { what: 'and cannot be written again is told', refuse: true, kept: [9], said: ['スタート', '保存'] },
];
for (const u of undone) {
  test(`a save undone by another tab ${u.what}`, { timeout: 30000 }, async () => {
    const ctx = await newContext();
    const before = () => {
      delete Navigator.prototype.locks;
      delete globalThis.indexedDB;
    };
    const [one, two] = [
      await openGame(ctx, gameUrl(server), 1, { before }),
      await openGame(ctx, gameUrl(server), 2, { before }),
    ];
    await one.evaluate(
      (refuse) =>
        nubora.file
          .change((bytes) => Uint8Array.of(...bytes, 7))
          .then(() => {
            if (refuse)
              Storage.prototype.setItem = () => {
                throw new DOMException('full', 'QuotaExceededError');
              };
          }),
      Boolean(u.refuse),
    );
    await two.evaluate(() => localStorage.setItem('tavon.rnk', '\u0009'));
    const said = u.said ?? ['スタート'];
    await one.waitForFunction(
      async (kept, said) =>
        String(await nubora.file.read()) === kept &&
        document.querySelectorAll('dialog.message[open]').length === said.length,
      { polling: 50 },
      String(u.kept),
      said,
    );
    assert.deepEqual(
      await one.$$eval('dialog.message[open] .titlebar', (bars) => bars.map((b) => b.textContent)),
      said,
    );
  });
}

// Imports `bytes` into a file that holds OLD's entry, the question answered by `answer` (OK unless
// given); then the message shown (undefined: that the lists could not be read; null: none), the
// file (the bytes chosen where `kept` says so, else the old one) and record 1's name (else OLD).
const imports = [
  {
    what: 'bytes no list is made of load as the game reads them, once asked',
    bytes: [0x02, 0x00, 0x85, 0x00, ...Array(300).fill(0xff), 0x81],
    // Record 1's name field: 02 and 00 as they are, 85 (a lead byte with no trail after it) and
    // each FF as no character.
    said: null,
    kept: 'bytes',
    name: '\u0002\u0000\ufffd\u0000' + '\ufffd'.repeat(6),
  },
  {
    what: 'キャンセル to the question leaves the old lists',
    bytes: Buffer.alloc(900, 0x20),
    answer: 'キャンセル',
    said: null,
  },
  { what: 'a file over a mebibyte leaves the old lists', bytes: Buffer.alloc((1 << 20) + 1, 0x41) },
  {
    what: 'a write refused leaves the old lists',
    bytes: Buffer.alloc(900, 0x20),
    before: () => {
      const put = IDBObjectStore.prototype.put;
      IDBObjectStore.prototype.put = function (...a) {
        if (globalThis.nubora?.importing) throw new DOMException('full', 'QuotaExceededError');
        return put.apply(this, a);
      };
      addEventListener(
        'change',
        () => {
          globalThis.nubora.importing = true;
        },
        true,
      );
    },
  },
];
for (const c of imports) {
  test(`import: ${c.what}`, { timeout: 30000 }, async () => {
    const page = await open(13, { before: c.before, started: true }),
      answer = c.answer || 'OK';
    const old = rankingFile([['OLD', 33]]);
    await page.evaluate((b) => nubora.file.change(() => Uint8Array.from(b)), old);
    await openLists(page);
    const path = join(scratch, 'chosen.rnk');
    await writeFile(path, Buffer.from(c.bytes));
    const [chooser] = await Promise.all([page.waitForFileChooser(), page.click('dialog[open] [data-name=import]')]);
    await chooser.accept([path]);
    const question = await page.waitForSelector('dialog.message[open]');
    const asked = await question.evaluate((box) => ({
      title: box.querySelector('.titlebar').textContent,
      text: box.querySelector('p').textContent,
      icon: box.querySelector('.icon').className,
      focused: document.activeElement.textContent,
    }));
    assert.deepEqual(asked, {
      title: '読み込み',
      text: '成績一覧を、選んだファイルの内容に置き換えますか？',
      icon: 'icon question',
      focused: 'キャンセル',
    });
    await page.click(`xpath/.//dialog[@open]//button[text()="${answer}"]`);
    await page.waitForFunction((box) => !box.isConnected, { polling: 50 }, question);
    if (answer === 'OK')
      await page.waitForFunction(
        () =>
          document.querySelector('dialog.message[open]') ||
          document.querySelector('dialog.window[data-form=Form3][open] [data-name=namae0]')?.textContent !== 'OLD',
        { polling: 50 },
      );
    const said = (await page.$('dialog.message[open]')) ? await message(page) : null;
    assert.equal(said, c.said === undefined ? '成績一覧を読み込めませんでした。' : c.said);
    assert.deepEqual(await stored(page), c.kept === 'bytes' ? [...c.bytes] : old);
    assert.equal(await caption(page, 'dialog.window[open] [data-name=namae0]'), c.name ?? 'OLD');
  });
}

test('初期化 asks first with キャンセル the default; OK blanks records 1 to 21 alone', { timeout: 30000 }, async () => {
  const page = await open(15, { started: true });
  // Range 2 (records 11 to 15) holds KEEP; records 21 to 75 numbered; three bytes after them.
  const numbered = Array.from({ length: 55 }, (_, i) => [`R${21 + i}`, 100 + i]),
    tail = [0x41, 0x00, 0xff];
  const old = rankingFile([...Array(10).fill(blank), ['KEEP', 41], ...Array(9).fill(blank), ...numbered], tail);
  await page.evaluate((b) => nubora.file.change(() => Uint8Array.from(b)), old);
  const ask = async () => {
    await openLists(page);
    await page.click('dialog[open] [data-name=Command2]');
    await page.waitForSelector('dialog.message[open]');
    return page.evaluate(() => {
      const box = document.querySelector('dialog.message[open]');
      return {
        icon: box.querySelector('.icon').className,
        buttons: [...box.querySelectorAll('button')].map((b) => b.textContent),
        focused: document.activeElement.textContent,
      };
    });
  };
  assert.deepEqual(await ask(), { icon: 'icon question', buttons: ['OK', 'キャンセル'], focused: 'キャンセル' });
  await page.keyboard.press('Enter');
  assert.equal(await ok(page), 'スタート');
  assert.deepEqual(await stored(page), old);
  await ask();
  await ok(page); // OK
  await ok(page);
  assert.deepEqual(await stored(page), rankingFile([...Array(21).fill(blank), ...numbered.slice(1)], tail));
});
