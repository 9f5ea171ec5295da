import { Zip, ZipPassThrough } from './fflate.js';

// Pages and PDFs are compressed already: they are stored as they are, which costs only a
// checksum. A document found in a folder keeps that folder in the archive, so that two
// "scan.mdi" from different folders do not meet.
function archivePaths(documents) {
    const taken = new Set();
    const entries = [];
    for (const listed of documents) {
        for (const output of listed.outputs) {
            const wanted = listed.folder ? `${listed.folder}/${output.name}` : output.name;
            let path = wanted;
            for (let copy = 2; taken.has(path); copy++) path = wanted.replace(/(\.[^./]*)?$/, ` (${copy})$1`);
            taken.add(path);
            entries.push({ path, blob: output.blob });
        }
    }
    return entries;
}

export async function zipBlob(documents) {
    const parts = [];
    const archive = new Zip((error, chunk) => {
        if (error) throw error;
        parts.push(chunk);
    });
    for (const { path, blob } of archivePaths(documents)) {
        const entry = new ZipPassThrough(path);
        archive.add(entry);
        entry.push(new Uint8Array(await blob.arrayBuffer()), true);
    }
    archive.end();
    return new Blob(parts, { type: 'application/zip' });
}
