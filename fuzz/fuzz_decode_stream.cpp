// Callback-mode decoding as the server runs it: the byte source hands out the
// stream in pieces of varying size, asks for a partial picture every
// `interval` bytes and, between pieces, whenever the "client" asks for one;
// it may also run a second, nested decode while the first one waits. The
// picture must come out as when the whole stream is handed out at once.
//
// Input: four settings bytes, then the stream.
//   byte 0  bit 0 exactSteps, bit 1 halfSize, bits 2-3 the sharpen field,
//           bit 4 run one nested decode of the rest of the stream
//   byte 1  partial-picture interval: 0 none, else 1 << (value % 16)
// A partial picture costs a rendering of the current level, so at most
// kMaxPartials are asked for per decode (an interval of 1 would otherwise
// render the picture before every byte, which is slow but not wrong).
//   byte 2-3  seed of the piece sizes and of the client's requests
#include <cstring>

#include "decode_checks.h"
#include "fuzz_input.h"

namespace {

constexpr int32_t kMaxPartials = 48;
// Every input is decoded twice (and may nest a third decode): half the usual
// limit keeps the time per input as low as for a single decode.
constexpr size_t kStreamAllocLimit = kFuzzAllocLimit / 2;

struct Feed {
    const uint8_t* data;
    int32_t size;
    int32_t position;  // next byte to hand out
    int32_t available; // bytes the "client" has delivered so far
    int32_t interval;
    uint32_t random;
    bool nestedPending;
    int32_t partials;
    FrameInfo* frame;
    uint8_t settings;
};

uint32_t nextRandom(Feed* feed)
{
    feed->random = feed->random * 1664525u + 1013904223u;
    return feed->random >> 16;
}

void decodeInMemory(const uint8_t* data, int32_t size, uint8_t settings);

void askForPartial(Feed* feed)
{
    if (feed->partials >= kMaxPartials)
        return;
    feed->partials++;
    decodeContinue(feed->frame);
    checkPartialFrame(*feed->frame);
}

int32_t handOut(void* context, uint32_t* slot)
{
    Feed* feed = static_cast<Feed*>(context);
    if (feed->interval > 0 && feed->position % feed->interval == feed->interval - 1)
        askForPartial(feed);
    if (feed->position >= feed->size)
        return 1;
    while (feed->position >= feed->available) {
        // Waiting for the client: it may ask for a partial picture or start
        // another decode before the next piece arrives.
        uint32_t r = nextRandom(feed);
        if (r & 1)
            askForPartial(feed);
        if (feed->nestedPending && (r & 6) == 0) {
            feed->nestedPending = false;
            decodeInMemory(feed->data + feed->position, feed->size - feed->position, feed->settings);
        }
        int32_t piece = 1 + static_cast<int32_t>(nextRandom(feed) % (1u << (r >> 3) % 12));
        feed->available = feed->available > feed->size - piece ? feed->size : feed->available + piece;
    }
    *slot = feed->data[feed->position++];
    return 0;
}

void decodeInMemory(const uint8_t* data, int32_t size, uint8_t settings)
{
    StreamSource source{data, size, 0, 0};
    DecodeOptions options = decodeOptionsFrom(settings);
    FrameInfo frame{};
    int32_t status = decodeStart(&source, &options, &frame);
    checkFinalFrame(status, frame);
    decodeFree(&frame);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    limitAllocations(kStreamAllocLimit);
    FuzzInput in{data, size};
    uint8_t settings = in.byte();
    uint8_t intervalCode = in.byte();
    uint32_t seed = static_cast<uint32_t>(in.byte()) << 8;
    seed |= in.byte();

    FrameInfo frame{};
    frame.format = 1;
    Feed feed{in.data, static_cast<int32_t>(in.size), 0, 0,
              intervalCode == 0 ? 0 : 1 << (intervalCode % 16), seed, (settings & 16) != 0, 0, &frame, settings};

    // As the server does: the stream's bytes come only from the source.
    StreamSource source{nullptr, 0, 0, 0};
    DecodeOptions options = decodeOptionsFrom(settings);
    options.byteSource = handOut;
    options.sourceContext = &feed;
    int32_t status = decodeStart(&source, &options, &frame);
    checkFinalFrame(status, frame);
    // Asking after the end finds no decode.
    if (decodeContinue(&frame) != 15)
        std::abort();

    // The pieces, the partial pictures and the nested decode must not change
    // the result: the same bytes handed out at once give the same picture.
    // (Not a decode in memory: after the end of the data a byte source's
    // reader repeats its last byte where a memory reader gives zeros.)
    Feed plainFeed{in.data, static_cast<int32_t>(in.size), 0, static_cast<int32_t>(in.size), 0, 0, false, 0,
                   nullptr, settings};
    StreamSource none{nullptr, 0, 0, 0};
    DecodeOptions plain = decodeOptionsFrom(settings);
    plain.byteSource = handOut;
    plain.sourceContext = &plainFeed;
    FrameInfo reference{};
    int32_t referenceStatus = decodeStart(&none, &plain, &reference);
    if (referenceStatus != status || reference.width != frame.width || reference.height != frame.height)
        std::abort();
    if (status == 0) {
        uint64_t bytes = static_cast<uint64_t>(frame.width) * static_cast<uint64_t>(frame.height)
                         * frameBytesPerPixel(frame);
        if (std::memcmp(frame.pixels, reference.pixels, bytes) != 0)
            std::abort();
    }
    decodeFree(&reference);
    decodeFree(&frame);
    return 0;
}
