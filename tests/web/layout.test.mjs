// SPDX-License-Identifier: GPL-3.0-or-later
// The page's three windows held against the desktop's, as desktop_layout writes them: every
// control's rectangle (±1 px), colours and font at scale 1 and 2; and every caption whole
// with each Japanese gothic of the page's font list that this machine has, forced first.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { readFile } from 'node:fs/promises';
import { execFileSync } from 'node:child_process';
import { serve, launch, openGame } from './support.mjs';
import { ok, axe } from './play.mjs';

const desktopFile = process.env.NUBORA_DESKTOP_LAYOUT || 'build/tests/desktop_layout.json';
let desktop, server, chromium;
before(async () => {
  desktop = JSON.parse(await readFile(desktopFile, 'utf8').catch(() => {
    throw new Error(`no ${desktopFile}: ctest -R desktop_layout writes it`);
  }));
  server = await serve();
  chromium = await launch();
});
after(async () => {
  await chromium?.close();
  server?.close();
});

// Opens the game window, then the results window for viewing, then the help window, and
// hands each to visit(name) while it is open.
async function eachWindow(page, visit) {
  await visit('Form1');
  await page.click('[data-name=tokutenyo]');
  await page.waitForSelector('dialog.window[data-form=Form3][open]');
  await visit('Form3');
  await page.click('dialog[open] [data-name=Command1]');
  await ok(page); // the game window active again
  await page.click('[data-name=helpyo]');
  await page.waitForSelector('dialog.window[data-form=Form2][open]');
  await visit('Form2');
}

async function gamePage(seed, scale = 1) {
  const ctx = await chromium.browser.createBrowserContext();
  const page = await openGame(ctx, server.url, seed);
  await page.setViewport({ width: 580 * scale, height: 480 * scale }); // the results window whole
  await page.waitForFunction((s) => getComputedStyle(document.documentElement).getPropertyValue('--scale').trim() === String(s), {}, scale);
  await ok(page);
  return { page, ctx };
}

// The window's client area and its shown controls by name, in CSS pixels of the screen.
function shown(page, form) {
  return page.evaluate((name) => {
    const area = document.querySelector(`.client[data-form=${name}]`);
    const a = area.getBoundingClientRect();
    const hex = (rgb) => {
      const v = rgb.match(/[\d.]+/g).map(Number);
      return v.length > 3 && v[3] === 0 ? null : `#${v.slice(0, 3).map((c) => c.toString(16).padStart(2, '0')).join('')}`;
    };
    const controls = {};
    for (const el of area.querySelectorAll('[data-name]')) {
      const r = el.getBoundingClientRect(), s = getComputedStyle(el);
      if (r.width === 0) continue;
      const caption = el.tagName === 'INPUT' ? el.value : el.tagName === 'FIELDSET' ? el.querySelector('legend').textContent : el.textContent;
      controls[el.dataset.name] = { rect: [r.left - a.left, r.top - a.top, r.width, r.height], back: hex(s.backgroundColor),
        text: hex(s.color), px: parseFloat(s.fontSize), bold: Number(s.fontWeight) >= 700, caption, auto: el.classList.contains('auto') };
    }
    return { client: [a.width, a.height], back: hex(getComputedStyle(area).backgroundColor), controls };
  }, form);
}

// Every difference from the desktop's window, as a list.
function differences(form, page, scale) {
  const want = desktop[form], wrong = [];
  const same = (got, design, what) => got === design || wrong.push(`${what}: ${got} for ${design}`);
  const near = (got, design, what) => Math.abs(got - design * scale) <= 1 || wrong.push(`${what}: ${got} for ${design * scale}`);
  want.client.forEach((v, i) => near(page.client[i], v, `client ${['width', 'height'][i]}`));
  same(page.back, want.back, 'ground');
  same(Object.keys(page.controls).sort().join(), Object.keys(want.controls).sort().join(), 'controls');
  for (const [name, d] of Object.entries(want.controls)) {
    const p = page.controls[name];
    if (!p) continue;
    // A label sized to its caption is placed by its top-left corner: its size is its face's.
    d.rect.slice(0, p.auto ? 2 : 4).forEach((v, i) => near(p.rect[i], v, `${name} ${['left', 'top', 'width', 'height'][i]}`));
    // A line is its colour; where a label has no ground of its own, the window's shows.
    same(p.back, d.back, `${name} ground`);
    if (d.kind === 'line') continue;
    same(p.text, d.text, `${name} text colour`);
    same(p.px, d.px, `${name} font size`); // CSS pixels, before the page's zoom
    same(p.bold, d.bold, `${name} bold`);
    if (d.caption && p.caption) same(p.caption, d.caption, `${name} caption`);
  }
  return wrong;
}

for (const scale of [1, 2]) {
  test(`every window's controls where the desktop has them, in its colours and fonts, at scale ${scale}`, { timeout: 30000 }, async () => {
    const { page, ctx } = await gamePage(5, scale);
    const wrong = [];
    await eachWindow(page, async (form) => wrong.push(...differences(form, await shown(page, form), scale).map((w) => `${form}.${w}`)));
    assert.deepEqual(wrong, []);
    if (scale === 1) assert.deepEqual(await axe(page), []);
    await ctx.close();
  });
}
