// SPDX-License-Identifier: GPL-3.0-or-later
// The game as a screen reader meets it, read from Chromium's accessibility tree: the
// correspondence table with its rows headed ｘ and ｙ, and each question, answer, time-out and
// results opening said once, in order, through the live region, the focus staying put.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { useSite, gameUrl } from './support.mjs';
import { ok, axe, rightAnswer, focused, openLists } from './play.mjs';

const { server, open } = useSite();

// The tree's nodes by id, and the texts under a node, in order.
async function tree(cdp) {
  const { nodes } = await cdp.send('Accessibility.getFullAXTree');
  const byId = new Map(nodes.map((n) => [n.nodeId, n]));
  const find = (role, name) =>
    nodes.find((n) => !n.ignored && n.role?.value === role && (name === undefined || n.name?.value === name));
  const kids = (n) => (n.childIds || []).map((id) => byId.get(id)).filter(Boolean);
  const texts = (n) => (n.role?.value === 'StaticText' ? [n.name.value] : kids(n).flatMap(texts));
  return { find, kids, texts };
}

// Lets `ms` of the page's time pass at once; the page's time then runs as fast as it can.
async function advance(cdp, ms) {
  const expired = new Promise((done) => cdp.once('Emulation.virtualTimeBudgetExpired', done));
  await cdp.send('Emulation.setVirtualTimePolicy', { policy: 'advance', budget: ms });
  await expired;
}

// What the game library says at each step of `plan` (right | wrong | timeout per question),
// played beforehand in a game of its own from the seed the page's games take, in a WebAssembly
// instance of its own (a second game in the page's would write the run's state that its windows share):
// [スタート, q1 ... q5, results].
function sayings(page, plan) {
  return page.evaluate(async (plan) => {
    const M = await createNubora(),
      g = new M.Game(M.tickMilliseconds());
    const heading = M.design('Form3').controls.find((c) => c.name === 'Label2').caption;
    const said = [[]],
      tables = [];
    const run = (step, into) => {
      into.push(...step.said);
      if (step.nextQuestion) run(g.syutudai(), into);
    };
    g.Form_Load();
    run(g.Command1_Click(nuboraSeed), said[0]);
    for (const how of plan) {
      const right = g.kankei() === 3 ? 4 : g.kankei();
      tables.push(g.screen().mondai);
      const now = [];
      if (how === 'timeout') {
        let step;
        do {
          step = g.Timer1_Timer();
          run(step, now);
        } while (step.said.length === 0);
      } else run(g.kotae_Click(how === 'right' ? right : (right + 1) % 3), now);
      said.push(now);
    }
    said.push([new M.Results(new Uint8Array(0)).said(heading)]);
    g.delete();
    return { said, tables };
  }, plan);
}

test('the table and every utterance of a game as the accessibility tree has them', { timeout: 60000 }, async () => {
  const page = await open(19, { started: true });
  const cdp = await page.createCDPSession();
  const plan = ['right', 'wrong', 'right', 'right', 'timeout'];
  const { said, tables } = await sayings(page, plan);
  let heard = [];
  // After each step: the live region heard (the one of the modal window on top, if any) holds
  // what was said before and then exactly `now`, each once.
  const hear = async (now, anew = false) => {
    if (anew) heard = [];
    heard.push(...now);
    await page.waitForFunction(
      (last) => [...document.querySelectorAll('.live p:last-child')].some((p) => p.textContent === last),
      { polling: 50 },
      heard.at(-1),
    );
    const t = await tree(cdp);
    const log = t.texts(t.find('log'));
    assert.deepEqual(log, heard.slice(-Math.max(log.length, Math.min(heard.length, 6))), 'said once each, in order');
  };
  await page.click('[data-name=Command1]');
  await hear(said[0]);
  for (const [i, how] of plan.entries()) {
    const t = await tree(cdp);
    const rows = t.kids(t.find('table', '対応表')).flatMap((n) => (n.role.value === 'row' ? [n] : t.kids(n)));
    assert.deepEqual(
      rows.map((row) => t.kids(row).map((cell) => [cell.role.value, t.texts(cell).join('')])),
      [
        ['ｘ', ...tables[i].slice(0, 5)],
        ['ｙ', ...tables[i].slice(5)],
      ].map(([head, ...cells]) => [['rowheader', head], ...cells.map((text) => ['cell', text])]),
      `question ${i + 1}'s table`,
    );
    const focus = await focused(page);
    if (how === 'timeout') {
      await advance(cdp, 11 * 2000 + 100); // the ten points and the tick after them
      await cdp.send('Emulation.setVirtualTimePolicy', { policy: 'advance' });
    } else {
      const index = await rightAnswer(page);
      await page.evaluate(
        (k) => document.querySelector(`[data-name=kotae${k}]`).click(),
        how === 'right' ? index : (index + 1) % 3,
      );
    }
    if (i < 4) {
      await hear(said[i + 1]);
      assert.equal(await focused(page), focus, 'the focus stays');
    }
  }
  await page.waitForSelector('dialog.window[data-form=Form3][open]');
  await hear([...said[5], ...said[6]], true);
});

test('where more contrast is asked for, every caption passes the contrast rule', { timeout: 30000 }, async () => {
  const page = await open(2, { started: true });
  const cdp = await page.createCDPSession(); // (puppeteer's own call knows no prefers-contrast)
  await cdp.send('Emulation.setEmulatedMedia', { features: [{ name: 'prefers-contrast', value: 'more' }] });
  await page.click('[data-name=Command1]'); // the question's number showing
  assert.deepEqual(await axe(page, true), []);
  await openLists(page);
  assert.deepEqual(await axe(page, true), []);
});

// Each window opened from the keyboard, named by its caption, closed from the keyboard.
const windows = [
  { from: 'helpyo', form: 'Form2', close: 'Escape' },
  { from: 'tokutenyo', form: 'Form3', close: 'Enter' }, // on 戻る, which has the focus
];
for (const w of windows) {
  test(
    `the ${w.form} window is named by its caption and gives the focus back to ${w.from}`,
    { timeout: 30000 },
    async () => {
      const page = await open(4, { started: true });
      await page.focus(`[data-name=${w.from}]`);
      await page.keyboard.press('Enter');
      await page.waitForSelector(`dialog.window[data-form=${w.form}][open]`);
      const t = await tree(await page.createCDPSession());
      const caption = await page.$eval('dialog[open] .titlebar', (el) => el.firstChild.textContent);
      assert.ok(t.find('dialog', caption), `a dialog named ${caption}`);
      // The results window's lists are tables named by their headings.
      for (const list of w.form === 'Form3' ? ['成績一覧', 'あなたの記録'] : [])
        assert.ok(t.find('table', list), `a table named ${list}`);
      await page.keyboard.press(w.close);
      await page.waitForFunction(() => !document.querySelector('dialog.window[open]'), { polling: 50 });
      assert.equal(await ok(page), 'スタート'); // the game window active again
      assert.equal(await focused(page), w.from);
    },
  );
}

// The board read in order, each mark after its question's number, the number and the points in
// words; the range items named by their captions alone.
test('the board reads in order and the range items by their captions', { timeout: 30000 }, async () => {
  const page = await open(19, { started: true });
  // スタート and two answers, the right one and a wrong one, before the countdown can tick.
  await page.evaluate(() => {
    const press = (name) => document.querySelector(`[data-name=${name}]`).click(),
      k = () => nubora.game.game.kankei();
    press('Command1');
    for (const wrong of [0, 1]) press(`kotae${((k() === 3 ? 4 : k()) + wrong) % 3}`);
    nubora.game.countdown.stop();
  });
  await page.click('.menu-title[data-name=m4]');
  const t = await tree(await page.createCDPSession()),
    read = t.texts(t.find('main'));
  const board = read.slice(read.indexOf('1'), read.indexOf('1') + 9);
  assert.deepEqual(board, ['1', '○', '2', '×', '3', '4', '5', '第3問', '10点']);
  const items = await page.evaluate(() => [0, 1, 2, 3].map((i) => nubora.M.rangeName(i)));
  assert.deepEqual(
    items.map((name) => Boolean(t.find('menuitemradio', name))),
    [true, true, true, true],
  );
});

// A teacher's link sets the pace: the points after 13 s of the page's time, and the strip.
const paces = [
  ['', ' 4', false],
  ['?pace=1.5', ' 6', true],
  ['?pace=2', ' 7', true],
  ['?pace=3', ' 8', true],
  ['?pace=1.3', ' 4', false],
  ['?pace=2.0', ' 4', false],
];
test(
  'a pace of 1.5, 2 or 3 set by the link slows the countdown and says so; no other',
  { timeout: 90000 },
  async () => {
    for (const [query, points, told] of paces) {
      const page = await open(19, { url: gameUrl(server) + query });
      assert.equal(await page.evaluate(() => Boolean(document.querySelector('#strip:not([hidden])'))), told, query);
      await ok(page);
      await page.click('[data-name=Command1]');
      await advance(await page.createCDPSession(), 13000);
      assert.equal(await page.$eval('[data-name=tokuten]', (el) => el.textContent), points, query);
    }
  },
);
