// SPDX-License-Identifier: GPL-3.0-or-later
// The page opened at a class's link (…/c/{classKey}/): the results window's lists are the
// class's, kept by the class server, which applies the game library's Save and Blank to them.
// Every opening reads them anew; 戻る sends the entry, 初期化 blanks them. The device keeps a copy
// per class: the lists the server last gave, with the entries it has not taken yet saved into
// it. Those entries wait in an outbox on the device, each with an id, and go in their order when
// the server can be reached again (at an opening, or when the browser is back online); the
// server stores an id once, so an entry whose answer was lost is not stored twice.
import { openRankingFile } from './storage.js';
import { notice } from './strip.js';

const classWait = 4000; // ms before a request counts as no network
const classUnreachable = 'クラスにつながりません';

// The class key of the page's address, or null for a page without a class link.
export function classKey(href = location.href) {
  const found = /\/c\/([A-Za-z0-9_-]{16,64})\/[^/]*$/.exec(new URL(href).pathname);
  return found ? found[1] : null;
}

// An id no other entry has: 16 random bytes, base64url.
function entryId() {
  const bytes = crypto.getRandomValues(new Uint8Array(16));
  return btoa(String.fromCharCode(...bytes)).replace(/\+/g, '-').replace(/\//g, '_').replace(/=+$/, '');
}

const fromBase64 = (text) => Uint8Array.from(atob(text), (c) => c.charCodeAt(0));

// What lets the class server replay the game an entry claims its score by: the seed its
// questions were drawn from and its log's text (played: the game window's played()).
const replayable = (played) => (played ? { seed: played.seed, log: played.log } : {});

// A file of the device's storage, or one in memory when the browser keeps nothing.
async function kept(name) {
  const file = await openRankingFile(name);
  if (file) return file;
  let bytes = new Uint8Array(0);
  return { read: async () => bytes, change: async (how) => { bytes = how(bytes); return true; } };
}

// The class's store, read and changed as the results window does the device's ranking file:
// read() gives the class's lists (the device's copy when the server cannot be reached, with
// `note` saying so); change(how, what) sends `what` ({entry, played} or {blank}) and resolves to true once
// the server has it, `how` making the copy's bytes from the copy's when it cannot be reached.
export async function openClass(key) {
  const [copy, state] = await Promise.all([kept(`c/${key}/tavon.rnk`), kept(`c/${key}/class.json`)]);
  const api = new URL(`../../api/v1/classes/${key}`, location.href);
  const decode = (bytes) => {
    try {
      return { name: null, outbox: [], ...JSON.parse(new TextDecoder().decode(bytes)) };
    } catch {
      return { name: null, outbox: [] };
    }
  };
  const remember = (how) => state.change((bytes) => new TextEncoder().encode(JSON.stringify(how(decode(bytes)))));
  const known = async () => decode(await state.read());

  // The answer's JSON, or null for a refusal; throws when the server cannot be reached.
  async function request(tail, body) {
    const stop = new AbortController();
    const timer = setTimeout(() => stop.abort(), classWait);
    try {
      const response = await fetch(api.href + tail, {
        method: body ? 'POST' : 'GET', cache: 'no-store', signal: stop.signal,
        headers: body ? { 'content-type': 'application/json' } : {}, body: body && JSON.stringify(body),
      });
      // Busy or down: the same as no network, for the entry has to wait.
      if (response.status === 429 || response.status >= 500) throw new Error(`${response.status}`);
      return response.ok ? await response.json() : null;
    } finally {
      clearTimeout(timer);
    }
  }

  function tell(name, waiting) {
    notice('class', `${name || 'クラス'}の成績一覧に記録します`);
    notice('class-outbox', waiting ? `まだ送っていない成績が${waiting}件あります。つながったときに送ります。` : null);
  }

  // Sends the outbox in its order; resolves to false when the server could not be reached.
  async function sendAll() {
    let reached = true;
    for (const entry of (await known()).outbox) {
      let answer;
      try {
        answer = await request('/entries', entry);
      } catch {
        reached = false;
        break;
      }
      if (answer?.saved) taken.add(entry.id);
      if (typeof answer?.image === 'string') await copy.change(() => fromBase64(answer.image));
      // A refused entry (a class that no longer exists) cannot be sent later either.
      await remember((s) => ({ ...s, outbox: s.outbox.filter((e) => e.id !== entry.id) }));
    }
    const s = await known();
    tell(s.name, s.outbox.length);
    return reached;
  }
  const taken = new Set(); // ids the server has answered for with "saved"
  let sending = Promise.resolve(true);
  const send = () => (sending = sending.then(sendAll, sendAll));

  // The class's lists as the server has them now, the outbox sent first; null when it cannot
  // be reached.
  async function fetchLists() {
    try {
      if (navigator.onLine === false || !(await send())) return null;
      const lists = await request('');
      if (typeof lists?.image !== 'string') return null;
      const bytes = fromBase64(lists.image);
      await copy.change(() => bytes);
      await remember((s) => ({ ...s, name: String(lists.name) }));
      tell(lists.name, (await known()).outbox.length);
      return bytes;
    } catch {
      return null;
    }
  }

  const store = {
    shared: true,
    note: null, // a line for the results window: its lists are not the class's as they are now
    async read() {
      const bytes = await fetchLists();
      store.note = bytes ? null : classUnreachable;
      return bytes || copy.read();
    },
    async change(how, what = {}) {
      if (what.blank) {
        try {
          const answer = await request('/blank', { id: entryId() });
          if (typeof answer?.image === 'string') return copy.change(() => fromBase64(answer.image));
        } catch {
          // no network: the lists stay as they are
        }
        return false;
      }
      if (!what.entry) return false; // the class's lists take no file from a pupil's device
      const { hani: range, tensu: score, name } = what.entry;
      const id = entryId();
      const entry = { id, range, score, name, ...replayable(what.played) };
      await remember((s) => ({ ...s, outbox: [...s.outbox, entry] }));
      await send();
      if (taken.has(id)) return true;
      if ((await known()).outbox.some((e) => e.id === id)) await copy.change(how);
      return false;
    },
  };
  const s = await known();
  tell(s.name, s.outbox.length);
  addEventListener('online', () => send().catch(() => {}));
  fetchLists(); // the class's name for the strip, and the entries still waiting sent
  return store;
}
