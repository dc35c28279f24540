// SPDX-License-Identifier: GPL-3.0-or-later
// The class server's clock as seen from this device, for a class round: each sample is one
// request that the server answered with its time (`now`), taken between the device's moments
// of sending and receiving it. The server's time is read as falling midway, and the sample with
// the shortest round trip is trusted (its midpoint can be off by half its round trip at most),
// as NTP does. The device's own clock enters only as a stopwatch: a device whose clock is wrong
// by any amount, or whose network is slow, still sees the server's moments.
// A class's devices all hear of a round at once; were each to take its samples back to back, the
// whole class would ask the server (and a busy device its own event loop) at the same moments,
// and the shortest round trip would be a crowded one. So the first sample is taken at once (the
// device joins with it), and the others at random moments spread over the next few seconds,
// each in a slice of its own, all well before the round starts.
// Pure: no page, no browser globals read at import time (a benchmark in node imports it).

// The device's stopwatch: milliseconds from any origin that never jump (performance.now()).
const stopwatch = () => performance.now();
const timers = { wait: (ms) => new Promise((resolve) => setTimeout(resolve, ms)), random: () => Math.random() };

// The samples after the first are spread over at most this many ms, and at most over half the
// time left before the round starts.
export const spreadMilliseconds = 4000;

// The moments (ms after the first sample) at which the `count` - 1 later samples are sent, over
// `within` ms: the k-th at a random point of the k-th of equal slices, so that no two fall
// together and their order is kept. random() gives [0, 1).
export function spread(count, within, random = timers.random) {
  const slice = within / Math.max(1, count - 1);
  return Array.from({ length: Math.max(0, count - 1) }, (_, k) => slice * (k + random()));
}

export class RoundClock {
  // local(): the device's stopwatch; wait(ms) resolves ms later, random() gives [0, 1) (the
  // spread's).
  constructor(local = stopwatch, { wait = timers.wait, random = timers.random } = {}) {
    this.local = local;
    this.wait = wait;
    this.random = random;
    this.offset = null; // server's time less the stopwatch's, by the best sample
    this.roundTrip = Infinity; // of the best sample
  }

  // A sample: sent and received on the stopwatch, server's `now` from the answer. Returns
  // whether it became the best.
  add(sent, serverNow, received) {
    const trip = received - sent;
    if (!(trip >= 0) || !Number.isFinite(serverNow) || trip >= this.roundTrip) return false;
    this.roundTrip = trip;
    this.offset = serverNow - (sent + trip / 2);
    return true;
  }

  get known() {
    return this.offset !== null;
  }

  // The server's time now (milliseconds since 1970 on its clock); null before any sample.
  now() {
    return this.known ? this.local() + this.offset : null;
  }

  // How long on the stopwatch until the server's time reaches `serverTime` (0 when it has).
  until(serverTime) {
    return Math.max(0, serverTime - this.now());
  }

  // Measures by `count` samples: ask() makes one request and resolves to the server's time in
  // its answer (or null where it gave none); after each, then(answer) runs (the page joins the
  // round with it). `by`: the server's time the samples are to be done well before (the round's
  // start): the first sample is taken at once, the others spread (above) over the time the first
  // tells is left; without it, or once `by` has passed, or when the first gave no time, they
  // follow each other at once. Resolves to the clock.
  async measure(ask, count = 4, then = () => {}, by = null) {
    let moments = null; // when the later samples are sent, on the stopwatch, when spread
    for (let i = 0; i < count; ++i) {
      if (moments) await this.wait(Math.max(0, moments[i - 1] - this.local()));
      const sent = this.local();
      const answer = await ask();
      const received = this.local();
      if (answer) this.add(sent, answer.now, received);
      await then(answer);
      if (i === 0 && by !== null && this.known) {
        const within = Math.min(spreadMilliseconds, this.until(by) / 2);
        const from = this.local();
        if (within > 0) moments = spread(count, within, this.random).map((m) => from + m);
      }
    }
    return this;
  }
}
