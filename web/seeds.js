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

// How long a スタート waits for the class's first tickets, at most (then the game is drawn here,
// and its entry is refused as unchecked).
const ticketWait = 4000;
let waiting = null; // settles once the class's first stock of tickets is in, or could not be

// The class's first stock is on its way (`fetched` settles when it is in, or failed).
export function awaitTickets(fetched) {
  waiting = Promise.race([fetched, new Promise((r) => setTimeout(r, ticketWait))])
    .catch(() => {})
    .then(() => {
      waiting = null;
    });
}

// The seed of a new game: a whole number from 0 to 2^32 - 1, or, while the class's first
// tickets are on their way, a promise of one.
export function nextSeed() {
  return waiting ? waiting.then(drawSeed) : drawSeed();
}

function drawSeed() {
  const drawn = stock?.();
  if (drawn && Number.isInteger(drawn.seed)) {
    tickets.set(drawn.seed, drawn.ticket);
    return drawn.seed;
  }
  if (Number.isInteger(globalThis.nuboraSeed)) return globalThis.nuboraSeed >>> 0;
  return crypto.getRandomValues(new Uint32Array(1))[0];
}
