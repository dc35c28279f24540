// SPDX-License-Identifier: GPL-3.0-or-later
// What a screen reader is told without the focus moving: each sentence once, in order,
// through a polite live region. While a modal dialog is open the rest of the page is inert,
// its region unheard: a sentence goes to the region of the dialog on top, each window having
// one of its own, made with it, so that the region is known before anything is said in it.
export function liveRegion(host) {
  let region = host.querySelector(':scope > .live');
  if (!region) {
    region = document.createElement('div');
    region.className = 'live';
    region.setAttribute('aria-live', 'polite');
    region.setAttribute('role', 'log');
    host.append(region);
  }
  return region;
}

export function announce(sentence) {
  const modal = [...document.querySelectorAll('dialog[open]')].filter((d) => d.matches(':modal')).pop();
  const region = liveRegion(modal || document.body);
  // A task later: a region made in this task is then in the tree before its first sentence.
  setTimeout(() => {
    const p = document.createElement('p');
    p.textContent = sentence;
    region.append(p);
    while (region.childElementCount > 6) region.firstElementChild.remove();
  }, 0);
}
