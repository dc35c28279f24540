// SPDX-License-Identifier: GPL-3.0-or-later
// The question timer without a browser: ticks on their marks, counted from elapsed time, and a
// tab held back in the background running the ticks it missed, each for its own mark.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { Countdown } from '../../web/countdown.js';

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
