// SPDX-License-Identifier: GPL-3.0-or-later
// WebKit for the page's tests (support.mjs's launch('webkit')): Debian's WebKitWebDriver driving
// WebKitGTK's MiniBrowser, each in an Xvfb of its own, behind the part of puppeteer's Browser and
// Page that the tests use.
import { createServer } from 'node:http';
import { spawn } from 'node:child_process';

// WebKitGTK's MiniBrowser through WebKitWebDriver, in an Xvfb of its own on a free display. A
// browser context is a WebDriver session (a MiniBrowser with storage of its own) and holds one
// page, which answers the part of puppeteer's Page that the tests use. Nothing runs before a
// page's scripts here, so a page's draws come from the clock: `nubora.seed` tells which.
const miniBrowser = process.env.MINIBROWSER || '/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser';
const element = 'element-6066-11e4-a52e-4f735466cecf';
const keyCodes = { Enter: '\uE007', Tab: '\uE004', Shift: '\uE008', Backspace: '\uE003', Space: ' ' };

export async function launchWebKit(env) {
  const xvfb = spawn('Xvfb', ['-displayfd', '3', '-screen', '0', '1600x1400x24', '-nolisten', 'tcp'], {
    stdio: ['ignore', 'ignore', 'ignore', 'pipe'],
  });
  const display = await new Promise((ok, fail) => {
    xvfb.stdio[3].once('data', (d) => ok(String(d).trim()));
    xvfb.once('exit', () => fail(new Error('Xvfb did not start')));
  });
  const port = await new Promise((ok) => {
    const probe = createServer().listen(0, '127.0.0.1', () => {
      const { port: free } = probe.address();
      probe.close(() => ok(free));
    });
  });
  const driver = spawn('WebKitWebDriver', [`--port=${port}`], {
    stdio: 'ignore',
    env: { ...env, DISPLAY: `:${display}` },
  });
  const call = async (method, path, body) => {
    // (A command WebKit never answers fails by its name within a minute.)
    const res = await fetch(`http://127.0.0.1:${port}${path}`, {
      method,
      body: body && JSON.stringify(body),
      headers: { 'content-type': 'application/json' },
      signal: AbortSignal.timeout(60000),
    }).catch((e) => {
      throw new Error(`WebDriver ${method} ${path}: ${e.message}`);
    });
    const { value } = await res.json();
    if (!res.ok) throw new Error(`WebDriver ${path}: ${value.error}: ${value.message}`);
    return value;
  };
  while (!(await call('GET', '/status').catch(() => null))) {
    // the driver listening
    if (driver.exitCode !== null) throw new Error('WebKitWebDriver did not start');
    await new Promise((r) => setTimeout(r, 50));
  }
  return {
    async createBrowserContext() {
      const { sessionId } = await call('POST', '/session', {
        capabilities: {
          alwaysMatch: {
            'webkitgtk:browserOptions': { binary: miniBrowser, args: ['--automation'] },
          },
        },
      });
      const page = webDriverPage((method, path, body) => call(method, `/session/${sessionId}${path}`, body));
      return { newPage: async () => page, close: () => call('DELETE', `/session/${sessionId}`) };
    },
    close: () =>
      Promise.all(
        [driver, xvfb].map(
          (p) =>
            new Promise((done) => {
              p.once('exit', done);
              p.kill();
            }),
        ),
      ),
  };
}

// Where an element is drawn, in the window's pixels. WebKit gives its rectangle before the zoom
// of the page's windows, and a zoomed window's top (a dialog's) at times where it is not drawn:
// that is found by hitting its title bar along its middle.
const drawnRect = `(el) => {
  let zoom = 1;
  for (let e = el; e; e = e.parentElement) zoom *= parseFloat(getComputedStyle(e).zoom) || 1;
  const r = el.getBoundingClientRect(), bar = el.closest('dialog')?.firstElementChild;
  const h = bar?.getBoundingClientRect() || { left: 0, top: 0 };
  let [left, top] = [h.left * zoom, h.top * zoom];
  if (bar) {
    const x = (h.left + h.width / 2) * zoom, hits = (x, y) => bar.contains(document.elementFromPoint(x, y));
    for (top = 0; top < innerHeight && !hits(x, top); ++top);
    for (left = 0; left < innerWidth && !hits(left, top + 2); ++left);
  }
  return [left + (r.left - h.left) * zoom, top + (r.top - h.top) * zoom, r.width * zoom, r.height * zoom];
}`;

function webDriverPage(call) {
  const wire = (v) => (v?.[element] ? handle(v[element]) : Array.isArray(v) ? v.map(wire) : v);
  // Runs the source of a function in the page with `args` (handles as elements); its value back.
  const run = async (source, args) => {
    const { value, error } = await call('POST', '/execute/async', {
      args: args.map((a) => (a?.id ? { [element]: a.id } : a)),
      script: `const done = arguments[arguments.length - 1];
        Promise.resolve().then(() => (${source}).apply(null, [].slice.call(arguments, 0, -1)))
          .then((value) => done({ value }), (e) => done({ error: String((e && e.stack) || e) }));`,
    });
    if (error) throw new Error(error);
    return wire(value);
  };
  const actions = (list) => call('POST', '/actions', { actions: list });
  const keys = (...steps) =>
    actions([
      { type: 'key', id: 'keys', actions: steps.map(([type, key]) => ({ type, value: keyCodes[key] || key })) },
    ]);
  function handle(id) {
    return {
      id,
      $: (selector) => run('(el, s) => el.querySelector(s)', [{ id }, selector]),
      $eval: (selector, fn, ...args) =>
        run(`(el, s, ...a) => (${fn})(el.querySelector(s), ...a)`, [{ id }, selector, ...args]),
      click: async () => {
        const [left, top, width, height] = await run(drawnRect, [{ id }]);
        const [x, y] = [Math.round(left + width / 2), Math.round(top + height / 2)];
        return actions([
          {
            type: 'pointer',
            id: 'mouse',
            parameters: { pointerType: 'mouse' },
            actions: [
              { type: 'pointerMove', origin: 'viewport', x, y },
              { type: 'pointerDown', button: 0 },
              { type: 'pointerUp', button: 0 },
            ],
          },
        ]);
      },
      tap() {
        return this.click();
      },
      // The window's picture cut to the element's drawn rectangle (WebKit's own cut hangs), taken
      // after two frames, so that a change just made has been drawn.
      screenshot: async () =>
        run(
          `async (el, whole) => {
        const [left, top, width, height] = (${drawnRect})(el).map(Math.round);
        const image = await createImageBitmap(await (await fetch('data:image/png;base64,' + whole)).blob(), left, top, width, height);
        const canvas = document.createElement('canvas');
        [canvas.width, canvas.height] = [image.width, image.height];
        canvas.getContext('2d').drawImage(image, 0, 0);
        return canvas.toDataURL().split(',')[1];
      }`,
          [
            { id },
            await run('() => new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r)))', []).then(() =>
              call('GET', '/screenshot'),
            ),
          ],
        ),
    };
  }
  const page = {
    on() {},
    evaluateOnNewDocument: async () => {},
    goto: (url) => call('POST', '/url', { url }),
    evaluate: (fn, ...args) => run(String(fn), args),
    evaluateHandle: (fn, ...args) => run(String(fn), args),
    // (An element gone from the document is stale to WebDriver: waiting for one to go is done.)
    waitForFunction: (fn, options, ...args) =>
      run(
        `async (...a) => {
      for (let v; ; await new Promise((r) => setTimeout(r, 50))) if ((v = await (${fn})(...a))) return v;
    }`,
        args,
      ).catch((e) => {
        if (!/stale element/.test(e.message)) throw e;
      }),
    waitForSelector: (selector) => page.waitForFunction((s) => document.querySelector(s), {}, selector),
    $: (selector) => run('(s) => document.querySelector(s)', [selector]),
    $eval: (selector, fn, ...args) => run(`(s, ...a) => (${fn})(document.querySelector(s), ...a)`, [selector, ...args]),
    click: async (selector) => (await page.$(selector)).click(),
    tap: (selector) => page.click(selector),
    keyboard: {
      press: (key) => keys(['keyDown', key], ['keyUp', key]),
      down: (key) => keys(['keyDown', key]),
      up: (key) => keys(['keyUp', key]),
      type: (text) =>
        keys(
          ...[...text].flatMap((c) => [
            ['keyDown', c],
            ['keyUp', c],
          ]),
        ),
    },
    // The window sized so that its page has `width` × `height`, whatever the browser's frame.
    async setViewport({ width, height }) {
      for (
        let tries = 3, inner;
        (inner = await page.evaluate(() => [innerWidth, innerHeight]))[0] !== width || inner[1] !== height;
      ) {
        if (!tries--) throw new Error(`the window's page stays ${inner.join('×')}`);
        const outer = await call('GET', '/window/rect');
        await call('POST', '/window/rect', {
          width: outer.width + width - inner[0],
          height: outer.height + height - inner[1],
        });
      }
      await page.evaluate(() => new Promise((drawn) => requestAnimationFrame(() => drawn()))); // the page's resize handled
    },
  };
  return page;
}
