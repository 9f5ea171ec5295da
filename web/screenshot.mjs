// Draws the page in use for the README: converts the files of a folder, named as a user's
// documents would be, and saves a picture of the page afterwards.
//   node web/screenshot.mjs SITE_FOLDER DOCUMENT_FOLDER OUT.png
import { readdirSync } from 'node:fs';
import { createRequire } from 'node:module';
import path from 'node:path';
import { serveFolder } from '../tests/web/serve.mjs';

const [siteFolder, documentFolder, out] = process.argv.slice(2);
const { chromium } = createRequire(import.meta.url)('playwright-core');
const site = await serveFolder(siteFolder);
const browser = await chromium.launch({ executablePath: '/usr/bin/chromium', args: ['--no-sandbox', '--disable-gpu'] });
try {
    const page = await browser.newPage({ viewport: { width: 660, height: 700 }, deviceScaleFactor: 1 });
    await page.goto(`${site.origin}/index.html`);
    const files = readdirSync(documentFolder).sort().map((name) => path.join(documentFolder, name));
    await page.setInputFiles('#pick-files', files);
    await page.check('input[name=format][value=pdf]');
    await page.click('#start');
    await page.waitForSelector('#closing-report:not([hidden])', { timeout: 600_000 });
    await page.mouse.move(0, 0);
    await page.screenshot({ path: out, fullPage: true });
} finally {
    await browser.close();
    await site.close();
}
