// SPDX-License-Identifier: GPL-3.0-or-later
// Keeps the whole game for playing without a network: everything is cached at install and
// served from the cache first. A new build is a new cache, fetched past the browser's HTTP
// cache (or an old file could slip into it); it takes over at once, without waiting for every
// tab of the old one to close, and the page loaded from the old cache plays on: the new build
// shows at the next start.
const version = '@VERSION@';
const files = ['@FILES@'];
const cacheName = `nubora1-${version}`;

self.addEventListener('install', (event) => {
  event.waitUntil(caches.open(cacheName)
    .then((cache) => cache.addAll(files.map((f) => new Request(f, { cache: 'reload' }))))
    .then(() => self.skipWaiting()));
});

self.addEventListener('activate', (event) => {
  event.waitUntil(caches.keys().then((names) =>
    Promise.all(names.filter((n) => n.startsWith('nubora1-') && n !== cacheName).map((n) => caches.delete(n)))));
});

self.addEventListener('fetch', (event) => {
  if (event.request.method !== 'GET' || new URL(event.request.url).pathname.includes('/api/')) return;
  event.respondWith(caches.open(cacheName).then(async (cache) =>
    (await cache.match(event.request, { ignoreSearch: true })) || fetch(event.request)));
});
