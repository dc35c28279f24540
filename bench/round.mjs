// SPDX-License-Identifier: GPL-3.0-or-later
// node bench/round.mjs (make bench-round): the class round on loopback, over a PostgreSQL
// cluster of the bench's own (initdb and pg_ctl in a folder under /var/tmp or BENCH_DIR, as
// nobody when run as root, as bench/server.sh starts one) and two nubora1-server processes on
// it, without their rate limits. A device is a node HTTP client that does what the pupils'
// page does: it reads the round and joins it four times, keeping the server's clock as
// web/roundclock.js estimates it from those readings, then answers each question. Each class's
// devices come from a loopback address of their own (127.0.1.N), as a school's would.
// (a) One class of forty on one server: the skew of each question's start between the devices
//     (the moment each device's estimate puts it at, against the server's clock: the machine's
//     own, on loopback), p50, p99 and the largest, over the five questions.
// (b) Its teacher's board, a real page in headless Chromium: from an answer's response to the
//     board's count showing it, the forty answering one after another, p50 and p99.
// (c) Both with ROUND_CLASSES (25) classes of forty at once, each class's devices split between
//     the two servers, the board on the first class (served by the first server, so that half
//     its answers reach it through PostgreSQL's NOTIFY).
// A round lasts about two minutes: the whole run, about five.
import { spawn, execFileSync } from 'node:child_process';
import { once } from 'node:events';
import { chownSync, mkdirSync, mkdtempSync, rmSync, chmodSync } from 'node:fs';
import http from 'node:http';
import { loadavg } from 'node:os';
import { monitorEventLoopDelay } from 'node:perf_hooks';
import { join, resolve } from 'node:path';
import { launch } from '../tests/web/support.mjs';
import { RoundClock } from '../web/roundclock.js';

const program = resolve(process.env.NUBORA_SERVER || 'build/nubora1-server');
const classCount = Number(process.env.ROUND_CLASSES || 25);
const buttons = [0, 1, 2, 4];
const pause = 3000; // classround::pauseMilliseconds
const sleep = (ms) => new Promise((r) => setTimeout(r, Math.max(0, ms)));
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

// One HTTP call of a device: its JSON answer, with the status, and when it came back. A call on
// a kept connection that the server closed as idle meanwhile is made again, as a browser does.
function call(device, method, path, body, again = true) {
  const text = body && JSON.stringify(body);
  return new Promise((done, fail) => {
    const request = http.request(
      {
        host: device.server.url.hostname,
        port: device.server.url.port,
        path,
        method,
        agent: device.agent,
        headers: {
          'X-Nubora-Device': device.id,
          ...(text ? { 'Content-Type': 'application/json', 'Content-Length': Buffer.byteLength(text) } : {}),
        },
      },
      (response) => {
        let got = '';
        response.setEncoding('utf8');
        response.on('data', (c) => (got += c));
        response.on('end', () =>
          done({ status: response.statusCode, body: got ? JSON.parse(got) : null, at: Date.now() }),
        );
      },
    );
    request.on('error', (error) =>
      again && request.reusedSocket && error.code === 'ECONNRESET'
        ? call(device, method, path, body, false).then(done, fail)
        : fail(error),
    );
    request.end(text);
  });
}

// Forty devices of class `cls`, alternately on `servers`.
function devices(cls, on) {
  const agents = on.map(() => new http.Agent({ keepAlive: true, localAddress: `127.0.1.${cls.n + 1}` }));
  return Array.from({ length: 40 }, (_, i) => ({
    id: `bench-${cls.n}-${i}`,
    name: `せいと${i + 1}`,
    cls,
    server: on[i % on.length],
    agent: agents[i % on.length],
    clock: new RoundClock(Date.now),
  }));
}

// A device joins round `number` as the page does (web/round.js): a reading of the round (the
// server's time, and a signed time) then the join with it, four times, each reading a sample of the server's
// clock. The device's stopwatch is the machine's clock, which is the server's on loopback.
async function joinRound(device, number) {
  const base = `/api/v1/classes/${device.cls.pupils}/round`;
  await device.clock.measure(
    async () => (await call(device, 'GET', base)).body,
    4,
    async (read) => {
      const joined = await call(device, 'POST', `${base}/join`, {
        number,
        t: read.t,
        mark: read.mark,
        name: device.name,
      });
      // Refused once the round has started (409): a device whose first join came too late.
      if (joined.status === 200) device.joined = true;
      else if (joined.status !== 409) throw new Error(`${device.id} could not join: ${joined.status}`);
    },
  );
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

// The moment question q starts on the server's clock.
const questionStart = (round, q) => round.start + (q * (round.end - round.start + pause)) / 5;

// Where each device puts the server's moments, in ms from where they are: its estimate of the
// server's clock less the machine's clock, which the server's is. A question shows on a device
// when its estimate reaches the question's start: every question is off by this, as the devices
// sample the clock only as they join.
const errors = (all) =>
  all.map((d) => {
    const local = Date.now();
    return d.clock.now() - local;
  });
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

// A round of `classes` (each with its devices); `board` on the first. `oneByOne`: the board's
// class answers one device after another, each waiting for the board; else every device
// answers at a moment of its own in each question's first ten seconds.
async function round(classes, board, oneByOne) {
  const rounds = await Promise.all(classes.map(({ cls, on }) => startRound(cls, on[0])));
  const all = classes.flatMap((c) => c.devices);
  // How late this process ran its callbacks while the devices joined: a sample's answer taken
  // late by the simulation, not by the server or the network.
  const lag = monitorEventLoopDelay({ resolution: 5 });
  lag.enable();
  await Promise.all(classes.map((c, i) => Promise.all(c.devices.map((d) => joinRound(d, rounds[i].number)))));
  lag.disable();
  const joinedBy = Date.now() - rounds[0].start; // from the first question's start
  const late = all.filter((d) => !d.joined);
  for (const c of classes) c.devices = c.devices.filter((d) => d.joined);
  all.splice(0, all.length, ...all.filter((d) => d.joined));
  const skew = errors(all);
  const delays = [];
  let missed = 0; // answers refused or not counted
  let unseen = 0; // answers the board never showed
  for (let q = 0; q < 5; ++q) {
    await sleep(questionStart(rounds[0], q) + 300 - Date.now());
    const answer = (d, i) =>
      call(d, 'POST', `/api/v1/classes/${d.cls.pupils}/round/answers`, {
        number: rounds[classes.findIndex((c) => c.cls === d.cls)].number,
        question: q,
        button: buttons[(i + q) % 4],
      });
    if (oneByOne) {
      for (const [i, d] of classes[0].devices.entries()) {
        const answered = await answer(d, i);
        delays.push((await shownAt(board, q, i + 1)) - answered.at);
      }
    } else {
      const answered = await Promise.all(
        all.map(async (d, i) => {
          await sleep(Math.random() * 10000);
          return [d.cls === classes[0].cls, await answer(d, i)];
        }),
      );
      const times = answered.filter(([mine, a]) => mine && a.status === 200 && a.body.counted).map(([, a]) => a.at);
      missed += answered.filter(([, a]) => a.status !== 200 || !a.body.counted).length;
      times.sort((a, b) => a - b);
      for (const [k, at] of times.entries())
        await shownAt(board, q, k + 1).then(
          (shown) => delays.push(shown - at),
          () => ++unseen,
        );
    }
  }
  await sleep(rounds[0].end + 500 - Date.now());
  return {
    skew,
    delays,
    trips: all.map((d) => d.clock.roundTrip),
    lag: lag.percentile(99) / 1e6,
    late,
    joinedBy,
    missed,
    unseen,
  };
}

// A question's start on the devices: between them, and from the server's moment; the round
// trips of the samples the devices kept, and how late the simulation ran meanwhile.
const report = (what, { skew: off, trips, lag, late, joinedBy }) => {
  console.log(
    `${what}: ${late.length} joined too late (refused); the last join ${joinedBy} ms from the first question's start`,
  );
  const apart = between(off);
  const from = off.map(Math.abs);
  console.log(
    `${what}: a question's start between the devices ${figures(apart)}, largest ${Math.max(...apart).toFixed(1)} ms;`,
  );
  console.log(`  from the server's moment ${figures(from)}, largest ${Math.max(...from).toFixed(1)} ms`);
  console.log(
    `  the kept samples' round trips ${figures(trips)}; this process's callbacks late by ${lag.toFixed(0)} ms (p99)`,
  );
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
  const small = await round([{ cls: one, on: [first], devices: devices(one, [first]) }], board, true);
  report('(a) 40 devices', small);
  console.log(`(b) an answer on the board: ${figures(small.delays)} (${small.delays.length} answers)`);

  const classes = [one, ...Array.from({ length: classCount - 1 }, (_, i) => newClass(i + 1))].map((cls) => ({
    cls,
    on: [first, second],
    devices: devices(cls, [first, second]),
  }));
  await board.reload();
  await watch(board);
  const large = await round(classes, board, false);
  report(`(c) ${classes.length * 40} devices on two servers`, large);
  console.log(`(c) an answer on the board: ${figures(large.delays)} (${large.delays.length} answers)`);
  console.log(`(c) answers refused or not counted: ${large.missed}; never shown on the board: ${large.unseen}`);
  console.log(`load average after: ${load()}`);
} finally {
  await chromium.close();
  stop();
}
