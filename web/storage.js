// SPDX-License-Identifier: GPL-3.0-or-later
// The ranking file tavon.rnk as this browser keeps it: its bytes in IndexedDB (localStorage
// where there is none, as under some file:// pages). A change is read and written in one
// transaction, which the browser runs after every other on the file, in any tab. A database
// closed under the page (the browser's data cleared while it is open) is opened again.
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

// Latin-1 text of the bytes, for localStorage.
const toText = (bytes) => Array.from(bytes, (b) => String.fromCharCode(b)).join('');
const fromText = (text) => Uint8Array.from(text, (c) => c.charCodeAt(0));
const image = (value) => (value instanceof Uint8Array ? value : new Uint8Array(0));

class IdbFile {
  constructor(db, name) { this.name = name; this.keep(db); }
  keep(db) {
    this.db = db;
    // Cleared or deleted elsewhere: let go, to open it anew at the next use.
    db.onclose = () => { this.db = null; };
    db.onversionchange = () => { db.close(); this.db = null; };
  }
  // act(store, done) in one transaction; resolves to what it passed to done. Once more on a
  // database opened again when this one is gone.
  async run(mode, act) {
    for (let attempt = 0; ; ++attempt) {
      try {
        if (!this.db) this.keep(await idb());
        return await new Promise((resolve, reject) => {
          const tx = this.db.transaction(storeName, mode);
          let result;
          act(tx.objectStore(storeName), (r) => { result = r; });
          tx.oncomplete = () => resolve(result);
          tx.onerror = tx.onabort = () => reject(tx.error || new Error('transaction failed'));
        });
      } catch (error) {
        if (attempt > 0 || (error?.name !== 'InvalidStateError' && this.db)) throw error;
        this.db = null;
      }
    }
  }
  read() {
    return this.run('readonly', (s, done) => { s.get(this.name).onsuccess = (e) => done(image(e.target.result)); });
  }
  change(how) {
    return this.run('readwrite', (s, done) => {
      s.get(this.name).onsuccess = (e) => {
        try {
          s.put(how(image(e.target.result)), this.name);
          done(true);
        } catch {
          s.transaction.abort(); // a write refused (quota): the file stays as it was
        }
      };
    });
  }
}

class LocalFile {
  constructor(name) { this.name = name; }
  async read() {
    const text = localStorage.getItem(this.name);
    return text === null ? new Uint8Array(0) : fromText(text);
  }
  // Saves of two tabs go one after the other where the browser has Web Locks.
  change(how) {
    const work = async () => {
      localStorage.setItem(this.name, toText(how(await this.read())));
      return true;
    };
    return navigator.locks?.request ? navigator.locks.request(this.name, work) : work();
  }
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
    // The bytes, or empty when they cannot be read (a save then says it failed).
    read: () => file.read().catch(() => new Uint8Array(0)),
    // change(bytes) gives the new image from the file's bytes as they are now, at once (in
    // the same transaction); resolves to true when it was written.
    change: (how) => file.change(how).catch(() => false),
  };
}
