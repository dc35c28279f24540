// SPDX-License-Identifier: GPL-3.0-or-later
// What the page's tests share: build-web/ served over HTTP on a free port, and Debian's
// Chromium, headless, with its profile in a temporary directory; the class server.
import { createServer } from 'node:http';
import { spawn, execFile } from 'node:child_process';
import { once } from 'node:events';
import { existsSync } from 'node:fs';
import { promisify } from 'node:util';
import { readFile, stat, mkdtemp, rm } from 'node:fs/promises';
import { tmpdir } from 'node:os';
import { join, extname, resolve } from 'node:path';
import { pathToFileURL } from 'node:url';
import puppeteer from 'puppeteer-core';

export const site = resolve(process.env.NUBORA_WEB_DIR || 'build-web');
// NUBORA_WEB_FROM=file: the tests play nubora1.html from file:// instead of the served site.
export const fromFile = process.env.NUBORA_WEB_FROM === 'file';
export const gameUrl = (server) => (fromFile ? pathToFileURL(join(site, 'nubora1.html')).href : server.url);

const types = { '.html': 'text/html; charset=utf-8', '.js': 'text/javascript', '.css': 'text/css',
  '.svg': 'image/svg+xml', '.png': 'image/png', '.webmanifest': 'application/manifest+json', '.wasm': 'application/wasm' };

// Serves `dir` as nginx does (a folder's address without its slash redirected to it);
// `offline.value = true` makes every request fail, as without a network. `requests`: the
// paths asked for.
export async function serve(dir = site) {
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
      res.writeHead(200, { 'content-type': types[extname(path) || '.html'] || 'application/octet-stream' });
      res.end(body);
    } catch {
      res.writeHead(404).end();
    }
  });
  await new Promise((ok) => server.listen(0, '127.0.0.1', ok));
  return { url: `http://127.0.0.1:${server.address().port}/`, offline, requests, close: () => server.close() };
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

// The class server: NUBORA_SERVER, else build/nubora1-server where it was built, else null.
export const classProgram = process.env.NUBORA_SERVER
  || [resolve('build/nubora1-server')].find((p) => existsSync(p)) || null;

// classProgram over a data folder of its own, serving the site on a free loopback port, with
// one class, "３年２組": its pupils' link, and its tavon.rnk as the teacher's page downloads it.
export async function classServer(program = classProgram) {
  const data = await mkdtemp(join(tmpdir(), 'nubora1-server-'));
  const server = spawn(program, ['serve', '--data', data, '--listen', '127.0.0.1:0', '--site', site],
    { stdio: ['ignore', 'pipe', 'inherit'] });
  let said = '';
  while (!/listening on \S+\n/.test(said)) said += (await once(server.stdout, 'data'))[0];
  const url = /listening on (\S+)/.exec(said)[1];
  const { stdout } = await promisify(execFile)(program, ['class', 'add', '３年２組', '--data', data, '--url', url]);
  const [, link, teacher] = /生徒のリンク: (\S+)\n先生のリンク: \S+\/t\/([\w-]+)\//.exec(stdout);
  return {
    link,
    tavon: async () => new Uint8Array(await (await fetch(`${url}api/v1/teachers/${teacher}/tavon.rnk`)).arrayBuffer()),
    close: async () => { server.kill(); await once(server, 'exit'); await rm(data, { recursive: true, force: true }); },
  };
}
