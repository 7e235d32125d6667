// Link with --post-js into a WebAssembly build that uses codec/fiber.cpp.
//
// An export that switches fibers is unwound by Asyncify and finished later by
// rewinds run from the fiber trampoline; emscripten then hands JavaScript the
// value of the unwound call, not the real one. This keeps the value of the
// rewind that finished the call and returns it instead.
(function () {
  if (typeof Fibers === 'undefined' || typeof Asyncify === 'undefined' || !Asyncify.doRewind)
    return;
  var rewind = Asyncify.doRewind;
  var finished = [];
  Asyncify.doRewind = function (data) {
    var value = rewind(data);
    if (Asyncify.state === Asyncify.State.Normal && finished.length > 0)
      finished[finished.length - 1] = { value: value };
    return value;
  };
  ['zrIncrementalNew', 'zrIncrementalAppend', 'zrIncrementalFinish', 'zrIncrementalFree'].forEach(function (name) {
    if (!Module['_' + name])
      return;
    Module['_' + name] = function () {
      finished.push(null);
      try {
        var value = Module['asm'][name].apply(null, arguments);
        var last = finished[finished.length - 1];
        return last ? last.value : value;
      } finally {
        finished.pop();
      }
    };
  });
})();
