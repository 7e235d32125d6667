// Checked allocation: every allocation of the decoder goes through here.
#pragma once
#include <cstddef>
#include <cstdint>

// Returns null for a request of 0 bytes, for a request above the process-wide
// limit, and when memory is exhausted. Release with freeChecked.
void* allocChecked(size_t bytes);
void freeChecked(void* block);
// allocChecked for a block filled whole soon after, however small: it takes
// whole 2 MiB pages where the system has them, so that filling it costs a
// fault per 2 MiB instead of one per 4 KiB (some virtual machines spend
// tens of microseconds on each). Release with freeChecked.
void* allocInHugePages(size_t bytes);
// Gives back the pages of a block from allocInHugePages(bytes) after its
// first `used` bytes: its last huge page is mapped whole by the first write
// into it, and the rest of that page would stay resident, unused, for as long
// as the block is held. The first `used` bytes keep their contents; the rest
// reads as zeros if touched again (Linux only; a no-op elsewhere).
void trimHugePages(void* block, size_t bytes, size_t used);

// Asks the system for huge pages over the whole 2 MiB pages inside the bytes
// at data, so that filling them page by page costs fewer faults (Linux only;
// a no-op elsewhere). allocChecked does it for its large blocks.
void adviseHugePages(void* data, size_t bytes);
// Maps the whole pages inside the bytes at data as if written, without
// changing their contents, so that a thread touching them later takes no
// faults; safe while another thread writes them (Linux 5.14 on; a no-op
// elsewhere).
void prefaultPages(void* data, size_t bytes);

// The largest single request allocChecked grants. The default is half of the
// machine's physical memory; an embedding program (or a fuzzer) may lower it.
size_t allocLimit();
void setAllocLimit(size_t bytes);

// The memory one decode may hold: its picture, counted once before anything is
// allocated, and what grows while it runs (the context model). Carried by the
// session and handed to the parts that grow; nothing global.
struct AllocBudget {
    size_t limit;          // 0: the process-wide limit
    size_t used;
    int32_t failed;        // a budgeted allocation was refused or failed
    int32_t exitOnFailure; // the server's rule: a failure ends the process with its message
};

// The budget's limit, with 0 read as the process-wide limit.
size_t budgetLimit(const AllocBudget* budget);
// allocChecked for a budgeted block: null (nothing taken) when `bytes` do not
// fit what is left. A null budget only has the process-wide limit.
void* allocFromBudget(AllocBudget* budget, size_t bytes);
// Gives back what a budgeted block took; freeing it stays the caller's job.
void returnToBudget(AllocBudget* budget, size_t bytes);
