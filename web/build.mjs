// Builds the page into build/web: index.html and the style sheet as they are,
// and page.js, the page's script bundled with its libraries by esbuild. The
// bundle carries the worker's whole text (the engine module's loader from
// build/web-engine, its WebAssembly in base64, then page/worker.js), which
// the page starts from a Blob URL. Nothing is fetched after page.js, so the
// folder runs offline, from any static host, and opened from the disk as a
// file: address (where a browser fetches nothing and starts no worker from a
// file). page.js is a classic script, as a file: page may not load modules.
import * as esbuild from 'esbuild';
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const root = path.join(here, '..');
const out = path.join(root, 'build', 'web');
const engine = path.join(root, 'build', 'web-engine');

fs.rmSync(out, { recursive: true, force: true });
fs.mkdirSync(out, { recursive: true });
const [loader, wasm] = ['gxeplan_engine.js', 'gxeplan_engine.wasm'].map((name) => {
  const from = path.join(engine, name);
  if (!fs.existsSync(from)) {
    console.error(`${from} is missing: build the engine module first (bash web/engine/build.sh)`);
    process.exit(1);
  }
  return fs.readFileSync(from);
});
const workerText = `${loader.toString('utf8')}\n` +
  `const ENGINE_WASM = '${wasm.toString('base64')}';\n` +
  fs.readFileSync(path.join(here, 'page', 'worker.js'), 'utf8');
for (const name of ['index.html', 'style.css']) {
  fs.copyFileSync(path.join(here, 'page', name), path.join(out, name));
}
// `import workerText from 'engine-worker'` in the page's script.
const workerModule = {
  name: 'engine-worker',
  setup(build) {
    build.onResolve({ filter: /^engine-worker$/ }, () => ({ path: 'engine-worker', namespace: 'engine-worker' }));
    build.onLoad({ filter: /.*/, namespace: 'engine-worker' }, () => ({ contents: workerText, loader: 'text' }));
  },
};
await esbuild.build({
  entryPoints: [path.join(here, 'page', 'src', 'main.js')],
  bundle: true,
  minify: true,
  format: 'iife',
  plugins: [workerModule],
  target: ['es2020'],
  outfile: path.join(out, 'page.js'),
  logLevel: 'warning',
  legalComments: 'linked',
});
