// The web page's engine (WebAssembly, under node) against the native
// program on the same calculations, each on one thread. A request with a
// list of n values of ROR^tb makes n whole calculations (every value its own
// search of the box) in one call, so the time per calculation leaves out
// starting a process and loading the module; both are reported besides.
//
//   node --no-experimental-fetch bench/web_engine.js [build/release/gxeplan]
'use strict';
const { spawnSync } = require('node:child_process');
const path = require('node:path');

const root = path.resolve(__dirname, '..');
const cli = process.argv[2] || path.join(root, 'build/release/gxeplan');
// The fastest of several runs: on a machine shared with other work the
// fastest is the one least disturbed.
const kRepetitions = 7;

// The design of bench/plan_bench.cc: k quantiles, carrier prevalence 0.3, one
// control per case, null odds ratios 2 and 1.5, the box OR^tb(E|G=0) 1 to 4
// and OR(G|E=0) 0.5 to 2; 500 cases or power 0.8.
function design(mode, k, n) {
  const rors = Array.from({ length: n }, (_, i) => (2 + 0.0001 * i).toFixed(4)).join(',');
  const request = { mode, quantiles: String(k), gene_prevalence: '0.3', or_e: '2', or_g: '1.5',
    ror: rors, or_e_low: '1', or_e_high: '4', or_g_low: '0.5', or_g_high: '2' };
  if (mode === 'power') request.cases = '500'; else request.power = '0.8';
  const args = [mode, '--quantiles', String(k), '--gene-prevalence', '0.3', '--or-e', '2',
    '--or-g', '1.5', '--ror', rors, '--or-e-range', '1:4', '--or-g-range', '0.5:2',
    mode === 'power' ? '--cases' : '--power', mode === 'power' ? '500' : '0.8',
    '--threads', '1', '--format', 'csv'];
  return { request, args };
}

function fastest(xs) {
  return Math.min(...xs);
}

function millis(f) {
  const start = process.hrtime.bigint();
  const value = f();
  return { ms: Number(process.hrtime.bigint() - start) / 1e6, value };
}

async function main() {
  const load = millis(() => require(path.join(root, 'build/web-engine/gxeplan_engine.js')));
  const start = process.hrtime.bigint();
  const engine = await load.value();
  const loaded = load.ms + Number(process.hrtime.bigint() - start) / 1e6;
  const started = fastest(Array.from({ length: kRepetitions },
    () => millis(() => spawnSync(cli, ['--version'])).ms));
  console.log(`module loaded in ${loaded.toFixed(0)} ms; native process start ${started.toFixed(1)} ms`);
  let differing = 0;
  let rows = 0;
  console.log('| calculation | k | native (µs) | WebAssembly (µs) | ratio |');
  console.log('|---|---|---|---|---|');
  // Then the rows of a list of numbers of cases, which share one search of
  // the box: what a row costs besides the search (the conversion, the powers
  // at the two extremes, the notes, the text). Last, a power calculation
  // checked by 2000 simulated studies at each extreme (seed 1), where the
  // simulation's fits are most of the work.
  const runs = [['power', 4, 2000], ['power', 100, 100], ['size', 4, 2000], ['size', 100, 100],
    ['power, one search', 4, 2000], ['simulated power', 4, 5]];
  for (const [name, k, n] of runs) {
    const mode = name === 'size' ? 'size' : 'power';
    const { request, args } = design(mode, k, n);
    if (name === 'simulated power') {
      request.simulate = '2000';
      args.push('--simulate', '2000');
    }
    if (name === 'power, one search') {
      const cases = Array.from({ length: n }, (_, i) => String(500 + i)).join(',');
      request.ror = '2';
      request.cases = cases;
      args[args.indexOf('--ror') + 1] = '2';
      args[args.indexOf('--cases') + 1] = cases;
    }
    const text = JSON.stringify(request);
    const nativeTimes = [];
    const webTimes = [];
    for (let r = 0; r < kRepetitions; r++) {
      const native = millis(() => spawnSync(cli, args, { encoding: 'utf8' }));
      if (native.value.status !== 0) throw new Error(native.value.stderr);
      nativeTimes.push((native.ms - started) / n);
      const web = millis(() => JSON.parse(engine.calculate(text)));
      // The same rows; a few numbers may differ in their last bit, where
      // glibc's exp and log take fused multiply-adds (engine.test.cjs).
      if (web.value.rows.length !== n) throw new Error(`${name} k=${k}: ${web.value.error}`);
      const nativeRows = native.value.stdout.split('\r\n').slice(1, -1);
      differing += web.value.rows.filter((row, i) => row.join(',') !== nativeRows[i]).length;
      rows += n;
      webTimes.push(web.ms / n);
    }
    const a = fastest(nativeTimes);
    const b = fastest(webTimes);
    console.log(`| ${name} | ${k} | ${(1000 * a).toFixed(0)} | ${(1000 * b).toFixed(0)} | ${(b / a).toFixed(2)} |`);
  }
  console.log(`rows whose text differs from the native program's: ${differing} of ${rows}`);
}

main().catch((e) => {
  console.error(e);
  process.exit(1);
});
