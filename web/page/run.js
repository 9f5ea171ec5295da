// A run over the list: documents go to the workers in list order as each becomes free, and
// their results are handed on in list order, as the window shows them.

// Said for a document whose converter stopped without an answer (the module aborted, or the
// tab refused it memory); its worker is replaced, since an aborted module cannot go on.
const converterStopped = (message) => ` (51 (Internal error: the converter stopped: ${message})) `;

class Converter {
    constructor() {
        this.worker = null;
        this.pending = new Map();
        this.nextId = 0;
    }

    start() {
        this.worker = new Worker('worker.js');
        this.worker.onmessage = ({ data }) => this.settle(data.id, data);
        this.worker.onerror = (event) => {
            event.preventDefault();
            this.failAll(event.message || 'the converter could not start');
        };
    }

    settle(id, answer) {
        const resolve = this.pending.get(id);
        this.pending.delete(id);
        resolve?.(answer);
    }

    failAll(message) {
        for (const id of [...this.pending.keys()]) this.settle(id, { error: message });
        this.stop();
    }

    ask(request, transfer = []) {
        if (!this.worker) this.start();
        const id = this.nextId++;
        return new Promise((resolve) => {
            this.pending.set(id, resolve);
            this.worker.postMessage({ ...request, id }, transfer);
        });
    }

    stop() {
        this.worker?.terminate();
        this.worker = null;
    }
}

async function convertOn(converter, document, options) {
    const request = { type: 'convert', file: document.file, name: document.name, ...options };
    const answer = await converter.ask(request).catch((error) => ({ error: String(error?.message ?? error) }));
    if (answer.error === undefined) return answer.result;
    converter.stop();
    return { failure: converterStopped(answer.error), pages: 0, files: [], milliseconds: 0 };
}

// Each converter takes the next document not yet taken, until none is left; the results come
// back as promises in list order.
function dispatch(documents, converters, options) {
    const settlers = documents.map(() => Promise.withResolvers());
    let next = 0;
    const serve = async (converter) => {
        while (next < documents.length) {
            const position = next++;
            settlers[position].resolve(await convertOn(converter, documents[position], options));
        }
    };
    converters.forEach(serve);
    return settlers.map((settler) => settler.promise);
}

// One per core, as the program has, and never more; fewer when asked (?workers=1 measures one).
export function workerCount(documentCount, requested) {
    const cores = navigator.hardwareConcurrency || 1;
    return Math.max(1, Math.min(requested || cores, cores, documentCount));
}

// view: turn(document, position) as a document's turn comes, finished(document, result) as its
// result is shown. Resolves to the closing report.
export async function convertAll(documents, options, workers, view) {
    const converters = Array.from({ length: workerCount(documents.length, workers) }, () => new Converter());
    try {
        const results = dispatch(documents, converters, options);
        let failures = '';
        for (const [position, document] of documents.entries()) {
            view.turn(document, position);
            const result = await results[position];
            if (result.failure) failures += document.shownName + result.failure + '\r\n';
            view.finished(document, result);
        }
        const answer = await converters[0].ask({ type: 'closing', failures }).catch(() => ({}));
        return answer.closing ?? (failures ? `Done.\r\n\r\n${failures}` : 'Done.');
    } finally {
        converters.forEach((converter) => converter.stop());
    }
}
