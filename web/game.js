// SPDX-License-Identifier: GPL-3.0-or-later
// The game window as the page: its controls and menus, each event handed to the game
// library's model (Module.Game), whose screen is shown and whose step is carried out.
import { form1 } from './layout.js';
import { build, client } from './controls.js';
import { menuBar } from './menu.js';
import { Countdown } from './countdown.js';
import { beep } from './sound.js';
import { messageBox } from './dialogs.js';
import { announce } from './announce.js';

// windows: { showResults(atGameEnd, said) -> Promise when modal, showHelp(), end() }.
export function gameWindow(M, root, seed, windows) {
  const game = new M.Game(seed);
  const ranges = [0, 1, 2, 3].map((i) => [`en${i}`, M.rangeName(i), true]);
  const menus = menuBar(form1.menus.map((m) => (m.ranges ? { ...m, items: ranges } : m)), (name) => handlers[name]());
  const area = client(form1);
  const c = build(area, form1.controls, form1);
  const form = document.createElement('main');
  form.className = 'form1';
  form.setAttribute('aria-label', form1.caption);
  // The client area first, so that the keyboard order starts at スタート; the bar sits above it.
  form.append(area, menus.bar);
  root.append(form);
  c[`kotae${M.hiddenAnswer()}`].hidden = true;

  const countdown = new Countdown(M.tickMilliseconds(), (mark) => play(game.Timer1_Timer(), mark));
  document.addEventListener('visibilitychange', () => {
    if (!document.hidden && countdown.running) countdown.catchUp();
  });

  function show(s) {
    if (s.played) {
      c.monbang.textContent = s.monbang;
      c.tokuten.textContent = s.tokuten;
      c.tokutenyo.textContent = s.tokutenyo;
      s.mondai.forEach((text, i) => { c[`mondai${i}`].textContent = text; });
      s.yDescription.forEach((text, i) => c[`mondai${i + 5}`].setAttribute('aria-description', text));
      s.sikiyo.forEach((text, i) => { c[`sikiyo${i}`].textContent = text; });
    }
    for (let i = 0; i < 5; ++i) c[`kotae${i}`].disabled = !s.answersEnabled;
    for (let i = 0; i < 4; ++i) menus.check(`en${i}`, i === s.checkedRange);
    c.Command3.textContent = s.command3;
  }

  // Steps in progress; the window's activation waits until they are done.
  let busy = 0;
  let activationDue = false;

  // Carries out a step: the screen, what is said, the beep, the timer, the results window,
  // the message, then the next question. `when`: the time the event was due (a tick's mark).
  async function play(step, when) {
    busy += 1;
    try {
      show(step.screen);
      // At a game's end what is said is heard in the results window, which makes the rest inert.
      const ending = step.results === 'atGameEnd';
      if (!ending) for (const sentence of step.said) announce(sentence);
      if (step.beep) beep();
      if (step.timer === 'stop') countdown.stop();
      else if (step.timer === 'start') countdown.start(when);
      if (ending) await windows.showResults(true, step.said);
      else if (step.results === 'viewing') windows.showResults(false);
      if (step.message) await messageBox(step.message);
      if (step.nextQuestion) await play(game.syutudai(), when);
    } finally {
      busy -= 1;
    }
    if (busy === 0 && activationDue) activate();
  }

  let active = false;
  // The window became the active one: the start message, unless it was already.
  function activate() {
    if (busy > 0) {
      activationDue = true;
      return;
    }
    activationDue = false;
    if (active) return;
    active = true;
    play(game.Form_Activate());
  }
  function deactivate() { active = false; }
  form.addEventListener('focusin', () => { if (!document.querySelector('dialog.message[open]')) activate(); });
  form.addEventListener('pointerdown', activate);

  const handlers = {
    Command1: () => play(game.Command1_Click()),
    Command3: () => play(game.Command3_Click()),
    Command5: () => { countdown.stop(); windows.end(); },
    tokutenyo: () => handlers.m1c(),
    helpyo: () => windows.showHelp(),
    m1a: () => handlers.Command1(),
    m1c: () => play(game.m1c_Click()),
    m1d: () => handlers.Command5(),
    m5c: () => handlers.helpyo(),
  };
  for (let i = 0; i < 5; ++i) handlers[`kotae${i}`] = () => play(game.kotae_Click(i));
  for (let i = 0; i < 4; ++i) handlers[`en${i}`] = () => play(game.en_Click(i));
  for (const name of ['Command1', 'Command3', 'Command5', 'tokutenyo', 'helpyo', ...[0, 1, 2, 3, 4].map((i) => `kotae${i}`)])
    c[name].addEventListener('click', () => handlers[name]());

  play(game.Form_Load());
  c.Command1.focus();
  return { activate, deactivate, controls: c, game, countdown };
}
