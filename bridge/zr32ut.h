// The bridge library between the server and the 16-bit client plug-in.
#pragma once
#include <cstdint>

#include "codec/core/records.h"
#include "platform/windows_api.h"

#if defined(_WIN32)
#ifdef ZR32UT_BUILD
#define ZR32UT_API __declspec(dllexport)
#else
#define ZR32UT_API __declspec(dllimport)
#endif
#else
#define ZR32UT_API __attribute__((visibility("default")))
#endif

// User-defined code of the progress notices passed to the plug-in.
#define PROGRESS_NOTICE 113

extern "C" {

// Registers the thunk to the 16-bit library; nonzero on success. The window
// and byte source are stored even when no thunk services exist.
ZR32UT_API BOOL InitThunk(HWND window, LPCSTR library16, ByteSourceFn byteSource);
ZR32UT_API void CloseThunk(void);
// Tells the plug-in about a frame: notice 0 = a partial frame is in
// frameMemory, 1 = the decode has ended. 0 when no thunk is registered.
ZR32UT_API DWORD dispImageProg(DecodeOptions* options, DWORD notice);
// The ByteSourceFn that the server gives the decoder: forwards to the
// registered byte source.
ZR32UT_API int32_t _ZrDecompressCBFunc(void* context, uint32_t* slot);
// The plug-in's calls up into 32-bit code: 104 answers the window, 0-4, 110
// and 111 answer 0, anything else -1.
ZR32UT_API DWORD WINAPI UT32CBProc(LPVOID buffer, DWORD code);
ZR32UT_API LPVOID ut_ptr16to32(LPVOID pointer16);
}
