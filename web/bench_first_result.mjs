// Time to the first result of the page: a fresh browser context (nothing
// cached) opens the built page from build/web with a design in its address,
// once served from disk on 127.0.0.1 and once as a file: address (the
// folder opened straight from the disk); the time is the page's own clock
// from the start of navigation to the rows shown (the engine loaded, its
// columns read, the form built, the check and the calculation done). Then
// the size of the built folder, file by file. Run by hand:
//   node web/bench_first_result.mjs [repetitions]
import fs from 'node:fs';
import path from 'node:path';
import zlib from 'node:zlib';
import { fileURLToPath, pathToFileURL } from 'node:url';
import { chromium } from 'playwright-core';
import { serve } from './serve.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));
const folder = path.join(here, '..', 'build', 'web');
const repetitions = Number(process.argv[2] ?? 5);
const query = 'mode=power&cases=500,1000&quantiles=4&gene_prevalence=0.3&or_e=2&or_g=1.5&ror=2' +
  '&or_e_low=1.5&or_e_high=2.5&or_g_low=1&or_g_high=2';

const server = await serve(folder);
const browser = await chromium.launch({
  executablePath: '/usr/bin/chromium',
  args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking', '--disable-component-update',
    '--disable-sync', '--no-first-run'],
});
// The moments the form is ready (the engine loaded and its columns read)
// and the rows are shown, on the page's clock, over cold loads of an address.
async function measure(address) {
  const ready = [];
  const result = [];
  for (let i = 0; i < repetitions; ++i) {
    const context = await browser.newContext();
    const page = await context.newPage();
    await page.addInitScript(() => {
      window.moments = {};
      new MutationObserver(() => {
        const body = document.body;
        if (body?.dataset.ready && !window.moments.ready) window.moments.ready = performance.now();
        if (body?.dataset.calculated && !window.moments.result) window.moments.result = performance.now();
      }).observe(document, { attributes: true, subtree: true, attributeFilter: ['data-ready', 'data-calculated'] });
    });
    await page.goto(`${address}?${query}`);
    await page.waitForSelector('body[data-calculated="1"]', { timeout: 60000 });
    const moments = await page.evaluate(() => window.moments);
    result.push(moments.result);
    ready.push(moments.ready);
    await context.close();
  }
  return { ready, result };
}
const served = await measure(`http://127.0.0.1:${server.address().port}/`);
const fromDisk = await measure(pathToFileURL(path.join(folder, 'index.html')).href);
await browser.close();
server.close();
const summary = (what, values) => {
  values.sort((a, b) => a - b);
  console.log(`${what} (ms), ${repetitions} cold loads: median ${values[Math.floor(values.length / 2)].toFixed(0)}, ` +
    `min ${values[0].toFixed(0)}, max ${values.at(-1).toFixed(0)}`);
};
for (const [how, { ready, result }] of [['served', served], ['file:', fromDisk]]) {
  summary(`${how} form ready`, ready);
  summary(`${how} first result`, result);
}
let total = 0;
let gzipped = 0;
for (const name of fs.readdirSync(folder).sort()) {
  const data = fs.readFileSync(path.join(folder, name));
  const packed = zlib.gzipSync(data, { level: 9 }).length;
  total += data.length;
  gzipped += packed;
  console.log(`${name.padEnd(28)} ${String(data.length).padStart(9)} bytes, gzip ${String(packed).padStart(8)}`);
}
console.log(`${'build/web in all'.padEnd(28)} ${String(total).padStart(9)} bytes, gzip ${String(gzipped).padStart(8)}`);
