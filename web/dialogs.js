// SPDX-License-Identifier: GPL-3.0-or-later
// Windows over the page (the results and the help window) and message boxes, as dialogs: a
// title bar with the caption, labelled by it, the focus given back where it was on closing.
import { client } from './controls.js';
import { liveRegion } from './announce.js';

let serial = 0;

// A window: <dialog> with a title bar and the form's client area. onClose runs when the
// window is closed through its frame (the close box, or Escape).
export function windowDialog(form, onClose) {
  const dialog = document.createElement('dialog');
  dialog.className = 'window';
  dialog.dataset.form = form.name;
  const title = document.createElement('div');
  title.className = 'titlebar';
  // The caption alone names the window (not its close box).
  const caption = document.createElement('span');
  caption.id = `title-${++serial}`;
  caption.textContent = form.caption;
  const close = document.createElement('button');
  close.type = 'button';
  close.className = 'closebox';
  close.textContent = '×';
  close.setAttribute('aria-label', '閉じる');
  close.tabIndex = -1; // not in the keyboard order: Escape closes
  close.addEventListener('click', () => onClose());
  title.append(caption, close);
  dialog.setAttribute('aria-labelledby', caption.id);
  const area = client(form);
  dialog.append(title, area);
  dialog.addEventListener('cancel', (event) => {
    event.preventDefault();
    onClose();
  });
  // A window that is not modal gets no cancel event from the browser.
  dialog.addEventListener('keydown', (event) => {
    if (event.key !== 'Escape' || dialog.matches(':modal')) return;
    event.preventDefault();
    onClose();
  });
  document.body.append(dialog);
  liveRegion(dialog);
  return { dialog, area };
}

// A window not modal is centred over the game (windows.css) on whole pixels, where its captions
// are drawn as they were fitted: its top and left moved by what a half pixel would take.
function onWholePixels(dialog) {
  dialog.style.top = dialog.style.left = '';
  const box = dialog.getBoundingClientRect(),
    zoom = parseFloat(getComputedStyle(dialog).zoom) || 1;
  if (box.top % 1) dialog.style.top = `${(-2 * (box.top % 1)) / zoom}px`;
  if (box.left % 1) dialog.style.left = `${(-2 * (box.left % 1)) / zoom}px`;
}

// Opens a dialog, modal or not, remembering where the focus was (or `back`); close() gives it
// back, close(false) does not (a window to be removed and opened again at once, close.back):
// it leaves the dialog open, since closing it would hand the focus back on its own.
export function open(dialog, modal, back = document.activeElement) {
  if (modal) dialog.showModal();
  else {
    dialog.show();
    onWholePixels(dialog);
  }
  const close = (giveBack = true) => {
    if (!giveBack) return;
    dialog.close();
    if (back && back.isConnected && typeof back.focus === 'function') back.focus();
  };
  close.back = back;
  return close;
}

// A message box: text (a carriage return breaks the line), title, the exclamation or question
// icon, OK alone or OK and キャンセル with キャンセル the default. Resolves to 'ok' or 'cancel'.
// It holds the keyboard focus, on its default button first, whatever raised it (a press goes
// on behind it); closed, it gives the focus back where it was, or to `back`.
export function messageBox({ text, title }, { icon = 'exclamation', cancel = false, back = null } = {}) {
  const dialog = document.createElement('dialog');
  dialog.className = 'message';
  dialog.setAttribute('role', 'alertdialog');
  const id = ++serial;
  const bar = document.createElement('div');
  bar.className = 'titlebar';
  bar.id = `msg-title-${id}`;
  bar.textContent = title;
  const body = document.createElement('div');
  body.className = 'message-body';
  const mark = document.createElement('div');
  mark.className = `icon ${icon}`;
  mark.setAttribute('aria-hidden', 'true');
  mark.textContent = icon === 'question' ? '?' : '!';
  const words = document.createElement('p');
  words.id = `msg-text-${id}`;
  for (const [i, line] of text.split('\r').entries()) {
    if (i > 0) words.append(document.createElement('br'));
    words.append(line);
  }
  body.append(mark, words);
  const buttons = document.createElement('div');
  buttons.className = 'message-buttons';
  const ok = document.createElement('button');
  ok.type = 'button';
  ok.textContent = 'OK';
  buttons.append(ok);
  let no = null;
  if (cancel) {
    no = document.createElement('button');
    no.type = 'button';
    no.textContent = 'キャンセル';
    buttons.append(no);
  }
  dialog.setAttribute('aria-labelledby', bar.id);
  dialog.setAttribute('aria-describedby', words.id);
  dialog.append(bar, body, buttons);
  document.body.append(dialog);
  // The focus is at `back` as the box opens: a browser that hands the focus back on its own as
  // the box goes (WebKit: to where it was when the box opened) hands it there too, and not to
  // another window on the way, which would take its window from the front (the game window's
  // start message, closed, would come again).
  if (back?.isConnected && back !== document.activeElement) back.focus({ preventScroll: true });
  const close = open(dialog, true, back || document.activeElement);
  let held = no || ok;
  held.focus();
  // A press on its frame or behind it would take the focus to the dialog itself or away.
  const keep = () =>
    setTimeout(() => {
      if (dialog.open && !buttons.contains(document.activeElement)) held.focus();
    }, 0);
  dialog.addEventListener('focusin', (event) => {
    if (buttons.contains(event.target)) held = event.target;
    else keep();
  });
  dialog.addEventListener('focusout', (event) => {
    if (!buttons.contains(event.relatedTarget)) keep();
  });
  return new Promise((resolve) => {
    const done = (answer) => {
      // Taken away first: closed in the page, it would hand the focus to where it was when it
      // opened, which may be another window.
      dialog.remove();
      close();
      resolve(answer);
    };
    ok.addEventListener('click', () => done('ok'));
    no?.addEventListener('click', () => done('cancel'));
    dialog.addEventListener('cancel', (event) => {
      event.preventDefault();
      done(cancel ? 'cancel' : 'ok');
    });
  });
}
