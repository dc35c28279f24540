// SPDX-License-Identifier: GPL-3.0-or-later
// Keeps the whole game for playing without a network: everything is cached at install and
// served from the cache first. A build is taken whole or not at all: each file must have the
// hash this worker lists for it, taken from the browser's HTTP cache where it already is (the
// first visit fetches each file once), else from the server; a file of another build (a copy
// on the server not yet complete) fails the install, and the build in use stays. A new build
// takes over at once, without waiting for every tab of the old one to close, and the page
// loaded from the old cache plays on: the new build shows at the next start. The caches are
// named by this copy's scope, so that two copies of the game on one server keep their own.
const version = '@VERSION@';
const files = { '@FILES@': '' };
const prefix = `nubora1 ${self.registration.scope} `;
const cacheName = prefix + version;

async function hash(response) {
  const bytes = new Uint8Array(await crypto.subtle.digest('SHA-256', await response.clone().arrayBuffer()));
  return Array.from(bytes.slice(0, 8), (b) => b.toString(16).padStart(2, '0')).join('');
}

async function take(cache, name) {
  for (const mode of ['force-cache', 'reload']) {
    const response = await fetch(new Request(name, { cache: mode }));
    if (response.ok && (await hash(response)) === files[name]) return cache.put(name, response);
  }
  throw new Error(`${name} is not of build ${version}`);
}

self.addEventListener('install', (event) => {
  event.waitUntil(
    (async () => {
      const cache = await caches.open(cacheName);
      try {
        await Promise.all(Object.keys(files).map((name) => take(cache, name)));
      } catch (error) {
        await caches.delete(cacheName);
        throw error;
      }
      // The copy's address without its slash redirects to it: asked once, the browser keeps the
      // redirection, and that address starts offline too.
      const { pathname } = new URL(self.registration.scope);
      if (pathname !== '/') await fetch(pathname.slice(0, -1), { redirect: 'manual' }).catch(() => {});
      await self.skipWaiting();
    })(),
  );
});

self.addEventListener('activate', (event) => {
  event.waitUntil(
    caches
      .keys()
      .then((names) =>
        Promise.all(names.filter((n) => n.startsWith(prefix) && n !== cacheName).map((n) => caches.delete(n))),
      ),
  );
});

self.addEventListener('fetch', (event) => {
  if (event.request.method !== 'GET' || new URL(event.request.url).pathname.includes('/api/')) return;
  event.respondWith(
    caches
      .open(cacheName)
      .then(async (cache) => (await cache.match(event.request, { ignoreSearch: true })) || fetch(event.request)),
  );
});
