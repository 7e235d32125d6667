// Global memory: handles to blocks with a lock count. A moveable block's
// handle differs from its address; a fixed block's handle is its address.
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "platform/layer_hooks.h"

namespace {

struct GlobalBlock {
    void* data;
    SIZE_T size;
    UINT flags;
    unsigned lockCount;
};

struct GlobalHeap {
    std::mutex lock;
    std::unordered_map<HGLOBAL, GlobalBlock> blocks;
    long allocationsLeft = -1;
};

GlobalHeap& heap()
{
    static GlobalHeap* h = new GlobalHeap;
    return *h;
}

// The block of a handle; null, with ERROR_INVALID_HANDLE set, for a handle
// that names none.
GlobalBlock* findBlock(GlobalHeap& h, HGLOBAL memory)
{
    auto it = h.blocks.find(memory);
    if (it != h.blocks.end())
        return &it->second;
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
}

} // namespace

extern "C" {

HGLOBAL WINAPI GlobalAlloc(UINT flags, SIZE_T bytes)
{
    GlobalHeap& h = heap();
    std::lock_guard<std::mutex> hold(h.lock);
    if (h.allocationsLeft == 0) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    // A block of 0 bytes still gets storage, so that its handle stays unique.
    void* data = (flags & GMEM_ZEROINIT) ? std::calloc(bytes ? bytes : 1, 1) : std::malloc(bytes ? bytes : 1);
    if (!data) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (h.allocationsLeft > 0)
        h.allocationsLeft--;
    HGLOBAL handle;
    if (flags & GMEM_MOVEABLE) {
        // The handle is the address of a small tag of its own.
        handle = std::malloc(1);
        if (!handle) {
            std::free(data);
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
    } else {
        handle = data;
    }
    h.blocks[handle] = GlobalBlock{data, bytes, flags, 0};
    return handle;
}

LPVOID WINAPI GlobalLock(HGLOBAL memory)
{
    GlobalHeap& h = heap();
    std::lock_guard<std::mutex> hold(h.lock);
    GlobalBlock* block = findBlock(h, memory);
    if (!block)
        return nullptr;
    // A movable block of no bytes is a discarded one: it has no address.
    if ((block->flags & GMEM_MOVEABLE) && block->size == 0) {
        SetLastError(ERROR_DISCARDED);
        return nullptr;
    }
    if (block->flags & GMEM_MOVEABLE)
        block->lockCount++;
    return block->data;
}

BOOL WINAPI GlobalUnlock(HGLOBAL memory)
{
    GlobalHeap& h = heap();
    std::lock_guard<std::mutex> hold(h.lock);
    GlobalBlock* block = findBlock(h, memory);
    if (!block)
        return FALSE;
    if (block->lockCount == 0) {
        SetLastError(ERROR_NOT_LOCKED);
        return FALSE;
    }
    block->lockCount--;
    if (block->lockCount == 0) {
        SetLastError(NO_ERROR);
        return FALSE;
    }
    return TRUE;
}

HGLOBAL WINAPI GlobalFree(HGLOBAL memory)
{
    GlobalHeap& h = heap();
    std::lock_guard<std::mutex> hold(h.lock);
    GlobalBlock* block = findBlock(h, memory);
    if (!block)
        return memory;
    if (block->data != memory)
        std::free(memory);
    std::free(block->data);
    h.blocks.erase(memory);
    return nullptr;
}

SIZE_T WINAPI GlobalSize(HGLOBAL memory)
{
    GlobalHeap& h = heap();
    std::lock_guard<std::mutex> hold(h.lock);
    GlobalBlock* block = findBlock(h, memory);
    if (!block)
        return 0;
    return block->size;
}

void zrFailGlobalAllocAfter(long count)
{
    GlobalHeap& h = heap();
    std::lock_guard<std::mutex> hold(h.lock);
    h.allocationsLeft = count < 0 ? -1 : count;
}

long zrGlobalBlockCount(void)
{
    GlobalHeap& h = heap();
    std::lock_guard<std::mutex> hold(h.lock);
    return static_cast<long>(h.blocks.size());
}
}
