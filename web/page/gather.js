// Turns what the user picked or dropped into documents for the list, in the order the
// window's "Add All" would list them.

// A document: the File, its name for the converter, and the folder it was found in (relative
// to what was picked, "" for a file given itself) so that pages of same-named documents from
// different folders stay apart in the ZIP.
function documentOf(file, relativePath) {
    const parts = relativePath.split('/').filter(Boolean);
    parts.pop();
    return { file, name: file.name, folder: parts.join('/') };
}

// As "Add All" walks: the extension matched in any case, hidden files and folders (a leading
// ".") passed over, and so are the "~" files office programs leave beside open documents.
function isFoundDocument(relativePath) {
    const parts = relativePath.split('/').filter(Boolean);
    const name = parts[parts.length - 1] ?? '';
    return (
        !parts.some((part) => part.startsWith('.')) &&
        !name.startsWith('~') &&
        name.toLowerCase().endsWith('.mdi')
    );
}

// A folder's own files before those of its subfolders, each level by name.
function walkKey(relativePath) {
    const parts = relativePath.split('/').filter(Boolean);
    parts[parts.length - 1] = '\u0000' + parts[parts.length - 1];
    return parts;
}

function inWalkOrder(a, b) {
    const keyA = walkKey(a.path);
    const keyB = walkKey(b.path);
    for (let i = 0; i < Math.min(keyA.length, keyB.length); i++) {
        if (keyA[i] !== keyB[i]) return keyA[i] < keyB[i] ? -1 : 1;
    }
    return keyA.length - keyB.length;
}

function documentsFoundIn(found) {
    return found
        .filter((entry) => isFoundDocument(entry.path))
        .sort(inWalkOrder)
        .map((entry) => documentOf(entry.file, entry.path));
}

// Picked files are taken as given, whatever their extension, as the window takes them.
export function documentsFromFiles(files) {
    return Array.from(files, (file) => documentOf(file, file.name));
}

export function documentsFromFolderPick(files) {
    return documentsFoundIn(Array.from(files, (file) => ({ file, path: file.webkitRelativePath })));
}

// A folder's reader hands out its entries a batch at a time, until an empty batch.
async function entriesOf(folderEntry) {
    const reader = folderEntry.createReader();
    const entries = [];
    for (;;) {
        const batch = await new Promise((resolve, reject) => reader.readEntries(resolve, reject));
        if (batch.length === 0) return entries;
        entries.push(...batch);
    }
}

const fileOf = (fileEntry) => new Promise((resolve, reject) => fileEntry.file(resolve, reject));

async function filesUnder(folderEntry) {
    const found = [];
    for (const entry of await entriesOf(folderEntry)) {
        if (entry.name.startsWith('.')) continue;
        if (entry.isDirectory) {
            found.push(...(await filesUnder(entry)));
        } else {
            found.push({ file: await fileOf(entry), path: entry.fullPath });
        }
    }
    return found;
}

// The entries must be taken from the drop event before it returns; the walk comes after.
// Files a page script put in the drop have no entry and are taken as they are.
export async function documentsFromDrop(dataTransfer) {
    const dropped = Array.from(dataTransfer.items, (item) => ({
        entry: item.webkitGetAsEntry(),
        file: item.getAsFile(),
    }));
    const documents = [];
    for (const { entry, file } of dropped) {
        if (entry?.isDirectory) {
            documents.push(...documentsFoundIn(await filesUnder(entry)));
        } else if (file) {
            documents.push(documentOf(file, file.name));
        }
    }
    return documents;
}
