// SPDX-License-Identifier: GPL-3.0-or-later
// What the page's tests share: build-web/ served over HTTP on a free port, and Debian's
// browsers with their profiles in temporary directories: Chromium headless, Firefox ESR
// headless over WebDriver BiDi, WebKitGTK's MiniBrowser in an Xvfb of its own over WebDriver;
// and the class server.
import { before, after, afterEach } from 'node:test';
import { createServer } from 'node:http';
import { spawn, execFile } from 'node:child_process';
import { once } from 'node:events';
import { existsSync, mkdtempSync } from 'node:fs';
import { promisify } from 'node:util';
import { readFile, stat, mkdtemp, rm } from 'node:fs/promises';
import { tmpdir } from 'node:os';
import { join, extname, resolve } from 'node:path';
import { pathToFileURL } from 'node:url';
import puppeteer from 'puppeteer-core';
import { ok } from './play.mjs';
import { launchWebKit } from './webkit.mjs';

export const site = resolve(process.env.NUBORA_WEB_DIR || 'build-web');
// NUBORA_WEB_FROM=file: the tests play nubora1.html from file:// instead of the served site.
export const fromFile = process.env.NUBORA_WEB_FROM === 'file';
export const gameUrl = (server) => (fromFile ? pathToFileURL(join(site, 'nubora1.html')).href : server.url);

const types = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript',
  '.css': 'text/css',
  '.svg': 'image/svg+xml',
  '.png': 'image/png',
  '.webmanifest': 'application/manifest+json',
  '.wasm': 'application/wasm',
};

// Serves `dir` as nginx does (a folder's address without its slash redirected to it);
// `offline.value = true` makes every request fail, as without a network. `requests`: the
// paths asked for. `wasm`: the type the WebAssembly is sent as (a server that does not know it).
export async function serve(dir = site, { wasm = types['.wasm'] } = {}) {
  const offline = { value: false };
  const requests = [];
  const server = createServer(async (req, res) => {
    const path = decodeURIComponent(new URL(req.url, 'http://x').pathname);
    if (offline.value) return req.socket.destroy();
    requests.push(path);
    if (!path.endsWith('/') && (await stat(join(dir, path)).catch(() => null))?.isDirectory()) {
      return res.writeHead(301, { location: `${path}/` }).end();
    }
    try {
      const body = await readFile(join(dir, path.endsWith('/') ? `${path}index.html` : path));
      const type = extname(path) === '.wasm' ? wasm : types[extname(path) || '.html'] || 'application/octet-stream';
      res.writeHead(200, { 'content-type': type }).end(body);
    } catch {
      res.writeHead(404).end();
    }
  });
  await new Promise((ok) => server.listen(0, '127.0.0.1', ok));
  return { url: `http://127.0.0.1:${server.address().port}/`, offline, requests, close: () => server.close() };
}

// The engines the page is played in; `browser.createBrowserContext()` is a context with
// storage of its own in each.
export const engines = ['chromium', 'firefox', 'webkit'];

export async function launch(engine = 'chromium') {
  const profile = await mkdtemp(join(tmpdir(), `nubora1-${engine}-`));
  const env = { ...process.env, HOME: profile, XDG_CONFIG_HOME: profile, XDG_CACHE_HOME: profile };
  const browser =
    engine === 'webkit'
      ? await launchWebKit(env)
      : await puppeteer.launch({
          headless: true,
          userDataDir: profile,
          env,
          ...(engine === 'firefox'
            ? {
                browser: 'firefox',
                executablePath: process.env.FIREFOX || '/usr/bin/firefox-esr',
                extraPrefsFirefox: { 'intl.accept_languages': 'ja', 'font.language.group': 'ja' },
              }
            : {
                executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
                args: [
                  '--no-sandbox',
                  '--disable-gpu',
                  '--font-render-hinting=none',
                  '--lang=ja',
                  '--no-first-run',
                  '--disable-background-timer-throttling',
                  '--disable-renderer-backgrounding',
                  '--disable-backgrounding-occluded-windows',
                ],
              }),
        });
  return {
    browser,
    close: async () => {
      await browser.close();
      await rm(profile, { recursive: true, force: true, maxRetries: 5 });
    },
  };
}

// The server and Chromium of a test file, started before its tests and stopped after them:
// `server` and `chromium` are filled in then; `scratch`, a folder of the file's own, goes after
// them. `newContext(engine)` opens a browser context that is closed when its test ends, however
// it ends; the other engines start at their first use. `open(seed, options)`: a game's page as
// openGame makes it, in a new context in `engine`, from `url` (the game's), then sized to
// `viewport`, then `started` (its start message answered).
export function useSite() {
  const server = {},
    chromium = {},
    others = new Map(),
    opened = [];
  const scratch = mkdtempSync(join(tmpdir(), 'nubora1-test-'));
  before(async () => {
    Object.assign(server, await serve());
    Object.assign(chromium, await launch());
  });
  afterEach(async () => {
    await Promise.all(opened.splice(0).map((ctx) => ctx.close().catch(() => {})));
  });
  after(async () => {
    for (const started of others.values()) await (await started).close();
    await chromium.close?.();
    server.close?.();
    await rm(scratch, { recursive: true, force: true });
  });
  async function newContext(engine = 'chromium') {
    if (engine !== 'chromium' && !others.has(engine)) others.set(engine, launch(engine));
    const ctx = await (engine === 'chromium' ? chromium : await others.get(engine)).browser.createBrowserContext();
    opened.push(ctx);
    return ctx;
  }
  async function open(seed, { engine, url = gameUrl(server), viewport, started, ...options } = {}) {
    const page = await openGame(await newContext(engine), url, seed, options);
    if (viewport) await page.setViewport(viewport);
    if (started) await ok(page);
    return page;
  }
  return { server, chromium, scratch, newContext, open };
}

// A page of the game with its draws fixed by `seed`, ready when the start message shows (or
// the page says why the game cannot start; at once with `wait` false). `before`: a function run in
// the page before any of its scripts (to take a browser's part away); `css`: a style in force
// before the scripts run.
export async function openGame(browser, url, seed, { before = null, css = '', wait = true, timeout = 30000 } = {}) {
  const page = await browser.newPage();
  if (css)
    await page.evaluateOnNewDocument(
      (text) =>
        document.addEventListener('readystatechange', () => {
          if (document.readyState === 'interactive')
            document.head.append(Object.assign(document.createElement('style'), { textContent: text }));
        }),
      css,
    );
  await page.setViewport({ width: 580, height: 425 });
  page.errors = [];
  page.on('pageerror', (e) => page.errors.push(e));
  await page.evaluateOnNewDocument((s) => {
    globalThis.nuboraSeed = s;
  }, seed);
  if (before) await page.evaluateOnNewDocument(before);
  await page.goto(url);
  if (wait)
    await page.waitForFunction(
      () =>
        (globalThis.nubora?.ready && document.querySelector('dialog.message[open]')) ||
        document.querySelector('#failure:not([hidden])'),
      { polling: 50, timeout },
    );
  return page;
}

// A program of this build's: the one `given` (by the environment), else `path` in build/ where it
// was built, else null. The class server, and the desktop program's results window
// (tst_form3saving's desktopSavesBesideThePages).
const built = (given, path) => given || (existsSync(resolve(path)) ? resolve(path) : null);
export const classProgram = built(process.env.NUBORA_SERVER, 'build/nubora1-server');
export const desktopResults = built(process.env.NUBORA_DESKTOP_RESULTS, 'build/tests/tst_form3saving');
// Why a test of the class server is skipped, or false: a page opened from its file has no class
// link, and the server must have been built.
export const withoutClassServer =
  (fromFile && 'a class link is served') || (!classProgram && 'nubora1-server is not built');

// The desktop program, offscreen, saves `name` with `score` in range 0 on the class `link`, then
// shows the class's lists: their names as the page's `names` gives them.
export async function desktopSaves(link, name, score) {
  const { stdout } = await promisify(execFile)(desktopResults, ['desktopSavesBesideThePages'], {
    env: {
      ...process.env,
      QT_QPA_PLATFORM: 'offscreen',
      NUBORA_CLASS_LINK: link,
      NUBORA_CLASS_SAVE: `${name} ${score}`,
    },
  });
  return /lists: (.*)/.exec(stdout)?.[1];
}

// The log of a game on `ticket` that scores `score` in `range`: right answers of 10 points
// from the first question, one of what is left, time-outs after; each right button found by
// the game library's replay in `game` (a page of the game).
export function fairLog(game, ticket, range, score) {
  return game.evaluate(
    (ticket, range, score) => {
      const M = globalThis.nubora.M;
      const seed = M.ticketSeed(ticket);
      const answers = Array(5).fill('t');
      const log = () => `1;${range};${answers.join(',')}`;
      for (let q = 0, sum = 0; q < 5 && sum < score; ++q) {
        const points = Math.min(10, score - sum);
        answers[q] = [0, 1, 2, 4]
          .map((b) => `${b}@${points}`)
          .find((a) => {
            answers[q] = a;
            return M.replayEntry(seed, log(), sum + points).score === sum + points;
          });
        sum += points;
      }
      return log();
    },
    ticket,
    range,
    score,
  );
}

// The teacher's page of `cls` (classServer's) in a new page of `ctx`, once it shows the class;
// `refused`: what the page's Content Security Policy refused.
export async function teachersPage(ctx, cls) {
  const page = await ctx.newPage();
  const refused = [];
  page.on('console', (m) => /Content.Security.Policy/i.test(m.text()) && refused.push(m.text()));
  await page.goto(cls.teacher);
  await page.waitForFunction(() => document.querySelector('#name').textContent === '３年２組');
  return { page, refused };
}

// classProgram over a data folder of its own, serving the site on a free loopback port, with
// one class, "３年２組": its pupils' link, its teacher's page, its tavon.rnk as that page
// downloads it, the entries stored, a pupil's POST (entries, blank) with its JSON body, a
// teacher's POST (import: the file's bytes), the class round as a device and as the teacher
// read it, and SQL on its database.
export async function classServer(program = classProgram) {
  const data = await mkdtemp(join(tmpdir(), 'nubora1-server-'));
  const server = spawn(program, ['serve', '--data', data, '--listen', '127.0.0.1:0', '--site', site], {
    stdio: ['ignore', 'pipe', 'inherit'],
  });
  let said = '';
  while (!/listening on \S+\n/.test(said)) said += (await once(server.stdout, 'data'))[0];
  const url = /listening on (\S+)/.exec(said)[1];
  const { stdout } = await promisify(execFile)(program, ['class', 'add', '３年２組', '--data', data, '--url', url]);
  const [, link, teacher] = /生徒のリンク: (\S+)\n先生のリンク: \S+\/t\/([\w-]+)\//.exec(stdout);
  const stock = []; // the class's tickets, as one device fetched them
  return {
    link,
    teacher: `${url}t/${teacher}/`,
    tavon: async () => new Uint8Array(await (await fetch(`${url}api/v1/teachers/${teacher}/tavon.rnk`)).arrayBuffer()),
    // The entries the server stored, as the teacher's page has them ({ name, score, … }).
    entries: async () => (await (await fetch(`${url}api/v1/teachers/${teacher}`)).json()).entries,
    // What the class gets wrong, as the teacher's page has it ({ relations, periods }).
    mistakes: async () => (await (await fetch(`${url}api/v1/teachers/${teacher}`)).json()).mistakes,
    // The class's lists, as the teacher's page has them ([{ range, rows }]).
    lists: async () => (await (await fetch(`${url}api/v1/teachers/${teacher}`)).json()).lists,
    pupil: (path, body) =>
      fetch(`${url}api/v1/classes/${/\/c\/([\w-]+)\//.exec(link)[1]}/${path}`, {
        method: 'POST',
        headers: { 'Content-Type': 'application/json', 'X-Nubora-Device': 'pupils-device-1' },
        body: JSON.stringify(body),
      }),
    teacherPost: (path, body) => fetch(`${url}api/v1/teachers/${teacher}/${path}`, { method: 'POST', body }),
    // The class round as the teacher's page reads it (GET round's answer).
    teacherRound: async () => (await fetch(`${url}api/v1/teachers/${teacher}/round`)).json(),
    // A device's call on the class round: GET round, or with a body POST round/`path` (join, answers).
    round: (device, path, body) =>
      fetch(`${url}api/v1/classes/${/\/c\/([\w-]+)\//.exec(link)[1]}/round${path ? `/${path}` : ''}`, {
        method: body ? 'POST' : 'GET',
        headers: { 'Content-Type': 'application/json', 'X-Nubora-Device': device },
        body: body && JSON.stringify(body),
      }),
    // A pupil's entry ({ id, range, score, name }) of a game played fair on a ticket of the class,
    // its log found by the game library in `game` (a page of the game).
    async save(game, entry) {
      if (!stock.length) stock.push(...(await (await this.pupil('tickets', {})).json()).tickets);
      const ticket = stock.shift();
      return this.pupil('entries', { ...entry, ticket, log: await fairLog(game, ticket, entry.range, entry.score) });
    },
    // SQL statements on the class's database (nubora1.sqlite), as another program would run them.
    sql: (statements) => promisify(execFile)('sqlite3', [join(data, 'nubora1.sqlite'), statements]),
    close: async () => {
      server.kill();
      await once(server, 'exit');
      await rm(data, { recursive: true, force: true });
    },
  };
}
