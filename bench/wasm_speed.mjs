// Decoding speed of the WebAssembly decoder under Node next to the native
// decoder, in one run: each stream is decoded whole (one append, then finish),
// in 4 KB chunks, and in 4 KB chunks with a partial picture (converted to
// RGBA and copied out as an image) every 4 KB; the native figure is
// bench_decode's in-memory zrDecode loop over the same file. Times are CPU
// time.
//
//   node bench/wasm_speed.mjs [--wasm DIR] [--native PATH] [--seconds S] FILE.zr...
import { execFileSync } from 'node:child_process';
import { existsSync, readFileSync } from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..');
const files = [];
const options = { wasm: path.join(root, 'build', 'web'), native: path.join(root, 'build', 'bench', 'bench_decode'),
  seconds: 2 };
const argv = process.argv.slice(2);
for (let i = 0; i < argv.length; i++) {
  if (argv[i] === '--help') {
    console.log('usage: node bench/wasm_speed.mjs [--wasm DIR] [--native PATH] [--seconds S] FILE.zr...');
    process.exit(0);
  } else if (argv[i].startsWith('--')) options[argv[i].slice(2)] = argv[++i];
  else files.push(argv[i]);
}
if (!files.length) files.push(path.join(root, 'samples', 'astronaut-progressive.zr'));

const { ZrDecoder } = await import(path.join(root, 'web', 'zr-decoder.js'));
await ZrDecoder.load({ moduleUrl: path.join(options.wasm, 'zr-wasm.js'),
  wasmBytes: readFileSync(path.join(options.wasm, 'zr-wasm.wasm')) });

// CPU milliseconds per call of `run` (CPU time, as the machine may be
// shared), the median of rounds filling `seconds` of CPU time.
function cpuMs() {
  const { user, system } = process.cpuUsage();
  return (user + system) / 1000;
}
function time(run) {
  run();
  const rounds = [];
  const end = cpuMs() + Number(options.seconds) * 1000;
  while (cpuMs() < end || rounds.length < 5) {
    const start = cpuMs();
    run();
    rounds.push(cpuMs() - start);
  }
  rounds.sort((a, b) => a - b);
  return rounds[rounds.length >> 1];
}

function decodeWhole(bytes) {
  const decoder = new ZrDecoder({ interval: 0 });
  decoder.append(bytes);
  return decoder.finish();
}

function decodeChunked(bytes, interval) {
  const decoder = new ZrDecoder({ interval });
  for (let at = 0; at < bytes.length; at += 4096) decoder.append(bytes.subarray(at, at + 4096));
  return decoder.finish();
}

function nativeMs(file) {
  if (!existsSync(options.native)) return null;
  // bench_decode registers the files given in ZR_BENCH_FILES next to its own.
  const output = execFileSync(options.native, [`--benchmark_filter=decode/file/`, '--benchmark_format=json',
    `--benchmark_min_time=${options.seconds}`], { env: { ...process.env, ZR_BENCH_FILES: file },
    encoding: 'utf8', stdio: ['ignore', 'pipe', 'ignore'] });
  const run = JSON.parse(output).benchmarks[0];
  return run ? run.cpu_time * { ms: 1, us: 1e-3, ns: 1e-6 }[run.time_unit] : null;
}

for (const file of files) {
  const bytes = readFileSync(file);
  const { width, height } = decodeWhole(bytes);
  const megapixels = (width * height) / 1e6;
  const whole = time(() => decodeWhole(bytes));
  const chunked = time(() => decodeChunked(bytes, 0));
  const partials = time(() => decodeChunked(bytes, 4096));
  const native = nativeMs(file);
  const line = (name, ms) => `  ${name.padEnd(28)} ${ms.toFixed(2).padStart(8)} ms  ${(megapixels / ms * 1000)
    .toFixed(1).padStart(6)} MP/s${native ? `  ${(ms / native).toFixed(2)}x native` : ''}`;
  console.log(`${path.basename(file)}: ${width} x ${height}, ${bytes.length} bytes`);
  if (native) console.log(line('native zrDecode', native));
  console.log(line('wasm, whole', whole));
  console.log(line('wasm, 4 KB chunks', chunked));
  console.log(line('wasm, 4 KB chunks + partials', partials));
}
