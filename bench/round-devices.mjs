// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated pupils' devices of bench/round.mjs: each a node HTTP client that joins a class
// round as the page does (web/round.js) and answers its questions. Imported by the bench for
// a class of its own, and run as a worker thread (workerData.devices) for a share of the
// thousand devices, so that no one event loop's late callbacks stand for every device's: the
// worker joins its devices, tells where each put the server's clock, then answers each question
// and tells when each answer came back (messages below).
import http from 'node:http';
import { monitorEventLoopDelay } from 'node:perf_hooks';
import { isMainThread, parentPort, workerData } from 'node:worker_threads';
import { RoundClock } from '../web/roundclock.js';

export const buttons = [0, 1, 2, 4];
const pause = 3000; // classround::pauseMilliseconds
export const sleep = (ms) => new Promise((r) => setTimeout(r, Math.max(0, ms)));

// The moment question q starts on the server's clock.
export const questionStart = (round, q) => round.start + (q * (round.end - round.start + pause)) / 5;

// One HTTP call of a device: its JSON answer, with the status, and when it came back. A call on
// a kept connection that the server closed as idle meanwhile is made again, as a browser does.
export function call(device, method, path, body, again = true) {
  const text = body && JSON.stringify(body);
  return new Promise((done, fail) => {
    const request = http.request(
      {
        host: device.server.hostname,
        port: device.server.port,
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

// Forty devices of class `cls` ({n, pupils}), alternately on the servers at `on` (URLs); each
// class's from a loopback address of its own (127.0.1.N), as a school's would.
export function devices(cls, on) {
  const agents = on.map(() => new http.Agent({ keepAlive: true, localAddress: `127.0.1.${cls.n + 1}` }));
  return Array.from({ length: 40 }, (_, i) => ({
    id: `bench-${cls.n}-${i}`,
    name: `せいと${i + 1}`,
    cls,
    server: new URL(on[i % on.length]),
    agent: agents[i % on.length],
    clock: new RoundClock(Date.now),
  }));
}

// A device joins `round` as the page does: a reading of the round (the server's time, and a
// signed time) then the join with it, four times, the first at once and the others spread over
// the lead's first seconds by the page's own RoundClock.measure, each reading a sample of the
// server's clock. The device's stopwatch is the machine's clock, which is the server's on
// loopback.
export async function joinRound(device, round) {
  const base = `/api/v1/classes/${device.cls.pupils}/round`;
  await device.clock.measure(
    async () => (await call(device, 'GET', base)).body,
    4,
    async (read) => {
      const joined = await call(device, 'POST', `${base}/join`, {
        number: round.number,
        t: read.t,
        mark: read.mark,
        name: device.name,
      });
      // Refused once the round has started (409): a device whose first join came too late.
      if (joined.status === 200) device.joined = true;
      else if (joined.status !== 409) throw new Error(`${device.id} could not join: ${joined.status}`);
    },
    round.start,
  );
}

export const answer = (device, round, q, i) =>
  call(device, 'POST', `/api/v1/classes/${device.cls.pupils}/round/answers`, {
    number: round.number,
    question: q,
    button: buttons[(i + q) % 4],
  });

// Joins `all` (each device with its class's round in `rounds`, by the class's n): where each
// put the server's clock against the machine's (off, ms), the round trip of its kept sample,
// the devices refused, when the last join came back, and how late this thread ran its callbacks
// meanwhile (p99, ms): a sample's answer taken late by the simulation, not by the server.
export async function joinAll(all, rounds) {
  const lag = monitorEventLoopDelay({ resolution: 5 });
  lag.enable();
  await Promise.all(all.map((d) => joinRound(d, rounds[d.cls.n])));
  lag.disable();
  const joinedAt = Date.now();
  const joined = all.filter((d) => d.joined);
  return {
    joined,
    off: joined.map((d) => ({ n: d.cls.n, off: d.clock.now() - Date.now() })),
    trips: joined.map((d) => d.clock.roundTrip),
    late: all.length - joined.length,
    joinedAt,
    lag: lag.percentile(99) / 1e6,
  };
}

// Every device answers question q at a moment of its own in the question's first ten seconds:
// for each, whether it is of class `mine`, whether it counted, and when its answer came back.
export const answerAll = (all, rounds, q, mine) =>
  Promise.all(
    all.map(async (d, i) => {
      await sleep(Math.random() * 10000);
      const a = await answer(d, rounds[d.cls.n], q, i);
      return { mine: d.cls.n === mine, counted: a.status === 200 && !!a.body.counted, at: a.at };
    }),
  );

// A worker: workerData {classes: [{n, pupils}], on: [server URLs], rounds: {n: round}, mine}.
// Posts {joined: joinAll's figures} once its devices have joined, then {q, answers} for each of
// the five questions, answered from 300 ms after its start on class `mine`'s round.
if (!isMainThread && workerData?.classes) {
  const { classes, on, rounds, mine } = workerData;
  const all = classes.flatMap((cls) => devices(cls, on));
  const { joined, ...figures } = await joinAll(all, rounds);
  parentPort.postMessage({ joined: figures });
  const first = rounds[mine];
  for (let q = 0; q < 5; ++q) {
    await sleep(questionStart(first, q) + 300 - Date.now());
    parentPort.postMessage({ q, answers: await answerAll(joined, rounds, q, mine) });
  }
  for (const d of all) d.agent.destroy();
}
