// SPDX-License-Identifier: GPL-3.0-or-later
// The seed of each game's questions, taken at its スタート: the one place that decides where
// seeds come from. On a class link, from the next of the class's tickets (classlink.js installs
// the stock by drawFrom), so that the class server can replay the game; else drawn on this
// device. A test fixes the questions of games drawn on the device by globalThis.nuboraSeed (set
// before the page's scripts run): every such game then takes that seed.

let stock = null; // () => {seed, ticket} or null where none is left
const tickets = new Map(); // seed -> the ticket it came from

// Games are drawn from take()'s tickets from now on, while it gives any.
export function drawFrom(take) {
  stock = take;
}

// The ticket a game's seed came from, or null for a seed drawn on this device.
export const ticketOf = (seed) => tickets.get(seed) ?? null;

// A whole number from 0 to 2^32 - 1.
export function nextSeed() {
  const drawn = stock?.();
  if (drawn && Number.isInteger(drawn.seed)) {
    tickets.set(drawn.seed, drawn.ticket);
    return drawn.seed;
  }
  if (Number.isInteger(globalThis.nuboraSeed)) return globalThis.nuboraSeed >>> 0;
  return crypto.getRandomValues(new Uint32Array(1))[0];
}
