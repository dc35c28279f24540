// SPDX-License-Identifier: GPL-3.0-or-later
// The question timer: ticks on the marks interval, 2·interval ... after it was started,
// counted from elapsed time. A tab the browser held back runs the ticks it missed as soon as it
// runs again, each for its own mark, and never more than one timeout is waiting.
export class Countdown {
  // onTick(mark): one tick, mark being the time it was due.
  constructor(
    interval,
    onTick,
    clock = { now: () => performance.now(), set: (f, ms) => setTimeout(f, ms), clear: (h) => clearTimeout(h) },
  ) {
    this.interval = interval;
    this.onTick = onTick;
    this.clock = clock;
    this.base = null;
    this.handle = null;
  }

  get running() {
    return this.base !== null;
  }

  // Starts afresh: the first tick one interval after `at` (now when not given).
  start(at = this.clock.now()) {
    this.base = at;
    this.done = 0;
    this.schedule();
  }

  stop() {
    this.base = null;
    if (this.handle !== null) this.clock.clear(this.handle);
    this.handle = null;
  }

  // Runs every tick that is due; a tick may stop or restart the timer.
  catchUp() {
    while (this.running) {
      const base = this.base;
      const due = Math.floor((this.clock.now() - base) / this.interval);
      if (this.done >= due) break;
      this.done += 1;
      this.onTick(base + this.done * this.interval);
    }
    if (this.running) this.schedule();
  }

  schedule() {
    if (this.handle !== null) this.clock.clear(this.handle);
    const next = this.base + (this.done + 1) * this.interval;
    this.handle = this.clock.set(
      () => {
        this.handle = null;
        this.catchUp();
      },
      Math.max(0, next - this.clock.now()),
    );
  }
}
