// Starting the reconstruction worker's thread, where the build has threads.
#pragma once

// Windows and WebAssembly builds decode on one thread.
#if !defined(_WIN32) && !defined(__EMSCRIPTEN__) && !defined(ZR_NO_THREADS)
#define ZR_RECON_THREADS 1
#else
#define ZR_RECON_THREADS 0
#endif

// Runs run(argument) on a new detached thread; false when no thread could be
// started (always without threads). Where the system lets a thread's CPUs be
// chosen, the thread starts on another CPU than the caller's and is then free
// to go anywhere: placed beside its caller, one of the two waited for the
// scheduler to move it, which took milliseconds in virtual machines.
bool startDetachedThread(void (*run)(void*), void* argument);
