// SPDX-License-Identifier: GPL-3.0-or-later
// The help window: four fixed texts and 戻る, not modal. Made at its first opening, then only
// hidden and shown; closed through its frame it goes, and the next opening makes it anew.
import { form2 } from './layout.js';
import { build } from './controls.js';
import { windowDialog, open } from './dialogs.js';
import { announce } from './announce.js';

// showGame(): the game window shown and made the active one.
export function helpWindow(showGame) {
  let made = null;
  let close = null;

  function hide() {
    close?.();
    close = null;
  }

  function showHelp() {
    if (!made) {
      const { dialog, area } = windowDialog(form2, () => {
        hide();
        dialog.remove();
        made = null;
      });
      const c = build(area, form2.controls, form2);
      c.Command1.addEventListener('click', () => {
        hide();
        showGame();
      });
      made = { dialog, c };
    }
    if (!close) {
      close = open(made.dialog, false);
      const texts = ['Label2', 'Label3', 'Label4', 'Label6'].map((n) => made.c[n].textContent.trim());
      announce(texts.join(''));
    }
    made.c.Command1.focus();
  }

  return { showHelp };
}
