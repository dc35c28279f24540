// SPDX-License-Identifier: GPL-3.0-or-later
// What a screen reader is told without the focus moving: each sentence once, in order,
// through a polite live region.
let region = null;

export function announce(sentence) {
  if (!region) {
    region = document.createElement('div');
    region.className = 'live';
    region.setAttribute('aria-live', 'polite');
    region.setAttribute('role', 'log');
    document.body.append(region);
  }
  const p = document.createElement('p');
  p.textContent = sentence;
  region.append(p);
  while (region.childElementCount > 6) region.firstElementChild.remove();
}
