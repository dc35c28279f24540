// SPDX-License-Identifier: GPL-3.0-or-later
// The page opened at a class's link (…/c/{classKey}/): the results window's lists are the
// class's, kept by the class server, which applies the game library's Save and Blank to them.
// Every opening reads them anew; 戻る sends the entry, 初期化 blanks them. The device keeps a copy
// per class: the lists the server last gave, with the entries it has not taken yet saved into
// it. Those entries wait in an outbox on the device, each with an id, and leave it as the game
// library's queue rule (Module.queueFate) says: when the server has them, or when it refuses them
// for good (they go into the device's own lists, and the pupil is told why). A waiting entry is
// sent again while the page is open, after a pause that doubles at each try, at once when the
// browser is back online or the server answers anything else; the server stores an id once, so
// an entry whose answer was lost is not stored twice. Every request names the device by an id
// drawn at the first opening of a class link and kept in the page's storage.
//
// Each game on the class link is drawn from a ticket the server issued (seeds.js): the device
// keeps a stock of them with the class (fetched whenever the server answers and fewer than
// ticketsLow are left), so that games played offline are drawn from them too. Every game is
// sent with its ticket and log, whether its score enters the lists (an entry, with the name) or
// not (the game alone, for the teacher's picture of the class); the server replays it.
import { openRankingFile } from './storage.js';
import { notice } from './strip.js';
import { drawFrom, ticketOf } from './seeds.js';

const classWait = 4000; // ms before a request counts as no network
const classUnreachable = 'クラスにつながりません';
// The first pause before a waiting entry is sent again, and the longest (the first may be set
// by a test before the page's scripts run).
const firstRetry = Number.isFinite(globalThis.nuboraRetry) ? globalThis.nuboraRetry : 5000;
const lastRetry = 120000;
const ticketsLow = 10; // a lesson's games without the network

// The class key of the page's address (…/c/KEY/, in the form the game library's isClassKey
// takes), or null for a page without a class link. M: the game library.
export function classKey(M, href = location.href) {
  const found = /\/c\/([^/]*)\/[^/]*$/.exec(new URL(href).pathname);
  return found && M.isClassKey(found[1]) ? found[1] : null;
}

// An id no other entry or device has: 16 random bytes, base64url (22 characters).
function entryId() {
  const bytes = crypto.getRandomValues(new Uint8Array(16));
  return btoa(String.fromCharCode(...bytes))
    .replace(/\+/g, '-')
    .replace(/\//g, '_')
    .replace(/=+$/, '');
}

const fromBase64 = (text) => Uint8Array.from(atob(text), (c) => c.charCodeAt(0));

// What lets the class server replay the game an entry claims its score by: the ticket its
// questions were drawn from and its log's text (played: the game window's played()). A game
// drawn without a ticket (the stock ran out) is sent without one, and refused as unchecked. A
// class round's entry names the round alone: the server has its answers.
const replayable = (played) =>
  played?.round
    ? { round: played.round }
    : played
      ? { ...(ticketOf(played.seed) ? { ticket: ticketOf(played.seed) } : {}), log: played.log }
      : {};

// The device's id, drawn once and kept (a second tab drawing at the same moment takes the
// first one's).
async function deviceId() {
  const file = await kept('nubora1.device');
  const valid = (bytes) => /^[A-Za-z0-9_-]{22}$/.test(new TextDecoder().decode(bytes));
  let bytes = await file.read();
  if (!valid(bytes)) {
    const drawn = new TextEncoder().encode(entryId());
    await file.change((now) => (valid(now) ? now : drawn));
    bytes = await file.read();
    if (!valid(bytes)) bytes = drawn; // kept nowhere: this opening's own
  }
  return new TextDecoder().decode(bytes);
}

// A file of the device's storage, or one in memory when the browser keeps nothing.
async function kept(name) {
  const file = await openRankingFile(name);
  if (file) return file;
  let bytes = new Uint8Array(0);
  return {
    read: async () => bytes,
    change: async (how) => {
      bytes = how(bytes);
      return true;
    },
  };
}

// The class's store, read and changed as the results window does the device's ranking file:
// read() gives the class's lists (the device's copy when the server cannot be reached, with
// `note` saying so); change(how, what) sends `what` ({entry, played} or {blank}) and resolves to true once
// the server has it, else to the message that tells the pupil what became of it (false: the
// window's own), `how` making the copy's bytes from the copy's while the entry waits. M: the
// game library.
export async function openClass(key, M) {
  const [copy, state, device] = await Promise.all([
    kept(`c/${key}/tavon.rnk`),
    kept(`c/${key}/class.json`),
    deviceId(),
  ]);
  const api = new URL(`../../api/v1/classes/${key}`, location.href);
  const words = M.resultsMessages();
  const decode = (bytes) => {
    try {
      return { name: null, outbox: [], tickets: [], ...JSON.parse(new TextDecoder().decode(bytes)) };
    } catch {
      return { name: null, outbox: [], tickets: [] };
    }
  };
  const remember = (how) => state.change((bytes) => new TextEncoder().encode(JSON.stringify(how(decode(bytes)))));
  const known = async () => decode(await state.read());

  // The answer: its fate by the queue rule, its status (0: none) and the server's JSON object
  // (null where the body is none). The server's answer that is no refusal for now sends what
  // waits at once.
  async function request(tail, body) {
    const stop = new AbortController();
    const timer = setTimeout(() => stop.abort(), classWait);
    let status = 0,
      json = null,
      kind = 'none';
    try {
      const response = await fetch(api.href + tail, {
        method: body ? 'POST' : 'GET',
        cache: 'no-store',
        signal: stop.signal,
        body: body && JSON.stringify(body),
        headers: { 'x-nubora-device': device, ...(body ? { 'content-type': 'application/json' } : {}) },
      });
      status = response.status;
      kind = 'other';
      json = JSON.parse(await response.text());
      if (!json || typeof json !== 'object' || Array.isArray(json)) json = null;
      else kind = typeof json.error === 'string' ? 'error' : 'json';
    } catch {
      json = null; // no network, a time-out, or no JSON
      if (kind === 'other' && stop.signal.aborted) kind = 'none';
    } finally {
      clearTimeout(timer);
    }
    const fate = M.queueFate(status, kind);
    if (json && fate !== 'waiting' && retry) wake();
    return { fate, status, json };
  }

  // The entries that wait (a game alone, in no list, is no 成績 to the pupil).
  const entriesWaiting = (s) => s.outbox.filter((e) => !e.game).length;
  function tell(name, waiting) {
    notice('class', `${name || 'クラス'}の成績一覧に記録します`);
    notice('class-outbox', waiting ? `まだ送っていない成績が${waiting}件あります。つながったときに送ります。` : null);
  }

  // An entry refused for good into the device's own lists; whether it went in.
  async function keepOwn(entry) {
    const own = await openRankingFile();
    return Boolean(
      own &&
      (await own.change((bytes) => M.saveImage(bytes, { hani: entry.range, tensu: entry.score, name: entry.name }))),
    );
  }

  // Sends the outbox in its order (an entry, or a game alone: {id, game}); resolves to false at
  // the first that waits. A game alone refused is let go: it was in no list.
  async function sendAll() {
    let reached = true;
    for (const entry of (await known()).outbox) {
      const answer = entry.game ? await request('/games', entry.game) : await request('/entries', entry);
      if (answer.fate === 'waiting') {
        reached = false;
        break;
      }
      if (answer.fate === 'stored') {
        done.set(entry.id, true);
        if (typeof answer.json.image === 'string') await copy.change(() => fromBase64(answer.json.image));
      } else if (!entry.game) {
        done.set(entry.id, M.saveRefused(answer.status, await keepOwn(entry)));
      }
      await remember((s) => ({ ...s, outbox: s.outbox.filter((e) => e.id !== entry.id) }));
    }
    const s = await known();
    tell(s.name, entriesWaiting(s));
    if (s.outbox.length && !reached) later();
    else pause = firstRetry;
    return reached;
  }
  const done = new Map(); // what became of the entries the server answered for: true, or a message
  let sending = Promise.resolve(true);
  const send = () => (sending = sending.then(sendAll, sendAll));
  // The next try after the pause, which doubles; wake() makes it now.
  let retry = null,
    pause = firstRetry;
  function later() {
    clearTimeout(retry);
    retry = setTimeout(wake, pause);
    pause = Math.min(pause * 2, lastRetry);
  }
  function wake() {
    clearTimeout(retry);
    retry = null;
    send().catch(() => {});
  }

  // The class's lists as the server has them now, the outbox sent first; null when it cannot
  // be reached.
  async function fetchLists() {
    try {
      if (navigator.onLine === false || !(await send())) return null;
      const { fate, json: lists } = await request('');
      if (fate !== 'stored' || typeof lists.image !== 'string') return null;
      const bytes = fromBase64(lists.image);
      await copy.change(() => bytes);
      await remember((s) => ({ ...s, name: String(lists.name) }));
      tell(lists.name, entriesWaiting(await known()));
      await stockUp();
      return bytes;
    } catch {
      return null;
    }
  }

  // The stock of tickets: taken from in memory (a game's スタート cannot wait), kept with the class.
  let stock = (await known()).tickets.filter((t) => typeof t === 'string');
  async function stockUp() {
    if (stock.length >= ticketsLow) return;
    const { fate, json } = await request('/tickets', {});
    if (fate !== 'stored' || !Array.isArray(json.tickets)) return;
    const got = json.tickets.filter((t) => typeof t === 'string' && M.ticketSeed(t) !== null);
    stock = [...stock, ...got];
    await remember((s) => ({ ...s, tickets: [...s.tickets, ...got] }));
  }
  drawFrom(() => {
    const ticket = stock.shift();
    if (ticket === undefined) return null;
    remember((s) => ({ ...s, tickets: s.tickets.filter((t) => t !== ticket) })).catch(() => {});
    return { seed: M.ticketSeed(ticket), ticket };
  });

  const store = {
    shared: true,
    tickets: () => stock.length, // how many games the device can still draw from the class's tickets
    // A finished game whose score entered no list: sent alone, without a name, for the
    // teacher's picture of what the class gets wrong.
    async sendGame(played) {
      if (!played || played.round) return; // a round's answers are the server's already
      await remember((s) => ({ ...s, outbox: [...s.outbox, { id: entryId(), game: replayable(played) }] }));
      await send();
    },
    // A class round's calls (round.js): GET round (tail ''), POST round/join and round/answers;
    // as request() answers. roundEvents: the address of the class's event stream.
    round: (tail = '', body = undefined) => request(`/round${tail}`, body),
    roundEvents: `${api.href}/events`,
    // The name last typed on this device in the results window for this class, if any.
    pupilName: async () => (await known()).pupil ?? null,
    note: null, // a line for the results window: its lists are not the class's as they are now
    async read() {
      const bytes = await fetchLists();
      store.note = bytes ? null : classUnreachable;
      return bytes || copy.read();
    },
    async change(how, what = {}) {
      if (what.blank) {
        const answer = await request('/blank', { id: entryId() });
        if (answer.fate === 'stored' && typeof answer.json.image === 'string')
          return copy.change(() => fromBase64(answer.json.image));
        // The teacher keeps 初期化 to themselves; anything else leaves the lists as they are.
        return answer.fate === 'refused' && answer.status === 403 ? words.clearTeacherOnly : false;
      }
      if (!what.entry) return false; // the class's lists take no file from a pupil's device
      const { hani: range, tensu: score, name } = what.entry;
      const id = entryId();
      const entry = { id, range, score, name, ...replayable(what.played) };
      await remember((s) => ({ ...s, outbox: [...s.outbox, entry], pupil: name }));
      await send();
      if (done.has(id)) return done.get(id);
      if (!(await known()).outbox.some((e) => e.id === id)) return true; // sent by another tab meanwhile
      await copy.change(how);
      return words.saveWaiting;
    },
  };
  const s = await known();
  tell(s.name, entriesWaiting(s));
  addEventListener('online', wake);
  // The class's name for the strip, the entries still waiting sent, the first tickets fetched.
  store.stocked = fetchLists().then(() => undefined);
  return store;
}
