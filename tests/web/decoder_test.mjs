// The WebAssembly decoder through its JavaScript module, under Node: for every
// sample and several chunkings, the partial pictures (positions and pixels)
// and the final picture equal what the native zrdec writes; refusals and
// misuse are reported as ZrErrors.
//
//   node tests/web/decoder_test.mjs --wasm DIR --zrdec PATH --out DIR
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { existsSync, mkdirSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import path from 'node:path';
import { test } from 'node:test';
import { fileURLToPath } from 'node:url';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..', '..');
const args = Object.fromEntries(process.argv.slice(2).reduce((pairs, arg, i, all) => {
  if (arg.startsWith('--')) pairs.push([arg.slice(2), all[i + 1]]);
  return pairs;
}, []));
const wasmDir = path.resolve(args.wasm ?? path.join(root, 'build', 'web'));
const zrdec = args.zrdec ?? path.join(root, 'build', 'tools', 'zrdec');
const out = path.resolve(args.out ?? path.join(root, 'build', 'web', 'decoder-test'));

if (!existsSync(path.join(wasmDir, 'zr-wasm.wasm'))) {
  console.log(`SKIPPED: no WebAssembly build in ${wasmDir} (em++ missing? scripts/build-wasm.sh builds it)`);
  process.exit(process.env.CI === 'true' ? 1 : 77);
}

const { ZrDecoder, ZrError } = await import(path.join(root, 'web', 'zr-decoder.js'));
await ZrDecoder.load({
  moduleUrl: path.join(wasmDir, 'zr-wasm.js'),
  wasmBytes: readFileSync(path.join(wasmDir, 'zr-wasm.wasm')),
});
mkdirSync(out, { recursive: true });

const INTERVAL = 1024;
const SAMPLES = ['gradient-progressive.zr', 'camera-one-pass.zr', 'astronaut-progressive.zr'];

// The decoder's pixel layout (RGB, grey, or 16-bit grey) as the module's RGBA.
function rgba(raw, count, bits) {
  const pixels = new Uint8ClampedArray(count * 4);
  const bytesPer = raw.length / count;
  for (let i = 0; i < count; i++) {
    let r, g, b;
    if (bytesPer === 3) [r, g, b] = [raw[3 * i], raw[3 * i + 1], raw[3 * i + 2]];
    else if (bytesPer === 2) r = g = b = (raw[2 * i] | raw[2 * i + 1] << 8) >> (bits - 8);
    else r = g = b = raw[i];
    pixels.set([r, g, b, 255], 4 * i);
  }
  return pixels;
}

// zrdec's partial pictures and final picture for `file`.
function native(file, bits = 8) {
  const dir = path.join(out, path.basename(file, '.zr'));
  rmSync(dir, { recursive: true, force: true });
  const finalRaw = `${dir}.raw`;
  try {
    execFileSync(zrdec, ['--raw', '--frames-every', String(INTERVAL), dir, file, finalRaw], { stdio: 'ignore' });
  } catch {
    // zrdec refuses --frames-every for one-pass streams, which have no partial pictures.
    execFileSync(zrdec, ['--raw', file, finalRaw], { stdio: 'ignore' });
  }
  const index = existsSync(path.join(dir, 'index.txt')) ? readFileSync(path.join(dir, 'index.txt'), 'utf8') : '';
  const partials = index.trim().split('\n').filter(Boolean).map((line) => {
    const [k, position, partHeight, partWidth] = line.split(' ').map(Number);
    const raw = readFileSync(path.join(dir, `frame-${String(k).padStart(4, '0')}.raw`));
    return { position, partWidth, partHeight, data: rgba(raw, partWidth * partHeight, bits) };
  });
  return { partials, final: readFileSync(finalRaw) };
}

function decode(bytes, chunkSizes) {
  const decoder = new ZrDecoder({ interval: INTERVAL });
  const partials = [];
  decoder.addEventListener('partial', ({ detail }) => {
    partials.push({ position: detail.position, partWidth: detail.partWidth, partHeight: detail.partHeight,
      data: detail.image.data });
  });
  let at = 0;
  for (let i = 0; at < bytes.length; i++) {
    const size = chunkSizes(i);
    decoder.append(bytes.subarray(at, at + size));
    at += size;
  }
  const final = decoder.finish();
  return { partials, final, header: decoder.header };
}

function random(seed) {
  return () => {
    seed = (Math.imul(seed, 1103515245) + 12345) >>> 0;
    return seed / 2 ** 32;
  };
}

for (const sample of SAMPLES) {
  test(`${sample}: partial and final pictures equal zrdec's for any chunking`, () => {
    const file = path.join(root, 'samples', sample);
    const bytes = readFileSync(file);
    const expected = native(file);
    const draw = random(sample.length);
    const chunkings = { 'whole': () => bytes.length, 'random': () => 1 + Math.floor(draw() * 3000),
      'one byte': () => 1, 'empty chunks between': (i) => (i % 2 ? 0 : 700) };
    for (const [name, sizes] of Object.entries(chunkings)) {
      const got = decode(bytes, sizes);
      assert.equal(got.header.status, 0);
      assert.deepEqual(got.partials.map((p) => [p.position, p.partWidth, p.partHeight]),
        expected.partials.map((p) => [p.position, p.partWidth, p.partHeight]), `${name}: positions`);
      got.partials.forEach((p, i) => assert.deepEqual(p.data, expected.partials[i].data, `${name}: partial ${i}`));
      const { width, height } = got.final;
      assert.deepEqual(got.final.image.data, rgba(expected.final, width * height, got.header.bitsPerSample),
        `${name}: final`);
    }
  });
}

test('a stream cut short gives what zrdec gives on the bytes that arrived', () => {
  const bytes = readFileSync(path.join(root, 'samples', 'astronaut-progressive.zr'));
  const cut = bytes.subarray(0, 5000);
  const file = path.join(out, 'cut.zr');
  writeFileSync(file, cut);
  const got = decode(cut, () => 333);
  assert.deepEqual(got.final.image.data, rgba(native(file).final, 256 * 256, 8));
});

test('refused streams throw ZrErrors that say why', () => {
  const sample = readFileSync(path.join(root, 'samples', 'gradient-progressive.zr'));
  const refusals = [
    [Buffer.from('<!DOCTYPE html><html></html>'), 1, /^not a ZR stream$/],
    [Buffer.from(sample).fill(1, 2, 3), 2, /^unsupported version 1$/],
    [Buffer.from(sample).fill(0x56, 7, 8), 16, /^unsupported sample depth 10 for colour$/],
  ];
  for (const [bytes, status, message] of refusals) {
    const decoder = new ZrDecoder({ interval: INTERVAL });
    assert.throws(() => decoder.append(bytes), (e) => e instanceof ZrError && e.status === status &&
      message.test(e.message));
    assert.equal(decoder.header.status, status);
    decoder.free();
  }
  // Refused in a later chunk, once the header is complete.
  const decoder = new ZrDecoder();
  decoder.append(Buffer.from('ZR'));
  assert.throws(() => decoder.append(Buffer.from(sample).fill(3, 2, 3).subarray(2)), { status: 2 });
  decoder.free();
});

test('misuse: a finished or freed decoder refuses more work', () => {
  const bytes = readFileSync(path.join(root, 'samples', 'gradient-progressive.zr'));
  const decoder = new ZrDecoder();
  decoder.append(bytes);
  assert.equal(decoder.finish().width, 64);
  assert.throws(() => decoder.append(bytes), { status: 21 });
  assert.throws(() => decoder.finish(), { status: 21 });
  decoder.free();
  const empty = new ZrDecoder();
  assert.throws(() => empty.finish(), { status: 1 });
});
