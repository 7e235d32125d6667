// A small static server for the viewer: web/ at /, samples/ at /samples/ and
// the WebAssembly build at /wasm/, on 127.0.0.1, with .zr files delivered at
// a set number of bytes per second so that their stages can be watched.
//
//   node scripts/web-server.mjs [--port N] [--rate BYTES_PER_SECOND] [--wasm DIR]
//
// startServer() is the same server for tests; its `sent` map records when the
// last byte of each throttled file was written.
import { createReadStream, promises as fs } from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..');

const TYPES = {
  '.html': 'text/html; charset=utf-8', '.js': 'text/javascript; charset=utf-8', '.mjs': 'text/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8', '.wasm': 'application/wasm', '.png': 'image/png', '.md': 'text/plain; charset=utf-8',
  '.zr': 'application/octet-stream',
};

// Slices per second of throttled delivery.
const TICKS = 20;

function resolve(mounts, urlPath) {
  for (const [prefix, dir] of mounts) {
    if (!urlPath.startsWith(prefix)) continue;
    const relative = urlPath.slice(prefix.length) || 'index.html';
    const file = path.resolve(dir, relative);
    if (file !== dir && !file.startsWith(dir + path.sep)) return null;
    return file;
  }
  return null;
}

function sendThrottled(response, data, rate, onLast) {
  const slice = Math.max(1, Math.round(rate / TICKS));
  let offset = 0;
  const timer = setInterval(() => {
    if (response.destroyed) {
      clearInterval(timer);
      return;
    }
    const end = Math.min(data.length, offset + slice);
    response.write(data.subarray(offset, end));
    offset = end;
    if (offset === data.length) {
      clearInterval(timer);
      onLast();
      response.end();
    }
  }, 1000 / TICKS);
}

// rate: bytes per second for .zr files (0: unthrottled). For tests, `mounts`
// adds [prefix, folder] pairs and `cut` maps URL paths to a byte count after
// which the connection is dropped. Resolves to { server, url, sent, close() }
// once listening.
export function startServer({ port = 8017, rate = 0, wasmDir = path.join(root, 'build', 'web'), quiet = true,
  mounts: extra = [], cut = {} } = {}) {
  const mounts = [
    ...extra.map(([prefix, dir]) => [prefix, path.resolve(dir)]),
    ['/samples/', path.join(root, 'samples')],
    ['/wasm/', path.resolve(wasmDir)],
    ['/', path.join(root, 'web')],
  ];
  const sent = new Map();
  const server = http.createServer(async (request, response) => {
    let urlPath = request.url;
    let file;
    let data;
    try {
      urlPath = decodeURIComponent(new URL(request.url, 'http://localhost').pathname);
      file = resolve(mounts, urlPath);
      if (!file) throw new Error('outside the served folders');
      data = await fs.readFile(file);
    } catch {
      response.writeHead(404, { 'Content-Type': 'text/plain' });
      response.end('not found\n');
      if (!quiet) console.log(`404 ${urlPath}`);
      return;
    }
    const type = TYPES[path.extname(file)] ?? 'application/octet-stream';
    response.writeHead(200, { 'Content-Type': type, 'Content-Length': data.length, 'Cache-Control': 'no-store' });
    if (!quiet) console.log(`200 ${urlPath} (${data.length} bytes)`);
    if (cut[urlPath] !== undefined) {
      response.write(data.subarray(0, cut[urlPath]), () => setTimeout(() => response.destroy(), 100));
    } else if (rate > 0 && file.endsWith('.zr')) {
      sendThrottled(response, data, rate, () => sent.set(urlPath, Date.now()));
    } else {
      response.end(data);
    }
  });
  return new Promise((done, fail) => {
    server.once('error', fail);
    server.listen(port, '127.0.0.1', () => {
      const { port: actual } = server.address();
      done({ server, url: `http://127.0.0.1:${actual}/`, sent, close: () => new Promise((r) => server.close(r)) });
    });
  });
}

async function main(argv) {
  const options = { port: 8017, rate: 4000, quiet: false };
  for (let i = 0; i < argv.length; i++) {
    const arg = argv[i];
    const value = () => {
      if (i + 1 >= argv.length) throw new Error(`${arg} needs a value`);
      return argv[++i];
    };
    if (arg === '--help' || arg === '-h') {
      console.log('usage: web-server.mjs [--port N] [--rate BYTES_PER_SECOND] [--wasm DIR]\n' +
        'Serves the viewer (web/), samples/ and the WebAssembly build on 127.0.0.1.\n' +
        '--rate throttles .zr files (default 4000; 0 sends them at once).');
      return;
    } else if (arg === '--port') options.port = Number(value());
    else if (arg === '--rate') options.rate = Number(value());
    else if (arg === '--wasm') options.wasmDir = value();
    else throw new Error(`unknown option ${arg} (see --help)`);
  }
  if (!Number.isInteger(options.port) || options.port < 0 || options.port > 65535) throw new Error('bad --port');
  if (!(options.rate >= 0)) throw new Error('bad --rate');
  const wasm = path.join(options.wasmDir ?? path.join(root, 'build', 'web'), 'zr-wasm.wasm');
  try {
    await fs.access(wasm);
  } catch {
    console.error(`web-server: ${wasm} is missing; build it with scripts/build-wasm.sh`);
    process.exitCode = 1;
    return;
  }
  const { url } = await startServer(options);
  const throttle = options.rate > 0 ? `.zr files at ${options.rate} bytes/s` : 'unthrottled';
  console.log(`Serving the viewer at ${url}?src=samples/astronaut-progressive.zr (${throttle}); Ctrl-C stops.`);
}

if (process.argv[1] && path.resolve(process.argv[1]) === fileURLToPath(import.meta.url)) {
  main(process.argv.slice(2)).catch((error) => {
    console.error(`web-server: ${error.message}`);
    process.exitCode = 1;
  });
}
