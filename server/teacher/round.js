// SPDX-License-Identifier: GPL-3.0-or-later
// The class round on the board. Idle, the board shows the lists with a range to choose and
// ラウンドを始める beside their heading. From the start the round stands in the lists' place:
// during the lead time a count-down to the first question; during the round the question
// standing, how many answered it and how many of them right, how many joined, and the top ten;
// after it the whole ranking (ラウンドの結果), until the teacher goes back to the lists. The
// times come from the server's clock, as this computer estimates it from its readings; the
// round is read again (GET round, one reading at a time) whenever the class's stream says
// `round`. The counts are a polite live region; nothing the teacher may hold the focus on is
// ever taken out of the page.
const $ = (id) => document.getElementById(id);

const topShown = 10;

// `work` run one call at a time: calls made while it runs make one more run after it, however
// many they were. A run that fails is as if done.
export function serial(work) {
  let running = false;
  let again = false;
  return async () => {
    again = true;
    if (running) return;
    running = true;
    try {
      while (again) {
        again = false;
        await work().catch(() => {});
      }
    } finally {
      running = false;
    }
  };
}

// The state of round `r` at the server's time `now`: idle (none, or its results put away),
// lead (before its first question), play, or over; and during play the question standing
// (from its start, as the server gives it, until the next one's).
export function roundState(r, now, closed) {
  if (!r) return { state: 'idle' };
  if (now < r.start) return { state: 'lead', seconds: Math.ceil((r.start - now) / 1000) };
  if (now >= r.end) return { state: r.number === closed ? 'idle' : 'over' };
  const question = r.questions.findLastIndex((q) => q.start <= now);
  return { state: 'play', question: Math.max(0, question) };
}

// Sets a node's text only when it changes: a live region speaks only what is new.
function text(e, value) {
  if (e.textContent !== value) e.textContent = value;
}

function counted(label, n) {
  const part = document.createElement('span');
  const figure = document.createElement('b');
  figure.textContent = String(n);
  part.append(`${label} `, figure, '人');
  return part;
}

// The round's panel: `api` the teacher's address, `say` the status line. Its `read` reads the
// round again (the stream's `round`), `ranges` takes the ranges' names as the lists have them.
export function roundPanel({ api, say: sayStatus }) {
  const board = $('board');
  // What the panel last said: taken back when the round moves on (the seconds to the first
  // question, or a refused start, are stale once it does), unless something else was said since.
  let said = null;
  const say = (text) => {
    said = text;
    sayStatus(text);
  };
  const storeKey = `nubora1-round-closed-${api.pathname}`;
  let round = null;
  let names = [];
  let closed = Number(localStorage.getItem(storeKey)) || 0;
  let offset = 0; // the server's clock less performance.now(), from the quickest reading
  let quickest = Infinity;
  let drawnState = null;
  let drawnCounts = '';
  let drawnRanking = '';
  const now = () => performance.now() + offset;

  function take(answer, sent) {
    const back = performance.now();
    if (back - sent <= quickest) {
      quickest = back - sent;
      offset = answer.now - (sent + back) / 2;
    }
    round = answer.round;
    draw();
  }

  const read = serial(async () => {
    const sent = performance.now();
    const response = await fetch(`${api}/round`, { cache: 'no-store' });
    if (response.ok) take(await response.json(), sent);
  });

  function draw() {
    const at = roundState(round, now(), closed);
    if (at.state !== drawnState) {
      const had = document.activeElement;
      board.dataset.round = at.state;
      if (drawnState !== null && said !== null && $('status').textContent === said) sayStatus('');
      said = null;
      if (drawnState === 'play' && at.state === 'over') read(); // the final ranking
      drawnState = at.state;
      // The close button goes with the results: the focus it held goes to the start button.
      if (had === $('round-close') && at.state !== 'over') $('round-start').focus();
    }
    text($('round-range-name'), round && at.state !== 'idle' ? `　${names[round.range] ?? ''}` : '');
    text($('round-count'), at.state === 'lead' ? String(at.seconds) : '');
    text(
      $('round-question'),
      { lead: 'まもなく第 1問', play: `第 ${(at.question ?? 0) + 1}問`, over: '5問 おわり' }[at.state] ?? '',
    );
    const q = at.state === 'play' ? round.questions?.[at.question] : null;
    const counts =
      at.state === 'idle'
        ? []
        : [
            ...(q
              ? [
                  ['答えた', q.answered],
                  ['正解', q.right],
                ]
              : []),
            ['参加', round.joined ?? 0],
          ];
    const countsKey = JSON.stringify(counts);
    if (countsKey !== drawnCounts) {
      drawnCounts = countsKey;
      $('round-counts').replaceChildren(...counts.flatMap(([label, n], i) => [...(i ? [' '] : []), counted(label, n)]));
    }
    const ranking = { play: (round?.ranking ?? []).slice(0, topShown), over: round?.ranking ?? [] }[at.state] ?? [];
    text($('round-ranking-heading'), { play: `上位 ${topShown}人`, over: 'ラウンドの結果' }[at.state] ?? '');
    const rankingKey = JSON.stringify(ranking);
    if (rankingKey !== drawnRanking) {
      drawnRanking = rankingKey;
      // Down the columns: three after the round, two of five during it.
      $('round-ranking').style.setProperty('--rows', String(Math.max(1, Math.ceil(ranking.length / 3))));
      $('round-ranking').replaceChildren(
        ...ranking.map((r, i) => {
          const li = document.createElement('li');
          for (const [value, className] of [
            [String(i + 1), 'place'],
            [r.name || '名前なし', 'name'],
            [`${r.points}点`, 'points'],
          ]) {
            const part = document.createElement('span');
            part.className = className;
            part.textContent = value;
            li.append(part, ' ');
          }
          return li;
        }),
      );
    }
  }

  async function start() {
    const sent = performance.now();
    let response;
    try {
      response = await fetch(`${api}/round`, {
        method: 'POST',
        body: JSON.stringify({ range: Number($('round-range').value) }),
        headers: { 'Content-Type': 'application/json' },
      });
    } catch {
      say('ラウンドを始められませんでした。もう一度押してください。');
      return;
    }
    if (response.status === 409) {
      say('ラウンドはもう始まっています。終わってから始めてください。');
      read();
      return;
    }
    if (!response.ok) {
      const why = (await response.json().catch(() => ({}))).error || response.statusText;
      say(`ラウンドを始められませんでした。もう一度押してください。（${why}）`);
      return;
    }
    take(await response.json(), sent);
    const seconds = Math.round((round.start - now()) / 1000);
    say(seconds > 0 ? `ラウンドを始めました。${seconds}秒後に第 1問が出ます。` : 'ラウンドを始めました。');
  }

  $('round-start').addEventListener('click', start);
  $('round-close').addEventListener('click', () => {
    closed = round?.number ?? 0;
    localStorage.setItem(storeKey, String(closed));
    draw();
  });
  setInterval(draw, 100);

  return {
    read,
    // The ranges' names, from the class's lists: the choice keeps the range chosen.
    ranges(list) {
      const select = $('round-range');
      if (JSON.stringify(list) === JSON.stringify(names)) return;
      const chosen = select.value;
      names = list;
      select.replaceChildren(
        ...names.map((name, i) => {
          const option = document.createElement('option');
          option.value = String(i);
          option.textContent = name;
          return option;
        }),
      );
      if (chosen) select.value = chosen;
      select.disabled = false;
      $('round-start').disabled = false;
      draw();
    },
  };
}
