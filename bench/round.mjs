// SPDX-License-Identifier: GPL-3.0-or-later
// node bench/round.mjs (make bench-round): the class round on loopback, over a PostgreSQL
// cluster of the bench's own (initdb and pg_ctl in a folder under /var/tmp or BENCH_DIR, as
// nobody when run as root, as bench/server.sh starts one) and two nubora1-server processes on
// it, without their rate limits. A device (bench/round-devices.mjs) is a node HTTP client that
// does what the pupils' page does: it reads the round and joins it four times, the first at once
// and the others spread over the lead's first seconds, keeping the server's clock as
// web/roundclock.js estimates it from those readings, then answers each question. Each class's
// devices come from a loopback address of their own (127.0.1.N), as a school's would.
// (a) One class of forty on one server: the skew of each question's start between the devices
//     (the moment each device's estimate puts it at, against the server's clock: the machine's
//     own, on loopback), p50, p99 and the largest, over the five questions.
// (b) Its teacher's board, a real page in headless Chromium: from an answer's response to the
//     board's count showing it, the forty answering one after another, p50 and p99.
// (c) Both with ROUND_CLASSES (25) classes of forty at once, each class's devices split between
//     the two servers, the board on the first class (served by the first server, so that half
//     its answers reach it through PostgreSQL's NOTIFY). The classes are shared among
//     ROUND_WORKERS (4) worker threads, each with an event loop of its own, whose callbacks'
//     lateness is told beside the figures.
// A round lasts about two minutes: the whole run, about five.
import { spawn, execFileSync } from 'node:child_process';
import { once } from 'node:events';
import { chownSync, mkdirSync, mkdtempSync, rmSync, chmodSync } from 'node:fs';
import { loadavg } from 'node:os';
import { join, resolve } from 'node:path';
import { Worker } from 'node:worker_threads';
import { launch } from '../tests/web/support.mjs';
import { answer, answerAll, devices, joinAll, questionStart, sleep } from './round-devices.mjs';

const program = resolve(process.env.NUBORA_SERVER || 'build/nubora1-server');
const classCount = Number(process.env.ROUND_CLASSES || 25);
const workerCount = Number(process.env.ROUND_WORKERS || 4);
const quantile = (xs, p) => [...xs].sort((a, b) => a - b)[Math.min(xs.length - 1, Math.floor(p * xs.length))];
const figures = (xs) => `p50 ${quantile(xs, 0.5).toFixed(1)} ms, p99 ${quantile(xs, 0.99).toFixed(1)} ms`;

// PostgreSQL 15 in `work`, on a socket there only.
const work = mkdtempSync(join(process.env.BENCH_DIR || '/var/tmp', 'nubora1-round-'));
chmodSync(work, 0o755);
const root = process.getuid() === 0;
const pg = (tool, ...args) =>
  root
    ? execFileSync('runuser', ['-u', 'nobody', '--', `/usr/lib/postgresql/15/bin/${tool}`, ...args], {
        stdio: 'ignore',
      })
    : execFileSync(`/usr/lib/postgresql/15/bin/${tool}`, args, { stdio: 'ignore' });
mkdirSync(join(work, 'pg'));
if (root) chownSync(join(work, 'pg'), 65534, 65534);
const data = join(work, 'pg', 'data');
const servers = [];
const stop = () => {
  for (const s of servers) s.process.kill();
  try {
    pg('pg_ctl', '-D', data, '-w', '-m', 'immediate', 'stop');
  } catch {}
  rmSync(work, { recursive: true, force: true });
};
process.on('exit', stop);
for (const signal of ['SIGINT', 'SIGTERM']) process.on(signal, () => process.exit(1));
pg('initdb', '-D', data, '-A', 'trust', '-U', 'postgres');
pg(
  'pg_ctl',
  '-D',
  data,
  '-w',
  '-l',
  join(work, 'pg', 'log'),
  '-o',
  `-c listen_addresses='' -k ${work}/pg -c max_connections=200`,
  'start',
);
const database = `postgresql:///postgres?host=${work}/pg&user=postgres`;

async function serve() {
  const p = spawn(program, ['serve', '--listen', '127.0.0.1:0', '--no-rate-limits', '--database', database], {
    stdio: ['ignore', 'pipe', 'inherit'],
  });
  let said = '';
  while (!/listening on \S+\n/.test(said)) said += (await once(p.stdout, 'data'))[0];
  const server = { process: p, url: new URL(/listening on (\S+)/.exec(said)[1]) };
  servers.push(server);
  return server;
}
const [first, second] = [await serve(), await serve()];

// A new class: its pupils' key and its teacher's page.
function newClass(n) {
  const said = execFileSync(
    program,
    ['class', 'add', `ラウンド${n}`, '--database', database, '--url', first.url.href],
    {
      encoding: 'utf8',
    },
  );
  const [, pupils, teacher] = /\/c\/([\w-]+)\/\n先生のリンク: (\S+)/.exec(said);
  return { n, pupils, teacher };
}

async function startRound(cls, server) {
  const r = await fetch(new URL(`/api/v1/teachers/${/\/t\/([\w-]+)\//.exec(cls.teacher)[1]}/round`, server.url), {
    method: 'POST',
    headers: { 'Content-Type': 'application/json' },
    body: JSON.stringify({ range: 0 }),
  });
  if (!r.ok) throw new Error(`the round did not start: ${r.status}`);
  return (await r.json()).round;
}

// How far apart the devices show a question: each device from the median of them all.
const between = (off) => off.map((e) => Math.abs(e - quantile(off, 0.5)));

// A teacher's board in Chromium on class `cls`, watched: the times its counts changed, with the
// question and the number answered, kept in the page (`seen`) from the board's (re)load on.
async function watch(page) {
  await page.waitForFunction(() => !document.querySelector('#round-start').disabled);
  await page.evaluate(() => {
    globalThis.seen = [];
    const note = () =>
      seen.push([
        Date.now(),
        document.querySelector('#round-question').textContent,
        Number(/答えた (\d+)/.exec(document.querySelector('#round-counts').textContent)?.[1] ?? -1),
      ]);
    new MutationObserver(note).observe(document.querySelector('#round-live'), {
      subtree: true,
      childList: true,
      characterData: true,
    });
  });
}
async function openBoard(browser, cls) {
  const page = await (await browser.createBrowserContext()).newPage();
  await page.setViewport({ width: 1920, height: 1080 });
  await page.goto(cls.teacher);
  await watch(page);
  return page;
}
// When the board first showed `count` answered to question q.
const shownAt = (page, q, count) =>
  page
    .waitForFunction(
      (label, n) => seen.find(([, question, answered]) => question === label && answered >= n)?.[0],
      { polling: 'mutation', timeout: 30000 },
      `第 ${q + 1}問`,
      count,
    )
    .then((h) => h.jsonValue());

// The messages of a worker, one at a time, in the order it posted them.
function inbox(worker) {
  const got = [];
  const waiting = [];
  let failed = null;
  worker.on('message', (m) => (waiting.length ? waiting.shift().resolve(m) : got.push(m)));
  worker.on('error', (error) => {
    failed = error;
    for (const w of waiting.splice(0)) w.reject(error);
  });
  return () =>
    got.length
      ? Promise.resolve(got.shift())
      : failed
        ? Promise.reject(failed)
        : new Promise((resolve, reject) => waiting.push({ resolve, reject }));
}

// The board's delays for question q: from each counted answer of its class coming back (`times`)
// to the board first showing that many answered; how many it never showed.
async function onBoard(board, q, times, delays) {
  let unseen = 0;
  times.sort((a, b) => a - b);
  for (const [k, at] of times.entries())
    await shownAt(board, q, k + 1).then(
      (shown) => delays.push(shown - at),
      () => ++unseen,
    );
  return unseen;
}

// A round of `classes` ({cls, on: servers}), `board` on the first. Without `workers`, the
// devices run in this thread and the board's class answers one device after another, each
// waiting for the board; else the classes are shared among that many worker threads, and every
// device answers at a moment of its own in each question's first ten seconds.
async function round(classes, board, workers = 0) {
  const rounds = Object.fromEntries(
    await Promise.all(classes.map(async ({ cls, on }) => [cls.n, await startRound(cls, on[0])])),
  );
  const mine = classes[0].cls.n;
  const delays = [];
  let missed = 0; // answers refused or not counted
  let unseen = 0; // answers the board never showed
  let joined;
  if (!workers) {
    const { cls, on } = classes[0];
    const all = devices(
      cls,
      on.map((s) => s.url.href),
    );
    const { joined: left, ...figures } = await joinAll(all, rounds);
    joined = [figures];
    for (let q = 0; q < 5; ++q) {
      await sleep(questionStart(rounds[mine], q) + 300 - Date.now());
      for (const [i, d] of left.entries()) {
        const answered = await answer(d, rounds[mine], q, i);
        delays.push((await shownAt(board, q, i + 1)) - answered.at);
      }
    }
  } else {
    const threads = Array.from(
      { length: workers },
      (_, w) =>
        new Worker(new URL('./round-devices.mjs', import.meta.url), {
          workerData: {
            classes: classes.filter((_, i) => i % workers === w).map(({ cls }) => ({ n: cls.n, pupils: cls.pupils })),
            on: classes[0].on.map((s) => s.url.href),
            rounds,
            mine,
          },
        }),
    );
    const next = threads.map(inbox);
    const ended = threads.map((t) => once(t, 'exit')); // (a worker ends with its last message)
    joined = (await Promise.all(next.map((n) => n()))).map((m) => m.joined);
    for (let q = 0; q < 5; ++q) {
      const answers = (await Promise.all(next.map((n) => n()))).flatMap((m) => m.answers);
      missed += answers.filter((a) => !a.counted).length;
      unseen += await onBoard(
        board,
        q,
        answers.filter((a) => a.mine && a.counted).map((a) => a.at),
        delays,
      );
    }
    await Promise.all(ended);
  }
  await sleep(rounds[mine].end + 500 - Date.now());
  return {
    off: joined.flatMap((j) => j.off),
    trips: joined.flatMap((j) => j.trips),
    lags: joined.map((j) => j.lag),
    late: joined.reduce((sum, j) => sum + j.late, 0),
    joinedBy: Math.max(...joined.map((j) => j.joinedAt)) - rounds[mine].start, // from the first question's start
    delays,
    missed,
    unseen,
  };
}

// A question's start on the devices: between them (all, and within a class at worst), and from
// the server's moment; the round trips of the samples the devices kept, and how late each
// thread of devices ran its callbacks meanwhile.
const report = (what, { off: placed, trips, lags, late, joinedBy }) => {
  console.log(
    `${what}: ${late} joined too late (refused); the last join ${joinedBy} ms from the first question's start`,
  );
  const off = placed.map((d) => d.off);
  const apart = between(off);
  const from = off.map(Math.abs);
  const worst = Math.max(
    ...[...new Set(placed.map((d) => d.n))].map((n) =>
      quantile(between(placed.filter((d) => d.n === n).map((d) => d.off)), 0.99),
    ),
  );
  console.log(
    `${what}: a question's start between the devices ${figures(apart)}, largest ${Math.max(...apart).toFixed(1)} ms;`,
  );
  console.log(`  within one class p99 ${worst.toFixed(1)} ms at worst`);
  console.log(`  from the server's moment ${figures(from)}, largest ${Math.max(...from).toFixed(1)} ms`);
  const where = lags.length > 1 ? `in each of its ${lags.length} worker threads` : 'in this process';
  const lateBy = lags.map((l) => l.toFixed(0)).join(', ');
  console.log(`  the kept samples' round trips ${figures(trips)}; callbacks late by ${lateBy} ms (p99) ${where}`);
};

const load = () =>
  loadavg()
    .map((l) => l.toFixed(1))
    .join(' ');
const chromium = await launch();
try {
  console.log(`load average before: ${load()}`);
  const one = newClass(0);
  const board = await openBoard(chromium.browser, one);
  const small = await round([{ cls: one, on: [first] }], board);
  report('(a) 40 devices', small);
  console.log(`(b) an answer on the board: ${figures(small.delays)} (${small.delays.length} answers)`);
  console.log(`load average: ${load()}`);

  const classes = [one, ...Array.from({ length: classCount - 1 }, (_, i) => newClass(i + 1))].map((cls) => ({
    cls,
    on: [first, second],
  }));
  await board.reload();
  await watch(board);
  const large = await round(classes, board, workerCount);
  report(`(c) ${classes.length * 40} devices on two servers`, large);
  console.log(`(c) an answer on the board: ${figures(large.delays)} (${large.delays.length} answers)`);
  console.log(`(c) answers refused or not counted: ${large.missed}; never shown on the board: ${large.unseen}`);
  console.log(`load average after: ${load()}`);
} finally {
  await chromium.close();
  stop();
}
