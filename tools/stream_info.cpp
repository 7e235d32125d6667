#include "tools/stream_info.h"

#include <cerrno>
#include <cstring>

#include "codec/core/alloc.h"
#include "codec/decoder/decoder.h"
#include "codec/session/stream_header.h"

namespace {

int32_t fileByte(void* context, uint32_t* slot)
{
    int c = std::fgetc(static_cast<FILE*>(context));
    if (c == EOF)
        return 1;
    *slot = static_cast<uint32_t>(c);
    return 0;
}

int64_t bitsTaken(const BitReader* bits, int64_t bytesFetched)
{
    int unread = 0;
    if (bits->mask != 128)
        for (uint8_t m = bits->mask; m != 0; m >>= 1)
            unread++;
    return bytesFetched * 8 - unread;
}

const char* modeName(int32_t mode)
{
    switch (mode) {
    case 0: return "one-pass";
    case 1: return "level-progressive";
    default: return "undefined";
    }
}

} // namespace

std::string refusalReason(const DecodeSession& h, int32_t status)
{
    char text[160];
    switch (status) {
    case ZR_OK:
        return "";
    case ZR_BAD_MAGIC:
        return "not a ZR stream";
    case ZR_BAD_VERSION:
        std::snprintf(text, sizeof text, "unsupported version %d", h.version);
        return text;
    case ZR_BAD_SAMPLE_DEPTH:
        std::snprintf(text, sizeof text, "unsupported sample depth %d for %s", h.bitsPerSample,
                      h.components == 3 ? "colour" : "grey");
        return text;
    case ZR_UNSUPPORTED_CODER:
        if (h.decodeMode > 1)
            std::snprintf(text, sizeof text, "unsupported decode mode %d", h.decodeMode);
        else if (h.decodeMode == 1 && h.valueCoder == 0 && h.mapCoder == 2)
            std::snprintf(text, sizeof text, "map coder 2 with value coder 0 is not supported in level-progressive mode");
        else
            std::snprintf(text, sizeof text, "picture too small: %d x %d (a side under 6)", h.height, h.width);
        return text;
    case ZR_OUT_OF_MEMORY: {
        unsigned long long need = pictureMemoryBytes(&h) >> 20;
        unsigned long long limit = budgetLimit(&h.budget) >> 20;
        std::snprintf(text, sizeof text, "picture too large: %d x %d needs %llu MiB, the limit is %llu MiB",
                      h.height, h.width, need, limit);
        return text;
    }
    default:
        std::snprintf(text, sizeof text, "status %d", status);
        return text;
    }
}

StreamInfo inspectStream(BitReader* bits)
{
    StreamInfo info;
    info.header.bits = bits;
    setDecodeLimits(&info.header, &kToolLimits);
    info.status = admitStreamHeader(&info.header);
    info.endsInHeader = (bits->endOfData & 1) != 0;
    int64_t fetched = bits->byteSource
        ? static_cast<int64_t>(bits->cursor)
        : static_cast<int64_t>(bits->cursor - reinterpret_cast<uintptr_t>(bits->buffer));
    info.headerBits = bitsTaken(bits, fetched);
    info.header.bits = nullptr;
    info.reason = refusalReason(info.header, info.status);
    if (info.endsInHeader && info.status != ZR_OK && info.status != ZR_BAD_MAGIC)
        info.reason = "the data ends inside the header (read as: " + info.reason + ")";
    return info;
}

namespace {

struct MemoryBytes {
    const uint8_t* data;
    size_t size;
    size_t next;
};

int32_t memoryByte(void* context, uint32_t* slot)
{
    MemoryBytes* bytes = static_cast<MemoryBytes*>(context);
    if (bytes->next >= bytes->size)
        return 1;
    *slot = bytes->data[bytes->next++];
    return 0;
}

} // namespace

StreamInfo inspectBytes(const uint8_t* data, size_t size)
{
    MemoryBytes bytes{data, data ? size : 0, 0};
    BitReader bits{};
    resetBitReader(&bits);
    attachByteSource(&bits, memoryByte, &bytes);
    return inspectStream(&bits);
}

bool inspectFile(const char* path, StreamInfo* info, std::string* error)
{
    FILE* file = std::fopen(path, "rb");
    if (!file) {
        *error = std::strerror(errno);
        return false;
    }
    BitReader bits{};
    resetBitReader(&bits);
    attachByteSource(&bits, fileByte, file);
    *info = inspectStream(&bits);
    if (std::ferror(file)) {
        *error = std::strerror(errno);
        std::fclose(file);
        return false;
    }
    std::fclose(file);
    return true;
}

void printStreamInfo(FILE* out, const char* name, const StreamInfo& info)
{
    const DecodeSession& h = info.header;
    if (info.status == ZR_OK)
        std::fprintf(out, "%s: accepted%s\n", name, info.endsInHeader ? ", but the data ends inside the header" : "");
    else
        std::fprintf(out, "%s: refused, status %d: %s\n", name, info.status, info.reason.c_str());
    if (info.status == ZR_BAD_MAGIC)
        return;
    std::fprintf(out, "  version %d\n", h.version);
    std::fprintf(out, "  height %d\n", h.height);
    std::fprintf(out, "  width %d\n", h.width);
    std::fprintf(out, "  bitsPerSample %d\n", h.bitsPerSample);
    std::fprintf(out, "  components %d (%s)\n", h.components, h.components == 3 ? "colour" : "grey");
    std::fprintf(out, "  quantStep %u\n", h.quantStep);
    std::fprintf(out, "  decodeMode %d (%s)\n", h.decodeMode, modeName(h.decodeMode));
    std::fprintf(out, "  mapCoder %d\n", h.mapCoder);
    std::fprintf(out, "  valueCoder %d\n", h.valueCoder);
    std::fprintf(out, "  fineSteps %d\n", h.fineSteps);
    std::fprintf(out, "  contrastStretch %d\n", h.contrastStretch);
    std::fprintf(out, "  magnitudeBoost %d\n", h.magnitudeBoost);
    std::fprintf(out, "  extension1 %u\n", h.extension1);
    std::fprintf(out, "  extension2 %u\n", h.extension2);
    std::fprintf(out, "  extension3 %u\n", h.extension3);
    if (info.status != ZR_BAD_VERSION)
        std::fprintf(out, "  levels %d\n", h.levels);
    if (isSharpenedStream(h))
        std::fprintf(out, "  written for sharpening decoders (zrenc --sharpen; zrdec sharpens it)\n");
    if (info.endsInHeader)
        std::fprintf(out, "  the data ends inside the header\n");
    else
        std::fprintf(out, "  headerBits %lld\n", static_cast<long long>(info.headerBits));
}
