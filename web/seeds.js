// SPDX-License-Identifier: GPL-3.0-or-later
// The seed of each game's questions, taken at its スタート: the one place that decides where
// seeds come from. Today each is drawn on this device; where a class server issues them (its
// tickets), a stock of them fetched ahead replaces this module, nextSeed staying synchronous.
// A test fixes the questions by globalThis.nuboraSeed (set before the page's scripts run):
// every game then takes that seed.

// A whole number from 0 to 2^32 - 1.
export function nextSeed() {
  if (Number.isInteger(globalThis.nuboraSeed)) return globalThis.nuboraSeed >>> 0;
  return crypto.getRandomValues(new Uint32Array(1))[0];
}
