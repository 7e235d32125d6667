// The viewer page: streams a .zr picture (URL, file picker or drop) into the
// decoding worker and draws every stage as it arrives.
//
// Page address options: ?src=URL opens a picture at once, &interval=BYTES
// sets the bytes between stages. window.zrViewer.log records what was drawn
// and when (for tests and the curious).

const $ = (id) => document.getElementById(id);
const canvas = $('canvas');
const context = canvas.getContext('2d');
const scratch = document.createElement('canvas');

const viewer = { state: 'idle', log: [] };
window.zrViewer = viewer;

const worker = new Worker(new URL('decode-worker.js', import.meta.url), { type: 'module' });
worker.onerror = (event) => showError(`The decoder could not start: ${event.message ?? 'worker failed'}`);
worker.onmessage = ({ data }) => {
  if (data.session !== current?.session) return;
  handlers[data.type]?.(data);
};

let sessions = 0;
let current = null; // { session, name, reader, received, total, started, stages }

const HEADER_LABELS = [
  ['width', 'Width'], ['height', 'Height'], ['components', 'Components'], ['bitsPerSample', 'Bits per sample'],
  ['version', 'Version'], ['decodeMode', 'Mode'], ['mapCoder', 'Map coder'], ['valueCoder', 'Value coder'],
  ['quantStep', 'Quantiser step'], ['fineSteps', 'Fine steps'], ['contrastStretch', 'Contrast stretch'],
  ['magnitudeBoost', 'Magnitude boost'], ['levels', 'Levels'],
];

function formatBytes(n) {
  return n.toLocaleString('en');
}

function hash(bytes) {
  let h = 0x811c9dc5;
  for (let i = 0; i < bytes.length; i++) h = Math.imul(h ^ bytes[i], 0x01000193);
  return (h >>> 0).toString(16);
}

function setStatus(text) {
  $('status').textContent = text;
}

function showError(text) {
  $('error').textContent = text;
  $('error').hidden = false;
  setStatus('Stopped.');
  viewer.state = 'error';
  viewer.log.push({ kind: 'error', at: Date.now(), message: text });
}

function showBytes() {
  const { received, total } = current;
  $('bytes').textContent = total ? `${formatBytes(received)} of ${formatBytes(total)}` : formatBytes(received);
  $('elapsed').textContent = `${((performance.now() - current.started) / 1000).toFixed(2)} s`;
}

function showHeader(header) {
  const list = $('header');
  list.replaceChildren();
  const modes = ['one-pass', 'level-progressive'];
  for (const [key, label] of HEADER_LABELS) {
    if (header.status === 1 || (header.status === 2 && key === 'levels')) continue;
    let value = header[key];
    if (key === 'decodeMode') value = `${value} (${modes[value] ?? 'unknown'})`;
    if (key === 'components') value = `${value} (${value === 3 ? 'colour' : 'grey'})`;
    const dt = document.createElement('dt');
    const dd = document.createElement('dd');
    dt.textContent = label;
    dd.textContent = value;
    list.append(dt, dd);
  }
}

// Why a stream was refused, in words for the person looking at the page.
function refusalText(name, message, status) {
  switch (status) {
    case 1: return `${name} is not a ZR picture (${message}).`;
    case 2: return `${name} is a ZR picture of a version this viewer cannot read (${message}; it reads version 2).`;
    case 3: return `${name} uses a coding this viewer does not support (${message}).`;
    case 8: return `${name} is too large to decode here (${message}).`;
    case 16: return `${name} has a sample depth this viewer does not support (${message}).`;
    default: return `${name} could not be decoded: ${message}.`;
  }
}

const handlers = {
  header({ header }) {
    showHeader(header);
    if (header.status === 0) {
      canvas.width = header.width;
      canvas.height = header.height;
      context.clearRect(0, 0, canvas.width, canvas.height);
    }
  },
  partial({ pixels, partWidth, partHeight, position, decodeMs }) {
    const image = new ImageData(new Uint8ClampedArray(pixels), partWidth, partHeight);
    scratch.width = partWidth;
    scratch.height = partHeight;
    scratch.getContext('2d').putImageData(image, 0, 0);
    context.imageSmoothingEnabled = true;
    context.drawImage(scratch, 0, 0, canvas.width, canvas.height);
    current.stages++;
    $('stages').textContent = `${current.stages} (last ${partWidth} x ${partHeight})`;
    $('time').textContent = `${decodeMs.toFixed(1)} ms`;
    $('save').disabled = false;
    viewer.log.push({ kind: 'stage', at: Date.now(), position, partWidth, partHeight, received: current.received,
      hash: hash(image.data) });
  },
  final({ pixels, width, height, decodeMs }) {
    canvas.width = width;
    canvas.height = height;
    context.putImageData(new ImageData(new Uint8ClampedArray(pixels), width, height), 0, 0);
    const seconds = ((performance.now() - current.started) / 1000).toFixed(2);
    $('time').textContent = `${decodeMs.toFixed(1)} ms`;
    $('save').disabled = false;
    if (!current.cut) setStatus(`Done: ${width} x ${height}, ${formatBytes(current.received)} bytes in ${seconds} s.`);
    viewer.state = 'done';
    viewer.log.push({ kind: 'final', at: Date.now(), width, height, received: current.received });
  },
  error({ message, status }) {
    current.reader?.cancel().catch(() => {});
    showError(refusalText(current.name, message, status));
  },
};

function begin(name, total) {
  if (current) {
    current.reader?.cancel().catch(() => {});
    worker.postMessage({ type: 'abort' });
  }
  const interval = Math.max(0, Number($('interval').value) || 0);
  current = { session: ++sessions, name, reader: null, received: 0, total, started: performance.now(), stages: 0 };
  viewer.state = 'loading';
  viewer.log = [];
  $('error').hidden = true;
  $('save').disabled = true;
  $('stages').textContent = '0';
  $('time').textContent = '–';
  $('header').replaceChildren();
  setStatus(`Loading ${name}…`);
  worker.postMessage({ type: 'start', session: current.session, interval });
  showBytes();
  return current;
}

// Feeds the bytes of a ReadableStream to the worker as they arrive.
async function pump(run, stream) {
  run.reader = stream.getReader();
  try {
    for (;;) {
      const { done, value } = await run.reader.read();
      if (run !== current || viewer.state === 'error') return;
      if (done) break;
      run.received += value.length;
      worker.postMessage({ type: 'chunk', session: run.session, bytes: value }, [value.buffer]);
      showBytes();
    }
  } catch (error) {
    if (run !== current || viewer.state === 'error') return;
    run.cut = true;
    showError(`Network error while loading ${run.name} after ${formatBytes(run.received)} bytes: ${error.message}. ` +
      'Showing the picture decoded from what arrived.');
  }
  worker.postMessage({ type: 'end', session: run.session });
}

async function openUrl(url) {
  const name = decodeURIComponent(new URL(url, location.href).pathname.split('/').pop() || url);
  const run = begin(name, 0);
  let response;
  try {
    response = await fetch(url, { cache: 'no-store' });
  } catch (error) {
    if (run === current) showError(`Network error: cannot fetch ${url} (${error.message}).`);
    return;
  }
  if (!response.ok) {
    showError(`Network error: ${url} answered HTTP ${response.status} ${response.statusText}.`);
    return;
  }
  run.total = Number(response.headers.get('Content-Length')) || 0;
  await pump(run, response.body);
}

function openFile(file) {
  const run = begin(file.name, file.size);
  pump(run, file.stream());
}

$('open-url').addEventListener('submit', (event) => {
  event.preventDefault();
  openUrl($('url').value.trim());
});
$('file').addEventListener('change', () => {
  if ($('file').files[0]) openFile($('file').files[0]);
});
document.addEventListener('dragover', (event) => {
  event.preventDefault();
  document.body.classList.add('dragging');
});
document.addEventListener('dragleave', () => document.body.classList.remove('dragging'));
document.addEventListener('drop', (event) => {
  event.preventDefault();
  document.body.classList.remove('dragging');
  const file = event.dataTransfer.files[0];
  if (file) openFile(file);
});
$('save').addEventListener('click', () => {
  canvas.toBlob((blob) => {
    const link = document.createElement('a');
    link.href = URL.createObjectURL(blob);
    link.download = `${(current?.name ?? 'picture').replace(/\.zr$/i, '')}.png`;
    link.click();
    setTimeout(() => URL.revokeObjectURL(link.href), 1000);
  }, 'image/png');
});

const params = new URLSearchParams(location.search);
if (params.has('interval')) $('interval').value = params.get('interval');
if (params.has('src')) {
  $('url').value = params.get('src');
  openUrl(params.get('src'));
}
