// SPDX-License-Identifier: GPL-3.0-or-later
// The ranking file tavon.rnk as this browser keeps it: its bytes in IndexedDB (localStorage
// where there is none, as under some file:// pages). A change is read and written in one
// transaction, which the browser runs after every other on the file, in any tab. A database
// closed under the page (the browser's data cleared while it is open) is opened again. In
// localStorage, a change another tab's write undid is made again (LocalFile).
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
  constructor(db, name) {
    this.name = name;
    this.keep(db);
  }
  keep(db) {
    this.db = db;
    // Cleared or deleted elsewhere: let go, to open it anew at the next use.
    db.onclose = () => {
      this.db = null;
    };
    db.onversionchange = () => {
      db.close();
      this.db = null;
    };
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
          act(tx.objectStore(storeName), (r) => {
            result = r;
          });
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
    return this.run('readonly', (s, done) => {
      s.get(this.name).onsuccess = (e) => done(image(e.target.result));
    });
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

// The file in localStorage. That has no transaction, and each tab reads and writes a copy of
// its own, which the browser brings to the other tabs a moment later: two tabs saving at once
// can each write the lists without the other's entry (Web Locks, where the browser has them,
// put the saves one after the other, but the copies can lag behind the lock), and reading back
// in the tab that wrote proves nothing, as it reads its own copy. So each write carries, after
// the image, the marks of the writes its lists are made of: those of the lists it was made
// from, and a new one. A tab keeps the changes it made this session with their marks, and
// whenever the lists change under it (the storage event) and hold none of a change's marks,
// makes that change again on the lists as they are now, under a further mark. Guaranteed: while
// the tabs that saved stay open, every save ends in the lists, once (lists hold a change's
// effect exactly when they hold one of its marks); a change that cannot be made again (a write
// refused) is reported through `lost`. Not guaranteed: a tab closed within a moment of saving,
// at the very moment another tab saved, can lose its entry to it unnoticed.
const marker = '\uffff'; // never in the image's text, whose characters are bytes
const keptMarks = 256;
const draw = () =>
  Array.from(crypto.getRandomValues(new Uint8Array(6)), (b) => b.toString(36).padStart(2, '0')).join('');

class LocalFile {
  constructor(name, lost) {
    this.name = name;
    this.lost = lost;
    this.mine = []; // { how, marks }: this tab's changes, until the lists hold them for good
    addEventListener('storage', (event) => {
      if (event.storageArea !== localStorage || (event.key !== null && event.key !== this.name)) return;
      if (event.key === null || event.newValue === null)
        this.mine = []; // cleared: none is made again
      else this.redo();
    });
  }
  // { image, marks } as this tab's copy has them now.
  now() {
    const [text = '', marks = ''] = (localStorage.getItem(this.name) ?? '').split(marker);
    return { image: fromText(text), marks: marks ? marks.split(' ') : [] };
  }
  async read() {
    return this.now().image;
  }
  // Applies `how` to the lists now and writes the result, at once (no other script between);
  // returns the write's mark.
  write(how) {
    const { image, marks } = this.now(),
      mark = draw();
    localStorage.setItem(this.name, toText(how(image)) + marker + [...marks, mark].slice(-keptMarks).join(' '));
    return mark;
  }
  // Where in the lists' marks the change is (-1: not there).
  static place(change, marks) {
    return Math.max(...change.marks.map((m) => marks.indexOf(m)));
  }
  change(how) {
    const work = () => {
      this.mine.push({ how, marks: [this.write(how)] });
      this.settle();
      return true;
    };
    return navigator.locks?.request ? navigator.locks.request(this.name, work) : Promise.resolve().then(work);
  }
  // Changes the lists held long ago are settled: no tab writes from lists that old.
  settle() {
    const { marks } = this.now();
    this.mine = this.mine.filter(
      (change) => LocalFile.place(change, marks) < 0 || LocalFile.place(change, marks) >= marks.length - keptMarks / 2,
    );
  }
  // The lists changed in another tab: this tab's changes they do not hold are made again.
  redo() {
    this.settle();
    for (const change of [...this.mine]) {
      if (LocalFile.place(change, this.now().marks) >= 0) continue;
      try {
        change.marks.push(this.write(change.how));
      } catch {
        this.mine.splice(this.mine.indexOf(change), 1);
        this.lost?.();
      }
    }
  }
}

// The file, or null when this browser keeps nothing (storage switched off). `name`: the key it
// is kept under (a class's copy of its lists has its own); `lost()`: told when a save this page
// made is gone from the lists after it was written (localStorage alone, see LocalFile).
export async function openRankingFile(name = fileName, { lost = null } = {}) {
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
      file = new LocalFile(name, lost);
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
