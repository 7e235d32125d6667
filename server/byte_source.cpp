#include "server/byte_source.h"

#include "bridge/zr32ut.h"
#include "platform/windows_api.h"
#include "server/decode_requests.h"
#include "server/request_records.h"
#include "server/server_window.h"

// True when a partial frame is due before the byte at `position`. An
// interval of 0 or less (or no progress record) asks for none.
static bool partialFrameDue(const ProgressInfo* progress, int32_t position)
{
    if (!progress || progress->progressInterval <= 0)
        return false;
    int32_t interval = progress->progressInterval;
    return position % interval == interval - 1;
}

int32_t serverByteSource(void* context, uint32_t* slot)
{
    AsyncDecodeRequest* request = static_cast<AsyncDecodeRequest*>(context);
    StreamSource* source = request->source;

    if (partialFrameDue(request->progress, source->position) && partialFrame(request->frame) == 0)
        dispImageProg(request->options, 0);

    for (;;) {
        if (source->position < source->size) {
            *slot = source->data[source->position];
            source->position++;
            return 0;
        }
        MSG message = {};
        BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == 0) {
            // Leave the quit for the main loop once the decode has ended.
            PostQuitMessage(static_cast<int>(message.wParam));
            return 1;
        }
        if (got < 0)
            return 1;
        if (message.hwnd == serverWindow && message.message == ABORT_DECODE)
            return 1;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}
