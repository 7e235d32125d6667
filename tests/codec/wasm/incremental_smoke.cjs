// Runs the smoke program's main, then drives the incremental decoder through
// the module's exports as a JavaScript caller would: every export must return
// its status to JavaScript although the decoder switches fibers inside.
//   node incremental_smoke.cjs MODULE.js STREAM...
'use strict';
const fs = require('fs');
const path = require('path');

const [modulePath, ...streams] = process.argv.slice(2);
const create = require(path.resolve(modulePath));

function check(what, got, want) {
    if (got !== want) {
        console.error(`incremental smoke: ${what}: got ${got}, want ${want}`);
        process.exit(1);
    }
}

// A synchronously compiled module is returned as it is, else a promise of it.
const made = create({ noInitialRun: true });
Promise.resolve(made && made.ready ? made.ready : made).then((M) => {
    check('main', M.callMain(streams), 0);
    console.log('--');

    const bytes = fs.readFileSync(streams[0]);
    const data = M._malloc(bytes.length);
    M.HEAPU8.set(bytes, data);
    const record = M._malloc(64);
    const int32 = (offset) => M.HEAP32[(record >> 2) + offset];

    const decoder = M._zrIncrementalNew(0, 1000, 0, 0);
    check('new', decoder !== 0, true);
    check('info before the header', M._zrIncrementalInfo(decoder, record), 22);
    const half = bytes.length >> 1;
    check('append', M._zrIncrementalAppend(decoder, data, half), 0);
    check('info', M._zrIncrementalInfo(decoder, record), 0);
    const width = int32(2);
    check('latest', M._zrIncrementalLatest(decoder, record), 0);
    check('latest position', int32(8) > 0 && int32(8) <= half, true);
    check('append rest', M._zrIncrementalAppend(decoder, data + half, bytes.length - half), 0);
    check('finish', M._zrIncrementalFinish(decoder, record), 0);
    check('finished width', int32(2), width);
    M._zrFree(record);
    check('second finish', M._zrIncrementalFinish(decoder, record), 21);
    check('append after finish', M._zrIncrementalAppend(decoder, data, 1), 21);
    M._zrIncrementalFree(decoder);

    // A JavaScript hook, asking for the newest picture from inside the call.
    const interval = Math.floor(bytes.length / 25) + 7;
    let partials = 0;
    const hook = M.addFunction((context, partial) => {
        partials++;
        check('latest in the hook', M._zrIncrementalLatest(hooked, record), 0);
        check('hook position', M.HEAP32[(record >> 2) + 8], M.HEAP32[(partial >> 2) + 8]);
        return 0;
    }, 'iii');
    const hooked = M._zrIncrementalNew(0, interval, hook, 0);
    for (let offset = 0; offset < bytes.length; offset += 1000)
        check('hooked append', M._zrIncrementalAppend(hooked, data + offset, Math.min(1000, bytes.length - offset)), 0);
    check('hooked finish', M._zrIncrementalFinish(hooked, record), 0);
    M._zrFree(record);
    M._zrIncrementalFree(hooked);
    console.log(`hook: ${partials} partial pictures`);

    const refused = M._zrIncrementalNew(0, 0, 0, 0);
    M.HEAPU8.set([0x50, 0x4e, 0x47, 0x0d], data);
    check('not a ZR stream', M._zrIncrementalAppend(refused, data, 4), 1);
    M._zrIncrementalFree(refused);
    const aborted = M._zrIncrementalNew(0, 500, 0, 0);
    M.HEAPU8.set(bytes, data);
    check('append before abort', M._zrIncrementalAppend(aborted, data, half), 0);
    M._zrIncrementalFree(aborted);
    M._free(data);
    M._free(record);
    console.log('exports: statuses reach JavaScript');
});
