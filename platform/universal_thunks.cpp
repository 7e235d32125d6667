// Universal thunks between 32-bit code and the 16-bit plug-in modules of the
// in-process registry. Pointers cross as 16:16 values: a selector from a
// small descriptor table and an offset. Selectors made for one thunk call are
// released when the call returns.
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/layer_hooks.h"
#include "platform/names.h"

namespace {

constexpr int kSelectors = 8192;
constexpr int kSlots = 4;

struct Module16 {
    std::string initName;
    ZrUT16Init init;
    std::string procName;
    ZrUT16Proc proc;
};

struct Registration {
    HANDLE module;
    bool active;
    ZrUT16Proc proc;
    UT32CBPROC callback;
};

struct ThunkState {
    std::mutex lock;
    uintptr_t base[kSelectors] = {};
    bool used[kSelectors] = {};
    int nextFree = 1;
    std::map<std::string, Module16> modules;
    Registration slots[kSlots] = {};
};

ThunkState& state()
{
    static ThunkState* s = new ThunkState;
    return *s;
}

std::string module16Name(LPCSTR name)
{
    std::string lower = lowerName(name);
    if (lower.find('.') == std::string::npos)
        lower += ".dll";
    return lower;
}

// Maps `flat` to a new selector; null stays null. Returns null when the
// descriptor table is full.
LPVOID toSegmented(ThunkState& s, LPVOID flat, std::vector<int>* made)
{
    if (!flat)
        return nullptr;
    for (int n = 1; n < kSelectors; n++) {
        int i = s.nextFree;
        s.nextFree = s.nextFree + 1 < kSelectors ? s.nextFree + 1 : 1;
        if (s.used[i])
            continue;
        s.used[i] = true;
        s.base[i] = reinterpret_cast<uintptr_t>(flat);
        if (made)
            made->push_back(i);
        uint32_t selector = static_cast<uint32_t>(i << 3 | 7);
        return reinterpret_cast<LPVOID>(static_cast<uintptr_t>(selector << 16));
    }
    return nullptr;
}

LPVOID toLinear(ThunkState& s, LPVOID segmented)
{
    uintptr_t value = reinterpret_cast<uintptr_t>(segmented);
    if (value == 0 || value > 0xFFFFFFFFu)
        return nullptr;
    uint32_t selector = static_cast<uint32_t>(value >> 16);
    int i = static_cast<int>(selector >> 3);
    if ((selector & 7) != 7 || i == 0 || i >= kSelectors || !s.used[i])
        return nullptr;
    return reinterpret_cast<LPVOID>(s.base[i] + (value & 0xFFFF));
}

void release(ThunkState& s, const std::vector<int>& made)
{
    for (int i : made)
        s.used[i] = false;
}

typedef std::vector<std::pair<LPVOID*, LPVOID>> SavedFields;

void restore(const SavedFields& saved)
{
    for (auto it = saved.rbegin(); it != saved.rend(); ++it)
        *it->first = it->second;
}

// 32 -> 16: the list holds the flat addresses of the pointer fields to
// translate, ended by a null entry.
DWORD callThunk(int slot, LPVOID buffer, DWORD code, LPVOID* list)
{
    ThunkState& s = state();
    std::unique_lock<std::mutex> hold(s.lock);
    Registration r = s.slots[slot];
    if (!r.active || !r.proc)
        return 0;
    std::vector<int> made;
    SavedFields saved;
    for (LPVOID* entry = list; entry && *entry; ++entry) {
        LPVOID* field = static_cast<LPVOID*>(*entry);
        saved.emplace_back(field, *field);
        *field = toSegmented(s, *field, &made);
    }
    LPVOID buffer16 = toSegmented(s, buffer, &made);
    hold.unlock();
    DWORD result = r.proc(buffer16, code);
    hold.lock();
    restore(saved);
    release(s, made);
    return result;
}

// 16 -> 32: the list and its entries are 16:16 pointers.
DWORD callBack(int slot, LPVOID buffer16, DWORD code, LPVOID* list16)
{
    ThunkState& s = state();
    std::unique_lock<std::mutex> hold(s.lock);
    Registration r = s.slots[slot];
    if (!r.active || !r.callback)
        return 0;
    SavedFields saved;
    LPVOID* list = static_cast<LPVOID*>(toLinear(s, list16));
    for (LPVOID* entry = list; entry && *entry; ++entry) {
        LPVOID* field = static_cast<LPVOID*>(toLinear(s, *entry));
        if (!field)
            continue;
        saved.emplace_back(field, *field);
        *field = toLinear(s, *field);
    }
    LPVOID buffer = toLinear(s, buffer16);
    hold.unlock();
    DWORD result = r.callback(buffer, code);
    hold.lock();
    restore(saved);
    return result;
}

template <int N>
DWORD WINAPI thunkSlot(LPVOID buffer, DWORD code, LPVOID* list)
{
    return callThunk(N, buffer, code, list);
}

template <int N>
DWORD WINAPI callbackSlot(LPVOID buffer16, DWORD code, LPVOID* list16)
{
    return callBack(N, buffer16, code, list16);
}

const UT32PROC thunkSlots[kSlots] = {thunkSlot<0>, thunkSlot<1>, thunkSlot<2>, thunkSlot<3>};
const UT16CBPROC callbackSlots[kSlots] = {callbackSlot<0>, callbackSlot<1>, callbackSlot<2>, callbackSlot<3>};

} // namespace

extern "C" {

BOOL WINAPI UTRegister(HANDLE hModule, LPCSTR lpsz16BitDLL, LPCSTR lpszInitName, LPCSTR lpszProcName,
                       UT32PROC* ppfn32Thunk, FARPROC pfnUT32Callback, LPVOID lpBuff)
{
    if (!ppfn32Thunk || !lpsz16BitDLL || !lpszProcName)
        return FALSE;
    ThunkState& s = state();
    std::unique_lock<std::mutex> hold(s.lock);
    auto found = s.modules.find(module16Name(lpsz16BitDLL));
    if (found == s.modules.end())
        return FALSE;
    const Module16 module = found->second;
    if (module.procName != lpszProcName)
        return FALSE;
    ZrUT16Init init = nullptr;
    if (lpszInitName) {
        if (module.initName != lpszInitName)
            return FALSE;
        init = module.init;
    }
    // One registration per calling module; registering again replaces it.
    int slot = -1;
    for (int i = 0; i < kSlots && slot < 0; i++)
        if (s.slots[i].active && s.slots[i].module == hModule)
            slot = i;
    for (int i = 0; i < kSlots && slot < 0; i++)
        if (!s.slots[i].active)
            slot = i;
    if (slot < 0)
        return FALSE;
    UT32CBPROC callback = procAs<UT32CBPROC>(pfnUT32Callback);
    s.slots[slot] = Registration{hModule, true, module.proc, callback};
    LPVOID buffer16 = toSegmented(s, lpBuff, nullptr);
    hold.unlock();
    if (init && !init(callback ? callbackSlots[slot] : nullptr, buffer16)) {
        hold.lock();
        s.slots[slot] = Registration{};
        return FALSE;
    }
    *ppfn32Thunk = thunkSlots[slot];
    return TRUE;
}

VOID WINAPI UTUnRegister(HANDLE hModule)
{
    ThunkState& s = state();
    std::lock_guard<std::mutex> hold(s.lock);
    for (Registration& r : s.slots)
        if (r.active && r.module == hModule)
            r = Registration{};
}

LPVOID WINAPI UTSelectorOffsetToLinear(LPVOID lpv)
{
    ThunkState& s = state();
    std::lock_guard<std::mutex> hold(s.lock);
    return toLinear(s, lpv);
}

LPVOID WINAPI UTLinearToSelectorOffset(LPVOID lpv)
{
    ThunkState& s = state();
    std::lock_guard<std::mutex> hold(s.lock);
    return toSegmented(s, lpv, nullptr);
}

void zrRegister16BitModule(LPCSTR moduleName, LPCSTR initName, ZrUT16Init init, LPCSTR procName, ZrUT16Proc proc)
{
    ThunkState& s = state();
    std::lock_guard<std::mutex> hold(s.lock);
    s.modules[module16Name(moduleName)] = Module16{initName ? initName : "", init, procName ? procName : "", proc};
}

void zrUnregister16BitModule(LPCSTR moduleName)
{
    ThunkState& s = state();
    std::lock_guard<std::mutex> hold(s.lock);
    s.modules.erase(module16Name(moduleName));
}
}
