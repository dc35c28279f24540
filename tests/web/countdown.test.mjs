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
  clock.set = (f, ms) => { clock.pending = { f, at: clock.t + ms }; return 1; };
  clock.clear = () => { clock.pending = null; };
  clock.advance = (to) => {
    clock.t = to;
    const p = clock.pending;
    if (p && p.at <= to) { clock.pending = null; p.f(); }
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
  ['a tick that restarts the timer at its mark goes on from there', [6000], [2000, 4500],
    (c, mark, count) => count === 1 && c.start(mark + 500)],
];
for (const [what, runs, marks, onTick = () => {}] of cases) {
  test(`countdown: ${what}`, () => {
    const clock = fakeClock(), ticks = [];
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
