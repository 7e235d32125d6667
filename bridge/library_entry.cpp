// Attach and detach of the bridge library: looks up the universal-thunk
// services on a thunk system and unregisters the thunk at the last detach.
#include "bridge/bridge_state.h"

#ifndef _WIN32
#include "platform/layer_hooks.h"
#endif

namespace {

BOOL attach(BridgeState& s, HINSTANCE module)
{
    if (s.attachCount++ != 0)
        return TRUE;
    s.thunkSystem = GetVersion() & 0x80000000u;
    if (!s.thunkSystem)
        return TRUE;
    s.module = module;
    s.kernel = LoadLibraryA("Kernel32.Dll");
    if (!s.kernel)
        return FALSE;
    s.utRegister = procAs<PFN_UTREGISTER>(GetProcAddress(s.kernel, "UTRegister"));
    if (!s.utRegister)
        return FALSE;
    s.utUnRegister = procAs<PFN_UTUNREGISTER>(GetProcAddress(s.kernel, "UTUnRegister"));
    s.utSelectorOffsetToLinear =
        procAs<PFN_UTSELECTOROFFSETTOLINEAR>(GetProcAddress(s.kernel, "UTSelectorOffsetToLinear"));
    return s.utUnRegister ? TRUE : FALSE;
}

BOOL detach(BridgeState& s)
{
    if (s.attachCount > 0)
        s.attachCount--;
    if (s.attachCount != 0 || !s.thunkSystem)
        return FALSE;
    if (s.utUnRegister)
        s.utUnRegister(s.module);
    if (s.kernel)
        FreeLibrary(s.kernel);
    // The services belonged to the kernel module just released.
    s.thunkEntry = nullptr;
    s.kernel = nullptr;
    s.utRegister = nullptr;
    s.utUnRegister = nullptr;
    s.utSelectorOffsetToLinear = nullptr;
    return TRUE;
}

} // namespace

BOOL libraryEntry(HINSTANCE module, DWORD reason)
{
    BridgeState& s = bridgeState();
    if (reason == DLL_PROCESS_ATTACH) {
        // The library's data is one instance for every process that loads it,
        // so a second process is refused.
        DWORD process = GetCurrentProcessId();
        if (s.attachCount > 0 && s.ownerProcess != process) {
            MessageBoxA(nullptr,
                        (GetVersion() & 0x80000000u) ? "Cannot run multiple instances of a DLL under WIN32s"
                                                     : "Nonshared DATA segment required",
                        nullptr, MB_OK);
            return FALSE;
        }
        if (s.attachCount == 0) {
            s.ownerProcess = process;
            s.thunkEntry = nullptr;
            s.utRegister = nullptr;
            s.utUnRegister = nullptr;
            s.utSelectorOffsetToLinear = nullptr;
        }
        return attach(s, module);
    }
    if (reason == DLL_PROCESS_DETACH)
        return detach(s);
    return TRUE;
}

#ifdef _WIN32

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID)
{
    return libraryEntry(module, reason);
}

#else

namespace {

BOOL WINAPI elfEntry(HINSTANCE module, DWORD reason, LPVOID)
{
    return libraryEntry(module, reason);
}

HMODULE loadedModule;

__attribute__((constructor)) void libraryLoad()
{
    loadedModule = zrAttachLibrary("zr32ut.dll", elfEntry);
}

__attribute__((destructor)) void libraryUnload()
{
    zrDetachLibrary(loadedModule);
}

} // namespace

#endif
