// SPDX-License-Identifier: GPL-3.0-or-later
// The ranking file tavon.rnk as this browser keeps it: its bytes in IndexedDB (localStorage
// where there is none, as under some file:// pages), each write one transaction. Saves of two
// tabs go one after the other (Web Locks), each reading the file anew before it writes.
const fileName = 'tavon.rnk';
const dbName = 'nubora1';
const storeName = 'files';

function idb() {
  return new Promise((resolve, reject) => {
    const request = indexedDB.open(dbName, 1);
    request.onupgradeneeded = () => request.result.createObjectStore(storeName);
    request.onsuccess = () => resolve(request.result);
    request.onerror = () => reject(request.error);
  });
}

function inStore(db, mode, act) {
  return new Promise((resolve, reject) => {
    const tx = db.transaction(storeName, mode);
    const request = act(tx.objectStore(storeName));
    tx.oncomplete = () => resolve(request.result);
    tx.onerror = tx.onabort = () => reject(tx.error || new Error('transaction failed'));
  });
}

// Latin-1 text of the bytes, for localStorage.
const toText = (bytes) => Array.from(bytes, (b) => String.fromCharCode(b)).join('');
const fromText = (text) => Uint8Array.from(text, (c) => c.charCodeAt(0));

class IdbFile {
  constructor(db, name) { this.db = db; this.name = name; }
  async read() {
    const value = await inStore(this.db, 'readonly', (s) => s.get(this.name));
    return value instanceof Uint8Array ? value : new Uint8Array(0);
  }
  write(bytes) { return inStore(this.db, 'readwrite', (s) => s.put(bytes, this.name)); }
}

class LocalFile {
  constructor(name) { this.name = name; }
  async read() {
    const text = localStorage.getItem(this.name);
    return text === null ? new Uint8Array(0) : fromText(text);
  }
  async write(bytes) { localStorage.setItem(this.name, toText(bytes)); }
}

// Serialises a change of the file with those of other tabs, where the browser can.
function exclusive(name, work) {
  if (navigator.locks?.request) return navigator.locks.request(name, work);
  return work();
}

// The file, or null when this browser keeps nothing (storage switched off). `name`: the key it
// is kept under (a class's copy of its lists has its own).
export async function openRankingFile(name = fileName) {
  let file = null;
  try {
    if (globalThis.indexedDB) {
      file = new IdbFile(await idb(), name);
      await file.read();
    }
  } catch {
    file = null;
  }
  if (!file) {
    try {
      localStorage.setItem(`${fileName}.probe`, '');
      localStorage.removeItem(`${fileName}.probe`);
      file = new LocalFile(name);
    } catch {
      return null;
    }
  }
  // Kept when the browser clears storage under pressure, where it grants that.
  navigator.storage?.persist?.().catch(() => {});
  return {
    read: () => file.read(),
    // change(bytes) gives the new image from the file's bytes as they are now; resolves to
    // true when it was written.
    change: (change) => exclusive(name, async () => {
      try {
        await file.write(change(await file.read()));
        return true;
      } catch {
        return false;
      }
    }),
  };
}
