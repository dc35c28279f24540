// SPDX-License-Identifier: GPL-3.0-or-later
// A class round on a class link: the whole class plays one game at once, started by the
// teacher and paced by the class server's clock. The page hears of a round on the class's
// event stream (or finds one standing as it opens), measures the server's clock (roundclock.js)
// while it joins (over the first seconds of the lead, so that the class's devices do not all
// measure at once), and then only carries out the game library's round steps at the moments the
// round's schedule sets (Module.questionStart ...): each question shown at its start on the
// server's clock, the countdown as the server's time gives it, each answer sent as it is made
// (kept and sent again when the network is back), the server's word on each taken into the
// game, and at the round's end the results window with the server's total. The server alone
// gives the points.
import { RoundClock } from './roundclock.js';
import { notice } from './strip.js';

const idle = '先生がクラスのラウンドを始めると、ここで始まります（それまでは一人で遊べます）。';
const midway = 'クラスのラウンドの途中です。次のラウンドから参加できます。';
const samples = 4; // GET round / join pairs that measure the clock: one at once, the rest spread
const stream = 'events';
const warmMilliseconds = 3000; // between a round's readings while it is played
const againMilliseconds = 1000; // before an answer the server did not take is sent again

const wait = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// M: the game library; win: the game window (game.js); store: the class's store (classlink.js).
export function classRound(M, win, store) {
  let clock = null;
  let playing = null; // the round joined and not over: {number, start, tick, ...}
  let ended = null; // the number of the last round played to its end here
  let standing = -1; // the question showing
  const waiting = []; // answers the server has not had yet: {number, question, button}

  // (A reading the network or a busy server lost is tried again, a second apart, a few times:
  // a page that missed the start's reading would never join.)
  async function look(tries = 4) {
    const { fate, json } = await store.round();
    if (fate !== 'stored' || !json) {
      if (tries > 1) await wait(1000).then(() => look(tries - 1));
      return;
    }
    const round = json.round;
    if (!round || playing?.number === round.number) return;
    const open = json.now < round.start || (round.joined && json.now < round.end);
    if (open) await join(round);
    else notice('round', json.now < round.end ? midway : idle);
  }

  async function join(round) {
    playing = round;
    const name = await store.pupilName();
    let joined = false;
    clock = await new RoundClock().measure(
      async () => (await store.round()).json,
      samples,
      async (answer) => {
        if (!answer?.mark) return;
        const body = { number: round.number, t: answer.t, mark: answer.mark, ...(name ? { name } : {}) };
        if ((await store.round('/join', body)).fate === 'stored') joined = true;
      },
      round.start,
    );
    if (!joined || !clock.known) {
      playing = null;
      notice('round', midway);
      return;
    }
    notice('round', `クラスのラウンド（第${round.number}回）に参加しています。`);
    await play(round);
  }

  const schedule = (round, q) => [
    M.questionStart(round.start, round.tick, q),
    M.questionEnd(round.start, round.tick, q),
  ];

  // While a round is played the page reads it every few seconds: the connection an answer goes
  // on stays open (a server closes one idle for 5 s, and a new one would cost a slow network a
  // round trip more than its allowance), and each reading is one more sample of the clock.
  function keepWarm() {
    const reading = async () => {
      const sent = clock.local();
      const { json } = await store.round();
      if (json) clock.add(sent, json.now, clock.local());
    };
    const timer = setInterval(() => reading().catch(() => {}), warmMilliseconds);
    return () => clearInterval(timer);
  }

  async function play(round) {
    const game = win.game;
    standing = -1;
    const cool = keepWarm();
    try {
      await win.play(game.startRound(round.seed, round.range, round.tick));
      for (const a of round.answers ?? []) await win.play(game.roundAnswered(a.question, a.points, a.counted, a.right));
      const over = M.roundEnd(round.start, round.tick);
      for (let q = 0; schedule(round, q)[1] <= over; ++q) {
        const [start, end] = schedule(round, q);
        if (clock.now() >= end) continue; // gone while this device was away
        await wait(clock.until(start));
        standing = q;
        await win.showRound(game.roundQuestion(q));
        // Each tick at its moment on the server's clock, then the time-out at the end.
        for (let now = clock.now(); now < end; now = clock.now()) {
          await win.play(game.roundTick(now - start));
          await wait(Math.min(round.tick - ((now - start) % round.tick), end - now));
        }
        await win.play(game.roundTick(end - start));
      }
      await wait(clock.until(over));
    } finally {
      cool();
    }
    await sendWaiting();
    // The server's word on every answer, as it stands now (an answer's own may have been lost).
    const { json } = await store.round();
    if (json?.round?.number === round.number)
      for (const a of json.round.answers) await win.play(game.roundAnswered(a.question, a.points, a.counted, a.right));
    playing = null;
    ended = round.number;
    notice('round', idle);
    await win.play(game.endRound());
  }

  // An answer the game took on this page: sent at once; kept while the network is away.
  async function answered(button) {
    if (!playing || standing < 0) return;
    waiting.push({ number: playing.number, question: standing, button });
    await sendWaiting();
  }
  // An answer the server did not take (no network, no answer within the wait, a busy server) is
  // sent again a second later while the round is played, and when the network comes back: were
  // it to wait for the next answer, it would come after its question had ended, and not count.
  let sending = Promise.resolve();
  let again = null;
  const sendWaiting = () =>
    (sending = sending
      .then(async () => {
        while (waiting.length) {
          const { fate, json } = await store.round('/answers', waiting[0]);
          if (fate === 'waiting') {
            if (playing && !again)
              again = setTimeout(() => {
                again = null;
                sendWaiting();
              }, againMilliseconds);
            return;
          }
          const sent = waiting.shift();
          if (fate === 'stored' && playing?.number === sent.number)
            await win.play(win.game.roundAnswered(json.question, json.points, json.counted, json.right));
        }
      })
      .catch(() => {}));
  addEventListener('online', () => sendWaiting());

  notice('round', idle);
  const events = new EventSource(store.roundEvents);
  events.addEventListener('round', () => look().catch(() => {}));
  // A stream opened again (after the network or the server was away) may have missed a start.
  let opened = false;
  events.addEventListener('open', () => {
    if (opened) look().catch(() => {});
    opened = true;
  });
  look().catch(() => {});
  return {
    answered,
    // The finished round, for its entry ({round}), until another round starts.
    played: () => (ended !== null && !playing ? { round: ended } : null),
    // Where the round stands on this page: its number, the question showing and the ms since
    // it showed on the server's clock (null while none is played).
    at: () =>
      playing && clock && standing >= 0
        ? { number: playing.number, question: standing, elapsed: clock.now() - schedule(playing, standing)[0] }
        : null,
  };
}
