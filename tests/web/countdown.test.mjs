// SPDX-License-Identifier: GPL-3.0-or-later
// The question timer without a browser: ticks on their marks, counted from elapsed time, and a
// tab held back in the background running the ticks it missed, each for its own mark.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { Countdown } from '../../web/countdown.js';
import { RoundClock } from '../../web/roundclock.js';

// A clock the test moves; the one waiting timeout fires when its time has come.
function fakeClock() {
  const clock = { t: 0, pending: null, now: () => clock.t };
  clock.set = (f, ms) => {
    clock.pending = { f, at: clock.t + ms };
    return 1;
  };
  clock.clear = () => {
    clock.pending = null;
  };
  clock.advance = (to) => {
    clock.t = to;
    const p = clock.pending;
    if (p && p.at <= to) {
      clock.pending = null;
      p.f();
    }
  };
  return clock;
}

const cases = [
  // [what, times the timer gets to run, ticks expected (their marks), what a tick does besides,
  // given the ticks so far]
  ['on time', [2000, 4000, 6000], [2000, 4000, 6000]],
  ['a late timeout keeps to the marks', [2040, 4000], [2000, 4000]],
  ['held back for 7 s, then catching up', [7100], [2000, 4000, 6000]],
  // Due: 2000; then, from 2500: 4500.
  [
    'a tick that restarts the timer at its mark goes on from there',
    [6000],
    [2000, 4500],
    (c, mark, count) => count === 1 && c.start(mark + 500),
  ],
];
for (const [what, runs, marks, onTick = () => {}] of cases) {
  test(`countdown: ${what}`, () => {
    const clock = fakeClock(),
      ticks = [];
    const c = new Countdown(2000, (mark) => onTick(c, mark, ticks.push(mark)), clock);
    c.start(0);
    for (const t of runs) clock.advance(t);
    assert.deepEqual(ticks, marks);
    assert.equal(clock.pending.at, marks.at(-1) + 2000); // one timeout waiting, for the next mark
    c.stop();
    clock.advance(runs.at(-1) + 20000);
    assert.deepEqual(ticks, marks, 'none once stopped');
  });
}

// The class server's clock seen from a device (roundclock.js): each sample [sent, server's now,
// received] on the device's stopwatch; the server's time expected when the stopwatch reads 10000.
const clocks = [
  ['one sample: the server read midway', [[1000, 1765432100500, 1200]], 1765432109400],
  // The device's clock a minute behind changes nothing: only the stopwatch is read.
  [
    'the shortest round trip is trusted',
    [
      [0, 1765432100400, 800],
      [1000, 1765432100650, 1100],
      [2000, 1765432102000, 2600],
    ],
    1765432109600,
  ],
  [
    '300 ms of latency each way',
    [
      [0, 1765432100300, 600],
      [1000, 1765432101300, 1600],
    ],
    1765432110000,
  ],
  [
    "a sample without the server's time is none",
    [
      [0, Number.NaN, 10],
      [100, 1765432100000, 300],
    ],
    1765432109800,
  ],
  [
    'a sample received before it was sent is none',
    [
      [500, 1765432200000, 400],
      [0, 1765432100000, 0],
    ],
    1765432110000,
  ],
];
for (const [what, samples, expected] of clocks) {
  test(`round clock: ${what}`, async () => {
    // The stopwatch reads each sample's sending and receiving, then 10000.
    const readings = samples.flatMap(([sent, , received]) => [sent, received]);
    const clock = new RoundClock(() => readings.shift() ?? 10000);
    const joined = [];
    let asked = 0;
    await clock.measure(
      async () => ({ now: samples[asked++][1] }),
      samples.length,
      (answer) => joined.push(answer.now),
    );
    assert.deepEqual(
      joined,
      samples.map((s) => s[1]),
      'each answer handed on',
    );
    assert.equal(clock.now(), expected);
    assert.equal(clock.until(expected + 250), 250);
    assert.equal(clock.until(expected - 250), 0);
  });
}

// The samples of a class's devices spread over the lead: the first at once (the device joins
// with it), the rest at random moments, each in its own slice of at most 4 s, at most half the
// time left then. Each row: [what, samples, the round's start (server's ms after the first
// sample's sending), random() in turn, each sample's round trip, each join's time (ms), the
// stopwatch's readings at each sending]. The server answers its exact time midway, a minute
// ahead of the stopwatch; the stopwatch moves only as the fake requests and timers take time.
const server = 60000;
const spreads = [
  // From 150: 6000 ms left, so 3000 in slices of 1000, a quarter, half and three quarters in.
  ['over half the time left', 4, 6150, [0.25, 0.5, 0.75], [100, 100, 100, 100], [50, 50, 50, 50], [0, 400, 1650, 2900]],
  [
    'over 4 s at most, however long the lead',
    5,
    60000,
    [0, 0.5, 0.5, 0.999],
    [100, 100, 100, 100, 100],
    [50, 50, 50, 50, 50],
    [0, 150, 1650, 2650, 4149],
  ],
  // The first answer came in a crowd: the clock keeps a quiet one's.
  ['a crowded first sample', 4, 6850, [0.25, 0.5, 0.75], [800, 30, 20, 40], [50, 50, 50, 50], [0, 1100, 2350, 3600]],
  // A join that took 2 s: the sample whose moment passed meanwhile goes at once, the next at its own.
  ['a slow join', 4, 6150, [0.25, 0.5, 0.75], [100, 100, 100, 100], [50, 2000, 50, 50], [0, 400, 2500, 2900]],
  [
    'a reloaded page, the round begun: back to back',
    4,
    -1000,
    [0.5, 0.5, 0.5],
    [100, 100, 100, 100],
    [50, 50, 50, 50],
    [0, 150, 300, 450],
  ],
  [
    'no time in the first answer: back to back',
    4,
    6150,
    [0.5, 0.5, 0.5],
    [null, 100, 100, 100],
    [50, 50, 50, 50],
    [0, 150, 300, 450],
  ],
];
for (const [what, count, start, randoms, trips, joins, sendings] of spreads) {
  test(`round clock spread: ${what}`, async () => {
    let t = 0;
    const sent = [],
      waits = [],
      joined = [];
    const clock = new RoundClock(() => t, {
      wait: async (ms) => {
        waits.push(ms);
        t += ms;
      },
      random: () => randoms.shift(),
    });
    await clock.measure(
      async () => {
        const trip = trips[sent.push(t) - 1];
        if (trip === null) {
          t += 100;
          return null;
        }
        t += trip;
        return { now: server + t - trip / 2 };
      },
      count,
      async (answer) => {
        joined.push(t);
        t += joins[joined.length - 1];
      },
      server + start,
    );
    assert.deepEqual(sent, sendings);
    assert.deepEqual(
      joined,
      sent.map((s, i) => s + (trips[i] ?? 100)),
      'each joined with as it came',
    );
    assert.ok(
      waits.every((ms) => ms >= 0),
      `no wait below 0: ${waits}`,
    );
    assert.equal(clock.roundTrip, Math.min(...trips.filter((x) => x !== null)));
    assert.equal(clock.now(), server + t);
  });
}
