// Bundles the live page into one directory the station serves as its web root:
//   node build.mjs OUTDIR
// index.html and live.css are copied, live.js is main.js with seisplotjs and everything it
// needs, so the page loads nothing from elsewhere.
import * as esbuild from 'esbuild';
import { copyFileSync, mkdirSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));
const out = process.argv[2];
if (!out) {
  console.error('usage: node build.mjs OUTDIR');
  process.exit(2);
}
mkdirSync(out, { recursive: true });
await esbuild.build({
  entryPoints: [join(here, 'src', 'main.js')],
  bundle: true,
  minify: true,
  format: 'esm',
  target: 'es2020',
  legalComments: 'linked',
  outfile: join(out, 'live.js'),
  logLevel: 'warning',
});
for (const name of ['index.html', 'live.css']) {
  copyFileSync(join(here, 'src', name), join(out, name));
}
