// SPDX-License-Identifier: GPL-3.0-or-later
// The page on the screens a class plays on: a Chromebook's, in its tab, and an iPad's either way
// round. (The windows against the desktop's: layout.test.mjs.)
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { useSite } from './support.mjs';
import { ok, answeredPage } from './play.mjs';

const { open } = useSite();

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
