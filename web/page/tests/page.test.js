// The page in headless Chromium against the command line: the rows of
// designs filled in as a user would, and of a shared address, equal the
// command line's csv to the last digit; a malformed entry shows the command
// line's message and calculates nothing; a curve draws its points; a
// simulation can be cancelled; the page opened from the disk (a file:
// address) calculates the same rows; the downloads equal the command line's csv;
// every control is labelled, the text passes WCAG AA contrast and the page
// fits a phone's width; and the browser's console stays free of errors.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';
import { chromium } from 'playwright-core';
import { serve } from '../../serve.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));
const root = path.resolve(here, '..', '..', '..');
const cli = process.env.GXE_CLI ?? path.join(root, 'build', 'werror', 'gxeplan');
let server;
let browser;
let address;

before(async () => {
  server = await serve(path.join(root, 'build', 'web'));
  address = `http://127.0.0.1:${server.address().port}/`;
  browser = await chromium.launch({
    executablePath: process.env.GXE_CHROMIUM ?? '/usr/bin/chromium',
    args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking', '--disable-component-update',
      '--disable-sync', '--no-first-run'],
  });
});

after(async () => {
  await browser?.close();
  server?.close();
});

// glibc's versions of exp, log, log1p and pow that use fused multiply-add
// round a few results differently in the last bit; WebAssembly has no fused
// multiply-add, so the program is compared with those versions turned off.
const sameMath = {
  ...process.env,
  GLIBC_TUNABLES: [process.env.GLIBC_TUNABLES, 'glibc.cpu.hwcaps=-AVX2,-FMA'].filter(Boolean).join(':'),
};

// The command line's output and status (1 when some row has no answer).
function gxeplan(args) {
  const run = spawnSync(cli, args, { encoding: 'utf8', env: sameMath });
  assert.ok(run.status === 0 || run.status === 1 || run.status === 2, `${args.join(' ')}: ${run.stderr}`);
  return run;
}

// RFC 4180 records: quoted fields may hold commas, quotes and line ends.
function parseCsv(text) {
  const records = [];
  let record = [];
  let field = '';
  let quoted = false;
  for (let i = 0; i < text.length; ++i) {
    const ch = text[i];
    if (quoted) {
      if (ch === '"' && text[i + 1] === '"') { field += '"'; ++i; }
      else if (ch === '"') quoted = false;
      else field += ch;
    } else if (ch === '"') quoted = true;
    else if (ch === ',') { record.push(field); field = ''; }
    else if (ch === '\r' && text[i + 1] === '\n') { record.push(field); records.push(record); record = []; field = ''; ++i; }
    else field += ch;
  }
  if (field !== '' || record.length) { record.push(field); records.push(record); }
  return { header: records[0], rows: records.slice(1) };
}

// A page whose console errors, failed requests and uncaught exceptions are
// collected, with downloads allowed.
async function open(url = address, viewport = { width: 1200, height: 900 }) {
  const context = await browser.newContext({ acceptDownloads: true, viewport });
  const page = await context.newPage();
  const problems = [];
  page.on('console', (message) => { if (message.type() === 'error') problems.push(message.text()); });
  page.on('pageerror', (error) => problems.push(String(error)));
  page.on('requestfailed', (request) => problems.push(`${request.url()}: ${request.failure()?.errorText}`));
  page.on('worker', (worker) => worker.on('console', (message) => {
    if (message.type() === 'error') problems.push(message.text());
  }));
  await page.goto(url);
  await page.waitForSelector('body[data-ready=true]');
  return { page, problems, close: () => context.close() };
}

// Types each value into its field (a range's ends are two fields) and picks
// the choices, as a user would; then asks for the calculation.
async function fill(page, mode, inputs) {
  await page.locator(`label[for=mode-${mode}]`).click();
  for (const [name, value] of Object.entries(inputs)) {
    const field = page.locator(`#f-${name}`);
    if (await field.evaluate((e) => e.tagName === 'SELECT')) await field.selectOption(value);
    else await field.pressSequentially(value);
  }
}

async function calculate(page, times = 1) {
  await page.getByRole('button', { name: 'Calculate' }).click();
  await page.waitForSelector(`body[data-calculated="${times}"]`);
}

// Every value cell of the page against the csv row of the same place: the
// full-precision texts equal, and every column of the csv shown.
async function assertRowsEqual(page, csvText) {
  const csv = parseCsv(csvText);
  const shown = await page.$$eval('section.row-result', (sections) => sections.map((s) =>
    [...s.querySelectorAll('[data-column]')].map((c) => [c.dataset.column, c.dataset.value])));
  assert.equal(shown.length, csv.rows.length, 'rows shown');
  shown.forEach((cells, i) => {
    for (const [column, value] of cells) {
      const j = csv.header.indexOf(column);
      assert.ok(j >= 0, `column ${column} is not in the csv`);
      assert.equal(value, csv.rows[i][j], `row ${i + 1}, ${column}`);
    }
    assert.deepEqual(new Set(cells.map(([c]) => c)), new Set(csv.header), `row ${i + 1}: every column shown`);
  });
}

const BOX = { quantiles: '4', gene_prevalence: '0.3', or_e: '2', or_g: '1.5', or_e_low: '1.5', or_e_high: '2.5', or_g_low: '1', or_g_high: '2' };
const BOX_ARGS = ['--quantiles', '4', '--gene-prevalence', '0.3', '--or-e', '2', '--or-g', '1.5',
  '--or-e-range', '1.5:2.5', '--or-g-range', '1:2'];


const DESIGNS = [
  { name: 'power over a list of cases and ROR^tb', mode: 'power',
    inputs: { ...BOX, cases: '500, 1000, 2000', ror: '1.5,2' },
    args: ['power', ...BOX_ARGS, '--cases', '500,1000,2000', '--ror', '1.5,2'] },
  { name: 'size at a genome-wide level, the gene by its allele frequency', mode: 'size',
    inputs: { quantiles: '4', allele_frequency: '0.25', genetic_model: 'dominant', or_e: '2', or_g: '1.5',
      ror: '2', or_e_low: '1.5', or_e_high: '2.5', or_g_low: '1', or_g_high: '2', controls_per_case: '2',
      power: '0.8, 0.9', alpha: '5e-8' },
    args: ['size', '--quantiles', '4', '--allele-frequency', '0.25', '--genetic-model', 'dominant', '--or-e', '2',
      '--or-g', '1.5', '--ror', '2', '--or-e-range', '1.5:2.5', '--or-g-range', '1:2', '--controls-per-case', '2',
      '--power', '0.8,0.9', '--alpha', '5e-8'] },
  { name: 'detect, protective, the Wald test, centre search', mode: 'detect',
    inputs: { ...BOX, cases: '500,1000', power: '0.8', direction: 'protective', test: 'wald', search: 'centre' },
    args: ['detect', ...BOX_ARGS, '--cases', '500,1000', '--power', '0.8', '--direction', 'protective',
      '--test', 'wald', '--search', 'centre'] },
  { name: 'given exposure frequencies, the likelihood-ratio test, a row without an answer', mode: 'size',
    inputs: { exposure_prevalences: '0.2, 0.3, 0.5', gene_prevalence: '0.2', ror: '1, 2.5', power: '0.9', test: 'lr' },
    args: ['size', '--exposure-prevalences', '0.2,0.3,0.5', '--gene-prevalence', '0.2', '--ror', '1,2.5',
      '--power', '0.9', '--test', 'lr'] },
  { name: 'power for the likelihood-ratio test over the example box', mode: 'power',
    inputs: { ...BOX, cases: '500', ror: '2', test: 'lr' },
    args: ['power', ...BOX_ARGS, '--cases', '500', '--ror', '2', '--test', 'lr'] },
  { name: 'power with a simulation check', mode: 'power',
    inputs: { quantiles: '5', gene_prevalence: '0.1', ror: '3', or_e_low: '1', or_e_high: '1', or_g_low: '1',
      or_g_high: '1', cases: '400', simulate: '2000', seed: '7' },
    args: ['power', '--quantiles', '5', '--gene-prevalence', '0.1', '--ror', '3', '--or-e-range', '1:1',
      '--or-g-range', '1:1', '--cases', '400', '--simulate', '2000', '--seed', '7', '--threads', '1'], notes: 1 },
];

for (const design of DESIGNS) {
  test(`rows of the form equal the command line's: ${design.name}`, { todo: design.todo }, async () => {
    const { page, problems, close } = await open();
    await fill(page, design.mode, design.inputs);
    await calculate(page);
    const expected = gxeplan([...design.args, '--format', 'csv']).stdout;
    await assertRowsEqual(page, expected);
    // The notes shown are the command line table's, as its lines wrap them.
    const notes = await page.$$eval('ul.notes li', (items) => items.map((li) => li.textContent));
    if (design.notes !== undefined) assert.equal(notes.length, design.notes);
    const table = gxeplan(design.args).stdout.replace(/\s+/g, ' ');
    for (const note of notes) assert.ok(table.includes(note.replace(/\s+/g, ' ')), note);
    assert.deepEqual(problems, []);
    await close();
  });
}

test('opened from the disk as a file: address, the page calculates the command line\'s rows and keeps the design in its address', async () => {
  const file = pathToFileURL(path.join(root, 'build', 'web', 'index.html')).href;
  const design = DESIGNS[0];
  const { page, problems, close } = await open(file);
  await fill(page, design.mode, design.inputs);
  await calculate(page);
  await assertRowsEqual(page, gxeplan([...design.args, '--format', 'csv']).stdout);
  const [address, query] = page.url().split('?');
  assert.equal(address, file);
  assert.equal(new URLSearchParams(query).get('ror'), design.inputs.ror);
  assert.deepEqual(problems, []);
  await close();
});

test('an address with a design fills the form and calculates at once; the CSV download is the command line\'s', async () => {
  const query = 'mode=power&cases=500,1000&quantiles=4&gene_prevalence=0.3&or_e=2&or_g=1.5&ror=2&or_e_low=1.5&or_e_high=2.5&or_g_low=1&or_g_high=2';
  const { page, problems, close } = await open(`${address}?${query}`);
  await page.waitForSelector('body[data-calculated="1"]');
  const expected = gxeplan(['power', ...BOX_ARGS, '--ror', '2', '--cases', '500,1000', '--format', 'csv']).stdout;
  await assertRowsEqual(page, expected);
  assert.equal(await page.inputValue('#f-cases'), '500,1000');
  const [download] = await Promise.all([page.waitForEvent('download'), page.click('#csv-download')]);
  assert.equal(fs.readFileSync(await download.path(), 'utf8'), expected);
  // The address after a calculation holds the design, and opens the same rows.
  const shared = page.url();
  const again = await open(shared);
  await again.page.waitForSelector('body[data-calculated="1"]');
  await assertRowsEqual(again.page, expected);
  assert.deepEqual([...problems, ...again.problems], []);
  await again.close();
  await close();
});

test('a malformed or out-of-range entry shows the command line\'s message next to its field and calculates nothing', async () => {
  const { page, problems, close } = await open();
  const cases = [
    { field: 'cases', value: '5OO', args: ['power', '--quantiles', '4', '--gene-prevalence', '0.3', '--ror', '2', '--cases', '5OO'] },
    { field: 'gene_prevalence', value: '1.5', args: ['power', '--quantiles', '4', '--gene-prevalence', '1.5', '--ror', '2', '--cases', '500'] },
  ];
  await fill(page, 'power', { quantiles: '4', gene_prevalence: '0.3', ror: '2', cases: '500' });
  for (const { field, value, args } of cases) {
    const run = gxeplan(args);
    assert.equal(run.status, 2);
    const message = run.stderr.trim().replace(/^gxeplan: --[a-z-]+: /, '');
    await page.fill('#f-cases', '500');
    await page.fill('#f-gene_prevalence', '0.3');
    await page.fill(`#f-${field}`, '');
    await page.locator(`#f-${field}`).pressSequentially(value);
    // Checked as it is typed, before any calculation is asked for.
    await page.waitForFunction(([f, m]) => document.getElementById(`e-${f}`).textContent === m, [field, message]);
    assert.equal(await page.getAttribute(`#f-${field}`, 'aria-invalid'), 'true');
    // Enter in the field asks for the calculation, with the keyboard alone.
    await page.evaluate(() => { document.getElementById('status').textContent = ''; });
    await page.locator(`#f-${field}`).press('Enter');
    await page.waitForFunction(() => /^Nothing calculated/.test(document.getElementById('status').textContent));
    assert.equal(await page.locator('section.row-result').count(), 0);
    assert.equal(await page.evaluate(() => document.body.dataset.calculated), undefined);
    assert.equal(await page.evaluate(() => document.activeElement.id), `f-${field}`);
  }
  assert.deepEqual(problems, []);
  await close();
});

const CURVES = [
  { name: 'power against cases, a band per ROR^tb', mode: 'power', inputs: { ...BOX, ror: '1.5, 2.5', cases: '500' },
    axis: { over: 'cases', from: '100', to: '3000', points: '7' }, points: 14,
    args: [...BOX_ARGS, '--ror', '1.5,2.5'] },
  { name: 'size against ROR^tb, a line per target power', mode: 'size', inputs: { ...BOX, ror: '2', power: '0.8,0.9' },
    axis: { over: 'ror', from: '1.5', to: '3', points: '5' }, points: 10,
    args: [...BOX_ARGS, '--power', '0.8,0.9'] },
  { name: 'detectable ROR^tb against cases', mode: 'detect', inputs: { ...BOX, cases: '500', power: '0.8' },
    axis: { over: 'cases', from: '200', to: '2000', points: '4' }, points: 4,
    args: [...BOX_ARGS, '--power', '0.8', '--quantity', 'detect'] },
];

for (const curve of CURVES) {
  test(`a curve draws its points, and its downloads are the command line's curve: ${curve.name}`, { todo: curve.todo }, async () => {
    const { page, problems, close } = await open();
    await fill(page, curve.mode, curve.inputs);
    await page.selectOption('#f-over', curve.axis.over);
    for (const name of ['from', 'to', 'points']) await page.fill(`#f-${name}`, curve.axis[name]);
    await page.getByRole('button', { name: 'Draw the curve' }).click();
    await page.waitForSelector('#figure:not([hidden]) svg');
    assert.equal(await page.locator('#plot svg g.curve-point circle').count(), curve.points);
    const expected = gxeplan(['curve', '--over', curve.axis.over, '--from', curve.axis.from, '--to', curve.axis.to,
      '--points', curve.axis.points, ...curve.args, '--format', 'csv']).stdout;
    const [download] = await Promise.all([page.waitForEvent('download'), page.click('#curve-csv-download')]);
    assert.equal(fs.readFileSync(await download.path(), 'utf8'), expected);
    await page.waitForSelector('#png-download:not([hidden])');
    const [png] = await Promise.all([page.waitForEvent('download'), page.click('#png-download')]);
    assert.deepEqual([...fs.readFileSync(await png.path()).subarray(0, 4)], [0x89, 0x50, 0x4e, 0x47]);
    const [svg] = await Promise.all([page.waitForEvent('download'), page.click('#svg-download')]);
    assert.match(fs.readFileSync(await svg.path(), 'utf8'), /<svg[^>]*xmlns="http:\/\/www.w3.org\/2000\/svg"/);
    // The figure's lines against its white background (3:1 for graphics) and
    // its legend's text (4.5:1).
    const inks = await page.$$eval('#plot svg [stroke], #plot svg text[fill]', (marks) => marks
      .map((m) => [m.tagName, m.tagName === 'text' ? m.getAttribute('fill') : m.getAttribute('stroke')])
      .filter(([, colour]) => /^#[0-9a-f]{6}$/i.test(colour ?? '')));
    assert.ok(inks.length > 0);
    for (const [tag, colour] of inks) {
      const rgb = [1, 3, 5].map((i) => parseInt(colour.slice(i, i + 2), 16));
      assert.ok(contrast(rgb, [255, 255, 255]) >= (tag === 'text' ? 4.5 : 3), `${tag} in ${colour}`);
    }
    if (curve.mode === 'power') {
      // For a person to look at: the page with a result and a curve.
      await page.getByRole('button', { name: 'Calculate' }).click();
      await page.waitForSelector('body[data-calculated="1"]');
      await page.screenshot({ path: path.join(root, 'build', 'web-page.png'), fullPage: true });
    }
    assert.deepEqual(problems, []);
    await close();
  });
}

test('a simulation can be cancelled, and the next calculation runs', async () => {
  const { page, problems, close } = await open();
  await fill(page, 'power', { ...BOX, ror: '2', cases: '2000', simulate: '1000000' });
  await page.getByRole('button', { name: 'Calculate' }).click();
  await page.waitForSelector('#progress-box:not([hidden])');
  await page.getByRole('button', { name: 'Cancel' }).click();
  await page.waitForFunction(() => /^Cancelled/.test(document.getElementById('status').textContent));
  assert.equal(await page.locator('section.row-result').count(), 0);
  await page.fill('#f-simulate', '');
  await calculate(page);
  assert.equal(await page.locator('section.row-result').count(), 1);
  assert.deepEqual(problems, []);
  await close();
});

// The contrast of two sRGB colours, as WCAG defines it.
function contrast(a, b) {
  const luminance = ([r, g, b]) => {
    const lin = (c) => { c /= 255; return c <= 0.03928 ? c / 12.92 : ((c + 0.055) / 1.055) ** 2.4; };
    return 0.2126 * lin(r) + 0.7152 * lin(g) + 0.0722 * lin(b);
  };
  const [x, y] = [luminance(a), luminance(b)].sort((p, q) => q - p);
  return (x + 0.05) / (y + 0.05);
}

test('every control is labelled, text passes AA contrast, and a phone\'s width needs no sideways scrolling', async () => {
  const query = 'mode=power&cases=500&quantiles=4&gene_prevalence=0.3&ror=2&simulate=200';
  const { page, problems, close } = await open(`${address}?${query}`, { width: 360, height: 740 });
  await page.waitForSelector('body[data-calculated="1"]');
  const unlabelled = await page.$$eval('input, select, button, progress', (controls) => controls
    .filter((c) => !(c.labels?.length || c.getAttribute('aria-label') || (c.tagName === 'BUTTON' && c.textContent.trim())))
    .map((c) => c.id || c.name));
  assert.deepEqual(unlabelled, []);
  // Each visible text's colour against the first opaque background behind it.
  const pairs = await page.evaluate(() => {
    const rgb = (text) => text.match(/[\d.]+/g).map(Number);
    const out = [];
    const walker = document.createTreeWalker(document.body, NodeFilter.SHOW_TEXT);
    while (walker.nextNode()) {
      const node = walker.currentNode;
      const owner = node.parentElement;
      if (!node.textContent.trim() || !owner.getClientRects().length || owner.closest('svg')) continue;
      let back = owner;
      while (back && (rgb(getComputedStyle(back).backgroundColor)[3] ?? 1) === 0) back = back.parentElement;
      out.push({ text: node.textContent.trim().slice(0, 30), fg: rgb(getComputedStyle(owner).color),
        bg: back ? rgb(getComputedStyle(back).backgroundColor) : [255, 255, 255] });
    }
    return out;
  });
  assert.ok(pairs.length > 50);
  for (const { text, fg, bg } of pairs) {
    assert.ok(contrast(fg.slice(0, 3), bg.slice(0, 3)) >= 4.5, `"${text}": ${fg} on ${bg}`);
  }
  const widths = await page.evaluate(() => [document.documentElement.scrollWidth, window.innerWidth]);
  assert.ok(widths[0] <= widths[1], `page ${widths[0]} px wide in a ${widths[1]} px window`);
  assert.deepEqual(problems, []);
  await close();
});
