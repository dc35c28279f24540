// SPDX-License-Identifier: GPL-3.0-or-later
// Playing the page as a pupil does, for the tests: each question's right answer read from the
// page's own game model (never a second game in the page's WebAssembly, whose windows share
// the run's state).
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

// The button that answers the question showing rightly (a square proportion, whose own button
// is hidden, by the last).
export const rightAnswer = (page) =>
  page.evaluate(() => {
    const kankei = nubora.game.game.kankei();
    return kankei === 3 ? 4 : kankei;
  });

export const caption = (page, selector) => page.$eval(selector, (el) => el.textContent);
// The total shown in the game window.
export const totalShown = async (page) => Number((await caption(page, '[data-name=tokutenyo]')).trim());

// The ranking file as the page keeps it.
export const stored = (page) => page.evaluate(async () => Array.from(await nubora.file.read()));

// A ranking file as its format lays it out, written here byte by byte: records 1 to 75 of 12
// bytes from `rows` ([name, score]; a missing row is blank), each the name as ASCII text or as
// its Shift-JIS bytes (a Buffer), padded with spaces, then the score, 16-bit little-endian;
// then `tail`, the bytes after record 75.
export const blank = ['', 0];
export const rankingFile = (rows, tail = []) => [
  ...Array.from({ length: 75 }, (_, i) => {
    const [name, score] = rows[i] ?? blank,
      field = typeof name === 'string' ? Buffer.from(name, 'latin1') : name;
    return [...field, ...Array(10 - field.length).fill(0x20), score & 255, (score >> 8) & 255];
  }).flat(),
  ...tail,
];

// Opens the results window for viewing (一覧).
export async function openLists(page) {
  await page.click('[data-name=tokutenyo]');
  await page.waitForSelector('dialog.window[data-form=Form3][open]');
}

// Resolves once a question shows and takes an answer: its buttons enabled (a スタート on a class
// link may wait for the class's tickets), and a press no sooner than a glance after it.
export const answerable = (page) =>
  page.waitForFunction(
    () => !document.querySelector('[data-name=kotae0]').disabled && (nubora.game.answerable?.() ?? true),
    { polling: 20 },
  );

// The name of the control with the focus, or its caption.
export const focused = (page) =>
  page.evaluate(() => document.activeElement.dataset.name || document.activeElement.textContent);

// Two taps on `selector`, `apart` ms from one touch to the next by the events' own times.
export async function tapTwice(page, selector, apart) {
  const { x, y, width, height } = await (await page.$(selector)).boundingBox();
  const cdp = await page.createCDPSession(),
    at = Date.now() / 1000,
    point = [{ x: x + width / 2, y: y + height / 2 }];
  for (const t of [at, at + apart / 1000]) {
    await cdp.send('Input.dispatchTouchEvent', { type: 'touchStart', touchPoints: point, timestamp: t });
    await cdp.send('Input.dispatchTouchEvent', { type: 'touchEnd', touchPoints: [], timestamp: t + 0.04 });
  }
}

// A whole game by mouse (or by `press`, a tap): スタート, then each right answer. Returns the
// total shown.
export async function playByMouse(page, press = (selector) => page.click(selector)) {
  await press('[data-name=Command1]');
  for (let q = 0; q < 5; ++q) {
    await answerable(page);
    await press(`[data-name=kotae${await rightAnswer(page)}]`);
  }
  await page.waitForSelector('dialog.window[data-form=Form3][open]');
  return totalShown(page);
}

// Runs axe-core's rules over the page as it stands; resolves to the violations. The results
// window's "成績一覧" (red on green, 1.3:1) and "今回の記録" (red on pale green, 3.2:1) and the game
// window's question label (blue on red, 2.2:1) keep their designed colours, left out of the
// contrast rule unless `whole` (where more contrast is asked for, they have readable ones).
export async function axe(page, whole = false) {
  if (!(await page.evaluate(() => Boolean(globalThis.axe)))) await page.evaluate(axeSource);
  return page.evaluate(async (whole) => {
    const designed = whole
      ? {}
      : {
          exclude: [
            ['.client[data-form=Form3] [data-name=Label2]'],
            ['.client[data-form=Form3] [data-name=Label1]'],
            ['[data-name=monbang]'],
          ],
        };
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
    await cdp.send('Input.imeSetComposition', {
      text: reading,
      selectionStart: reading.length,
      selectionEnd: reading.length,
    });
    await composing();
    await cdp.send('Input.insertText', { text });
    return cdp.detach();
  }
  await page.evaluate((reading) => {
    const box = document.activeElement,
      at = box.selectionStart;
    box.dispatchEvent(new CompositionEvent('compositionstart', { bubbles: true, data: '' }));
    for (let i = 1; i <= reading.length; ++i) {
      box.dispatchEvent(new CompositionEvent('compositionupdate', { bubbles: true, data: reading.slice(0, i) }));
      box.setRangeText(reading.slice(0, i), at, at + i - 1, 'end');
      box.dispatchEvent(
        new InputEvent('input', {
          bubbles: true,
          isComposing: true,
          inputType: 'insertCompositionText',
          data: reading.slice(0, i),
        }),
      );
    }
  }, reading);
  await composing();
  await page.evaluate(
    (reading, text) => {
      const box = document.activeElement;
      box.setSelectionRange(box.selectionStart - reading.length, box.selectionStart);
      box.dispatchEvent(new CompositionEvent('compositionupdate', { bubbles: true, data: text }));
      document.execCommand('insertText', false, text);
      box.dispatchEvent(new CompositionEvent('compositionend', { bubbles: true, data: text }));
    },
    reading,
    text,
  );
}

export const strip = (page, key) =>
  page.evaluate((k) => document.querySelector(`#strip [data-key=${k}]`)?.textContent ?? null, key);
export const names = (page) =>
  page.$$eval('dialog[open] [data-name^=namae]', (cells) => cells.map((c) => c.textContent).join());

// A game's page (as useSite's `open` makes it) with its start message answered, sized to
// `viewport`; or to the results window whole at `scale`, once the page has taken that scale.
export async function answeredPage(open, seed, { scale, hasTouch = false, viewport, ...options }) {
  const page = await open(seed, {
    viewport: viewport || { width: 580 * scale, height: 480 * scale, hasTouch },
    ...options,
  });
  if (scale)
    await page.waitForFunction(
      (s) => getComputedStyle(document.documentElement).getPropertyValue('--scale').trim() === String(s),
      {},
      scale,
    );
  await ok(page);
  return page;
}

// In a class round: waits until question q stands with its answers enabled, `from` to `to` ms
// into the `point`-th point of its countdown (0: the first, while it shows 10) on the server's
// clock as the page has it, and there and then presses its right answer. Resolves to the
// question's cells, the points the countdown showed at the press and how far into the point it
// was (ms), or to {missed: true} where the page had gone on before it could press. (By default
// about the middle of the point: the page's clock and the server's, each known to a few hundred
// ms on a busy machine, then agree on the point.)
export async function roundAnswer(page, q, point = 0, from = 800, to = 1700) {
  const press = (q, point, from, to) => {
    // (Kept, so that a wait cut off just as it pressed finds the press when waited for again.)
    globalThis.roundPresses ??= {};
    if (roundPresses[q]) return roundPresses[q];
    const at = nubora.round.at();
    if (at && at.question > q) return { missed: true }; // gone by before this machine got to it
    if (at?.question !== q || document.querySelector('[data-name=kotae0]').disabled) return null;
    const tick = nubora.M.tickMilliseconds();
    if (Math.floor(at.elapsed / tick) < point) return null;
    if (Math.floor(at.elapsed / tick) > point) return { missed: true }; // gone by before this machine got to it
    const into = at.elapsed % tick;
    if (into < from || into >= to) return null;
    const cells = [...document.querySelectorAll('[data-name^=mondai]')].map((c) => c.textContent).join();
    const shown = Number(document.querySelector('[data-name=tokuten]').textContent.trim());
    const kankei = nubora.game.game.kankei();
    document.querySelector(`[data-name=kotae${kankei === 3 ? 4 : kankei}]`).click();
    roundPresses[q] = { cells, shown, into: Math.round(into) };
    return roundPresses[q];
  };
  // Waited for in pieces: WebKit's driver gives one script 30 s at most, and a question can be
  // further off than that.
  for (let piece = 1; ; ++piece) {
    try {
      const pressed = await page.waitForFunction(press, { polling: 100, timeout: 20000 }, q, point, from, to);
      return typeof pressed.jsonValue === 'function' ? await pressed.jsonValue() : pressed; // (WebKit's: the value)
    } catch (error) {
      if (piece < 4) continue;
      const state = await page.evaluate(() => ({
        at: nubora.round.at(),
        answers: document.querySelector('[data-name=kotae0]').disabled ? 'disabled' : 'enabled',
        strip: document.querySelector('#strip [data-key=round]')?.textContent,
      }));
      throw new Error(`question ${q} never stood with its answers enabled: ${JSON.stringify(state)}`, { cause: error });
    }
  }
}
