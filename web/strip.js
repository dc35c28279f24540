// SPDX-License-Identifier: GPL-3.0-or-later
// The page's strip, below the game window's designed area and outside it: one line for each
// thing the page tells the pupil or the teacher beside the game (the pace a link sets, play
// without offline support, the class played for), each under a key of its own, in the order
// first told. The designed area is scaled to fit the room the strip leaves (main.js).
const lines = new Map();
let box = null;
let changed = () => {};

// Shows `text` on the line `key`, or takes that line away when text is null.
export function notice(key, text) {
  if (!box) {
    box = document.createElement('div');
    box.id = 'strip';
    box.className = 'page-strip';
    box.setAttribute('role', 'status');
    box.hidden = true;
    document.body.append(box);
  }
  let line = lines.get(key);
  if (text === null) {
    line?.remove();
    lines.delete(key);
  } else {
    if (!line) {
      line = document.createElement('p');
      line.dataset.key = key;
      lines.set(key, line);
      box.append(line);
    }
    line.textContent = text;
  }
  box.hidden = lines.size === 0;
  changed();
}

// The strip's height in CSS pixels (0 while it holds nothing).
export const stripHeight = () => (box && !box.hidden ? box.offsetHeight : 0);

// f() runs after every change of the strip (the page refits itself).
export function onStripChange(f) {
  changed = f;
}
