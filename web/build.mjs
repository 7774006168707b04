// Builds the page into build/web: index.html and the style sheet as they are,
// the page's script bundled with its libraries by esbuild, the worker, and
// the engine module (gxeplan_engine.js and .wasm) from build/web-engine.
// Everything the page loads is in that folder, so it runs offline and from
// any static host.
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
for (const name of ['gxeplan_engine.js', 'gxeplan_engine.wasm']) {
  const from = path.join(engine, name);
  if (!fs.existsSync(from)) {
    console.error(`${from} is missing: build the engine module first (bash web/engine/build.sh)`);
    process.exit(1);
  }
  fs.copyFileSync(from, path.join(out, name));
}
for (const name of ['index.html', 'style.css', 'worker.js']) {
  fs.copyFileSync(path.join(here, 'page', name), path.join(out, name));
}
await esbuild.build({
  entryPoints: [path.join(here, 'page', 'src', 'main.js')],
  bundle: true,
  minify: true,
  format: 'esm',
  target: ['es2020'],
  outfile: path.join(out, 'page.js'),
  logLevel: 'warning',
  legalComments: 'linked',
});
