// Digests of whole decodes through the embedding interface: the status, the
// picture's shape and every output byte, with every partial picture of a
// streamed decode. Two decoders agree when their digests do.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "codec/zr.h"

struct Digest {
    uint64_t h = 0xCBF29CE484222325ull; // FNV-1a
    void bytes(const void* data, size_t size)
    {
        const uint8_t* p = static_cast<const uint8_t*>(data);
        for (size_t i = 0; i < size; i++)
            h = (h ^ p[i]) * 0x100000001B3ull;
    }
    void value(int64_t v) { bytes(&v, sizeof v); }
};

struct DecodeDigest {
    int32_t status = 0;
    int32_t height = 0;
    int32_t width = 0;
    int32_t channels = 0;
    int32_t partials = 0;
    uint64_t digest = 0;
};

inline DecodeDigest finishDigest(int32_t status, const ZrPicture& picture, Digest d, int32_t partials)
{
    d.value(status);
    d.value(picture.height);
    d.value(picture.width);
    d.value(picture.channels);
    d.value(picture.bitsPerSample);
    if (picture.pixels)
        d.bytes(picture.pixels, static_cast<size_t>(picture.height) * picture.width * picture.bytesPerPixel);
    return {status, picture.height, picture.width, picture.channels, partials, d.h};
}

// A decode of the whole block in memory.
inline DecodeDigest digestMemoryDecode(const std::vector<uint8_t>& stream, const ZrRequest& request)
{
    ZrPicture picture{};
    int32_t status = zrDecode(stream.data(), stream.size(), &request, &picture);
    DecodeDigest result = finishDigest(status, picture, Digest(), 0);
    zrFree(&picture);
    return result;
}

// A streamed decode in reads of `chunk` bytes, with a partial picture asked
// for every `interval` bytes; each partial's position and pixels count.
inline DecodeDigest digestStreamedDecode(const std::vector<uint8_t>& stream, const ZrRequest& request,
                                         int32_t interval, int32_t chunk)
{
    struct Feed {
        const std::vector<uint8_t>* stream;
        size_t offset = 0;
        int32_t chunk = 1;
        Digest partials;
        int32_t partialCount = 0;
    } feed{&stream, 0, chunk, Digest(), 0};
    ZrStream source{};
    source.read = [](void* context, uint8_t* data, int32_t size) -> int32_t {
        Feed* f = static_cast<Feed*>(context);
        size_t n = std::min<size_t>(f->stream->size() - f->offset, std::min(size, f->chunk));
        std::memcpy(data, f->stream->data() + f->offset, n);
        f->offset += n;
        return static_cast<int32_t>(n);
    };
    source.readContext = &feed;
    source.partialInterval = interval;
    source.partial = [](void* context, const ZrPartial* partial) -> int32_t {
        Feed* f = static_cast<Feed*>(context);
        f->partialCount++;
        f->partials.value(partial->position);
        f->partials.value(partial->partHeight);
        f->partials.value(partial->partWidth);
        f->partials.bytes(partial->pixels,
                          static_cast<size_t>(partial->partHeight) * partial->partWidth * partial->bytesPerPixel);
        return 0;
    };
    source.partialContext = &feed;
    ZrPicture picture{};
    int32_t status = zrDecodeStream(&source, &request, &picture);
    DecodeDigest result = finishDigest(status, picture, feed.partials, feed.partialCount);
    zrFree(&picture);
    return result;
}

// The request options the digests are taken under.
struct NamedRequest {
    const char* name;
    ZrRequest request;
};

inline NamedRequest namedRequest(const char* name, uint32_t exactSteps, uint32_t lowMemory, uint32_t sharpen)
{
    NamedRequest r{name, {}};
    r.request.exactSteps = exactSteps;
    r.request.lowMemory = lowMemory;
    r.request.sharpen = sharpen;
    return r;
}

inline const std::vector<NamedRequest>& digestRequests()
{
    static const std::vector<NamedRequest> requests = {
        namedRequest("plain", 0, 0, 0),        namedRequest("exact", 1, 0, 0),
        namedRequest("half", 0, 1, 0),         namedRequest("sharpen", 0, 0, 1),
        namedRequest("half+sharpen", 0, 1, 1), namedRequest("exact+half+sharpen", 1, 1, 1),
    };
    return requests;
}
