// Serves a folder of static files on a free localhost port, as any static host would.
import { readFile } from 'node:fs/promises';
import { createServer } from 'node:http';
import path from 'node:path';

const types = {
    '.html': 'text/html; charset=utf-8',
    '.js': 'text/javascript',
    '.css': 'text/css',
    '.wasm': 'application/wasm',
    '.png': 'image/png',
};

export async function serveFolder(folder) {
    const server = createServer(async (request, response) => {
        const file = path.join(folder, path.normalize(decodeURIComponent(new URL(request.url, 'http://x').pathname)));
        try {
            const body = await readFile(file.endsWith('/') ? path.join(file, 'index.html') : file);
            response.writeHead(200, { 'Content-Type': types[path.extname(file)] ?? 'application/octet-stream' });
            response.end(body);
        } catch {
            response.writeHead(404).end();
        }
    });
    await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
    return {
        origin: `http://127.0.0.1:${server.address().port}`,
        close: () => new Promise((resolve) => server.close(resolve)),
    };
}
