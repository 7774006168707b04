// The WebAssembly engine against the command line built from the same
// sources: the csv of a calculation byte for byte, the messages of wrong
// inputs, and the columns the page builds its form from.
//
//   node --no-experimental-fetch web/engine/engine.test.cjs
//
// Needs build/web-engine/gxeplan_engine.js (web/engine/build.sh) and
// build/werror/gxeplan (or the program named by GXE_CLI).
'use strict';
const assert = require('node:assert/strict');
const { spawnSync } = require('node:child_process');
const path = require('node:path');

const root = path.resolve(__dirname, '../..');
const cli = process.env.GXE_CLI || path.join(root, 'build/werror/gxeplan');
const createGxeplanEngine = require(path.join(root, 'build/web-engine/gxeplan_engine.js'));

// The C library's exp, log, log1p and pow are chosen when the program
// starts: on a processor with fused multiply-add (FMA) glibc takes versions
// compiled to use it, which round a few results differently in the last bit
// (about 1 row in 30 of the benchmark's designs), while WebAssembly has no
// FMA. The native program is run here with the versions without it, the
// arithmetic the module does, so the comparison is bit for bit on any
// processor.
const kSameMath = 'glibc.cpu.hwcaps=-AVX2,-FMA';
const cliEnv = {
  ...process.env,
  GLIBC_TUNABLES: [process.env.GLIBC_TUNABLES, kSameMath].filter(Boolean).join(':'),
};

function runCli(args) {
  const r = spawnSync(cli, args, { encoding: 'utf8', env: cliEnv });
  if (r.error) throw r.error;
  return r;
}

// Requests as the page sends them; the command line gets the same texts as
// the options columns() names (a range's two columns as one LO:HI).
const kCases = [
  {
    name: 'power, lists of cases and ROR^tb, a box of two ranges',
    request: { mode: 'power', quantiles: '4', gene_prevalence: '0.3', cases: '500, 1000',
      ror: '1.5,2', or_e: '2', or_g: '1.5', or_e_low: '1.5', or_e_high: '2.5', or_g_low: '1',
      or_g_high: '2' },
  },
  {
    name: 'size, exposure prevalences, two controls per case, genome-wide level',
    request: { mode: 'size', exposure_prevalences: '0.2,0.3,0.5', gene_prevalence: '0.1',
      controls_per_case: '2', power: '0.8', ror: '2.5', alpha: '5e-8', or_e: '' },
  },
  {
    name: 'detect, protective',
    request: { mode: 'detect', quantiles: '3', allele_frequency: '0.2',
      genetic_model: 'dominant', cases: '800', power: '0.9', direction: 'protective' },
  },
  {
    name: 'power over a four-dimensional box',
    request: { mode: 'power', quantiles: '4', gene_prevalence: '0.3', cases: '600', ror: '2',
      or_e_low: '1.5', or_e_high: '2.5', or_g_low: '1', or_g_high: '2', or_ge_low: '0.7',
      or_ge_high: '1.5', gene_prevalence_low: '0.2', gene_prevalence_high: '0.4' },
  },
  {
    name: 'size for the likelihood-ratio test',
    request: { mode: 'size', quantiles: '5', gene_prevalence: '0.25', power: '0.8,0.9',
      ror: '1.8', test: 'lr', search: 'centre' },
  },
  {
    // The command line simulates on every core, the engine on one thread:
    // the same seed gives the same studies.
    name: 'power checked by 2000 simulated studies, seed 7',
    request: { mode: 'power', quantiles: '4', gene_prevalence: '0.3', cases: '400', ror: '2',
      or_e_low: '1.5', or_e_high: '2.5', or_g_low: '1', or_g_high: '2', simulate: '2000',
      seed: '7' },
    progress: true,
  },
  {
    name: 'a curve of power over cases, one per ROR^tb',
    request: { over: 'cases', from: '200', to: '1000', points: '5', quantiles: '4',
      gene_prevalence: '0.3', ror: '1.5,2', or_e_low: '1', or_e_high: '2', or_g_low: '1',
      or_g_high: '2' },
    curve: true,
    progress: true,
  },
];

// Wrong inputs: the engine's message is the command line's after the option.
const kWrong = [
  { key: 'gene_prevalence', request: { gene_prevalence: '1.5' } },
  { key: 'cases', request: { cases: '5OO' } },
  { key: 'cases', request: { cases: '500,0' } },
  { key: 'or_e_low', request: { or_e_low: '2', or_e_high: '1' } },
];

function csvHeaderAndRows(csv) {
  const lines = csv.split('\r\n');
  assert.equal(lines.pop(), '', 'the csv ends with CRLF');
  return lines;
}

// The command line that asks what `request` asks, with the options of the
// engine's columns.
function argsOf(request, columns, curve) {
  const args = [curve ? 'curve' : request.mode];
  const option = new Map(columns.map((c) => [c.name, c.option]));
  for (const [key, text] of Object.entries(request)) {
    if (key === 'mode' || text === '' || key.endsWith('_high')) continue;
    if (key.endsWith('_low')) {
      args.push(option.get(key), `${text}:${request[key.replace(/_low$/, '_high')]}`);
    } else {
      args.push(option.get(key) || `--${key.replace(/_/g, '-')}`, text);
    }
  }
  return args;
}

async function main() {
  const engine = await createGxeplanEngine();
  const columns = JSON.parse(engine.columns());

  for (const c of kCases) {
    const native = runCli([...argsOf(c.request, columns, c.curve), '--format', 'csv']);
    assert.equal(native.status, 0, `${c.name}: ${native.stderr}`);
    const reports = [];
    const call = c.curve ? engine.curve : engine.calculate;
    const text = c.progress
      ? call(JSON.stringify(c.request), (done, total) => reports.push([done, total]))
      : call(JSON.stringify(c.request));
    const result = JSON.parse(text);
    assert.equal(result.error, null, `${c.name}: ${JSON.stringify(result.error)}`);
    assert.equal(result.csv, native.stdout, c.name);
    // header and rows are the csv's fields (no field here needs quotes).
    const lines = csvHeaderAndRows(native.stdout);
    assert.deepEqual(result.header, lines[0].split(','), c.name);
    assert.deepEqual(result.rows.map((r) => r.join(',')), lines.slice(1), c.name);
    assert.equal(result.notes.length, result.rows.length, c.name);
    if (c.progress) {
      // A simulation reports its studies, a curve each of its points, up to
      // all of them.
      assert.ok(reports.length > 0 && reports.every(([done, total]) => done <= total), c.name);
      const [done, total] = reports.at(-1);
      assert.equal(done, total, c.name);
      if (c.curve) assert.deepEqual(reports.map(([d]) => d), result.rows.map((_, i) => i + 1));
    }
    assert.deepEqual(JSON.parse(engine.check(JSON.stringify(c.request))).errors, [], c.name);
  }

  const base = { mode: 'power', quantiles: '4', gene_prevalence: '0.3', cases: '500', ror: '2' };
  for (const w of kWrong) {
    const native = runCli([...argsOf({ ...base, ...w.request }, columns), '--format', 'csv']);
    assert.equal(native.status, 2, native.stderr);
    const prefix = `gxeplan: ${columns.find((c) => c.name === w.key).option}: `;
    assert.ok(native.stderr.startsWith(prefix), native.stderr);
    const rule = native.stderr.slice(prefix.length).trimEnd();
    const request = JSON.stringify({ ...base, ...w.request });
    assert.deepEqual(JSON.parse(engine.check(request)).errors, [{ input: w.key, message: rule }]);
    const refused = JSON.parse(engine.calculate(request));
    assert.deepEqual(refused.error, { input: w.key, message: rule });
    assert.deepEqual(refused.rows, []);
  }
  // A long simulation reports its progress while it runs, not only at its
  // end: the module has no threads, so the calling thread reports between
  // blocks of studies.
  const reports = [];
  engine.calculate(JSON.stringify({ ...base, simulate: '100000' }),
    (done, total) => reports.push([done, total]));
  assert.ok(reports.some(([done, total]) => done > 0 && done < total), JSON.stringify(reports));

  // Keys the engine does not know, and a range with one bound.
  assert.deepEqual(JSON.parse(engine.check(JSON.stringify({ ...base, cases_: '5' }))).errors,
    [{ input: 'cases_', message: '"cases_" is not an input' }]);
  assert.equal(JSON.parse(engine.check(JSON.stringify({ ...base, or_g_low: '1' }))).errors[0].input,
    'or_g_high');

  // The columns: every input the batch file takes (its help lists them) is
  // an input or alias column of the engine, and no other.
  const help = runCli(['batch', '--help']).stdout;
  const listed = new Set();
  for (const line of help.split('\n')) {
    const m = /^  ([a-z_]+(?:, [a-z_]+)?)\s{2,}/.exec(line) || /^  ([a-z_]+, [a-z_]+) /.exec(line);
    if (m) m[1].split(', ').forEach((name) => listed.add(name));
  }
  const inputs = new Set(columns.filter((c) => c.role === 'input' || c.role === 'alias')
    .map((c) => c.name));
  assert.deepEqual([...listed].sort(), [...inputs].sort());
  const ror = columns.find((c) => c.name === 'or_e_high');
  assert.equal(ror.option, '--or-e-range');
  assert.deepEqual(columns.find((c) => c.name === 'search').choices, ['global', 'centre']);
  assert.equal(columns.find((c) => c.name === 'alpha').default, '0.05');

  console.log(`engine.test.cjs: ${kCases.length} calculations, ${kWrong.length} wrong inputs ` +
    `and ${columns.length} columns as the command line has them`);
}

main().catch((e) => {
  console.error(e);
  process.exit(1);
});
