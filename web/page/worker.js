// One converter: loads the module once and converts the documents it is sent, one at a time.
importScripts('vellumax.js');

const loading = createVellumax();

// A file the module hands out may be a view into its memory; only a buffer of its own can be
// transferred without taking that memory along.
function ownBuffer(data) {
    const whole = data.byteOffset === 0 && data.byteLength === data.buffer.byteLength;
    return whole ? data : data.slice();
}

async function convert(module, { file, name, format, quality }) {
    const bytes = new Uint8Array(await file.arrayBuffer());
    const started = performance.now();
    const result = module.convert(name, bytes, format, quality);
    const milliseconds = performance.now() - started;
    const files = Array.from(result.files, (output) => ({ name: output.name, data: ownBuffer(output.data) }));
    return { failure: result.failure, pages: result.pages, files, milliseconds };
}

onmessage = async ({ data: request }) => {
    try {
        const module = await loading;
        if (request.type === 'closing') {
            postMessage({ id: request.id, closing: module.closingMessage(request.failures) });
            return;
        }
        const result = await convert(module, request);
        postMessage({ id: request.id, result }, result.files.map((output) => output.data.buffer));
    } catch (error) {
        postMessage({ id: request.id, error: String(error?.message ?? error) });
    }
};
