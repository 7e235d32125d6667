#include "codec/fiber.h"

#include <cstdint>
#include <cstring>

#include "codec/core/alloc.h"

#if defined(__EMSCRIPTEN__)
#include <emscripten/fiber.h>
#elif defined(_WIN32)
#include <windows.h>
#else
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>
#endif

#if defined(__SANITIZE_ADDRESS__)
#define ZR_FIBER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZR_FIBER_ASAN 1
#endif
#endif
#ifdef ZR_FIBER_ASAN
#include <sanitizer/common_interface_defs.h>
#endif

namespace {

// The decoder's deepest call chain takes a few kilobytes; the rest is room for
// sanitizer builds and for the hooks of callers.
[[maybe_unused]] const size_t kStackBytes = size_t(1) << 20; // unused in WebAssembly builds

// A zeroed record of the backend's Fiber that will run entry(fiber, argument);
// null when out of memory.
template <class Record>
Record* newFiberRecord(FiberEntry entry, void* argument)
{
    Record* fiber = static_cast<Record*>(allocChecked(sizeof(Record)));
    if (!fiber)
        return nullptr;
    std::memset(fiber, 0, sizeof *fiber);
    fiber->entry = entry;
    fiber->argument = argument;
    return fiber;
}

// Runs the entry on the coroutine's own stack and marks the coroutine done.
template <class Record>
void runFiberEntry(Record* fiber)
{
    fiber->entry(fiber, fiber->argument);
    fiber->done = true;
}

} // namespace

#if defined(__EMSCRIPTEN__)

namespace {
// Asyncify saves the unwound call chain here on every switch.
const size_t kWasmStackBytes = size_t(256) << 10;
const size_t kAsyncifyBytes = size_t(64) << 10;
} // namespace

struct Fiber {
    emscripten_fiber_t self;
    emscripten_fiber_t caller;
    FiberEntry entry;
    void* argument;
    bool done;
    void* stack;
    void* selfAsyncify;
    void* callerAsyncify;
};

static void fiberStart(void* argument)
{
    Fiber* fiber = static_cast<Fiber*>(argument);
    runFiberEntry(fiber);
    // An emscripten fiber must not return; nothing resumes this one again.
    emscripten_fiber_swap(&fiber->self, &fiber->caller);
}

Fiber* fiberCreate(FiberEntry entry, void* argument)
{
    Fiber* fiber = newFiberRecord<Fiber>(entry, argument);
    if (!fiber)
        return nullptr;
    fiber->stack = allocChecked(kWasmStackBytes);
    fiber->selfAsyncify = allocChecked(kAsyncifyBytes);
    fiber->callerAsyncify = allocChecked(kAsyncifyBytes);
    if (!fiber->stack || !fiber->selfAsyncify || !fiber->callerAsyncify) {
        fiberFree(fiber);
        return nullptr;
    }
    emscripten_fiber_init(&fiber->self, fiberStart, fiber, fiber->stack, kWasmStackBytes,
                          fiber->selfAsyncify, kAsyncifyBytes);
    return fiber;
}

bool fiberResume(Fiber* fiber)
{
    if (fiber->done)
        return false;
    emscripten_fiber_init_from_current_context(&fiber->caller, fiber->callerAsyncify, kAsyncifyBytes);
    emscripten_fiber_swap(&fiber->caller, &fiber->self);
    return !fiber->done;
}

void fiberSuspend(Fiber* fiber)
{
    emscripten_fiber_swap(&fiber->self, &fiber->caller);
}

void fiberFree(Fiber* fiber)
{
    if (!fiber)
        return;
    freeChecked(fiber->stack);
    freeChecked(fiber->selfAsyncify);
    freeChecked(fiber->callerAsyncify);
    freeChecked(fiber);
}

#elif defined(_WIN32)

struct Fiber {
    void* self;
    void* caller;
    FiberEntry entry;
    void* argument;
    bool done;
};

static VOID CALLBACK fiberStart(LPVOID argument)
{
    Fiber* fiber = static_cast<Fiber*>(argument);
    runFiberEntry(fiber);
    // Returning from a fiber's procedure would end the thread.
    for (;;)
        SwitchToFiber(fiber->caller);
}

Fiber* fiberCreate(FiberEntry entry, void* argument)
{
    Fiber* fiber = newFiberRecord<Fiber>(entry, argument);
    if (!fiber)
        return nullptr;
    fiber->self = CreateFiberEx(64 << 10, kStackBytes, FIBER_FLAG_FLOAT_SWITCH, fiberStart, fiber);
    if (!fiber->self) {
        freeChecked(fiber);
        return nullptr;
    }
    return fiber;
}

bool fiberResume(Fiber* fiber)
{
    if (fiber->done)
        return false;
    // Only a fiber can switch to another; the calling thread becomes one for
    // the length of this call unless it already is.
    bool converted = false;
    if (!IsThreadAFiber()) {
        if (!ConvertThreadToFiberEx(nullptr, FIBER_FLAG_FLOAT_SWITCH))
            return true;
        converted = true;
    }
    fiber->caller = GetCurrentFiber();
    SwitchToFiber(fiber->self);
    if (converted)
        ConvertFiberToThread();
    return !fiber->done;
}

void fiberSuspend(Fiber* fiber)
{
    SwitchToFiber(fiber->caller);
}

void fiberFree(Fiber* fiber)
{
    if (!fiber)
        return;
    if (fiber->self)
        DeleteFiber(fiber->self);
    freeChecked(fiber);
}

#else

struct Fiber {
    ucontext_t self;
    ucontext_t caller;
    FiberEntry entry;
    void* argument;
    bool done;
    void* mapping;       // the stack with a guard page below it
    size_t mappingBytes;
    size_t guardBytes;
#ifdef ZR_FIBER_ASAN
    const void* callerBottom;
    size_t callerBytes;
#endif
};

namespace {

// The sanitizer must know which stack runs; these tell it around each switch.
void enterSwitch(void** fakeStack, const void* bottom, size_t bytes)
{
#ifdef ZR_FIBER_ASAN
    __sanitizer_start_switch_fiber(fakeStack, bottom, bytes);
#else
    (void)fakeStack, (void)bottom, (void)bytes;
#endif
}

void leaveSwitch(void* fakeStack, Fiber* fiber)
{
#ifdef ZR_FIBER_ASAN
    if (fiber)
        __sanitizer_finish_switch_fiber(fakeStack, &fiber->callerBottom, &fiber->callerBytes);
    else
        __sanitizer_finish_switch_fiber(fakeStack, nullptr, nullptr);
#else
    (void)fakeStack, (void)fiber;
#endif
}

const void* callerBottom(const Fiber* fiber)
{
#ifdef ZR_FIBER_ASAN
    return fiber->callerBottom;
#else
    (void)fiber;
    return nullptr;
#endif
}

size_t callerBytes(const Fiber* fiber)
{
#ifdef ZR_FIBER_ASAN
    return fiber->callerBytes;
#else
    (void)fiber;
    return 0;
#endif
}

// makecontext passes int arguments only: the pointer travels in two halves.
void fiberStart(unsigned low, unsigned high)
{
    uintptr_t address = static_cast<uintptr_t>((static_cast<uint64_t>(high) << 32) | low);
    Fiber* fiber = reinterpret_cast<Fiber*>(address);
    leaveSwitch(nullptr, fiber);
    runFiberEntry(fiber);
    // A null fake-stack slot tells the sanitizer this stack is finished.
    enterSwitch(nullptr, callerBottom(fiber), callerBytes(fiber));
    setcontext(&fiber->caller);
}

} // namespace

Fiber* fiberCreate(FiberEntry entry, void* argument)
{
    Fiber* fiber = newFiberRecord<Fiber>(entry, argument);
    if (!fiber)
        return nullptr;
    long page = sysconf(_SC_PAGESIZE);
    fiber->guardBytes = page > 0 ? size_t(page) : 4096;
    fiber->mappingBytes = kStackBytes + fiber->guardBytes;
    void* mapping = mmap(nullptr, fiber->mappingBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED) {
        freeChecked(fiber);
        return nullptr;
    }
    fiber->mapping = mapping;
    // An overflow faults on the guard page instead of overwriting the heap.
    mprotect(mapping, fiber->guardBytes, PROT_NONE);
    if (getcontext(&fiber->self) != 0) {
        fiberFree(fiber);
        return nullptr;
    }
    fiber->self.uc_stack.ss_sp = static_cast<char*>(mapping) + fiber->guardBytes;
    fiber->self.uc_stack.ss_size = kStackBytes;
    fiber->self.uc_link = nullptr;
    uint64_t address = reinterpret_cast<uintptr_t>(fiber);
    makecontext(&fiber->self, reinterpret_cast<void (*)()>(fiberStart), 2,
                static_cast<unsigned>(address & 0xFFFFFFFFu), static_cast<unsigned>(address >> 32));
    return fiber;
}

bool fiberResume(Fiber* fiber)
{
    if (fiber->done)
        return false;
    void* fakeStack = nullptr;
    enterSwitch(&fakeStack, static_cast<char*>(fiber->mapping) + fiber->guardBytes, kStackBytes);
    swapcontext(&fiber->caller, &fiber->self);
    leaveSwitch(fakeStack, nullptr);
    return !fiber->done;
}

void fiberSuspend(Fiber* fiber)
{
    void* fakeStack = nullptr;
    enterSwitch(&fakeStack, callerBottom(fiber), callerBytes(fiber));
    swapcontext(&fiber->self, &fiber->caller);
    leaveSwitch(fakeStack, fiber);
}

void fiberFree(Fiber* fiber)
{
    if (!fiber)
        return;
    if (fiber->mapping)
        munmap(fiber->mapping, fiber->mappingBytes);
    freeChecked(fiber);
}

#endif
