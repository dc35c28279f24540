// SPDX-License-Identifier: GPL-3.0-or-later
// A classroom on the class server: forty pupils' pages on one class link, all from one address
// (as behind a school's router), in Chromium, ten devices at a time (what this machine holds);
// each plays a game and saves a name, some names with markup in them. The server stores all
// forty, each once, as typed; no pupil is told the entry waits on the device.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { useSite, openGame, classServer, classProgram, fromFile } from './support.mjs';
import { ok, playByMouse } from './play.mjs';

const { chromium } = useSite();
const pupils = 40,
  together = 10;
// Ten Shift-JIS bytes at most: the markup, then the pupil's number.
const nameOf = (i) => `${['<b>x</b>', '<i>y</i>', '<aki>'][i % 3]}${String(i).padStart(2, '0')}`;

test(
  'forty pupils on one class link from one address: every entry stored once, none refused',
  { timeout: 600000, skip: (fromFile && 'a class link is served') || (!classProgram && 'nubora1-server is not built') },
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
            const page = await openGame(device, cls.link, 100 + from + k);
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
  },
);
