// Converts documents through the web page in Chromium, as a user would, and holds every page,
// PDF and failure text against the native program's on the same files.
//   VELLUMAX_SITE: the built site; VELLUMAX_NATIVE: the native program; VELLUMAX_TEST_OUTPUT:
//   where screenshots and the runs' files go. scripts/test-web sets all three.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { existsSync, mkdirSync, mkdtempSync, readdirSync, readFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import path from 'node:path';
import { after, before, test } from 'node:test';
import { serveFolder } from './serve.mjs';

const require = createRequire(new URL('../../web/package.json', import.meta.url));
const { chromium } = require('playwright-core');
const { unzipSync } = require('fflate');
const { PNG } = require('pngjs');
const jpeg = require('jpeg-js');

const repo = path.resolve(import.meta.dirname, '../..');
const native = process.env.VELLUMAX_NATIVE ?? path.join(repo, 'build/vellumax');
const testdata = path.resolve(repo, process.env.VELLUMAX_TESTDATA ?? '../shared/testdata');
const outputRoot = process.env.VELLUMAX_TEST_OUTPUT ?? path.join(repo, 'build-web/test-output');

const filesIn = (folder, pattern) => readdirSync(folder).filter((name) => pattern.test(name)).sort();

// Each group is given to the page one way: the file input, a dropped set of files, or the
// folder picker (whose walk must find the same documents the native program is given).
// `root` is the folder the native program runs in; `paths` are relative to it, as the page
// names them.
const groups = [
    {
        name: 'shared samples',
        root: path.dirname(testdata),
        folder: testdata,
        paths: () => ['mdi', 'mdi-art'].flatMap((sub) =>
            filesIn(path.join(testdata, sub), /\.mdi$/).map((name) => `${path.basename(testdata)}/${sub}/${name}`)),
        absent: 'the shared samples are not beside the repository (../shared/testdata)',
    },
    {
        name: 'shared source pictures (plain TIFF)',
        root: path.join(testdata, 'sources'),
        paths: () => filesIn(path.join(testdata, 'sources'), /\.tif$/),
        absent: 'the shared samples are not beside the repository (../shared/testdata)',
    },
    {
        name: 'bundled samples',
        root: path.join(path.dirname(native), 'Samples'),
        dropped: true,
        offline: true, // the network cut once the page has loaded
        paths: () => ['Sample Invoice.mdi', 'Sample Letter.mdi'],
        absent: 'the native build has no Samples folder',
    },
    {
        name: 'damaged files',
        root: path.join(repo, 'tests/corrupt'),
        paths: () => filesIn(path.join(repo, 'tests/corrupt'), /\.(tif|mdi)$/),
    },
];
const formats = { jpeg: comparePages(compareJpeg), png: comparePages(comparePng), pdf: comparePdf };

let browser;
let site;

before(async () => {
    site = await serveFolder(process.env.VELLUMAX_SITE ?? path.join(repo, 'build-web/site'));
    browser = await chromium.launch({
        executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium',
        args: ['--no-sandbox', '--disable-gpu'],
    });
});

after(async () => {
    await browser?.close();
    await site?.close();
});

for (const group of groups) {
    for (const format of Object.keys(formats)) {
        const present = existsSync(group.folder ?? group.root);
        test(`${group.name} as ${format}`, { skip: !present && group.absent, timeout: 900_000 }, async () => {
            const out = path.join(outputRoot, `${group.name} ${format}`.replace(/\W+/g, '-'));
            mkdirSync(out, { recursive: true });
            const web = await convertInPage(group, format, out);
            const expected = convertNatively(group, format, out);
            if (group.folder && format === 'jpeg') printSpeed(web);
            assert.deepEqual(web.rows.map((row) => row.name), group.paths());
            const archive = [];
            for (const row of web.rows) {
                const document = expected.documents.get(path.basename(row.name));
                assert.equal(row.failure, document.reason ?? '', row.name);
                const folder = path.dirname(row.name) === '.' ? '' : `${path.dirname(row.name)}/`;
                archive.push(...document.outputs.map((output) => [folder + path.basename(output.path), output.path]));
            }
            assert.equal(web.closing, expected.closing);
            assert.deepEqual(Object.keys(web.zip).sort(), archive.map(([entry]) => entry).sort());
            for (const [entry, nativeFile] of archive) formats[format](web.zip[entry], nativeFile, entry);
            assert.deepEqual(web.foreignRequests, []);
            assert.deepEqual(web.pageErrors, []);
        });
    }
}

async function convertInPage(group, format, out) {
    const context = await browser.newContext({ acceptDownloads: true, viewport: { width: 760, height: 900 } });
    const foreignRequests = [];
    context.on('request', (request) => {
        const url = new URL(request.url());
        if (url.origin !== site.origin && !['blob:', 'data:'].includes(url.protocol)) foreignRequests.push(request.url());
    });
    const page = await context.newPage();
    // A refused request or script (the page's own policy, say) shows only here.
    const pageErrors = [];
    let pageFailed;
    const failure = new Promise((resolve, reject) => (pageFailed = reject));
    const noteError = (text) => pageErrors.push(text) && pageFailed(new Error(`the page failed: ${text}`));
    page.on('console', (message) => message.type() === 'error' && noteError(`${message.text()} (${message.location().url})`));
    page.on('pageerror', (error) => noteError(error.message));
    failure.catch(() => {}); // waited on below, where a run that cannot finish ends at once
    // One worker for the run that measures speed, so that the times add up to one core's.
    await page.goto(`${site.origin}/index.html${group.folder && format === 'jpeg' ? '?workers=1' : ''}`);
    if (group.offline) {
        await page.waitForFunction(() => navigator.serviceWorker.controller !== null);
        await context.setOffline(true);
        await page.reload();
    }
    await page.check(`input[name=format][value=${format}]`);
    await addDocuments(page, group);
    await page.click('#start');
    await Promise.race([page.waitForSelector('#closing-report:not([hidden])', { timeout: 600_000 }), failure]);
    const rows = await page.$$eval('#documents tbody tr', (rows) => rows.map((row) => ({
        name: row.querySelector('.name').textContent,
        failure: row.querySelector('.failure')?.textContent ?? '',
        milliseconds: Number(row.dataset.milliseconds),
    })));
    const closing = await page.textContent('#closing-report');
    await page.screenshot({ path: path.join(out, 'page.png'), fullPage: true });
    const zip = (await page.isEnabled('#download-all')) ? await downloadZip(page) : {};
    await context.close();
    return { rows, closing, zip, foreignRequests, pageErrors };
}

async function downloadZip(page) {
    const [download] = await Promise.all([page.waitForEvent('download'), page.click('#download-all')]);
    return unzipSync(readFileSync(await download.path()));
}

async function addDocuments(page, group) {
    if (group.folder) return page.setInputFiles('#pick-folder', group.folder);
    const files = group.paths().map((name) => path.join(group.root, name));
    if (!group.dropped) return page.setInputFiles('#pick-files', files);
    const dropped = await page.evaluateHandle((files) => {
        const transfer = new DataTransfer();
        for (const { name, base64 } of files) {
            transfer.items.add(new File([Uint8Array.from(atob(base64), (c) => c.charCodeAt(0))], name));
        }
        return transfer;
    }, files.map((file) => ({ name: path.basename(file), base64: readFileSync(file).toString('base64') })));
    await page.dispatchEvent('#drop-zone', 'drop', { dataTransfer: dropped });
    await page.waitForFunction((count) => document.querySelectorAll('#documents tbody tr').length === count, files.length);
}

function convertNatively(group, format, out) {
    const folder = mkdtempSync(path.join(out, 'native-'));
    const report = path.join(folder, 'report.jsonl');
    let closing;
    try {
        closing = execFileSync(native, ['--convert', '--format', format, '--out', folder, '--report', report, ...group.paths()],
            { cwd: group.root, encoding: 'utf8', stdio: ['ignore', 'pipe', 'ignore'] });
    } catch (error) {
        closing = error.stdout; // status 1: some document failed
    }
    const lines = readFileSync(report, 'utf8').trim().split('\n').map((line) => JSON.parse(line));
    const documents = new Map(lines.filter((line) => line.type === 'document').map((line) => [path.basename(line.source), line]));
    return { closing: closing.replace(/\n$/, ''), documents, folder };
}

function comparePages(compare) {
    return (webBytes, nativeFile, name) => {
        const nativeBytes = readFileSync(nativeFile);
        if (!Buffer.from(webBytes).equals(nativeBytes)) compare(webBytes, nativeBytes, name);
    };
}

function comparePng(webBytes, nativeBytes, name) {
    const [web, expected] = [webBytes, nativeBytes].map((bytes) => PNG.sync.read(Buffer.from(bytes)));
    assert.deepEqual([web.width, web.height], [expected.width, expected.height], name);
    assert.ok(web.data.equals(expected.data), `${name}: the pixels differ from the native page`);
}

// Byte-identical JPEG needs the same libjpeg-turbo and settings on both sides; a build whose
// library differs (SIMD paths, another version) may round differently, never visibly.
function compareJpeg(webBytes, nativeBytes, name) {
    const decode = (bytes) => jpeg.decode(bytes, { maxResolutionInMP: 1000, maxMemoryUsageInMB: 4096 });
    const psnr = psnrOf(decode(webBytes), decode(nativeBytes), name);
    console.log(`# ${name}: JPEG bytes differ from the native page, ${psnr.toFixed(1)} dB`);
    assert.ok(psnr >= 50, `${name}: ${psnr.toFixed(1)} dB against the native page`);
}

// PDFs carry their own dates and identifiers, so they are held against each other as rendered,
// at 2000 pixels on the long side: a photograph's page is over a metre wide at its resolution.
function comparePdf(webBytes, nativeFile, name) {
    const folder = mkdtempSync(path.join(path.dirname(nativeFile), 'render-'));
    const webFile = path.join(folder, 'web.pdf');
    execFileSync('sh', ['-c', 'cat > "$0"', webFile], { input: webBytes });
    execFileSync('qpdf', ['--check', webFile], { stdio: 'ignore' });
    for (const [file, prefix] of [[webFile, 'web'], [nativeFile, 'native']]) {
        execFileSync('pdftoppm', ['-scale-to', '2000', '-png', file, path.join(folder, prefix)]);
    }
    const rendered = (prefix) => filesIn(folder, new RegExp(`^${prefix}-.*\\.png$`));
    assert.deepEqual(rendered('web').length, rendered('native').length, name);
    rendered('web').forEach((page, index) => {
        const [web, expected] = [page, rendered('native')[index]].map((file) => PNG.sync.read(readFileSync(path.join(folder, file))));
        const psnr = psnrOf(web, expected, `${name} ${page}`);
        if (psnr !== Infinity) console.log(`# ${name} page ${index + 1}: renders unlike the native PDF, ${psnr.toFixed(1)} dB`);
        assert.ok(psnr >= 40, `${name} page ${index + 1}: ${psnr.toFixed(1)} dB against the native PDF`);
    });
}

function psnrOf(a, b, name) {
    assert.deepEqual([a.width, a.height], [b.width, b.height], name);
    let squares = 0;
    for (let i = 0; i < a.data.length; i++) {
        if (i % 4 === 3) continue;
        squares += (a.data[i] - b.data[i]) ** 2;
    }
    return squares === 0 ? Infinity : 10 * Math.log10((255 * 255 * a.width * a.height * 3) / squares);
}

// The size a JPEG's frame header gives (any SOF marker but DHT, JPG and DAC).
function jpegPixels(bytes) {
    for (let at = 2; at + 9 < bytes.length; at += 2 + ((bytes[at + 2] << 8) | bytes[at + 3])) {
        const marker = bytes[at + 1];
        if (marker >= 0xc0 && marker <= 0xcf && ![0xc4, 0xc8, 0xcc].includes(marker)) {
            return ((bytes[at + 5] << 8) | bytes[at + 6]) * ((bytes[at + 7] << 8) | bytes[at + 8]);
        }
    }
    return 0;
}

// Decoding speed as a user meets it: the pages' pixels over the conversion time inside the
// worker, which includes writing the JPEG pages.
function printSpeed(web) {
    const pixels = Object.values(web.zip).reduce((sum, bytes) => sum + jpegPixels(bytes), 0);
    const seconds = web.rows.reduce((sum, row) => sum + row.milliseconds, 0) / 1000;
    if (pixels === 0) return console.log('# browser: no speed figure, no page of the shared samples converted');
    console.log(`# browser: ${(pixels / 1e6 / seconds).toFixed(1)} megapixels per second over ${web.rows.length} shared samples (decode and JPEG encode, one worker)`);
}

// The colour decoder alone, in the browser and natively on one core, in one run: the figures the
// README sets side by side. Printed, never held to a bound.
const bench = path.join(repo, 'build-web/cmake/web');
test('colour decode speed', { skip: !existsSync(path.join(testdata, 'mdi')) && 'the shared samples are not there' }, async () => {
    const samples = filesIn(path.join(testdata, 'mdi'), /\.mdi$/).map((name) => path.join(testdata, 'mdi', name));
    const rounds = 3;
    const server = await serveFolder(bench);
    const page = await browser.newPage();
    // Any page of the bench's own origin will do: the module fetches its WebAssembly from there.
    await page.goto(`${server.origin}/decode-bench.js`);
    await page.addScriptTag({ url: `${server.origin}/decode-bench.js` });
    const documents = samples.map((file) => readFileSync(file).toString('base64'));
    const browserFigure = await page.evaluate(async ({ documents, rounds }) => {
        const decoder = await createDecodeBench(); // eslint-disable-line no-undef
        let megapixels = 0;
        let seconds = 0;
        for (const text of documents) {
            const result = decoder.decodeColourPage(Uint8Array.from(atob(text), (c) => c.charCodeAt(0)), rounds);
            megapixels += result.megapixels;
            seconds += result.seconds;
        }
        return megapixels / seconds;
    }, { documents, rounds });
    await page.close();
    await server.close();
    console.log(`# colour decode in the browser: ${browserFigure.toFixed(1)} megapixels/s (one core)`);
    const nativeBench = path.join(path.dirname(native), 'tools/colour_decode_bench');
    if (existsSync(nativeBench)) {
        console.log(`# ${execFileSync(nativeBench, [String(rounds), ...samples]).toString().trim()} (native)`);
    }
});
