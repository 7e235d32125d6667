// The bridge library's values, written by its attach and detach and by
// InitThunk, read by the other exports.
#pragma once
#include "codec/core/bit_reader.h"
#include "platform/windows_api.h"

struct BridgeState {
    long attachCount;
    DWORD thunkSystem; // nonzero when GetVersion() has bit 31 set
    DWORD ownerProcess; // the process whose attach made the library's data
    HMODULE module;
    HMODULE kernel;
    PFN_UTREGISTER utRegister;
    PFN_UTUNREGISTER utUnRegister;
    PFN_UTSELECTOROFFSETTOLINEAR utSelectorOffsetToLinear;
    UT32PROC thunkEntry;
    HWND registeredWindow;
    ByteSourceFn registeredByteSource;
};

BridgeState& bridgeState();

// The library entry: refuses a second process, then attaches or detaches.
BOOL libraryEntry(HINSTANCE module, DWORD reason);
