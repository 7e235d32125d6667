// ZR pictures in JavaScript: the WebAssembly decoder fed chunk by chunk.
//
//   await ZrDecoder.load();                        // once, before the first decoder
//   const decoder = new ZrDecoder({ interval: 1024 });
//   decoder.addEventListener('partial', (e) => draw(e.detail.image));
//   decoder.append(chunk);                         // Uint8Array, as bytes arrive
//   const { image } = decoder.finish();            // the final picture
//
// Partial pictures (level-progressive streams only) are coarse but whole:
// `image` is partWidth x partHeight, to be scaled up to width x height.
// Images are ImageData where that exists (pages, workers), else plain
// { data, width, height } records. A refused stream makes append() throw a
// ZrError whose message says why ("not a ZR stream", "unsupported version 1").

const HEADER_FIELDS = ['status', 'version', 'height', 'width', 'bitsPerSample', 'components', 'quantStep',
  'decodeMode', 'mapCoder', 'valueCoder', 'fineSteps', 'contrastStretch', 'magnitudeBoost', 'levels',
  'headerBits'];

// Statuses that refuse a stream at its header.
const REFUSALS = new Set([1, 2, 3, 8, 16]);
const STATUS_FINISHED = 21;

let wasm = null;
const live = new Map(); // decoder id -> ZrDecoder, for the partial-picture hook
let nextId = 1;

export class ZrError extends Error {
  constructor(message, status) {
    super(message);
    this.name = 'ZrError';
    this.status = status;
  }
}

function makeImage(pointer, width, height) {
  const bytes = new Uint8ClampedArray(wasm.HEAPU8.buffer, pointer, width * height * 4).slice();
  if (typeof ImageData === 'function') return new ImageData(bytes, width, height);
  return { data: bytes, width, height };
}

function text(pointer) {
  const heap = wasm.HEAPU8;
  let end = pointer;
  while (heap[end] !== 0) end++;
  return new TextDecoder().decode(heap.subarray(pointer, end));
}

export class ZrDecoder extends EventTarget {
  // Loads the WebAssembly module. `wasmUrl` defaults to wasm/zr-wasm.wasm
  // beside this file; `wasmBytes` (an ArrayBuffer or view) skips the fetch.
  static async load({ moduleUrl, wasmUrl, wasmBytes } = {}) {
    if (wasm) return;
    const base = new URL('wasm/', import.meta.url);
    const { default: createZrModule } = await import(moduleUrl ?? new URL('zr-wasm.js', base).href);
    const bytes = wasmBytes ?? await fetchBytes(wasmUrl ?? new URL('zr-wasm.wasm', base).href);
    wasm = await createZrModule({
      instantiateWasm(imports, done) {
        WebAssembly.instantiate(bytes, imports).then((result) => done(result.instance, result.module));
        return {};
      },
      onPartial(id, pointer, partWidth, partHeight, position) {
        live.get(id)?.partial(pointer, partWidth, partHeight, position);
      },
    });
  }

  // interval: bytes between partial pictures (0: none); exactSteps,
  // lowMemory, sharpen: the decoding requests.
  constructor({ interval = 4096, exactSteps = false, lowMemory = false, sharpen = false } = {}) {
    super();
    if (!wasm) throw new Error('ZrDecoder.load() must finish before a decoder is made');
    this.id = nextId++;
    this.handle = wasm._zrwCreate(this.id, interval, exactSteps ? 1 : 0, lowMemory ? 1 : 0, sharpen ? 1 : 0);
    if (!this.handle) throw new ZrError('out of memory', 8);
    live.set(this.id, this);
    this.header = null;    // the header's fields once read
    this.received = 0;     // bytes appended
    this.decodeMs = 0;     // time spent decoding
    this.deferred = null;  // an error raised while the decoder ran
  }

  // Hands over the next bytes; dispatches 'header' once the header is read
  // and 'partial' for every partial picture that became due.
  append(bytes) {
    this.check();
    const view = bytes instanceof Uint8Array ? bytes : new Uint8Array(bytes);
    const start = performance.now();
    const input = wasm._zrwInput(this.handle, view.length);
    if (!input) throw new ZrError('out of memory', 8);
    wasm.HEAPU8.set(view, input);
    this.received += view.length;
    try {
      wasm._zrwAppend(this.handle, view.length);
    } finally {
      this.decodeMs += performance.now() - start;
    }
    const status = wasm.HEAP32[wasm._zrwResult(this.handle) >> 2];
    this.readHeader();
    if (this.deferred) {
      const error = this.deferred;
      this.deferred = null;
      throw error;
    }
    if (REFUSALS.has(status)) {
      const reason = this.header?.reason || text(wasm._zrwStatusText(status));
      throw new ZrError(reason, status);
    }
    if (status !== 0) throw new ZrError(text(wasm._zrwStatusText(status)), status);
  }

  // The stream has ended: decodes the rest and returns the final picture as
  // { image, width, height, status }; the decoder is released.
  finish() {
    this.check();
    const start = performance.now();
    try {
      wasm._zrwFinish(this.handle);
      this.decodeMs += performance.now() - start;
      const result = wasm._zrwResult(this.handle) >> 2;
      const [status, height, width] = wasm.HEAP32.subarray(result, result + 3);
      if (status !== 0) {
        const reason = REFUSALS.has(status) && this.header?.reason ? this.header.reason
          : text(wasm._zrwStatusText(status));
        throw new ZrError(reason, status);
      }
      return { image: makeImage(wasm._zrwPixels(this.handle), width, height), width, height, status };
    } finally {
      this.free();
    }
  }

  // Abandons the decode and releases its memory; safe to call twice.
  free() {
    if (!this.handle) return;
    wasm._zrwFree(this.handle);
    live.delete(this.id);
    this.handle = 0;
  }

  check() {
    if (!this.handle) throw new ZrError('the decoder was finished or freed', STATUS_FINISHED);
  }

  readHeader() {
    if (this.header) return;
    const pointer = wasm._zrwHeader(this.handle);
    if (!pointer) return;
    const fields = {};
    HEADER_FIELDS.forEach((name, i) => { fields[name] = wasm.HEAP32[(pointer >> 2) + i]; });
    fields.reason = text(wasm._zrwReason(this.handle));
    this.header = fields;
    this.dispatchEvent(new CustomEvent('header', { detail: fields }));
  }

  // Runs inside the decoder's call: nothing may be thrown back into it.
  partial(pointer, partWidth, partHeight, position) {
    try {
      this.readHeader();
      const image = makeImage(pointer, partWidth, partHeight);
      this.dispatchEvent(new CustomEvent('partial', {
        detail: { image, partWidth, partHeight, position, width: this.header?.width, height: this.header?.height },
      }));
    } catch (error) {
      this.deferred ??= error;
    }
  }
}

async function fetchBytes(url) {
  const response = await fetch(url);
  if (!response.ok) throw new Error(`cannot load ${url}: HTTP ${response.status}`);
  return response.arrayBuffer();
}
