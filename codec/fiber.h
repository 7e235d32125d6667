// A stackful coroutine on the calling thread: the incremental decoder runs the
// sequential decoder on one and suspends it whenever it needs a byte that has
// not arrived. Backends: ucontext (POSIX), Win32 fibers, emscripten fibers
// (Asyncify; no threads needed).
#pragma once
#include <cstddef>

struct Fiber;
typedef void (*FiberEntry)(Fiber* fiber, void* argument);

// A suspended coroutine that will run entry(fiber, argument) on its own stack
// once resumed. Null when out of memory.
Fiber* fiberCreate(FiberEntry entry, void* argument);

// Runs the coroutine until it suspends or its entry returns. Returns true while
// it can be resumed again, false once the entry has returned.
bool fiberResume(Fiber* fiber);

// From inside the coroutine: back to the fiberResume that ran it.
void fiberSuspend(Fiber* fiber);

// Releases a coroutine whose entry has returned or that never ran. Null is fine.
void fiberFree(Fiber* fiber);
