// SPDX-License-Identifier: GPL-3.0-or-later
// The page on the devices a class plays on: a browser that cannot run the game, or loads it
// slowly; a Chromebook's screen, in its tab, and an iPad's either way round. (The windows
// against the desktop's: layout.test.mjs.)
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { useSite } from './support.mjs';
import { ok, answeredPage } from './play.mjs';

const { open } = useSite();

// The game library taken away, or its loading failing: the page says so in Japanese, and
// nothing of the game window (made while the library loads) stays.
const unloaded = [
  {
    what: 'without WebAssembly',
    before: () => {
      delete globalThis.WebAssembly;
    },
    says: 'このブラウザーでは、このゲームを動かせません。新しいブラウザーで開いてください。',
  },
  {
    what: 'when the game library fails to load',
    before: () => {
      Object.defineProperty(globalThis, 'createNubora', {
        configurable: true,
        set() {
          Object.defineProperty(globalThis, 'createNubora', {
            value: () => Promise.reject(new Error('lost')),
            writable: true,
            configurable: true,
          });
        },
      });
    },
    says: 'ゲームを読み込めませんでした。ページを開き直してください。',
  },
  {
    what: 'when its WebAssembly fails to compile',
    before: () => {
      WebAssembly.compileStreaming = WebAssembly.instantiate = () => Promise.reject(new TypeError('lost'));
    },
    says: 'ゲームを読み込めませんでした。ページを開き直してください。',
  },
];
for (const u of unloaded) {
  test(`${u.what} the page says so in Japanese`, async () => {
    const page = await open(1, { before: u.before });
    assert.equal(await page.$eval('#failure', (el) => (el.hidden ? null : el.textContent)), u.says);
    assert.equal(await page.$eval('#page', (el) => el.childElementCount), 0);
  });
}

test('while the game library loads the page shows its notice alone, then the game window with its start message', async () => {
  const page = await open(1, {
    wait: false,
    before: () => {
      const held = new Promise((resolve) => {
        globalThis.releaseLibrary = resolve;
      });
      Object.defineProperty(globalThis, 'createNubora', {
        configurable: true,
        set(load) {
          Object.defineProperty(globalThis, 'createNubora', {
            value: (...a) => held.then(() => load(...a)),
            writable: true,
            configurable: true,
          });
        },
      });
    },
  });
  // What the pupil sees and a screen reader reads: the notice on the screen, or the game.
  const shown = () =>
    page.evaluate(() => {
      const notice = document.getElementById('loading')?.getBoundingClientRect();
      const form = document.querySelector('main.form1');
      return {
        notice: Boolean(notice && notice.height && notice.bottom <= innerHeight),
        game: getComputedStyle(form).visibility,
      };
    });
  await page.waitForSelector('main.form1 [data-name=Command1]');
  assert.deepEqual(await shown(), { notice: true, game: 'hidden' });
  assert.equal(await page.$('aria/スタート[role="button"]'), null);
  await page.evaluate(() => globalThis.releaseLibrary());
  await page.waitForSelector('dialog.message[open]');
  assert.deepEqual(await shown(), { notice: false, game: 'visible' });
  await ok(page);
  assert.ok(await page.$('aria/スタート[role="button"]'));
});

// On a Chromebook, in its tab, and on an iPad either way round: the windows open over the
// game, the page unscrolled; by touch every tap target takes taps 44 px across and high.
const targets = {
  Form1: [['.menu-title'], ['.menu:not([hidden]) .menu-item', '.menu-title[data-name=m4]']],
  Form2: [],
  Form3: [
    ['dialog.window .closebox, dialog.window .button, dialog.window .strip button'],
    ['dialog.message button', 'dialog.window [data-name=Command2]'],
  ],
};
for (const [width, height] of [
  [1366, 768],
  [1366, 635],
  [1180, 820],
  [820, 1180],
]) {
  test(
    `at ${width}×${height} the windows open over the game and every tap target is 44 px`,
    { timeout: 60000 },
    async () => {
      const page = await answeredPage(open, 3, { viewport: { width, height, hasTouch: true } });
      const small = [];
      for (const [form, from] of [['Form1'], ['Form2', 'helpyo'], ['Form3', 'tokutenyo']]) {
        if (from) {
          await page.keyboard.press('Escape');
          if (form === 'Form3') await ok(page);
          await page.click(`[data-name=${from}]`);
          const box = await (await page.waitForSelector(`dialog[data-form=${form}][open]`)).boundingBox();
          assert.ok(
            box.y >= 0 && box.y + box.height <= height && box.x >= 0 && box.x + box.width <= width,
            `${form} within the screen`,
          );
          assert.deepEqual(
            await page.evaluate(() => [
              document.scrollingElement.scrollTop,
              document.getElementById('page').getBoundingClientRect().top,
            ]),
            [0, 0],
          );
        }
        for (const [selector, open] of targets[form]) {
          if (open) await page.click(open);
          small.push(
            ...(await page.$$eval(selector, (els) =>
              els
                .map((el) => {
                  const r = el.getBoundingClientRect(),
                    x = r.left + r.width / 2,
                    y = r.top + r.height / 2;
                  const reach = (dx, dy) => {
                    let k = 0;
                    while (k < 60 && el.contains(document.elementFromPoint(x + dx * (k + 1), y + dy * (k + 1)))) ++k;
                    return k;
                  };
                  return [
                    el.dataset.name || el.textContent,
                    reach(-1, 0) + reach(1, 0) + 1,
                    reach(0, -1) + reach(0, 1) + 1,
                  ];
                })
                .filter(([, across, high]) => across < 44 || high < 44)
                .map((t) => t.join(' ')),
            )),
          );
        }
      }
      assert.deepEqual(small, []);
    },
  );
}
