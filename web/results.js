// SPDX-License-Identifier: GPL-3.0-or-later
// The results window: made anew at every opening over the ranking file as it is then, filled
// from the game library's model (Module.Results); 戻る saves what the model hands back, 初期化
// blanks the lists. Below the designed area, a strip for the teacher: the file written out
// (a download named tavon.rnk, as the desktop keeps it) and read in. With a class link the lists
// are the class's (classlink.js): a pupil's device reads no file into them.
import { form3 } from './layout.js';
import { build } from './controls.js';
import { windowDialog, open, messageBox } from './dialogs.js';
import { announce } from './announce.js';

const importLimit = 1 << 20; // a ranking file is 900 bytes; anything this large is no list

// file: the ranking file (storage.js), or null when the browser keeps nothing.
// onClosed(): the window went (the game window becomes active again).
// played(): the finished game's {seed, log}, which its entry carries to a class's server.
export function resultsWindow(M, file, onClosed, played = () => null) {
  const words = M.resultsMessages();
  let current = null;
  let returnTo = null; // where the focus goes back to from a window opened again
  const read = () => (file ? file.read() : Promise.resolve(new Uint8Array(0)));
  // what: the change in words ({entry} or {blank}), for a class's lists kept by its server.
  // Resolves to true once written, else to false or to the message that says what became of it.
  const change = (how, what) => (file ? file.change(how, what) : Promise.resolve(false));

  // reopening: the window comes back at once (an import), the game window stays behind it.
  function unload(reopening = false) {
    if (!current) return;
    const { close, dialog, model, resolve } = current;
    current = null;
    if (reopening) returnTo = close.back;
    close(!reopening);
    dialog.remove();
    model.delete();
    resolve();
    if (!reopening) onClosed();
  }

  // shown: the bytes the window shows.
  function teacherStrip(area, modal, shown) {
    const strip = document.createElement('div');
    strip.className = 'strip';
    const save = document.createElement('button');
    save.type = 'button';
    save.textContent = 'ファイルに書き出す';
    save.dataset.name = 'export';
    const load = document.createElement('button');
    load.type = 'button';
    load.textContent = 'ファイルから読み込む';
    load.dataset.name = 'import';
    load.disabled = modal; // not while a finished game's entry waits for its name
    const picker = document.createElement('input');
    picker.type = 'file';
    picker.hidden = true;
    picker.setAttribute('aria-hidden', 'true');
    save.addEventListener('click', async () => {
      const link = document.createElement('a');
      link.href = URL.createObjectURL(new Blob([shown], { type: 'application/octet-stream' }));
      link.download = 'tavon.rnk';
      link.click();
      setTimeout(() => URL.revokeObjectURL(link.href), 0);
    });
    load.addEventListener('click', () => picker.click());
    picker.addEventListener('change', async () => {
      const chosen = picker.files[0];
      picker.value = '';
      if (!chosen) return;
      // The lists go for good: asked first, as 初期化 asks.
      const question = { text: '成績一覧を、選んだファイルの内容に置き換えますか？', title: '読み込み' };
      if ((await messageBox(question, { icon: 'question', cancel: true })) !== 'ok') return;
      let bytes = null;
      try {
        if (chosen.size <= importLimit) bytes = new Uint8Array(await chosen.arrayBuffer());
      } catch {
        bytes = null;
      }
      // The lists as they were stay until the new bytes are written.
      if (!bytes || (await change(() => bytes)) !== true) {
        await messageBox({ text: '成績一覧を読み込めませんでした。', title: '読み込み' });
        return;
      }
      unload(true);
      showResults(false);
    });
    // A class's lists (file.shared) take no file from a pupil's device.
    strip.append(save, ...(file?.shared ? [] : [load, picker]));
    if (file?.note) {
      const line = document.createElement('span');
      line.dataset.name = 'note';
      line.style.fontSize = '12px'; // as the strip's buttons
      line.textContent = file.note;
      strip.append(line);
    }
    area.after(strip);
  }

  // said: what the game said as it ended, heard in this window.
  async function showResults(atGameEnd, said = []) {
    if (current) {
      if (!atGameEnd) {
        current.dialog.focus();
        return undefined;
      }
      unload(); // a viewing opening gives way to the finished game's
    }
    const shown = await read();
    const model = new M.Results(shown);
    const { dialog, area } = windowDialog(form3, () => unload());
    const c = build(area, form3.controls, form3);
    const s = model.screen();
    c.jikan9.textContent = s.jikan9;
    c.Label6.textContent = s.Label6;
    c.Label6.hidden = c.Text1.hidden = !s.nameBoxShown;
    if (s.enz0) c.enz0.textContent = s.enz0;
    s.best.forEach((row, i) => {
      c[`jyun${i}`].textContent = row.place;
      c[`namae${i}`].textContent = row.name;
      c[`jikan${i}`].textContent = row.score;
    });
    s.run.forEach((row, i) => {
      if (i > 0) c[`jyun1${i}`].textContent = row.place;
      c[`jikan1${i}`].textContent = row.score;
    });
    c.Text1.setAttribute('aria-label', c.Label6.textContent.trim());
    teacherStrip(area, atGameEnd, shown);

    let kept = '';
    const commit = () => {
      const k = M.keepName(kept, c.Text1.value, (t) => t.normalize('NFC'));
      if (k.text !== c.Text1.value) {
        c.Text1.value = k.text;
        c.Text1.setSelectionRange(k.cursor, k.cursor);
      }
      kept = k.text;
      const row = model.Text1_Change(kept);
      if (row >= 0) c[`namae${row}`].textContent = kept;
    };
    // The cap applies to committed text: during a composition the box takes all.
    c.Text1.addEventListener('input', (event) => {
      if (!event.isComposing) commit();
    });
    c.Text1.addEventListener('compositionend', commit);
    c.Text1.addEventListener('keydown', (event) => {
      if (event.key === 'Enter' && !event.isComposing && event.keyCode !== 229) {
        event.preventDefault();
        back();
      }
    });

    let leaving = false;
    async function back() {
      if (leaving) return;
      leaving = true;
      const entry = model.Command1_Click(kept);
      const saved = entry ? await change((bytes) => M.saveImage(bytes, entry), { entry, played: played() }) : true;
      // A finished game whose score entered no list still goes to a class, without a name.
      if (!entry && atGameEnd) file?.sendGame?.(played()).catch(() => {});
      if (saved !== true) await messageBox(saved || words.saveFailed);
      unload();
    }
    async function clear() {
      if (leaving) return;
      leaving = true;
      const answer = await messageBox(words.clearQuestion, { icon: 'question', cancel: true });
      const blanked = answer === 'ok' ? await change((bytes) => M.blankImage(bytes), { blank: true }) : true;
      if (blanked !== true) await messageBox(blanked || words.clearFailed);
      unload();
    }
    c.Command1.addEventListener('click', back);
    c.Command2.addEventListener('click', clear);

    const done = new Promise((resolve) => {
      current = { dialog, model, resolve, close: open(dialog, atGameEnd, returnTo || document.activeElement) };
      returnTo = null;
    });
    (s.nameBoxShown ? c.Text1 : c.Command1).focus();
    for (const sentence of [...said, model.said(c.Label2.textContent)]) announce(sentence);
    return atGameEnd ? done : undefined;
  }

  return { showResults };
}
