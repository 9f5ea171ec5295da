import { documentsFromDrop, documentsFromFiles, documentsFromFolderPick } from './gather.js';
import { convertAll } from './run.js';
import { zipBlob } from './zip.js';

const $ = (id) => document.getElementById(id);
const documents = [];
let converting = false;

const qualityCaption = (quality) => `Output JPG image quality: ${quality}%`;
const pagesText = (pages) => (pages === 1 ? '1 page' : `${pages} pages`);
const mimeTypes = { jpg: 'image/jpeg', png: 'image/png', pdf: 'application/pdf' };
const mimeTypeOf = (name) => mimeTypes[name.split('.').pop().toLowerCase()] ?? 'application/octet-stream';

function stateCell(listed) {
    const cell = document.createElement('td');
    cell.className = 'state';
    const { state, result } = listed;
    if (state !== 'finished') {
        cell.textContent = state === 'waiting' ? 'Waiting' : 'Converting…';
        return cell;
    }
    const summary = document.createElement('span');
    summary.textContent = result.failure
        ? result.files.length ? `Failed, ${pagesText(result.pages)} kept:` : 'Failed:'
        : `Done, ${pagesText(result.pages)}`;
    cell.append(summary);
    if (result.failure) {
        const failure = document.createElement('span');
        failure.className = 'failure';
        failure.textContent = result.failure.trim();
        cell.append(' ', failure);
    }
    const links = document.createElement('span');
    links.className = 'outputs';
    for (const output of listed.outputs) {
        const link = document.createElement('a');
        link.href = output.url;
        link.download = output.name;
        link.textContent = output.name;
        links.append(link);
    }
    cell.append(links);
    return cell;
}

function rowOf(listed) {
    const row = document.createElement('tr');
    row.className = listed.state;
    if (listed.result) row.dataset.milliseconds = listed.result.milliseconds.toFixed(1);
    const name = document.createElement('td');
    name.className = 'name';
    name.textContent = listed.shownName;
    name.title = listed.shownName;
    row.append(name, stateCell(listed));
    row.addEventListener('dblclick', () => removeDocument(listed));
    return row;
}

// Rows are made anew only for what changed: a run over thousands of documents would
// otherwise rebuild the whole list for each one.
const rows = new Map();

function showRow(listed) {
    const row = rowOf(listed);
    rows.get(listed)?.replaceWith(row);
    rows.set(listed, row);
}

function showControls() {
    $('drop-hint').hidden = documents.length > 0;
    const anyOutput = documents.some((listed) => listed.outputs.length > 0);
    $('download-all').disabled = converting || !anyOutput;
    for (const id of ['start', 'clear-list', 'add-files', 'add-folder', 'quality']) $(id).disabled = converting;
    for (const option of document.querySelectorAll('input[name=format]')) option.disabled = converting;
}

function showList() {
    rows.clear();
    documents.forEach((listed) => rows.set(listed, rowOf(listed)));
    $('documents').tBodies[0].replaceChildren(...rows.values());
    showControls();
}

function forgetOutputs(listed) {
    listed.outputs.forEach((output) => URL.revokeObjectURL(output.url));
    listed.outputs = [];
}

function addDocuments(found) {
    if (converting) return;
    for (const { file, name, folder } of found) {
        const shownName = folder ? `${folder}/${name}` : name;
        documents.push({ file, name, folder, shownName, state: 'waiting', result: null, outputs: [] });
    }
    showList();
}

function setProgress(text, percent) {
    $('progress-text').textContent = text;
    $('progress-fill').style.width = `${percent}%`;
    $('progress').setAttribute('aria-valuenow', String(Math.round(percent)));
}

const runView = {
    turn(listed, position) {
        listed.state = 'converting';
        setProgress(`Processing: ${listed.name}`, ((position + 1) * 100) / documents.length);
        showRow(listed);
        rows.get(listed).scrollIntoView({ block: 'nearest' });
    },
    finished(listed, result) {
        listed.state = 'finished';
        listed.result = result;
        listed.outputs = result.files.map(({ name, data }) => {
            const blob = new Blob([data], { type: mimeTypeOf(name) });
            return { name, blob, url: URL.createObjectURL(blob) };
        });
        showRow(listed);
    },
};

// For measuring: "?workers=1" converts on one worker only.
const requestedWorkers = () => Number(new URLSearchParams(location.search).get('workers')) || 0;

async function start() {
    if (converting || documents.length === 0) return;
    converting = true;
    $('closing-report').hidden = true;
    for (const listed of documents) {
        forgetOutputs(listed);
        Object.assign(listed, { state: 'waiting', result: null });
    }
    showList();
    const options = {
        format: document.querySelector('input[name=format]:checked').value,
        quality: Number($('quality').value),
    };
    try {
        const closing = await convertAll(documents, options, requestedWorkers(), runView);
        $('closing-report').textContent = closing.replaceAll('\r\n', '\n');
        $('closing-report').hidden = false;
    } finally {
        converting = false;
        setProgress('Progress Bar', 0);
        showList();
    }
}

// As in the window, a double-click takes a document off the list.
function removeDocument(listed) {
    if (converting) return;
    forgetOutputs(listed);
    documents.splice(documents.indexOf(listed), 1);
    rows.get(listed).remove();
    rows.delete(listed);
    showControls();
}

function clearList() {
    if (converting) return;
    documents.forEach(forgetOutputs);
    documents.length = 0;
    $('closing-report').hidden = true;
    showList();
}

async function downloadAll() {
    const link = document.createElement('a');
    link.href = URL.createObjectURL(await zipBlob(documents));
    link.download = 'vellumax-output.zip';
    link.click();
    setTimeout(() => URL.revokeObjectURL(link.href), 60_000);
}

function acceptDrops(zone) {
    // Anywhere else a dropped file would make the browser leave the page to show it.
    for (const type of ['dragover', 'drop']) window.addEventListener(type, (event) => event.preventDefault());
    zone.addEventListener('dragover', () => zone.classList.add('dragging'));
    zone.addEventListener('dragleave', () => zone.classList.remove('dragging'));
    zone.addEventListener('drop', async (event) => {
        zone.classList.remove('dragging');
        addDocuments(await documentsFromDrop(event.dataTransfer));
    });
}

function wire() {
    $('quality').addEventListener('input', () => {
        $('quality-caption').textContent = qualityCaption($('quality').value);
    });
    $('add-files').addEventListener('click', () => $('pick-files').click());
    $('add-folder').addEventListener('click', () => $('pick-folder').click());
    $('pick-files').addEventListener('change', (event) => {
        addDocuments(documentsFromFiles(event.target.files));
        event.target.value = '';
    });
    $('pick-folder').addEventListener('change', (event) => {
        addDocuments(documentsFromFolderPick(event.target.files));
        event.target.value = '';
    });
    $('start').addEventListener('click', start);
    $('clear-list').addEventListener('click', clearList);
    $('download-all').addEventListener('click', downloadAll);
    acceptDrops($('drop-zone'));
    showList();
}

wire();

// Where a browser offers no service worker (plain http from another host than this one),
// the page still converts while it is open, only not after going offline.
navigator.serviceWorker?.register('offline.js').catch(() => {});
