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

// Milliseconds within which no one reads a new question: a press sooner belongs to the last one.
const glance = 300;

// The game window's client area, made in `root` while the game library loads: laid out (its
// faces found, its captions fitted) unseen and out of the page's flow, so that it is ready
// when the library is. gameWindow shows it.
export function gameView(root) {
  const area = client(form1);
  const c = build(area, form1.controls, form1);
  const form = document.createElement('main');
  form.className = 'form1';
  form.setAttribute('aria-label', form1.caption);
  // The window's caption as the page's heading, for a screen reader only (the browser's tab
  // shows it as the title).
  const heading = document.createElement('h1');
  heading.className = 'unseen';
  heading.textContent = form1.caption;
  form.append(heading, area);
  form.style.position = 'absolute';
  form.style.visibility = 'hidden';
  root.append(form);
  return { form, area, c };
}

// view: the client area gameView made. nextSeed(): the seed of a new game's questions, or a
// promise of it (seeds.js).
// windows: { showResults(atGameEnd, said) -> Promise when modal, showHelp(), end() }.
// pace: each point of the countdown lasts this many times its designed time (1 as designed).
export function gameWindow(M, { form, area, c }, nextSeed, windows, pace = 1) {
  const game = new M.Game(Math.round(M.tickMilliseconds() * pace));
  const [answers, columns, ranges] = [M.answers(), M.columns(), M.rangeCount()];
  const rangeItems = Array.from({ length: ranges }, (_, i) => [`en${i}`, M.rangeName(i), true]);
  // A menu item chosen while the window is not the active one activates it instead (終了 ends).
  const menus = menuBar(
    form1.menus.map((m) => (m.ranges ? { ...m, items: rangeItems } : m)),
    (name) => (active || name === 'm1d' ? handlers[name]() : activate(focusable(null))),
  );
  // The client area first, so that the keyboard order starts at スタート; the bar sits above it.
  form.append(menus.bar);
  form.removeAttribute('style');
  c[`kotae${M.hiddenAnswer()}`].hidden = true;
  const spoken = readInOrder(c);

  const countdown = new Countdown(M.tickMilliseconds() * pace, (mark) => play(game.Timer1_Timer(), mark));
  document.addEventListener('visibilitychange', () => {
    if (!document.hidden && countdown.running) countdown.catchUp();
  });

  function show(s) {
    if (s.played) {
      c.monbang.textContent = s.monbang;
      c.tokuten.textContent = s.tokuten;
      c.tokutenyo.textContent = s.tokutenyo;
      s.mondai.forEach((text, i) => {
        c[`mondai${i}`].textContent = text;
      });
      s.yDescription.forEach((text, i) => c[`mondai${i + columns}`].setAttribute('aria-description', text));
      s.sikiyo.forEach((text, i) => {
        c[`sikiyo${i}`].textContent = text;
      });
      spoken();
    }
    for (let i = 0; i < answers; ++i) c[`kotae${i}`].disabled = !s.answersEnabled;
    for (let i = 0; i < ranges; ++i) menus.check(`en${i}`, i === s.checkedRange);
    c.Command3.textContent = s.command3;
  }

  // Steps in progress; the window's activation waits until they are done.
  let busy = 0;
  let activationDue = false;
  // Where the focus goes when the next message closes, when not back where it was.
  let messageBack = null;
  // When the question showing was shown (performance.now()).
  let shownAt = -Infinity;

  // Carries out a step, part by part in the game library's order (M.stepParts: the screen,
  // what is said, the beep, the timer, the results window, the message, then the next
  // question), waiting where a part waits. `when`: the time the event was due (a tick's mark).
  const stepParts = M.stepParts();
  async function play(step, when) {
    // At a game's end what is said is heard in the results window, which makes the rest inert.
    const ending = step.results === 'atGameEnd';
    const parts = {
      screen: () => show(step.screen),
      said: () => {
        if (!ending) for (const sentence of step.said) announce(sentence);
      },
      beep: () => {
        if (step.beep) beep();
      },
      timer: () => {
        if (step.timer === 'stop') countdown.stop();
        else if (step.timer === 'start') countdown.start(when);
      },
      results: () => {
        // As on the desktop, the next game is an Enter away once the messages are closed.
        if (ending) return windows.showResults(true, step.said).then(() => c.Command1.focus());
        if (step.results === 'viewing') windows.showResults(false);
        return undefined;
      },
      message: () => {
        if (!step.message) return undefined;
        const back = messageBack;
        messageBack = null;
        return messageBox(step.message, { back });
      },
      nextQuestion: () => {
        if (!step.nextQuestion) return undefined;
        const next = game.syutudai();
        shownAt = performance.now();
        return play(next, when);
      },
    };
    busy += 1;
    try {
      for (const part of stepParts) {
        const waiting = parts[part]();
        if (waiting) await waiting;
      }
    } finally {
      busy -= 1;
    }
    if (busy === 0 && activationDue) activate();
  }

  let active = false;
  // The window became the active one: the start message, unless it was already. `back`: where
  // the focus goes when the message closes (a control of this window clicked from another).
  function activate(back = null) {
    if (busy > 0) {
      activationDue = true;
      return;
    }
    activationDue = false;
    if (active) return;
    active = true;
    document.body.classList.add('game-front');
    messageBack = back;
    play(game.Form_Activate());
  }
  // The active window is drawn over the others, as on a desktop.
  function deactivate() {
    active = false;
    document.body.classList.remove('game-front');
  }
  // 終了 ends the game from any window, at once; the menu bar activates through its items.
  const activates = (target) => !menus.bar.contains(target) && target !== c.Command5;
  const usable = (el) => el?.isConnected && !el.disabled && !el.hidden && form.contains(el) && activates(el);
  let lastFocused = c.Command1;
  const focusable = (el) => (usable(el) ? el : usable(lastFocused) ? lastFocused : c.Command1);
  form.addEventListener('focusin', (event) => {
    if (!activates(event.target)) return;
    lastFocused = event.target;
    if (!document.querySelector('dialog.message[open]')) activate();
  });
  // A click from another window: the start message, then the focus in this window.
  form.addEventListener('pointerdown', (event) => {
    if (active || !activates(event.target)) return;
    activate(focusable(event.target.closest('button')));
  });
  // Tab and Shift+Tab go round the window's buttons, as on the desktop (the menu bar: F10).
  area.addEventListener('keydown', (event) => {
    if (event.key !== 'Tab' || event.altKey || event.ctrlKey || event.metaKey) return;
    const order = [...area.querySelectorAll('button')].filter((b) => !b.disabled && !b.hidden);
    const at = order.indexOf(event.target);
    if (at !== (event.shiftKey ? 0 : order.length - 1)) return;
    event.preventDefault();
    order.at(event.shiftKey ? -1 : 0).focus();
  });

  // One press, one answer: an answer counts only if the press it comes from (a pointer or a key
  // going down) began once its question had been shown for a glance, so that neither a double
  // tap's second tap nor a press held while the question changed answers a question unseen.
  // A key held down presses once: its repeats press no button, close no message box and save
  // no name (a held Space still types in the name box). A click without a press of its own (a
  // screen reader's) counts.
  let pointerAt = null,
    keyAt = null,
    clickPress = null;
  const capture = { capture: true };
  document.addEventListener(
    'pointerdown',
    (event) => {
      pointerAt = event.timeStamp;
    },
    capture,
  );
  document.addEventListener(
    'keydown',
    (event) => {
      keyAt = event.repeat ? -Infinity : event.timeStamp;
      if (!event.repeat || !['Enter', 'Escape', ' '].includes(event.key)) return;
      if (event.key === ' ' && event.target.matches?.('input[type=text]')) return;
      event.preventDefault();
      event.stopPropagation();
    },
    capture,
  );
  document.addEventListener(
    'keyup',
    () =>
      setTimeout(() => {
        keyAt = null;
      }, 0),
    capture,
  );
  // A click counted by the pointer (detail 1, 2 …) comes from the last pointer press; one from
  // the keyboard (detail 0), from the key down then, if any.
  document.addEventListener(
    'click',
    (event) => {
      clickPress = event.detail > 0 ? pointerAt : keyAt;
    },
    capture,
  );
  const answerable = (at = performance.now()) => at >= shownAt + glance;

  let starting = null;
  const handlers = {
    Command1: () => {
      if (starting) return; // a スタート already waits for the class's first tickets
      const seed = nextSeed();
      if (typeof seed === 'number') return play(game.Command1_Click(seed));
      starting = seed.then((drawn) => {
        starting = null;
        play(game.Command1_Click(drawn));
      });
    },
    Command3: () => play(game.Command3_Click()),
    Command5: () => {
      countdown.stop();
      windows.end();
    },
    tokutenyo: () => handlers.m1c(),
    helpyo: () => windows.showHelp(),
    m1a: () => handlers.Command1(),
    m1c: () => play(game.m1c_Click()),
    m1d: () => handlers.Command5(),
    m5c: () => handlers.helpyo(),
  };
  for (let i = 0; i < answers; ++i) handlers[`kotae${i}`] = () => play(game.kotae_Click(i));
  for (let i = 0; i < ranges; ++i) handlers[`en${i}`] = () => play(game.en_Click(i));
  for (const name of ['Command1', 'Command3', 'Command5', 'tokutenyo', 'helpyo'])
    c[name].addEventListener('click', () => handlers[name]());
  for (let i = 0; i < answers; ++i)
    c[`kotae${i}`].addEventListener('click', () => {
      if (clickPress === null || answerable(clickPress)) handlers[`kotae${i}`]();
    });
  // A class round's answer the game takes goes to the class server too (round.js).
  for (let i = 0; i < answers; ++i) {
    const press = handlers[`kotae${i}`];
    handlers[`kotae${i}`] = () => {
      const sent = game.inRound() && !c[`kotae${i}`].disabled;
      const done = press();
      if (sent) windows.roundAnswer?.(i);
      return done;
    };
  }

  play(game.Form_Load());
  c.Command1.focus();
  // played(): the finished game's {seed, log} (its log's text), for its class entry; else null.
  // play(step): a step of the game library carried out (a class round's, round.js);
  // showRound(step): the step that shows a round's question, the moment it shows.
  const showRound = (step) => {
    shownAt = performance.now();
    return play(step);
  };
  return {
    activate,
    deactivate,
    answerable,
    controls: c,
    game,
    countdown,
    play,
    showRound,
    played: () => game.played(),
  };
}

// The board as a screen reader reads it: each result mark after its question's number, and
// the question's number and points in words, in texts of their own beside the labels drawn.
// Returns the function that brings those texts up to date with the labels.
function readInOrder(c) {
  for (let i = 0; c[`bango${i}`]; ++i) c[`bango${i}`].after(c[`sikiyo${i}`]);
  const words = (name, say) => {
    const text = document.createElement('span');
    text.className = 'unseen';
    text.setAttribute('aria-description', c[name].getAttribute('aria-description'));
    c[name].removeAttribute('aria-description');
    c[name].setAttribute('aria-hidden', 'true');
    c[name].after(text);
    return () => {
      text.textContent = say(c[name].textContent.replace(/\s/g, ''));
    };
  };
  const texts = [words('monbang', (t) => t), words('tokuten', (t) => (/^\d+$/.test(t) ? `${t}点` : t))];
  const update = () => texts.forEach((f) => f());
  update();
  return update;
}
