#include "server/window_procedure.h"

#include <cstdlib>
#include <cstring>

#include "bridge/zr32ut.h"
#include "codec/session/session.h"
#include "server/byte_source.h"
#include "server/decode_requests.h"
#include "server/frame_delivery.h"
#include "server/request_records.h"

static const char clientLibrary[] = "NPZR16.DLL";

static LRESULT releaseFrame(FrameInfo* frame)
{
    if (frame && frame->frameMemory) {
        GlobalUnlock(frame->frameMemory);
        GlobalFree(frame->frameMemory);
        frame->frameMemory = nullptr;
    }
    return 0;
}

// Copies the request and posts it to the window; the decode runs when a
// message loop next dispatches ASYNC_DECODE.
static LRESULT queueAsyncDecode(HWND window, const AsyncDecodeRequest* request)
{
    if (!request || !request->source || !request->options || !request->frame)
        return ZR_NO_DECODE;
    AsyncDecodeRequest* copy = static_cast<AsyncDecodeRequest*>(std::malloc(sizeof *copy));
    if (!copy)
        return ZR_OUT_OF_MEMORY;
    std::memcpy(copy, request, sizeof *copy);
    if (!PostMessageA(window, ASYNC_DECODE, 0, reinterpret_cast<LPARAM>(copy))) {
        std::free(copy);
        return ZR_OUT_OF_MEMORY;
    }
    return 0;
}

static void sendTestMessage(HWND window)
{
    static char text[] = "This message is from zr32serv.exe\n";
    HWND testWindow = FindWindowA("TestProgClass", "Test Program");
    if (!testWindow) {
        MessageBoxA(window, "Can't send WM_COPYDATA", "test", MB_OK);
        return;
    }
    COPYDATASTRUCT data = {};
    data.dwData = REQUEST_TEST_MESSAGE;
    data.cbData = 4;
    data.lpData = text;
    SendMessageA(testWindow, WM_COPYDATA, reinterpret_cast<WPARAM>(window),
                 reinterpret_cast<LPARAM>(&data));
}

static LRESULT handleRequest(HWND window, COPYDATASTRUCT* data)
{
    if (!data)
        return 0;
    switch (data->dwData) {
    case REQUEST_DECODE: {
        DecodeRequest* request = static_cast<DecodeRequest*>(data->lpData);
        if (!request || !request->source || !request->options || !request->frame)
            return ZR_NO_DECODE;
        return decodeAndConvert(request->source, request->options, request->frame, nullptr);
    }
    case REQUEST_PARTIAL_FRAME:
        if (!data->lpData)
            return ZR_NO_DECODE;
        return partialFrame(static_cast<FrameInfo*>(data->lpData));
    case REQUEST_RELEASE_FRAME:
        return releaseFrame(static_cast<FrameInfo*>(data->lpData));
    case REQUEST_INIT_THUNK:
        InitThunk(window, clientLibrary, serverByteSource);
        return 0;
    case REQUEST_CLOSE_THUNK:
        CloseThunk();
        return 0;
    case REQUEST_ASYNC_DECODE:
        return queueAsyncDecode(window, static_cast<AsyncDecodeRequest*>(data->lpData));
    case REQUEST_TEST_MESSAGE:
        sendTestMessage(window);
        return 0;
    case REQUEST_PALETTE_ENTRIES:
        data->lpData = buildPaletteEntries(static_cast<uint8_t*>(data->lpData));
        return 0;
    case REQUEST_COLOUR_TABLE:
        data->lpData = buildColourTable(static_cast<uint8_t*>(data->lpData));
        return 0;
    default:
        return 0;
    }
}

LRESULT CALLBACK serverWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        InitThunk(window, clientLibrary, serverByteSource);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_COPYDATA:
        return handleRequest(window, reinterpret_cast<COPYDATASTRUCT*>(lParam));
    case WM_COMMAND:
    case WM_TIMER:
    case IDLE_MESSAGE:
        return 0;
    case ASYNC_DECODE:
        if (!lParam)
            return ZR_NO_DECODE;
        return asyncDecode(reinterpret_cast<AsyncDecodeRequest*>(lParam));
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}
