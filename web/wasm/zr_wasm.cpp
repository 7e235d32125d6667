// The decoder's face towards JavaScript: a handle per incremental decode,
// pictures converted to RGBA for canvases, header fields as a flat array.
//
// Calls that feed the decoder switch coroutines, which Asyncify does by
// unwinding to JavaScript and rewinding; the value such an export returns is
// lost on the way, so they leave their results in `result` instead.
#include <emscripten.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "codec/zr.h"
#include "tools/stream_info.h"

namespace {

// Bytes of the stream kept until the header has been read.
const size_t kHeaderBytes = 256;

struct WasmDecoder {
    ZrIncremental* decoder;
    int32_t id;              // the JavaScript side's name for this decode
    uint8_t* input;          // where JavaScript puts the next chunk
    size_t inputSize;
    uint8_t* rgba;           // the last converted picture
    size_t rgbaSize;
    uint8_t head[kHeaderBytes];
    size_t headBytes;
    int32_t headerDone;
    int32_t fields[16];
    int32_t result[3];       // status, height, width of the last append or finish
    char reason[160];
};

// Grows *block to hold `size` bytes; false when memory runs out.
bool reserve(uint8_t** block, size_t* capacity, size_t size)
{
    if (size <= *capacity)
        return true;
    void* grown = std::realloc(*block, size);
    if (!grown)
        return false;
    *block = static_cast<uint8_t*>(grown);
    *capacity = size;
    return true;
}

// Converts rows of the decoder's pixel layout into opaque RGBA; grey deeper
// than 8 bits shows its top 8 bits.
bool toRgba(WasmDecoder* w, const uint8_t* pixels, int32_t rows, int32_t columns, int32_t channels,
            int32_t bitsPerSample, int32_t bytesPerPixel)
{
    size_t count = size_t(rows) * size_t(columns);
    if (!reserve(&w->rgba, &w->rgbaSize, count * 4 + 4))
        return false;
    uint8_t* out = w->rgba;
    if (channels == 3) {
        for (size_t i = 0; i < count; i++, pixels += 3, out += 4) {
            out[0] = pixels[0];
            out[1] = pixels[1];
            out[2] = pixels[2];
            out[3] = 255;
        }
    } else if (bytesPerPixel == 2) {
        int shift = bitsPerSample - 8;
        for (size_t i = 0; i < count; i++, pixels += 2, out += 4) {
            uint8_t v = uint8_t((pixels[0] | pixels[1] << 8) >> shift);
            out[0] = out[1] = out[2] = v;
            out[3] = 255;
        }
    } else {
        for (size_t i = 0; i < count; i++, out += 4) {
            out[0] = out[1] = out[2] = pixels[i];
            out[3] = 255;
        }
    }
    return true;
}

EM_JS(void, reportPartial, (int32_t id, const uint8_t* rgba, int32_t partWidth, int32_t partHeight, int32_t position),
      { Module["onPartial"](id, rgba, partWidth, partHeight, position); });

int32_t onPartial(void* context, const ZrPartial* partial)
{
    WasmDecoder* w = static_cast<WasmDecoder*>(context);
    if (toRgba(w, partial->pixels, partial->partHeight, partial->partWidth, partial->channels,
               partial->bitsPerSample, partial->bytesPerPixel))
        reportPartial(w->id, w->rgba, partial->partWidth, partial->partHeight, partial->position);
    return 0;
}

// Reads the header from the first bytes once they hold all of it.
void inspectHead(WasmDecoder* w, const uint8_t* data, size_t size)
{
    size_t take = kHeaderBytes - w->headBytes;
    if (take > size)
        take = size;
    std::memcpy(w->head + w->headBytes, data, take);
    w->headBytes += take;
    StreamInfo info = inspectBytes(w->head, w->headBytes);
    // A header cut short waits for more, unless its first bytes already
    // differ from the magic.
    bool notMagic = w->head[0] != 'Z' || (w->headBytes > 1 && w->head[1] != 'R');
    if (info.endsInHeader && !notMagic && w->headBytes < kHeaderBytes)
        return;
    const DecodeSession& h = info.header;
    int32_t values[] = {info.status, h.version, h.height, h.width, h.bitsPerSample, h.components,
                        int32_t(h.quantStep), h.decodeMode, h.mapCoder, h.valueCoder, h.fineSteps,
                        h.contrastStretch, h.magnitudeBoost, h.levels, int32_t(info.headerBits), 0};
    std::memcpy(w->fields, values, sizeof values);
    std::snprintf(w->reason, sizeof w->reason, "%s", info.reason.c_str());
    w->headerDone = 1;
}

} // namespace

extern "C" {

EMSCRIPTEN_KEEPALIVE WasmDecoder* zrwCreate(int32_t id, int32_t interval, int32_t exactSteps, int32_t lowMemory,
                                            int32_t sharpen)
{
    WasmDecoder* w = static_cast<WasmDecoder*>(std::calloc(1, sizeof(WasmDecoder)));
    if (!w)
        return nullptr;
    ZrRequest request{};
    request.exactSteps = uint32_t(exactSteps);
    request.lowMemory = uint32_t(lowMemory);
    request.sharpen = uint32_t(sharpen);
    w->id = id;
    w->decoder = zrIncrementalNew(&request, interval, onPartial, w);
    if (!w->decoder) {
        std::free(w);
        return nullptr;
    }
    return w;
}

// Room for the next chunk of `size` bytes; null when memory runs out.
EMSCRIPTEN_KEEPALIVE uint8_t* zrwInput(WasmDecoder* w, int32_t size)
{
    return reserve(&w->input, &w->inputSize, size_t(size) + 1) ? w->input : nullptr;
}

EMSCRIPTEN_KEEPALIVE void zrwAppend(WasmDecoder* w, int32_t size)
{
    if (!w->headerDone && size > 0)
        inspectHead(w, w->input, size_t(size));
    w->result[0] = zrIncrementalAppend(w->decoder, w->input, size_t(size));
}

// The outcome of the last append or finish: status, height, width.
EMSCRIPTEN_KEEPALIVE const int32_t* zrwResult(WasmDecoder* w)
{
    return w->result;
}

// The header fields (status, version, height, width, bitsPerSample,
// components, quantStep, decodeMode, mapCoder, valueCoder, fineSteps,
// contrastStretch, magnitudeBoost, levels, headerBits), or null before the
// header is complete.
EMSCRIPTEN_KEEPALIVE const int32_t* zrwHeader(WasmDecoder* w)
{
    return w->headerDone ? w->fields : nullptr;
}

// Why the header was refused, one line; empty when accepted.
EMSCRIPTEN_KEEPALIVE const char* zrwReason(WasmDecoder* w)
{
    return w->reason;
}

// Decodes the rest and converts the final picture to RGBA (zrwPixels).
EMSCRIPTEN_KEEPALIVE void zrwFinish(WasmDecoder* w)
{
    ZrPicture picture{};
    int32_t status = zrIncrementalFinish(w->decoder, &picture);
    if (status == 0 && picture.pixels &&
        !toRgba(w, picture.pixels, picture.height, picture.width, picture.channels, picture.bitsPerSample,
                picture.bytesPerPixel))
        status = ZR_STATUS_OUT_OF_MEMORY;
    w->result[0] = status;
    w->result[1] = picture.height;
    w->result[2] = picture.width;
    zrFree(&picture);
}

EMSCRIPTEN_KEEPALIVE const uint8_t* zrwPixels(WasmDecoder* w)
{
    return w->rgba;
}

EMSCRIPTEN_KEEPALIVE const char* zrwStatusText(int32_t status)
{
    return zrStatusText(status);
}

EMSCRIPTEN_KEEPALIVE void zrwFree(WasmDecoder* w)
{
    if (!w)
        return;
    zrIncrementalFree(w->decoder);
    std::free(w->input);
    std::free(w->rgba);
    std::free(w);
}

} // extern "C"
