// SPDX-License-Identifier: GPL-3.0-or-later
// Playing the page as a pupil does, for the tests: the questions known from the seed by a
// second game model driven through the same events beside the page's.
import { readFileSync } from 'node:fs';
import { createRequire } from 'node:module';

const axeSource = readFileSync(createRequire(import.meta.url).resolve('axe-core/axe.min.js'), 'utf8');

// Dismisses the message box on top, by its OK button; resolves to its title.
export async function ok(page) {
  await page.waitForSelector('dialog.message[open]');
  const box = await page.evaluateHandle(() => [...document.querySelectorAll('dialog.message[open]')].pop());
  const title = await box.$eval('.titlebar', (el) => el.textContent);
  await (await box.$('button')).click();
  await page.waitForFunction((el) => !el.isConnected, { polling: 50 }, box);
  return title;
}

// The button that answers each of the game's five questions rightly, in order. The shadow
// game sees the same draws as the page's as long as every question is answered.
export function answers(page) {
  return page.evaluate(() => {
    const g = new nubora.M.Game(nubora.seed);
    const run = (step) => { if (step.nextQuestion) run(g.syutudai()); };
    g.Form_Load();
    run(g.Command1_Click());
    const right = [];
    for (let i = 0; i < 5; ++i) {
      right.push(g.kankei() === 3 ? 4 : g.kankei());
      if (i < 4) run(g.kotae_Click(right[i]));
    }
    g.delete();
    return right;
  });
}

export const caption = (page, selector) => page.$eval(selector, (el) => el.textContent);

// The ranking file as the page keeps it, and what the library's Save makes of `entries` saved
// one after the other into an empty file.
export const stored = (page) => page.evaluate(async () => Array.from(await nubora.file.read()));
export const expected = (page, entries) => page.evaluate((list) => {
  let bytes = new Uint8Array(0);
  for (const e of list) bytes = nubora.M.saveImage(bytes, e);
  return Array.from(bytes);
}, entries);

// Resolves once the question showing takes an answer: a press no sooner than a glance after it.
export const answerable = (page) => page.waitForFunction(() => nubora.game.answerable?.() ?? true, { polling: 20 });

// The name of the control with the focus, or its caption.
export const focused = (page) => page.evaluate(() => document.activeElement.dataset.name || document.activeElement.textContent);

// Two taps on `selector`, `apart` ms from one touch to the next by the events' own times.
export async function tapTwice(page, selector, apart) {
  const { x, y, width, height } = await (await page.$(selector)).boundingBox();
  const cdp = await page.createCDPSession(), at = Date.now() / 1000, point = [{ x: x + width / 2, y: y + height / 2 }];
  for (const t of [at, at + apart / 1000]) {
    await cdp.send('Input.dispatchTouchEvent', { type: 'touchStart', touchPoints: point, timestamp: t });
    await cdp.send('Input.dispatchTouchEvent', { type: 'touchEnd', touchPoints: [], timestamp: t + 0.04 });
  }
}

// A whole game by mouse (or by `press`, a tap): スタート, then each right answer. Returns the
// total shown.
export async function playByMouse(page, press = (selector) => page.click(selector)) {
  const right = await answers(page);
  await press('[data-name=Command1]');
  for (const index of right) {
    await answerable(page);
    await press(`[data-name=kotae${index}]`);
  }
  await page.waitForSelector('dialog.window[data-form=Form3][open]');
  return Number((await caption(page, '[data-name=tokutenyo]')).trim());
}

// Runs axe-core's rules over the page as it stands; resolves to the violations. The results
// window's "成績一覧" (red on green, 1.3:1) and "今回の記録" (red on pale green, 3.2:1) and the game
// window's question label (blue on red, 2.2:1) keep their designed colours, left out of the
// contrast rule unless `whole` (where more contrast is asked for, they have readable ones).
export async function axe(page, whole = false) {
  if (!(await page.evaluate(() => Boolean(globalThis.axe)))) await page.evaluate(axeSource);
  return page.evaluate(async (whole) => {
    const designed = whole ? {} : { exclude: [['.client[data-form=Form3] [data-name=Label2]'], ['.client[data-form=Form3] [data-name=Label1]'],
      ['[data-name=monbang]']] };
    const all = (await axe.run(document, { rules: { 'color-contrast': { enabled: false } } })).violations;
    const contrast = (await axe.run({ include: [['body']], ...designed }, { runOnly: ['color-contrast'] })).violations;
    return [...all, ...contrast].map((v) => `${v.id}: ${v.nodes.map((n) => n.target).join(' ')}`);
  }, whole);
}

// Types into the focused box through an input method: `reading` composed (then `composing()`
// run, to look at the box), and `text` committed in its place. Chromium's input method is
// driven through the DevTools protocol. Firefox's and WebKit's drivers have none: there the
// composition's events are sent as an input method sends them, and the commit lands through
// the browser's editor (execCommand insertText, the path of an input method's commit).
export async function compose(page, engine, reading, text, composing = async () => {}) {
  if (engine === 'chromium') {
    const cdp = await page.createCDPSession();
    await cdp.send('Input.imeSetComposition', { text: reading, selectionStart: reading.length, selectionEnd: reading.length });
    await composing();
    await cdp.send('Input.insertText', { text });
    return cdp.detach();
  }
  const events = (step, ...args) => page.evaluate(step, ...args);
  await events((reading) => {
    const box = document.activeElement, at = box.selectionStart;
    box.dispatchEvent(new CompositionEvent('compositionstart', { bubbles: true, data: '' }));
    for (let i = 1; i <= reading.length; ++i) {
      box.dispatchEvent(new CompositionEvent('compositionupdate', { bubbles: true, data: reading.slice(0, i) }));
      box.setRangeText(reading.slice(0, i), at, at + i - 1, 'end');
      box.dispatchEvent(new InputEvent('input', { bubbles: true, isComposing: true, inputType: 'insertCompositionText', data: reading.slice(0, i) }));
    }
  }, reading);
  await composing();
  await events((reading, text) => {
    const box = document.activeElement;
    box.setSelectionRange(box.selectionStart - reading.length, box.selectionStart);
    box.dispatchEvent(new CompositionEvent('compositionupdate', { bubbles: true, data: text }));
    document.execCommand('insertText', false, text);
    box.dispatchEvent(new CompositionEvent('compositionend', { bubbles: true, data: text }));
  }, reading, text);
}

// A class link: the class's tavon.rnk as the file format lays it out, range 0's records first
// (name in ASCII, padded with spaces; the score, 16-bit little-endian), then blank records to 75.
export const classFile = (rows) => Array.from({ length: 75 }, (_, i) => {
  const [name, score] = rows[i] ?? ['', 0];
  return [...Buffer.from(name.padEnd(10), 'latin1'), score & 255, (score >> 8) & 255];
}).flat();
export const strip = (page, key) => page.evaluate((k) => document.querySelector(`#strip [data-key=${k}]`)?.textContent ?? null, key);
export const names = (page) => page.$$eval('dialog[open] [data-name^=namae]', (cells) => cells.map((c) => c.textContent).join());
