// Checked allocation: every allocation of the decoder goes through here.
#pragma once
#include <cstddef>

// Returns null for a request of 0 bytes, for a request above the process-wide
// limit, and when memory is exhausted. Release with freeChecked.
void* allocChecked(size_t bytes);
void freeChecked(void* block);

// The largest single request allocChecked grants. The default is half of the
// machine's physical memory; an embedding program (or a fuzzer) may lower it.
size_t allocLimit();
void setAllocLimit(size_t bytes);
