// Keeps the page's own files so that it opens and converts without a network once it has
// been loaded. The network is asked first, so that a new version is taken as soon as it is
// served; the kept copy answers only when the network does not.
const cacheName = 'vellumax';
const siteFiles = [
    './', 'index.html', 'style.css', 'app.js', 'gather.js', 'run.js', 'zip.js', 'fflate.js',
    'worker.js', 'vellumax.js', 'vellumax.wasm',
];

self.addEventListener('install', (event) => {
    event.waitUntil(caches.open(cacheName).then((cache) => cache.addAll(siteFiles)).then(() => self.skipWaiting()));
});

self.addEventListener('activate', (event) => event.waitUntil(self.clients.claim()));

async function networkFirst(request) {
    const cache = await caches.open(cacheName);
    try {
        const response = await fetch(request);
        if (response.ok) await cache.put(request, response.clone());
        return response;
    } catch (error) {
        const kept = await cache.match(request, { ignoreSearch: true });
        if (kept) return kept;
        throw error;
    }
}

self.addEventListener('fetch', (event) => {
    const url = new URL(event.request.url);
    if (event.request.method === 'GET' && url.origin === self.location.origin) {
        event.respondWith(networkFirst(event.request));
    }
});
