// SPDX-License-Identifier: GPL-3.0-or-later
// A classroom on the class server: forty pupils' pages on one class link, all from one address
// (as behind a school's router), in Chromium, five devices at a time (what a loaded 2-core machine holds);
// each plays a game and saves a name, some names with markup in them. The server stores all
// forty, each once, as typed; no pupil is told the entry waits on the device. And one device's
// saved entry refused by the class server or by what stands before it (a proxy).
import { test, after } from 'node:test';
import assert from 'node:assert/strict';
import { useSite, openGame, classServer, engines, withoutClassServer } from './support.mjs';
import { ok, playByMouse, caption, rankingFile, strip, names, openLists, answerable, rightAnswer } from './play.mjs';

const { chromium, open, newContext } = useSite();
const pupils = 40,
  together = 5;
// Ten Shift-JIS bytes at most: the markup, then the pupil's number.
const nameOf = (i) => `${['<b>x</b>', '<i>y</i>', '<aki>'][i % 3]}${String(i).padStart(2, '0')}`;

test(
  'forty pupils on one class link from one address: every entry stored once, none refused',
  { timeout: 600000, skip: withoutClassServer },
  async (t) => {
    const cls = await classServer();
    t.after(() => cls.close());
    // Each pupil's first message after 戻る: 再スタート where the server took the entry (保存 says
    // it waits on the device).
    const told = [];
    for (let from = 0; from < pupils; from += together) {
      const devices = await Promise.all(
        Array.from({ length: together }, () => chromium.browser.createBrowserContext()),
      );
      try {
        await Promise.all(
          devices.map(async (device, k) => {
            // Pages starting together share two cores with the rest of the suite: more than the usual 30 s.
            const page = await openGame(device, cls.link, 100 + from + k, { timeout: 120000 });
            await ok(page);
            await playByMouse(page);
            await page.keyboard.type(nameOf(from + k));
            await page.click('dialog[open] [data-name=Command1]');
            told[from + k] = await ok(page);
          }),
        );
      } finally {
        await Promise.all(devices.map((device) => device.close()));
      }
    }
    assert.deepEqual(told, Array(pupils).fill('再スタート'));
    const names = (await cls.entries()).map((e) => e.name).sort();
    assert.deepEqual(names, Array.from({ length: pupils }, (_, i) => nameOf(i)).sort());
    // One pupil more answers every question wrong: 0 points enter no list, and the game goes to
    // the class without a name. The teacher's table holds the forty games' 200 right answers and
    // its 5 wrong ones.
    const device = await chromium.browser.createBrowserContext();
    try {
      const page = await openGame(device, cls.link, 99, { timeout: 120000 });
      await ok(page);
      await page.click('[data-name=Command1]');
      for (let q = 0; q < 5; ++q) {
        await answerable(page);
        await page.click(`[data-name=kotae${(await rightAnswer(page)) === 0 ? 1 : 0}]`);
      }
      await page.waitForSelector('dialog.window[data-form=Form3][open]');
      const sent = page.waitForResponse((r) => r.url().endsWith('/games'));
      await page.click('dialog[open] [data-name=Command1]');
      assert.equal((await sent).status(), 200);
    } finally {
      await device.close();
    }
    assert.equal((await cls.entries()).length, pupils);
    const all = (await cls.mistakes()).periods.at(-1);
    const cells = all.rows.flatMap((row, shown) => row.slice(0, 4).map((n, named) => ({ n, right: shown === named })));
    assert.deepEqual(
      [
        all.games,
        cells.filter((c) => c.right).reduce((a, c) => a + c.n, 0),
        cells.filter((c) => !c.right).reduce((a, c) => a + c.n, 0),
      ],
      [pupils + 1, pupils * 5, 5],
    );
  },
);

// What may answer a device's entry instead of the class server taking it: the entry waits, and
// goes once the server answers, the lists not opened again; or the server refuses it for good,
// and it goes into the device's own lists. (Chromium's request interception gives the answers.)
const waiting = '成績はこの機器に預けてあります。クラスにつながったときに送ります。';
const answers = [
  {
    what: "a proxy's HTML 404",
    name: 'PROXY',
    answer: (r) => r.respond({ status: 404, contentType: 'text/html', body: '<html><body>Not Found</body></html>' }),
    said: waiting,
  },
  {
    what: 'a 502 from a proxy',
    name: 'GATE',
    answer: (r) => r.respond({ status: 502, contentType: 'text/html', body: 'Bad Gateway' }),
    said: waiting,
  },
  {
    what: "the server's 429",
    name: 'BUSY',
    answer: (r) => r.respond({ status: 429, contentType: 'application/json', body: '{"error":"too many requests"}' }),
    said: waiting,
  },
  { what: 'no network', name: 'NONE', answer: (r) => r.abort('internetdisconnected'), said: waiting },
  {
    what: "the server's JSON 400",
    name: '<aki>',
    answer: (r) => r.respond({ status: 400, contentType: 'application/json', body: '{"error":"name refused"}' }),
    said: 'この成績はクラスの一覧に入れられませんでした。名前か点数を、クラスのサーバーが受け付けませんでした。この機器の一覧には残っています。',
  },
  {
    what: "the server's 422 for a game it cannot check",
    name: 'FORGE',
    answer: (r) => r.respond({ status: 422, contentType: 'application/json', body: '{"error":"ticket already used"}' }),
    said: 'この成績はクラスの一覧に入れられませんでした。このゲームは、クラスのサーバーで確かめられませんでした。この機器の一覧には残っています。',
  },
];
let answering = null; // the class server these rows share
after(() => answering?.then((cls) => cls.close()));
for (const a of answers) {
  test(
    `an entry answered by ${a.what}: ${a.said === waiting ? 'it waits, and goes once the server answers' : "refused, it stays in the device's lists"}`,
    {
      timeout: 60000,
      skip: withoutClassServer,
    },
    async () => {
      const cls = await (answering ??= classServer());
      const page = await open(61, {
        url: cls.link,
        started: true,
        before: () => {
          globalThis.nuboraRetry = 100;
        },
      });
      const devices = new Set();
      let standing = true; // the answer stands in for the server's
      await page.setRequestInterception(true);
      page.on('request', (r) => {
        if (r.url().includes('/api/')) devices.add(r.headers()['x-nubora-device']);
        if (standing && r.method() === 'POST' && r.url().endsWith('/entries')) a.answer(r);
        else r.continue();
      });
      const total = await playByMouse(page);
      await page.keyboard.type(a.name);
      await page.click('dialog[open] [data-name=Command1]');
      await page.waitForSelector('dialog.message[open] p');
      assert.equal(await caption(page, 'dialog.message[open] p'), a.said);
      assert.equal(await ok(page), '保存');
      const own = () =>
        page.evaluate(
          () =>
            new Promise((resolve) => {
              indexedDB.open('nubora1').onsuccess = (e) => {
                e.target.result.transaction('files').objectStore('files').get('tavon.rnk').onsuccess = (g) =>
                  resolve(Array.from(g.target.result ?? []));
              };
            }),
        );
      if (a.said === waiting) {
        assert.ok(await strip(page, 'class-outbox'), 'to be sent later');
        standing = false;
        await page.waitForFunction(() => !document.querySelector('#strip [data-key=class-outbox]'), { polling: 50 });
        assert.ok(Buffer.from(await cls.tavon()).includes(a.name), "in the class's lists");
        assert.deepEqual(await own(), []);
      } else {
        assert.equal(await strip(page, 'class-outbox'), null);
        assert.ok(!Buffer.from(await cls.tavon()).includes(a.name));
        assert.deepEqual(await own(), rankingFile([[a.name, total]]));
      }
      // One device id on every request, drawn from 16 random bytes.
      assert.equal(devices.size, 1);
      assert.match([...devices][0], /^[A-Za-z0-9_-]{22}$/);
    },
  );
}

test(
  "a pupil's 初期化 the teacher turned off says only the teacher clears the lists, and changes nothing",
  { timeout: 30000, skip: withoutClassServer },
  async () => {
    const cls = await (answering ??= classServer());
    const page = await open(62, { url: cls.link, started: true });
    await page.setRequestInterception(true);
    page.on('request', (r) =>
      r.method() === 'POST' && r.url().endsWith('/blank')
        ? r.respond({
            status: 403,
            contentType: 'application/json',
            body: '{"error":"only the teacher clears this class\'s lists"}',
          })
        : r.continue(),
    );
    await openLists(page);
    const before = await names(page);
    await page.click('dialog[open] [data-name=Command2]');
    assert.equal(await ok(page), '確認');
    await page.waitForSelector('dialog.message[open] p');
    assert.deepEqual(
      [await caption(page, 'dialog.message[open] p'), await ok(page)],
      ['このクラスの一覧は、先生だけが消せます。', '初期化'],
    );
    assert.equal(await ok(page), 'スタート');
    await openLists(page);
    assert.equal(await names(page), before);
  },
);

// Real games on the class link, each drawn from one of the class's tickets (fetched as the page
// opens) and replayed by the server before it takes the entry: in every engine, from
// nubora1.html, at a teacher's pace, and played offline on a ticket kept before.
const games = [
  ...engines.map((engine) => ({ how: `in ${engine}`, engine })),
  { how: 'from nubora1.html', file: 'nubora1.html' },
  { how: "at a teacher's pace", file: '?pace=2' },
  { how: 'offline, on a ticket kept before', offline: true },
];
let playing = null; // the class server these rows share
after(() => playing?.then((cls) => cls.close()));
for (const [i, g] of games.entries()) {
  test(
    `a game played ${g.how} on the class link is replayed by the server and stored`,
    {
      timeout: 120000,
      skip: withoutClassServer,
    },
    async () => {
      const cls = await (playing ??= classServer());
      const page = await open(70 + i, { engine: g.engine, url: cls.link + (g.file ?? ''), started: true });
      await page.waitForFunction(() => globalThis.nubora.file.tickets() > 0, { polling: 50 });
      if (g.offline) await page.setOfflineMode(true);
      const score = await playByMouse(page);
      await page.keyboard.type(`G${i}`);
      await page.click('dialog[open] [data-name=Command1]');
      if (g.offline) {
        assert.equal(await ok(page), '保存');
        const sent = page.waitForResponse((r) => r.url().endsWith('/entries') && r.status() === 200);
        await page.setOfflineMode(false);
        await sent;
      } else {
        assert.equal(await ok(page), '再スタート');
      }
      assert.ok(
        (await cls.entries()).some((e) => e.name === `G${i}` && e.score === score),
        `G${i} ${score}`,
      );
    },
  );
}
