// SPDX-License-Identifier: GPL-3.0-or-later
// The teacher's page of one class: the board (its name, link and QR code beside its lists, for
// the projector), and below it the teacher's tools: what the class gets wrong,
// every saved entry, and the lists as they stood before each 初期化 or import, with a way to
// put them back (with every entry saved since entered again), a way to take one entry out of
// the lists and put it back, and whether pupils' 初期化 clears the lists. Everything the server
// sends is shown as text, never as markup. A take-down is undone by 戻す, so neither asks
// first; what became of it is said in the status line (a live region), and the focus stays
// where the teacher was. The class round's panel is round.js's.
import { roundPanel, serial } from './round.js';

const key = location.pathname
  .replace(/\/(index\.html)?$/, '')
  .split('/')
  .pop();
const api = new URL(`../../api/v1/teachers/${key}`, location.href);
const $ = (id) => document.getElementById(id);
const whats = { blank: '初期化', import: '読み込み', restore: '復元' };
const round = roundPanel({ api, say });

function element(tag, text, className) {
  const e = document.createElement(tag);
  if (text !== undefined) e.textContent = text;
  if (className) e.className = className;
  return e;
}

// A row of cells, each a text or a node.
function row(cells) {
  const tr = element('tr');
  for (const [content, className] of cells) {
    const td = element('td', undefined, className);
    td.append(content instanceof Node ? content : String(content));
    tr.append(td);
  }
  return tr;
}

// The server's time (UTC, ISO 8601) in this computer's time zone, as a teacher reads it
// (12月11日 16:05), with the time itself in its datetime; a text that is no time, as it is.
const clock = new Intl.DateTimeFormat('ja-JP', { month: 'long', day: 'numeric', hour: '2-digit', minute: '2-digit' });
function when(time) {
  const t = new Date(time);
  const e = element('time', Number.isNaN(t.getTime()) ? time : clock.format(t));
  e.dateTime = time;
  return e;
}

// What the class gets wrong in the period chosen (今日, 今週, これまで): for each relation shown
// (a row), how often the class named it as each relation or ran out of time, the right answers
// on the diagonal, and their share of the row.
let mistakes = null;
let period = 0;
function showMistakes() {
  const p = mistakes?.periods[period];
  if (!p) return;
  for (const b of document.querySelectorAll('[data-period]'))
    b.setAttribute('aria-pressed', String(Number(b.dataset.period) === period));
  $('mistakes-games').textContent = `${p.name}のゲーム：${p.games}回`;
  $('mistakes-caption').textContent = `${p.name}の出題と答え（太字が正しい答え）`;
  const heading = (text, scope, span) => {
    const th = element('th', text);
    th.scope = scope;
    if (scope === 'colgroup') th.colSpan = span;
    else if (span) th.rowSpan = span;
    return th;
  };
  const top = element('tr');
  top.append(
    heading('出題', 'col', 2),
    heading('答え', 'colgroup', mistakes.relations.length + 1),
    heading('正答率', 'col', 2),
  );
  const names = element('tr');
  names.append(...[...mistakes.relations, '時間切れ'].map((name) => heading(name, 'col')));
  $('mistakes-head').replaceChildren(top, names);
  $('mistakes-rows').replaceChildren(
    ...p.rows.map((counts, s) => {
      const tr = element('tr');
      tr.append(heading(mistakes.relations[s], 'row'));
      counts.forEach((n, a) => {
        const cell = element('td', String(n), a === s ? 'count right' : 'count');
        if (a === s) cell.append(element('span', '（正しい答え）', 'hidden-text'));
        tr.append(cell);
      });
      const shown = counts.reduce((sum, n) => sum + n, 0);
      tr.append(element('td', shown ? `${Math.round((100 * counts[s]) / shown)}%` : '－', 'count'));
      return tr;
    }),
  );
}
for (const b of document.querySelectorAll('[data-period]'))
  b.addEventListener('click', () => {
    period = Number(b.dataset.period);
    showMistakes();
  });

// The lists as tables. With `takeDown`, a row that a saved entry made has a 取り消す button
// (a row of an imported or restored list is no entry's, and has none).
function listsTables(lists, takeDown) {
  const box = element('div', undefined, 'lists');
  lists.forEach((list, l) => {
    const table = element('table');
    table.append(element('caption', list.range));
    const buttons = takeDown && list.rows.some((r) => r.entry);
    // The columns' names, for a screen reader; not drawn.
    const head = element('tr', undefined, 'hidden-text');
    for (const name of ['順位', '名前', '得点', ...(buttons ? ['一覧から'] : [])]) {
      const th = element('th', name);
      th.scope = 'col';
      head.append(th);
    }
    table.append(element('thead'));
    table.tHead.append(head);
    const body = element('tbody');
    list.rows.forEach((r, p) => {
      const tr = row([[r.place], [r.name], [r.score, 'score']]);
      if (buttons) {
        const cell = element('td');
        if (r.entry)
          cell.append(
            button('取り消す', `${r.name} ${r.score}点 を一覧から取り消す`, `list-${l}-${p}`, () =>
              mark(
                'remove',
                r.entry,
                `${r.name} ${r.score}点を一覧から取り消しました。下の記録が上がりました（「保存された記録」の「戻す」で戻せます）。`,
              ),
            ),
          );
        tr.append(cell);
      }
      body.append(tr);
    });
    table.append(body);
    box.append(table);
  });
  return box;
}

function button(text, label, id, click) {
  const b = element('button', text);
  b.type = 'button';
  b.setAttribute('aria-label', label);
  b.dataset.focus = id;
  b.addEventListener('click', () => click(id));
  return b;
}

// Takes an entry down (remove) or puts it back (reinstate), then shows the class again with
// the focus on the control that now stands where the clicked one stood.
async function mark(how, id, done) {
  const from = document.activeElement?.dataset?.focus;
  try {
    await post(how, JSON.stringify({ id }), 'application/json');
  } catch (error) {
    say(`できませんでした。もう一度押してください。（${error.message}）`);
    return;
  }
  await show();
  say(done);
  const [kind, list] = (from || '').split('-');
  const again =
    from &&
    (document.querySelector(`[data-focus="${from}"]`) ||
      (kind === 'list' && [...document.querySelectorAll(`[data-focus^="list-${list}-"]`)].pop()));
  (again || $('lists-heading')).focus();
}

function say(text) {
  $('status').textContent = text;
}

async function post(path, body, type) {
  const response = await fetch(`${api}/${path}`, { method: 'POST', body, headers: { 'Content-Type': type } });
  if (!response.ok) throw new Error((await response.json().catch(() => ({}))).error || response.statusText);
  return response.json();
}

// The class as the server has it now; `quietly` (follow's readings) leaves the status line as
// it is, whatever the teacher's own actions say there meanwhile.
async function show(quietly = false) {
  const response = await fetch(api, { cache: 'no-store' });
  if (!response.ok) {
    if (!quietly) $('status').textContent = 'クラスを読み込めませんでした。';
    return;
  }
  const c = await response.json();
  document.title = `${c.name} - nubora1`;
  $('name').textContent = c.name;
  $('link').textContent = c.link;
  $('link').href = c.link;
  $('qr').src = `${api}/qr.svg`;
  $('rnk').href = `${api}/tavon.rnk`;
  $('csv').href = `${api}/entries.csv`;
  $('mistakes-csv').href = `${api}/mistakes.csv`;
  round.ranges(c.lists.map((l) => l.range));
  mistakes = c.mistakes;
  showMistakes();
  $('lists').replaceChildren(...listsTables(c.lists, true).children);
  $('entries').replaceChildren(...c.entries.map((e) => entryRow(c, e)));
  showSettings(c.settings);
  $('history').replaceChildren(
    ...c.history
      .slice()
      .reverse()
      .map((h) => {
        const past = element('div', undefined, 'past');
        const heading = element('h4');
        heading.append(when(h.time), ` ${whats[h.what] || h.what}の前`);
        past.append(heading, listsTables(h.lists));
        const back = element('button', 'この一覧に戻す');
        back.type = 'button';
        back.addEventListener('click', () =>
          act(
            () => post('restore', JSON.stringify({ history: h.number }), 'application/json'),
            '今の一覧をこの一覧に戻しますか？（このあとに保存された記録は入れ直されます）',
          ),
        );
        past.append(back);
        return past;
      }),
  );
  if (!c.history.length)
    $('history').append(
      element('p', 'まだありません（生徒の「初期化」や読み込みのたびに、その前の一覧がここに残ります）。'),
    );
  if (!quietly) $('status').textContent = '';
}

// The class read again whenever the server says it changed (a pupil's save, a take-down on
// another PC's page): the page's stream of changes, …/events, which EventSource opens again
// by itself after a break; when it opens, what changed meanwhile is read too. A burst of
// changes makes at most one more reading after the one under way. What the teacher has in
// hand stays: the focus on the same control, the status line's words (show, quietly), a
// file's preview, a setting being sent (its own reading comes after it). The stream's `round`
// reads the class round for its panel the same way.
function follow() {
  let last = null; // the data-focus of the control focused last (by the teacher or an action)
  document.addEventListener('focusin', (event) => {
    last = event.target.dataset?.focus ?? null;
  });
  const read = serial(async () => {
    await settingSent.catch(() => {}); // its own reading first: the box keeps what the teacher chose
    const focused = document.activeElement;
    await show(true);
    if (last && !focused?.isConnected && document.activeElement === document.body)
      document.querySelector(`[data-focus="${CSS.escape(last)}"]`)?.focus();
  });
  const events = new EventSource(`${api}/events`);
  events.addEventListener('change', read);
  events.addEventListener('round', round.read);
  events.addEventListener('open', () => {
    read();
    round.read();
  });
}

// An entry of the table with its button: 取り消す takes it out of the lists
// (the entries below move up), 戻す puts a removed one back. It stays in the table either way.
function entryRow(c, e) {
  const range = c.lists[e.range] ? c.lists[e.range].range : e.range;
  const tr = row([[when(e.time)], [range], [e.score, 'score'], [e.name]]);
  const cell = element('td');
  const what = `${e.name} ${e.score}点`;
  if (e.removed) {
    tr.className = 'removed';
    cell.append(element('span', '取り消し済み', 'mark'), ' ');
    cell.append(
      button('戻す', `${what} を一覧に戻す`, `entry-${e.id}`, () =>
        mark('reinstate', e.id, `${what}を一覧に戻しました。`),
      ),
    );
  } else {
    cell.append(
      button('取り消す', `${what} を一覧から取り消す`, `entry-${e.id}`, () =>
        mark('remove', e.id, `${what}を一覧から取り消しました。「戻す」で戻せます。`),
      ),
    );
  }
  tr.append(cell);
  return tr;
}

// The class's settings: whether a pupil's 初期化 clears the class's lists.
function showSettings(settings) {
  const box = $('pupils-blank');
  box.checked = !settings || settings.pupilsBlank !== false;
  box.disabled = false;
  settingSaid();
}

// What the box's state does, in one line under it.
function settingSaid() {
  $('pupils-blank-said').textContent = $('pupils-blank').checked
    ? '今は、生徒が「初期化」を押すとクラスの成績一覧が消えます（消える前の一覧は下の「初期化・読み込みの前の一覧」に残ります）。'
    : '今は、生徒が「初期化」を押してもクラスの成績一覧は消えません（消せるのは先生だけです）。';
}

// The setting being sent, and the reading after it (follow's readings wait for it).
let settingSent = Promise.resolve();
$('pupils-blank').addEventListener('change', (event) => {
  settingSent = sendSetting(event.target);
});
async function sendSetting(box) {
  box.disabled = true;
  try {
    await post('settings', JSON.stringify({ pupilsBlank: box.checked }), 'application/json');
  } catch (error) {
    box.checked = !box.checked;
    box.disabled = false;
    settingSaid();
    say(`設定を変えられませんでした。もう一度お試しください。（${error.message}）`);
    return;
  }
  await show();
  say(
    box.checked
      ? '生徒の「初期化」で一覧が消えるようにしました。'
      : '生徒の「初期化」では一覧が消えないようにしました。',
  );
  box.focus();
}

async function act(change, question) {
  if (!confirm(question)) return;
  try {
    await change();
  } catch (error) {
    say(`できませんでした。もう一度お試しください。（${error.message}）`);
    return;
  }
  await show();
}

// A file is loaded only after the teacher has seen the lists it holds: the server checks it
// (import/check) and shows them, or says why it is no ranking file; 読み込む loads it.
let chosen = null;
function closePreview() {
  chosen = null;
  $('preview').hidden = true;
  $('preview-lists').replaceChildren();
}
$('import').addEventListener('change', async (event) => {
  const file = event.target.files[0];
  event.target.value = '';
  closePreview();
  if (!file) return;
  const bytes = await file.arrayBuffer();
  let checked;
  try {
    checked = await post('import/check', bytes, 'application/octet-stream');
  } catch (error) {
    $('status').textContent = `${file.name} は読み込めません: ${error.message}`;
    return;
  }
  chosen = bytes;
  $('status').textContent = '';
  $('preview-heading').textContent =
    `${file.name} の一覧（読み込むと今の一覧と置き換わります。今の一覧は履歴に残ります）`;
  $('preview-lists').replaceChildren(...listsTables(checked.lists).children);
  $('preview').hidden = false;
  $('load').focus();
});
$('load').addEventListener('click', async () => {
  const bytes = chosen;
  closePreview();
  if (!bytes) return;
  try {
    await post('import', bytes, 'application/octet-stream');
  } catch (error) {
    say(`できませんでした。もう一度お試しください。（${error.message}）`);
    return;
  }
  await show();
});
$('cancel').addEventListener('click', closePreview);
show();
follow();
