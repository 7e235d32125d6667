// The viewer in a real browser: Debian's chromium, headless, loads the page
// from the throttled local server and must draw the coarse stages of a
// level-progressive picture before its last byte arrives, end with exactly
// zrdec's pixels, decode a file chosen with the picker, and explain a file
// that is not a ZR stream and a missing one.
//
//   node tests/web/browser_test.mjs --wasm DIR --zrdec PATH --out DIR
//
// Prints SKIPPED and exits with 77 when chromium, the WebAssembly build or
// playwright-core cannot be had (under CI=true that is a failure).
import { execFileSync } from 'node:child_process';
import { existsSync, mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..', '..');
const CHROMIUM = '/usr/bin/chromium';
const SAMPLE = 'samples/astronaut-progressive.zr';
const RATE = 6000;       // bytes per second: the 21.8 KB sample takes about 3.6 s
const INTERVAL = 1024;   // bytes between partial pictures

const args = Object.fromEntries(process.argv.slice(2).reduce((pairs, arg, i, all) => {
  if (arg.startsWith('--')) pairs.push([arg.slice(2), all[i + 1]]);
  return pairs;
}, []));
const out = path.resolve(args.out ?? path.join(root, 'build', 'web', 'browser-test'));
const wasmDir = path.resolve(args.wasm ?? path.join(root, 'build', 'web'));
const zrdec = args.zrdec ?? path.join(root, 'build', 'tools', 'zrdec');

function skip(reason) {
  console.log(`SKIPPED: ${reason}`);
  process.exit(process.env.CI === 'true' ? 1 : 77);
}

let failures = 0;
let passes = 0;
function check(ok, what) {
  console.log(`${ok ? 'ok  ' : 'FAIL'} ${what}`);
  if (ok) passes++;
  else failures++;
}

if (!existsSync(CHROMIUM)) skip(`${CHROMIUM} is missing (apt-get install chromium)`);
if (!existsSync(path.join(wasmDir, 'zr-wasm.wasm'))) {
  skip(`no WebAssembly build in ${wasmDir} (em++ missing? scripts/build-wasm.sh builds it)`);
}
let chromium;
try {
  ({ chromium } = await import('playwright-core'));
} catch {
  skip('playwright-core is not installed (npm ci in the repository)');
}
const { startServer } = await import(path.join(root, 'scripts', 'web-server.mjs'));

// zrdec's pixels as RGB.
function reference(stream) {
  const file = path.join(out, `${path.basename(stream, '.zr')}.raw`);
  execFileSync(zrdec, ['--raw', path.join(root, stream), file], { stdio: 'ignore' });
  return readFileSync(file);
}

async function canvasRgb(page) {
  const base64 = await page.evaluate(() => {
    const canvas = document.getElementById('canvas');
    const { data } = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height);
    let text = '';
    for (let i = 0; i < data.length; i += 4) text += String.fromCharCode(data[i], data[i + 1], data[i + 2]);
    return btoa(text);
  });
  return Buffer.from(base64, 'base64');
}

function sameAsGrey(rgb, grey) {
  if (rgb.length !== grey.length * 3) return false;
  for (let i = 0; i < grey.length; i++) {
    if (rgb[3 * i] !== grey[i] || rgb[3 * i + 1] !== grey[i] || rgb[3 * i + 2] !== grey[i]) return false;
  }
  return true;
}

async function waitForState(page, states, timeout = 30000) {
  await page.waitForFunction((wanted) => wanted.includes(window.zrViewer?.state), states, { timeout });
  return page.evaluate(() => window.zrViewer.state);
}

mkdirSync(out, { recursive: true });
const profile = mkdtempSync(path.join(os.tmpdir(), 'zr-chromium-'));
// Streams the page must explain: a version it cannot read, and a download
// that breaks off.
const sample = readFileSync(path.join(root, SAMPLE));
writeFileSync(path.join(out, 'version-3.zr'), Buffer.from(sample).fill(3, 2, 3));
writeFileSync(path.join(out, 'cut.zr'), sample);
const server = await startServer({ port: 0, rate: RATE, wasmDir, mounts: [['/test/', out]],
  cut: { '/test/cut.zr': 6000 } });
let context;
try {
  context = await chromium.launchPersistentContext(profile, {
    executablePath: CHROMIUM,
    headless: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
    viewport: { width: 900, height: 560 },
    timeout: 60000,
  });
  const page = context.pages()[0] ?? await context.newPage();
  const pageErrors = [];
  page.on('pageerror', (error) => pageErrors.push(error.message));

  // The level-progressive sample, streamed: stages first, zrdec's pixels last.
  await page.goto(`${server.url}?src=${SAMPLE}&interval=${INTERVAL}`);
  await page.waitForFunction(() => window.zrViewer?.log.filter((e) => e.kind === 'stage').length >= 2,
    null, { timeout: 30000 });
  await page.locator('#canvas').screenshot({ path: path.join(out, 'coarse-stage.png') });
  await page.screenshot({ path: path.join(out, 'viewer-mid-download.png') });
  const state = await waitForState(page, ['done', 'error']);
  check(state === 'done', `${SAMPLE} decoded (state ${state})`);
  const lastByte = server.sent.get(`/${SAMPLE}`);
  const log = await page.evaluate(() => window.zrViewer.log);
  const early = log.filter((e) => e.kind === 'stage' && e.at < lastByte);
  const distinct = new Set(early.map((e) => e.hash)).size;
  const sizes = [...new Set(early.map((e) => `${e.partWidth}x${e.partHeight}`))].join(' ');
  check(lastByte !== undefined && distinct >= 3 && sizes.split(" ").length >= 3,
    `${distinct} distinct coarse stages drawn before the last byte was sent (sizes ${sizes})`);
  const expected = reference(SAMPLE);
  check((await canvasRgb(page)).equals(expected), 'final canvas pixels equal zrdec --raw byte for byte');
  await page.locator('#canvas').screenshot({ path: path.join(out, 'final.png') });
  check(/Done: 256 x 256, 21,841 bytes/.test(await page.textContent('#status')), 'status line reports the whole picture');
  check(/Width256Height256/.test((await page.textContent('#header')).replace(/\s/g, '')), 'header fields shown');

  // A one-pass grey picture through the file picker.
  const grey = 'samples/camera-one-pass.zr';
  await page.setInputFiles('#file', path.join(root, grey));
  check(await waitForState(page, ['done', 'error']) === 'done', `${grey} opened with the file picker`);
  check(sameAsGrey(await canvasRgb(page), reference(grey)), 'grey picture equals zrdec --raw');

  // Something that is not a ZR stream, and a missing file.
  await page.goto(`${server.url}?src=index.html`);
  check(await waitForState(page, ['done', 'error']) === 'error', 'index.html is refused');
  const notZr = await page.textContent('#error');
  check(/index\.html is not a ZR picture \(not a ZR stream\)/.test(notZr), `error text: ${notZr}`);
  await page.goto(`${server.url}?src=samples/missing.zr`);
  check(await waitForState(page, ['done', 'error']) === 'error', 'a missing file is an error');
  const missing = await page.textContent('#error');
  check(/Network error: .*HTTP 404/.test(missing), `error text: ${missing}`);

  await page.goto(`${server.url}?src=test/version-3.zr`);
  check(await waitForState(page, ['done', 'error']) === 'error', 'version 3 is refused');
  const version = await page.textContent('#error');
  check(/version this viewer cannot read \(unsupported version 3; it reads version 2\)/.test(version),
    `error text: ${version}`);
  await page.goto(`${server.url}?src=test/cut.zr`);
  await page.waitForFunction(() => window.zrViewer?.log.some((e) => e.kind === 'final'), null, { timeout: 30000 });
  const broken = await page.textContent('#error');
  check(/Network error while loading cut\.zr after 6,000 bytes: .*Showing the picture decoded from what arrived/
    .test(broken) && await page.isVisible('#error'), `error text: ${broken}`);

  check(pageErrors.length === 0, `no script errors on the page${pageErrors.length ? `: ${pageErrors.join('; ')}` : ''}`);
} catch (error) {
  check(false, `browser session: ${error.message}`);
} finally {
  await context?.close();
  await server.close();
  rmSync(profile, { recursive: true, force: true });
}
console.log(`screenshots in ${out}`);
console.log(`${passes} passed, ${failures} failed`);
process.exit(failures ? 1 : 0);
