// SPDX-License-Identifier: GPL-3.0-or-later
// The class server's clock as seen from this device, for a class round: each sample is one
// request that the server answered with its time (`now`), taken between the device's moments
// of sending and receiving it. The server's time is read as falling midway, and the sample with
// the shortest round trip is trusted (its midpoint can be off by half its round trip at most),
// as NTP does. The device's own clock enters only as a stopwatch: a device whose clock is wrong
// by any amount, or whose network is slow, still sees the server's moments.
// Pure: no page, no browser globals read at import time (a benchmark in node imports it).

// The device's stopwatch: milliseconds from any origin that never jump (performance.now()).
const stopwatch = () => performance.now();

export class RoundClock {
  // local(): the device's stopwatch.
  constructor(local = stopwatch) {
    this.local = local;
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
  // round with it). Resolves to the clock.
  async measure(ask, count = 4, then = () => {}) {
    for (let i = 0; i < count; ++i) {
      const sent = this.local();
      const answer = await ask();
      const received = this.local();
      if (answer) this.add(sent, answer.now, received);
      await then(answer);
    }
    return this;
  }
}
