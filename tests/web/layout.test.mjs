// SPDX-License-Identifier: GPL-3.0-or-later
// The page's three windows held against the desktop's, as desktop_layout writes them: every
// control's rectangle (±1 px), colours and font at scale 1 and 2; and every caption whole
// with each Japanese gothic of the page's font list that this machine has, forced first.
import { test, before } from 'node:test';
import assert from 'node:assert/strict';
import { readFile } from 'node:fs/promises';
import { readFileSync } from 'node:fs';
import { execFileSync } from 'node:child_process';
import { useSite, engines } from './support.mjs';
import { ok, axe, openLists, answeredPage } from './play.mjs';

const desktopFile = process.env.NUBORA_DESKTOP_LAYOUT || 'build/tests/desktop_layout.json';
const { open } = useSite();
let desktop;
before(async () => {
  desktop = JSON.parse(
    await readFile(desktopFile, 'utf8').catch(() => {
      throw new Error(`no ${desktopFile}: ctest -R desktop_layout writes it`);
    }),
  );
});

// Opens the game window, then the results window for viewing, then the help window, and
// hands each to visit(name) while it is open, as first drawn (its captions fitted): all that
// the visits found, as a list.
async function eachWindow(page, visit) {
  const drawn = () => page.evaluate(() => new Promise((done) => requestAnimationFrame(() => done())));
  const found = await visit('Form1');
  await openLists(page);
  await drawn();
  found.push(...(await visit('Form3')));
  await page.click('dialog[open] [data-name=Command1]');
  await ok(page); // the game window active again
  await page.click('[data-name=helpyo]');
  await page.waitForSelector('dialog.window[data-form=Form2][open]');
  await drawn();
  return [...found, ...(await visit('Form2'))];
}

// A game's page (as `open` makes it) with its start message answered (play.mjs).
const gamePage = (seed, options) => answeredPage(open, seed, options);

// The window's client area and its shown controls by name, in CSS pixels of the screen.
function shown(page, form) {
  return page.evaluate((name) => {
    const area = document.querySelector(`.client[data-form=${name}]`);
    const a = area.getBoundingClientRect();
    const hex = (rgb) => {
      const v = rgb.match(/[\d.]+/g).map(Number);
      return v.length > 3 && v[3] === 0
        ? null
        : `#${v
            .slice(0, 3)
            .map((c) => c.toString(16).padStart(2, '0'))
            .join('')}`;
    };
    const controls = {};
    for (const el of area.querySelectorAll('[data-name]')) {
      const r = el.getBoundingClientRect(),
        s = getComputedStyle(el);
      if (r.width === 0) continue;
      const caption =
        el.tagName === 'INPUT'
          ? el.value
          : el.tagName === 'FIELDSET'
            ? el.querySelector('legend').textContent
            : el.textContent;
      controls[el.dataset.name] = {
        rect: [r.left - a.left, r.top - a.top, r.width, r.height],
        back: hex(s.backgroundColor),
        text: hex(s.color),
        px: parseFloat(s.fontSize),
        bold: Number(s.fontWeight) >= 700,
        caption,
        auto: el.classList.contains('auto'),
      };
    }
    return { client: [a.width, a.height], back: hex(getComputedStyle(area).backgroundColor), controls };
  }, form);
}

// Every difference from the desktop's window, as a list.
function differences(form, page, scale) {
  const want = desktop[form],
    wrong = [];
  const same = (got, design, what) => got === design || wrong.push(`${what}: ${got} for ${design}`);
  const near = (got, design, what) =>
    Math.abs(got - design * scale) <= 1 || wrong.push(`${what}: ${got} for ${design * scale}`);
  want.client.forEach((v, i) => near(page.client[i], v, `client ${['width', 'height'][i]}`));
  same(page.back, want.back, 'ground');
  same(Object.keys(page.controls).sort().join(), Object.keys(want.controls).sort().join(), 'controls');
  for (const [name, d] of Object.entries(want.controls)) {
    const p = page.controls[name];
    if (!p) continue;
    // A label sized to its caption is placed by its top-left corner: its size is its face's.
    d.rect
      .slice(0, p.auto ? 2 : 4)
      .forEach((v, i) => near(p.rect[i], v, `${name} ${['left', 'top', 'width', 'height'][i]}`));
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

// (By touch, every small control has a larger hit area, unseen: nothing drawn moves.)
for (const [scale, touch] of [
  [1, false],
  [2, false],
  [2, true],
]) {
  test(
    `every window's controls where the desktop has them, in its colours and fonts, at scale ${scale}${touch ? ', by touch' : ''}`,
    { timeout: 30000 },
    async () => {
      const page = await gamePage(5, { scale, hasTouch: touch });
      const wrong = await eachWindow(page, async (form) =>
        differences(form, await shown(page, form), scale).map((w) => `${form}.${w}`),
      );
      assert.deepEqual(wrong, []);
      if (scale === 1) assert.deepEqual(await axe(page), []);
    },
  );
}

// The faces of the page's font list (style.css) that this machine has.
const fontList = readFileSync(new URL('../../web/style.css', import.meta.url), 'utf8')
  .match(/--gothic:([^;]+);/)[1]
  .split(',')
  .map((f) => f.trim().replace(/^["']|["']$/g, ''))
  .filter((f) => f !== 'sans-serif');
const installed = new Set(
  execFileSync('fc-list', [':', 'family'], { encoding: 'utf8' })
    .split(/[\n,]/)
    .map((f) => f.trim()),
);
const faces = fontList.filter((f) => installed.has(f));

// The captioned controls of a window: name, its box in the client area, whether its caption
// runs wider than the box (a single letter is centred and may: its ink is what counts) or
// wraps below it (a line of it more below than in); a wrapped text's first baseline less
// than 1 px from the desktop's, 0.86 em below the label's top, and the letters its lines begin
// with, where one may not begin a Japanese line. (Sizes in the window's CSS pixels.)
function captioned(page, form) {
  return page.evaluate((name) => {
    const area = document.querySelector(`.client[data-form=${name}]`),
      a = area.getBoundingClientRect();
    const zoom = Math.max(
      1,
      parseFloat(getComputedStyle(area.closest('dialog') || document.getElementById('page')).zoom),
    ); // 1 px at scale 1
    const ruler = document.createElement('canvas').getContext('2d');
    const baseline = (node) => {
      const first = document.createRange(),
        s = getComputedStyle(node.parentElement);
      first.setStart(node, 0);
      first.setEnd(node, 1);
      ruler.font = [s.fontStyle, s.fontWeight, s.fontSize, s.fontFamily].join(' ');
      return {
        at: first.getBoundingClientRect().top + ruler.measureText('x').fontBoundingBoxAscent,
        size: parseFloat(s.fontSize),
      };
    };
    return [...area.querySelectorAll('[data-name], legend')]
      .filter((el) => el.textContent.trim() && el.getBoundingClientRect().width > 0)
      .map((el) => {
        const r = el.getBoundingClientRect(),
          text = document.createRange();
        text.selectNodeContents(el);
        const node = el.classList.contains('wrap') && document.createTreeWalker(el, NodeFilter.SHOW_TEXT).nextNode();
        const first = node && baseline(node);
        const starts = [];
        for (let i = 0, top = -Infinity; node && i < node.length; ++i) {
          const letter = document.createRange();
          letter.setStart(node, i);
          letter.setEnd(node, i + 1);
          // (WebKit gives a letter at a line's end a rectangle of no width there, its own after.)
          const box = [...letter.getClientRects()].sort((p, q) => q.width - p.width)[0];
          if (box && box.top > top + box.height / 2) starts.push(node.data[i]);
          if (box) top = Math.max(top, box.top);
        }
        return {
          name: el.dataset.name || 'legend',
          box: [r.left - a.left, r.top - a.top, r.width, r.height],
          starts: starts.filter((c) => /[。、，．」』）・！？ぁぃぅぇぉっゃゅょゎァィゥェォッャュョヮヵヶ]/.test(c)),
          wide: [...el.textContent].length > 1 && el.scrollWidth > el.clientWidth + 1, // (WebKit rounds them zoomed)
          tall: [...text.getClientRects()].some((line) => (line.top + line.bottom) / 2 > r.bottom),
          low: first && Math.abs(first.at - r.top - 0.86 * first.size) >= zoom,
        };
      });
  }, form);
}

// Which face draws most of each captioned control's text, where it is not `face`.
async function otherFaces(page, form, face) {
  const cdp = await page.createCDPSession();
  await cdp.send('DOM.enable');
  await cdp.send('CSS.enable');
  const { root } = await cdp.send('DOM.getDocument', { depth: 0 });
  const { nodeIds } = await cdp.send('DOM.querySelectorAll', {
    nodeId: root.nodeId,
    selector: `.client[data-form=${form}] [data-name], .client[data-form=${form}] legend`,
  });
  const others = [];
  for (const nodeId of nodeIds) {
    const { fonts } = await cdp.send('CSS.getPlatformFontsForNode', { nodeId });
    if (!fonts.length) continue;
    const main = fonts.reduce((a, b) => (b.glyphCount > a.glyphCount ? b : a));
    if (main.familyName !== face) {
      const { attributes } = await cdp.send('DOM.getAttributes', { nodeId });
      others.push(`${attributes[attributes.indexOf('data-name') + 1]} in ${main.familyName}`);
    }
  }
  await cdp.detach();
  return others;
}

// Controls whose caption's ink is clipped at their edges: the window drawn as it is and again
// with every control's overflow shown; the pixels that differ outside every control but the
// frame (inside one, a zoomed window may be drawn a little differently) lie beside those cut.
async function clipped(page, form, controls) {
  const area = await page.$(`.client[data-form=${form}]`);
  // (A busy engine may hand back a frame from before the last change: the same picture twice is settled.)
  const settled = async () => {
    let last = await area.screenshot({ encoding: 'base64' });
    for (let shot, k = 0; k < 5 && (shot = await area.screenshot({ encoding: 'base64' })) !== last; ++k) last = shot;
    return last;
  };
  const asShown = await settled();
  const shown = (visible) =>
    page.evaluate((visible) => {
      if (visible)
        document.head.append(
          Object.assign(document.createElement('style'), {
            id: 'unclipped',
            textContent: '.client [data-name], .client legend { overflow: visible !important; }',
          }),
        );
      else document.getElementById('unclipped').remove();
      return new Promise((drawn) => requestAnimationFrame(() => drawn()));
    }, visible);
  await shown(true);
  const unclipped = await settled();
  await shown(false);
  const [width, zoom] = await page.$eval(`.client[data-form=${form}]`, (el) => [
    el.getBoundingClientRect().width,
    parseFloat(getComputedStyle(el.closest('dialog') || document.getElementById('page')).zoom),
  ]);
  return page.evaluate(
    async (shots, controls, width, zoom) => {
      const pixels = await Promise.all(
        shots.map(async (b64) => {
          const image = await createImageBitmap(await (await fetch(`data:image/png;base64,${b64}`)).blob());
          const canvas = new OffscreenCanvas(image.width, image.height),
            g = canvas.getContext('2d');
          g.drawImage(image, 0, 0);
          return g.getImageData(0, 0, image.width, image.height);
        }),
      );
      // Pixels to the window's CSS pixels (WebKit gives rectangles before the page's zoom).
      // At a zoom of no whole number a box's edge falls within a pixel and its clip is snapped to
      // a whole one: the pixel rows beside it may differ.
      const [a, b] = pixels,
        cut = new Set(),
        scale = a.width / width,
        edge = Number.isInteger(zoom) ? 0 : 1.5 / scale;
      const distance = ([l, t, w, h], x, y) => Math.hypot(Math.max(l - x, 0, x - l - w), Math.max(t - y, 0, y - t - h));
      const within = ([l, t, w, h], [m, u, v, k]) => m >= l && u >= t && m + v <= l + w && u + k <= t + h;
      const inner = controls.filter((c) => !controls.some((d) => d !== c && within(c.box, d.box))); // not the frame
      for (let i = 0; i < a.data.length; i += 4) {
        if (a.data[i] === b.data[i] && a.data[i + 1] === b.data[i + 1] && a.data[i + 2] === b.data[i + 2]) continue;
        const x = (((i / 4) % a.width) + 0.5) / scale,
          y = (Math.floor(i / 4 / a.width) + 0.5) / scale;
        if (inner.some((c) => distance(c.box, x, y) === 0)) continue;
        const near = controls.reduce((p, q) => (distance(q.box, x, y) < distance(p.box, x, y) ? q : p));
        if (distance(near.box, x, y) > edge) cut.add(near.name);
      }
      return [...cut];
    },
    [asShown, unclipped],
    controls,
    width,
    zoom,
  );
}

// Everything that keeps a caption of the window from being seen whole in `face` (or in the
// browser's own choice of the list's faces), or a line of it from beginning rightly.
async function cutCaptions(page, form, face = null) {
  const controls = await captioned(page, form);
  return [
    ...(face ? await otherFaces(page, form, face) : []),
    // (At a zoom of no whole number, WebKit rounds a window's content a pixel wider.)
    ...((await page.$eval(`.client[data-form=${form}]`, (el) => {
      const d = el.closest('dialog'),
        z = d && parseFloat(getComputedStyle(d).zoom),
        room = Number.isInteger(z) ? 0 : 1;
      return d && (d.scrollHeight > d.clientHeight + room || d.scrollWidth > d.clientWidth + room);
    }))
      ? ['window scrolled, not whole']
      : []),
    ...controls.filter((c) => c.starts.length).map((c) => `${c.name} has lines begun by ${c.starts.join('')}`),
    ...controls.filter((c) => c.wide).map((c) => `${c.name} wider than its box`),
    ...controls.filter((c) => c.tall).map((c) => `${c.name} wraps below its box`),
    ...controls.filter((c) => c.low).map((c) => `${c.name} lines not where the desktop's are`),
    ...(await clipped(page, form, controls)).map((name) => `${name} clipped`),
  ].map((what) => `${form}.${what}`);
}

test('the page has Japanese Gothic faces of its own list to show captions in', () => {
  assert.ok(faces.length >= 2, `of ${fontList.join(', ')} only ${faces.join(', ')}`);
});

for (const face of faces) {
  test(`every caption whole in ${face}, in every window and with a question shown`, { timeout: 60000 }, async () => {
    const page = await gamePage(7, { scale: 1, css: `.client { font-family: "${face}", var(--gothic) !important; }` });
    const cut = await eachWindow(page, (form) => cutCaptions(page, form, face));
    await page.click('dialog[open] [data-name=Command1]');
    await ok(page);
    await page.click('[data-name=Command1]'); // a question: its numbers, the points "10"
    await page.evaluate(() => nubora.game.countdown.stop());
    cut.push(...(await cutCaptions(page, 'Form1', face)));
    assert.deepEqual(cut, []);
  });
}

// In each engine, on a Chromebook's screen and an upright iPad's (the browsers start within).
for (const engine of engines) {
  for (const [width, height] of [
    [1366, 768],
    [820, 1180],
  ]) {
    test(
      `every caption whole and every line begun rightly in ${engine} at ${width}×${height}`,
      { timeout: 180000 },
      async () => {
        const page = await gamePage(7, { engine, viewport: { width, height } });
        assert.deepEqual(await eachWindow(page, (form) => cutCaptions(page, form)), []);
      },
    );
  }
}
