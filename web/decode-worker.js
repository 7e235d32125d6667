// Decodes off the page's thread. Messages in: { type: 'start', session,
// interval }, { type: 'chunk', session, bytes }, { type: 'end', session },
// { type: 'abort' }. Messages out carry the session they belong to: 'header',
// 'partial' and 'final' (pixels as a transferred ArrayBuffer), 'error'.
import { ZrDecoder } from './zr-decoder.js';

const loading = ZrDecoder.load();
let decoder = null;
let session = 0;

function post(message, transfer = []) {
  self.postMessage({ session, ...message }, transfer);
}

function fail(error) {
  post({ type: 'error', message: error.message, status: error.status ?? 0 });
  decoder?.free();
  decoder = null;
}

function start(message) {
  decoder?.free();
  session = message.session;
  decoder = new ZrDecoder({ interval: message.interval });
  decoder.addEventListener('header', (e) => post({ type: 'header', header: e.detail }));
  decoder.addEventListener('partial', (e) => {
    const { image, ...rest } = e.detail;
    const pixels = image.data.buffer;
    post({ type: 'partial', ...rest, pixels, decodeMs: decoder.decodeMs }, [pixels]);
  });
}

function end() {
  const finishing = decoder;
  decoder = null;
  const result = finishing.finish();
  const pixels = result.image.data.buffer;
  post({ type: 'final', width: result.width, height: result.height, pixels, decodeMs: finishing.decodeMs },
    [pixels]);
}

self.onmessage = async ({ data }) => {
  try {
    await loading;
  } catch (error) {
    session = data.session ?? session;
    post({ type: 'error', message: `cannot load the decoder: ${error.message}`, status: 0 });
    return;
  }
  if (data.type === 'abort') {
    decoder?.free();
    decoder = null;
    return;
  }
  if (data.type !== 'start' && (data.session !== session || !decoder)) return;
  try {
    if (data.type === 'start') start(data);
    else if (data.type === 'chunk') decoder.append(data.bytes);
    else if (data.type === 'end') end();
  } catch (error) {
    fail(error);
  }
};
