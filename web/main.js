// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up: the game library (createNubora, the emscripten module), the ranking file in this
// browser's storage (a class link's: the class's lists on its server), the three windows, the
// page scaled to fit the screen, the service worker.
import { form1 } from './layout.js';
import { gameView, gameWindow } from './game.js';
import { resultsWindow } from './results.js';
import { helpWindow } from './help.js';
import { openRankingFile } from './storage.js';
import { classKey, openClass } from './classlink.js';
import { nextSeed, awaitTickets } from './seeds.js';
import { messageBox } from './dialogs.js';
import { allowSound } from './sound.js';
import { stripHeight, onStripChange, notice } from './strip.js';
import { classRound } from './round.js';

function fail(text) {
  const box = document.getElementById('failure');
  box.textContent = text;
  box.hidden = false;
  document.getElementById('loading')?.remove();
}

// The whole design at one scale that fits the screen: the game window with its menu bar.
function fit() {
  const width = form1.client[0];
  const height = form1.client[1] + 18; // the menu bar
  const room = innerHeight - stripHeight();
  const scale = Math.min(innerWidth / width, room / height);
  const fitted = (k) => String(Math.max(0.3, Math.floor(k * 100) / 100));
  document.documentElement.style.setProperty('--scale', fitted(scale));
  // The windows over it at the same scale where they fit whole (title bar and teacher's strip
  // included), else smaller: the tallest is the results window. By touch the title bar is
  // 44 px high whatever the scale (windows.css).
  const title = matchMedia('(pointer: coarse)').matches ? 44 : 0;
  document.documentElement.style.setProperty(
    '--dialog-scale',
    fitted(Math.min(scale, (room - title) / (480 - (title && 24)), innerWidth / 420)),
  );
}

// The pace a teacher's link sets for a pupil who needs more time (?pace=1.5, 2 or 3): each
// point of the countdown lasts that many times as long. Anything else is the designed pace.
const paces = ['1.5', '2', '3'];
function linkPace() {
  const asked = new URLSearchParams(location.search).get('pace');
  return paces.includes(asked) ? Number(asked) : 1;
}

async function start() {
  if (!globalThis.WebAssembly || typeof globalThis.createNubora !== 'function') {
    fail('このブラウザーでは、このゲームを動かせません。新しいブラウザーで開いてください。');
    return;
  }
  const root = document.getElementById('page');
  // The pace is told on the page, and kept nowhere: the lists hold scores as they were made.
  // (Told first, so that the window is laid out at the scale the strip leaves it.)
  const pace = linkPace();
  if (pace !== 1) notice('pace', `持ち時間：ふつうの${pace}倍（先生の設定）`);
  fit();
  addEventListener('resize', fit);
  onStripChange(fit);
  let M, view;
  try {
    // The WebAssembly compiling since the page began (index.html), where it is.
    const compiled = globalThis.nuboraWasm;
    let made = null;
    const loading = globalThis.createNubora(
      compiled
        ? {
            instantiateWasm: (imports, receive) => {
              made = compiled.then((module) =>
                WebAssembly.instantiate(module, imports).then((instance) => receive(instance, module)),
              );
              return {};
            },
          }
        : {},
    );
    // The game window made and laid out while the module compiles, where it still does.
    view = gameView(root);
    // The module would wait for ever on a WebAssembly that failed: that failure fails the start.
    M = await Promise.race([loading, made?.then(() => loading) ?? loading]);
  } catch {
    root.replaceChildren();
    fail('ゲームを読み込めませんでした。ページを開き直してください。');
    return;
  }
  document.getElementById('loading')?.remove();
  document.addEventListener('pointerdown', allowSound, { capture: true });
  document.addEventListener('keydown', allowSound, { capture: true });

  let game = null;
  // The storage opens once the start message is drawn (opening it is a while of the page's own
  // work in a browser that has not opened it before); a class link's lists are the class's.
  const key = classKey(M);
  // A save another tab's undid and that cannot be made again is told (localStorage alone).
  const lost = () => messageBox(M.resultsMessages().saveFailed);
  const opening = drawn().then(() => (key ? openClass(key, M) : openRankingFile(undefined, { lost })));
  // On a class link the first スタート waits for the class's first tickets (a moment, online).
  if (key) awaitTickets(opening.then((file) => file?.stocked));
  let round = null; // a class link's class rounds (round.js)
  const played = () => game.played() ?? round?.played() ?? null;
  const results = opening.then((file) => resultsWindow(M, file, () => game.activate(), played));
  const help = helpWindow(() => game.activate());
  game = gameWindow(
    M,
    view,
    nextSeed,
    {
      showResults: async (atGameEnd, said) => (await results).showResults(atGameEnd, said),
      showHelp: () => help.showHelp(),
      roundAnswer: (button) => round?.answered(button),
      end: () => {
        for (const d of document.querySelectorAll('dialog')) d.remove();
        root.replaceChildren();
        fail('ゲームを終了しました。もう一度遊ぶときは、ページを開き直してください。');
        // An installed app's window closes; a tab the player opened stays, saying so.
        window.close();
      },
    },
    pace,
  );
  keepOffline();
  // Another window (results or help) took the focus: the game window is no longer active, and
  // that window is drawn over the others.
  document.addEventListener('focusin', (event) => {
    const other = event.target.closest?.('dialog.window');
    if (!other) return;
    game.deactivate();
    for (const d of document.querySelectorAll('dialog.window')) d.classList.toggle('front', d === other);
  });
  const file = await opening;
  if (key && file) round = classRound(M, game, file);
  globalThis.nubora = { M, game, file, round, ready: true }; // for the tests
  if (!file) {
    await messageBox({
      text: 'このブラウザーには成績を記録できません。\rゲームはできますが、成績は残りません。',
      title: '成績',
    });
  }
  game.activate();
}

// Once the page has drawn the frame it is making (at once where it is not seen, since a hidden
// page draws none).
const drawn = () =>
  new Promise((resolve) => {
    if (document.visibilityState === 'visible') requestAnimationFrame(() => setTimeout(resolve));
    else setTimeout(resolve);
  });

// Offline play needs a service worker: a served page has none over plain HTTP (but from this
// computer) nor where the browser does not trust the server's certificate. The page says so.
// The worker is set up once the start message has been drawn (its install reads and checks
// every file, which would hold the message back), from the browser's cache where it can.
const served = location.protocol.startsWith('http');
const cannotPlayOffline = () =>
  notice('offline', 'このページはオフラインでは遊べません（HTTPS の信頼できるサーバーから開くと遊べます）。');
function keepOffline() {
  if (!served || !('serviceWorker' in navigator)) return;
  drawn()
    .then(() => navigator.serviceWorker.register('sw.js'))
    .catch(cannotPlayOffline);
}
if (served && !('serviceWorker' in navigator)) cannotPlayOffline();
start();
