// Modules: "Kernel32.Dll" with its universal-thunk exports, the program's own
// module, and the libraries attached through zrAttachLibrary.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <unistd.h>
#include <vector>

#include "platform/layer_hooks.h"
#include "platform/names.h"

namespace {

struct Module {
    std::string name; // lower case, with extension
    ZrLibraryEntry entry;
    long useCount;
    bool loaded;
};

struct ModuleTable {
    std::mutex lock;
    std::vector<Module*> modules; // never freed: handles stay comparable
    Module* kernel;
    Module* program;
};

std::atomic<bool> thunkServices{true};

ModuleTable& table()
{
    static ModuleTable* t = [] {
        ModuleTable* made = new ModuleTable;
        made->kernel = new Module{"kernel32.dll", nullptr, 0, true};
        made->program = new Module{"", nullptr, 0, true};
        made->modules.push_back(made->kernel);
        made->modules.push_back(made->program);
        return made;
    }();
    return *t;
}

std::string moduleName(LPCSTR name)
{
    std::string lower = lowerName(name);
    size_t slash = lower.find_last_of("\\/");
    if (slash != std::string::npos)
        lower.erase(0, slash + 1);
    if (lower.find('.') == std::string::npos)
        lower += ".dll";
    return lower;
}

Module* findModule(ModuleTable& t, const std::string& name)
{
    for (Module* m : t.modules)
        if (m->loaded && !m->name.empty() && m->name == name)
            return m;
    return nullptr;
}

Module* fromHandle(ModuleTable& t, HMODULE handle)
{
    for (Module* m : t.modules)
        if (m->loaded && reinterpret_cast<HMODULE>(m) == handle)
            return m;
    return nullptr;
}

template <typename Fn>
FARPROC asProc(Fn fn)
{
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(fn));
}

} // namespace

extern "C" {

HMODULE WINAPI GetModuleHandleA(LPCSTR name)
{
    ModuleTable& t = table();
    std::lock_guard<std::mutex> hold(t.lock);
    if (!name)
        return reinterpret_cast<HMODULE>(t.program);
    Module* m = findModule(t, moduleName(name));
    if (!m)
        SetLastError(ERROR_MOD_NOT_FOUND);
    return reinterpret_cast<HMODULE>(m);
}

HMODULE WINAPI LoadLibraryA(LPCSTR fileName)
{
    ModuleTable& t = table();
    std::lock_guard<std::mutex> hold(t.lock);
    Module* m = fileName ? findModule(t, moduleName(fileName)) : nullptr;
    if (!m) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    m->useCount++;
    return reinterpret_cast<HMODULE>(m);
}

BOOL WINAPI FreeLibrary(HMODULE module)
{
    ModuleTable& t = table();
    std::lock_guard<std::mutex> hold(t.lock);
    Module* m = fromHandle(t, module);
    if (!m || m->useCount == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    m->useCount--;
    return TRUE;
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName)
{
    ModuleTable& t = table();
    std::unique_lock<std::mutex> hold(t.lock);
    Module* m = fromHandle(t, module);
    hold.unlock();
    if (!m) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (m == t.kernel && procName && !IS_INTRESOURCE(procName)) {
        if (std::strcmp(procName, "GetVersion") == 0)
            return asProc(&GetVersion);
        if (thunkServices.load()) {
            if (std::strcmp(procName, "UTRegister") == 0)
                return asProc(&UTRegister);
            if (std::strcmp(procName, "UTUnRegister") == 0)
                return asProc(&UTUnRegister);
            if (std::strcmp(procName, "UTSelectorOffsetToLinear") == 0)
                return asProc(&UTSelectorOffsetToLinear);
            if (std::strcmp(procName, "UTLinearToSelectorOffset") == 0)
                return asProc(&UTLinearToSelectorOffset);
        }
    }
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

void zrSetThunkServices(BOOL present)
{
    thunkServices.store(present != FALSE);
}

HMODULE zrAttachLibrary(LPCSTR name, ZrLibraryEntry entry)
{
    ModuleTable& t = table();
    Module* m = new Module{moduleName(name), entry, 0, true};
    {
        std::lock_guard<std::mutex> hold(t.lock);
        t.modules.push_back(m);
    }
    HMODULE handle = reinterpret_cast<HMODULE>(m);
    if (entry && !entry(handle, DLL_PROCESS_ATTACH, nullptr)) {
        std::fprintf(stderr, "%s: library initialisation failed\n", m->name.c_str());
        std::fflush(stderr);
        _exit(1);
    }
    return handle;
}

void zrDetachLibrary(HMODULE module)
{
    ModuleTable& t = table();
    Module* m;
    {
        std::lock_guard<std::mutex> hold(t.lock);
        m = fromHandle(t, module);
    }
    if (!m)
        return;
    if (m->entry)
        m->entry(module, DLL_PROCESS_DETACH, nullptr);
    std::lock_guard<std::mutex> hold(t.lock);
    m->loaded = false;
}

ZrLibraryEntry zrLibraryEntry(LPCSTR name, HMODULE* module)
{
    ModuleTable& t = table();
    std::lock_guard<std::mutex> hold(t.lock);
    Module* m = findModule(t, moduleName(name));
    if (module)
        *module = reinterpret_cast<HMODULE>(m);
    return m ? m->entry : nullptr;
}

long zrModuleUseCount(LPCSTR name)
{
    ModuleTable& t = table();
    std::lock_guard<std::mutex> hold(t.lock);
    Module* m = findModule(t, moduleName(name));
    return m ? m->useCount : 0;
}
}
