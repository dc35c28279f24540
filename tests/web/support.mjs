// SPDX-License-Identifier: GPL-3.0-or-later
// What the page's tests share: build-web/ served over HTTP on a free port, and Debian's
// Chromium, headless, with its profile in a temporary directory.
import { createServer } from 'node:http';
import { readFile, mkdtemp, rm } from 'node:fs/promises';
import { tmpdir } from 'node:os';
import { join, extname, resolve } from 'node:path';
import { pathToFileURL } from 'node:url';
import puppeteer from 'puppeteer-core';

export const site = resolve(process.env.NUBORA_WEB_DIR || 'build-web');
// NUBORA_WEB_FROM=file: the tests play nubora1.html from file:// instead of the served site.
export const fromFile = process.env.NUBORA_WEB_FROM === 'file';
export const gameUrl = (server) => (fromFile ? pathToFileURL(join(site, 'nubora1.html')).href : server.url);

const types = { '.html': 'text/html; charset=utf-8', '.js': 'text/javascript', '.css': 'text/css',
  '.svg': 'image/svg+xml', '.png': 'image/png', '.webmanifest': 'application/manifest+json' };

// Serves `dir`; `offline.value = true` makes every request fail, as without a network.
export async function serve(dir = site) {
  const offline = { value: false };
  const server = createServer(async (req, res) => {
    const path = decodeURIComponent(new URL(req.url, 'http://x').pathname);
    if (offline.value) return req.socket.destroy();
    try {
      const body = await readFile(join(dir, path.endsWith('/') ? `${path}index.html` : path));
      res.writeHead(200, { 'content-type': types[extname(path) || '.html'] || 'application/octet-stream' });
      res.end(body);
    } catch {
      res.writeHead(404).end();
    }
  });
  await new Promise((ok) => server.listen(0, '127.0.0.1', ok));
  return { url: `http://127.0.0.1:${server.address().port}/`, offline, close: () => server.close() };
}

export async function launch() {
  const profile = await mkdtemp(join(tmpdir(), 'nubora1-chromium-'));
  const browser = await puppeteer.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    userDataDir: profile,
    args: ['--no-sandbox', '--disable-gpu', '--font-render-hinting=none', '--lang=ja', '--no-first-run',
      '--disable-background-timer-throttling', '--disable-renderer-backgrounding', '--disable-backgrounding-occluded-windows'],
    env: { ...process.env, HOME: profile, XDG_CONFIG_HOME: profile, XDG_CACHE_HOME: profile },
  });
  return { browser, close: async () => { await browser.close(); await rm(profile, { recursive: true, force: true }); } };
}

// A page of the game with its draws fixed by `seed`, ready when the start message shows (or
// the page says why the game cannot start). `before`: a function run in the page before any of
// its scripts (to take a browser's part away); `css`: a style in force before the scripts run.
export async function openGame(browser, url, seed, { before = null, css = '' } = {}) {
  const page = await browser.newPage();
  if (css) {
    await page.evaluateOnNewDocument((text) => document.addEventListener('readystatechange', () => {
      if (document.readyState !== 'interactive') return;
      const style = document.createElement('style');
      style.textContent = text;
      document.head.append(style);
    }), css);
  }
  await page.setViewport({ width: 580, height: 425 });
  const errors = [];
  page.on('pageerror', (e) => errors.push(e));
  await page.evaluateOnNewDocument((s) => { globalThis.nuboraSeed = s; }, seed);
  if (before) await page.evaluateOnNewDocument(before);
  await page.goto(url);
  await page.waitForFunction(() => (globalThis.nubora?.ready && document.querySelector('dialog.message[open]'))
    || document.querySelector('#failure:not([hidden])'), { polling: 50 });
  page.errors = errors;
  return page;
}

// Until the class server is built here: a stand-in for its API, keeping one class's image,
// each entry id once, and saving through `apply(image, entry | null)` (null: blank).
export async function classServer(apply, dir = site) {
  const key = 'Kx9_pupils-link-of-3-2';
  let image = new Uint8Array(0);
  const ids = new Set();
  const offline = { value: false };
  const send = (res, body) => res.writeHead(200, { 'content-type': 'application/json' }).end(JSON.stringify(body));
  const server = createServer(async (req, res) => {
    if (offline.value) return req.socket.destroy();
    const path = decodeURIComponent(new URL(req.url, 'http://x').pathname);
    let body = '';
    for await (const chunk of req) body += chunk;
    const api = /^\/api\/v1\/classes\/([\w-]+)(\/entries|\/blank)?$/.exec(path);
    if (api && api[1] !== key) return res.writeHead(404).end('{"error":"not found"}');
    if (api && !api[2]) return send(res, { name: '３年２組', image: Buffer.from(image).toString('base64') });
    if (api) {
      const entry = JSON.parse(body);
      if (!ids.has(entry.id)) image = await apply(image, api[2] === '/blank' ? null : entry);
      ids.add(entry.id);
      return send(res, { saved: true, image: Buffer.from(image).toString('base64') });
    }
    const file = path.replace(`/c/${key}/`, '/');
    try {
      const bytes = await readFile(join(dir, file.endsWith('/') ? `${file}index.html` : file));
      res.writeHead(200, { 'content-type': types[extname(file) || '.html'] || 'application/octet-stream' }).end(bytes);
    } catch {
      res.writeHead(404).end();
    }
  });
  await new Promise((ok) => server.listen(0, '127.0.0.1', ok));
  const url = `http://127.0.0.1:${server.address().port}/`;
  return { url, link: `${url}c/${key}/`, offline, tavon: async () => image, close: () => server.close() };
}
