// A fixed set of independent tasks spread over a few threads. Callers make
// every task's result independent of which thread runs it and of the order,
// so that the encoder's output does not depend on the thread count.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>

// Runs task(0) .. task(count - 1) on up to `threads` threads, the caller's
// among them, and returns when all have finished. Where a thread cannot be
// started the others take its share.
void runTasks(int32_t threads, size_t count, const std::function<void(size_t)>& task);

// The threads an encode uses for `threads` as given by a caller: 0 for all
// the machine's cores.
int32_t encoderThreads(int32_t threads);
