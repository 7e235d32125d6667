// The thunk exports: registration, progress notices down to the plug-in, the
// plug-in's calls up, and its pointer conversion.
#include "bridge/bridge_state.h"
#include "bridge/zr32ut.h"

namespace {

// The argument block of a progress notice.
struct ProgressNoticeBlock {
    DecodeOptions* options; // translated to a 16:16 pointer for the plug-in
    DWORD notice;
};
static_assert(sizeof(void*) != 4 || sizeof(ProgressNoticeBlock) == 8, "the notice block is 8 bytes");

} // namespace

extern "C" {

ZR32UT_API BOOL InitThunk(HWND window, LPCSTR library16, ByteSourceFn byteSource)
{
    BridgeState& s = bridgeState();
    s.registeredWindow = window;
    s.registeredByteSource = byteSource;
    if (!s.utRegister)
        return FALSE;
    return s.utRegister(s.module, library16, "UT16Init", "UT16Proc", &s.thunkEntry,
                        reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&UT32CBProc)), nullptr);
}

ZR32UT_API void CloseThunk(void)
{
    BridgeState& s = bridgeState();
    if (!s.utUnRegister)
        return;
    s.utUnRegister(s.module);
    s.thunkEntry = nullptr;
}

ZR32UT_API DWORD dispImageProg(DecodeOptions* options, DWORD notice)
{
    BridgeState& s = bridgeState();
    if (!s.thunkEntry)
        return 0;
    ProgressNoticeBlock block{options, notice};
    LPVOID translations[2] = {&block.options, nullptr};
    return s.thunkEntry(&block, PROGRESS_NOTICE, translations);
}

ZR32UT_API DWORD WINAPI UT32CBProc(LPVOID, DWORD code)
{
    switch (code) {
    case 0:
    case 1:
    case 2:
    case 3:
    case 4:
    case 110:
    case 111:
        return 0;
    case 104:
        return static_cast<DWORD>(reinterpret_cast<uintptr_t>(bridgeState().registeredWindow));
    default:
        return static_cast<DWORD>(-1);
    }
}

ZR32UT_API LPVOID ut_ptr16to32(LPVOID pointer16)
{
    BridgeState& s = bridgeState();
    return s.utSelectorOffsetToLinear ? s.utSelectorOffsetToLinear(pointer16) : nullptr;
}
}
