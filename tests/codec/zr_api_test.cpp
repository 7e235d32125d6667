#include "codec/zr.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "codec/core/alloc.h"
#include "codec/decoder/decoder.h"
#include "codec/core/geometry.h"
#include "codec/session/session.h"
#include "codec/session/stream_header.h"
#include "codec/encoder/picture_samples.h"
#include "tests/support/tool_streams.h"

namespace {

std::vector<uint8_t> pixelsOf(const ZrPicture& picture)
{
    if (!picture.pixels)
        return {};
    size_t n = size_t(picture.height) * picture.width * picture.bytesPerPixel;
    return std::vector<uint8_t>(picture.pixels, picture.pixels + n);
}

std::vector<uint8_t> decodeToBytes(const std::vector<uint8_t>& stream, const ZrRequest* request = nullptr)
{
    ZrPicture picture;
    EXPECT_EQ(zrDecode(stream.data(), stream.size(), request, &picture), 0);
    std::vector<uint8_t> bytes = pixelsOf(picture);
    zrFree(&picture);
    return bytes;
}

// Delivers a stream in chunks of a few bytes, as a network would.
struct ChunkReader {
    const std::vector<uint8_t>* bytes;
    size_t offset = 0;
    int32_t chunk = 3;
    int32_t calls = 0;
    int32_t callsAfterEnd = 0;
};

int32_t readChunk(void* context, uint8_t* data, int32_t size)
{
    ChunkReader* reader = static_cast<ChunkReader*>(context);
    reader->calls++;
    size_t n = std::min({size_t(size), size_t(reader->chunk), reader->bytes->size() - reader->offset});
    if (n == 0) {
        reader->callsAfterEnd++;
        return 0;
    }
    std::memcpy(data, reader->bytes->data() + reader->offset, n);
    reader->offset += n;
    return int32_t(n);
}

struct PartialLog {
    struct Entry {
        int32_t position, partHeight, partWidth, height, width, bytesPerPixel;
        std::vector<uint8_t> pixels;
    };
    std::vector<Entry> entries;
    int32_t stopAfter = -1; // end the stream after this many partials
};

int32_t logPartial(void* context, const ZrPartial* partial)
{
    PartialLog* log = static_cast<PartialLog*>(context);
    size_t n = size_t(partial->partHeight) * partial->partWidth * partial->bytesPerPixel;
    log->entries.push_back({partial->position, partial->partHeight, partial->partWidth, partial->height,
                            partial->width, partial->bytesPerPixel,
                            std::vector<uint8_t>(partial->pixels, partial->pixels + n)});
    return int32_t(log->entries.size()) == log->stopAfter ? 1 : 0;
}

int32_t streamDecode(const std::vector<uint8_t>& bytes, int32_t chunk, int32_t interval, PartialLog* log,
                     ZrPicture* picture, ChunkReader* reader = nullptr)
{
    ChunkReader local;
    if (!reader)
        reader = &local;
    reader->bytes = &bytes;
    reader->chunk = chunk;
    ZrStream stream{};
    stream.read = readChunk;
    stream.readContext = reader;
    stream.partialInterval = interval;
    stream.partial = log ? logPartial : nullptr;
    stream.partialContext = log;
    return zrDecodeStream(&stream, nullptr, picture);
}

TEST(ZrDecode, DescribesThePictureAndMatchesTheDecoder)
{
    struct Case {
        ToolStream params;
        int32_t channels, bitsPerSample, bitsPerPixel, bytesPerPixel;
    };
    ToolStream grey, colour, deep;
    colour.colour = true;
    colour.decodeMode = 0;
    deep.bitsPerSample = 12;
    for (const Case& c : {Case{grey, 1, 8, 8, 1}, Case{colour, 3, 8, 24, 3}, Case{deep, 1, 12, 12, 2}}) {
        std::vector<uint8_t> stream = makeToolStream(c.params);
        ZrPicture picture;
        ASSERT_EQ(zrDecode(stream.data(), stream.size(), nullptr, &picture), 0);
        EXPECT_EQ(picture.height, c.params.height);
        EXPECT_EQ(picture.width, c.params.width);
        EXPECT_EQ(picture.channels, c.channels);
        EXPECT_EQ(picture.bitsPerSample, c.bitsPerSample);
        EXPECT_EQ(picture.bitsPerPixel, c.bitsPerPixel);
        EXPECT_EQ(picture.bytesPerPixel, c.bytesPerPixel);

        StreamSource source{stream.data(), int32_t(stream.size()), 0, 0};
        DecodeOptions options{};
        FrameInfo frame{};
        ASSERT_EQ(decodeStart(&source, &options, &frame), 0);
        size_t n = size_t(frame.height) * frame.width * c.bytesPerPixel;
        EXPECT_EQ(pixelsOf(picture), std::vector<uint8_t>(frame.pixels, frame.pixels + n));
        decodeFree(&frame);

        ZrPicture info;
        EXPECT_EQ(zrInfo(stream.data(), stream.size(), &info), 0);
        EXPECT_EQ(info.pixels, nullptr);
        EXPECT_EQ(info.height, picture.height);
        EXPECT_EQ(info.width, picture.width);
        EXPECT_EQ(info.bitsPerPixel, picture.bitsPerPixel);
        EXPECT_EQ(info.bytesPerPixel, picture.bytesPerPixel);
        zrFree(&picture);
        EXPECT_EQ(picture.pixels, nullptr);
    }
    zrFree(nullptr);
}

TEST(ZrDecode, RequestReachesTheDecoder)
{
    ToolStream params;
    params.colour = true;
    std::vector<uint8_t> stream = makeToolStream(params);
    std::vector<uint8_t> plain = decodeToBytes(stream);
    ZrRequest sharpen{}, half{};
    sharpen.sharpen = 1;
    half.lowMemory = 1;
    std::vector<uint8_t> sharpened = decodeToBytes(stream, &sharpen);
    std::vector<uint8_t> halved = decodeToBytes(stream, &half);
    ASSERT_EQ(sharpened.size(), plain.size());
    ASSERT_EQ(halved.size(), plain.size()); // low-memory mode keeps the size
    EXPECT_NE(sharpened, plain);
    EXPECT_NE(halved, plain); // the last level goes straight to 8-bit pixels
    // sharpen is on only for exactly 1
    ZrRequest two{};
    two.sharpen = 2;
    EXPECT_EQ(decodeToBytes(stream, &two), plain);
}

TEST(ZrDecode, RefusalsKeepTheHeaderSizes)
{
    ZrPicture picture;
    EXPECT_EQ(zrDecode(nullptr, 0, nullptr, &picture), 1);
    EXPECT_EQ(picture.pixels, nullptr);
    EXPECT_EQ(zrInfo(nullptr, 0, &picture), 1);

    HeaderFields h;
    h.height = 30;
    h.width = 50;
    h.version = 1;
    std::vector<uint8_t> bytes = makeHeader(h);
    EXPECT_EQ(zrDecode(bytes.data(), bytes.size(), nullptr, &picture), 2);
    EXPECT_EQ(picture.pixels, nullptr);
    EXPECT_EQ(picture.height, 30);
    EXPECT_EQ(picture.width, 50);
    EXPECT_EQ(zrInfo(bytes.data(), bytes.size(), &picture), 2);
    EXPECT_EQ(picture.height, 30);

    h = HeaderFields{};
    h.colour = true;
    h.bitsPerSample = 10;
    bytes = makeHeader(h);
    EXPECT_EQ(zrDecode(bytes.data(), bytes.size(), nullptr, &picture), 16);
    EXPECT_EQ(zrInfo(bytes.data(), bytes.size(), &picture), 16);
    EXPECT_EQ(picture.channels, 3);

    h = HeaderFields{};
    h.decodeMode = 1;
    h.valueCoder = 0;
    h.mapCoder = 2;
    bytes = makeHeader(h);
    EXPECT_EQ(zrDecode(bytes.data(), bytes.size(), nullptr, &picture), 3);
    EXPECT_EQ(zrInfo(bytes.data(), bytes.size(), &picture), 3);

    // A picture beyond the allocation limit is refused by both alike.
    bytes = makeHeader(HeaderFields{});
    size_t limit = allocLimit();
    setAllocLimit(1000);
    EXPECT_EQ(zrInfo(bytes.data(), bytes.size(), &picture), 8);
    EXPECT_EQ(zrDecode(bytes.data(), bytes.size(), nullptr, &picture), 8);
    EXPECT_EQ(picture.pixels, nullptr);
    setAllocLimit(limit);

    EXPECT_STREQ(zrStatusText(1), "not a ZR stream");
    EXPECT_STREQ(zrStatusText(16), "unsupported sample depth");
    EXPECT_STREQ(zrStatusText(-4), "unknown status");
}

TEST(ZrDecodeStream, GivesTheSamePictureAsMemory)
{
    for (int32_t mode : {0, 1}) {
        for (bool colour : {false, true}) {
            ToolStream params;
            params.decodeMode = mode;
            params.colour = colour;
            std::vector<uint8_t> stream = makeToolStream(params);
            std::vector<uint8_t> expected = decodeToBytes(stream);
            for (int32_t chunk : {1, 7, 4096}) {
                ZrPicture picture;
                ChunkReader reader;
                ASSERT_EQ(streamDecode(stream, chunk, 0, nullptr, &picture, &reader), 0);
                EXPECT_EQ(pixelsOf(picture), expected) << "mode " << mode << " chunk " << chunk;
                EXPECT_LE(reader.callsAfterEnd, 1);
                zrFree(&picture);
            }
        }
    }
}

TEST(ZrDecodeStream, PartialPicturesFollowTheInterval)
{
    ToolStream params;
    params.height = 100;
    params.width = 60;
    params.colour = true;
    std::vector<uint8_t> stream = makeToolStream(params);
    // Cut inside the detail flags, so that the last byte request finds the end.
    std::vector<uint8_t> cut(stream.begin(), stream.end() - 1);
    for (int32_t interval : {1, 2, 5}) {
        PartialLog log;
        ZrPicture picture;
        ASSERT_EQ(streamDecode(cut, 3, interval, &log, &picture), 0);
        ASSERT_FALSE(log.entries.empty());
        int32_t previous = -1;
        int32_t previousHeight = 0;
        for (const PartialLog::Entry& e : log.entries) {
            EXPECT_EQ(e.position % interval, interval - 1);
            EXPECT_GT(e.position, previous);
            EXPECT_GE(e.partHeight, previousHeight); // levels only get finer
            EXPECT_EQ(e.height, 100);
            EXPECT_EQ(e.width, 60);
            EXPECT_EQ(e.bytesPerPixel, 3);
            bool isLevel = false;
            for (int32_t L = 0; L <= levelCount(100, 60); L++)
                isLevel |= e.partHeight == levelSize(100, L) && e.partWidth == levelSize(60, L);
            EXPECT_TRUE(isLevel) << e.partHeight << " x " << e.partWidth;
            previous = e.position;
            previousHeight = e.partHeight;
        }
        if (int32_t(cut.size()) % interval == interval - 1)
            EXPECT_EQ(log.entries.back().position, int32_t(cut.size())); // the request that finds the end
        else
            EXPECT_LT(log.entries.back().position, int32_t(cut.size()));
        if (interval == 1) {
            // Nothing can be shown before the lowest bands are complete: the
            // header takes 89 bits, each band 11 + 6 bits per sample.
            int32_t levels = levelCount(100, 60);
            int32_t bandBits = 11 + 6 * levelSize(100, levels) * levelSize(60, levels);
            EXPECT_GE(log.entries.front().position * 8, 89 + 3 * bandBits - 7);
        }
        zrFree(&picture);
    }
}

TEST(ZrDecodeStream, OnePassHasNoPartialPictures)
{
    ToolStream params;
    params.decodeMode = 0;
    std::vector<uint8_t> stream = makeToolStream(params);
    PartialLog log;
    ZrPicture picture;
    EXPECT_EQ(streamDecode(stream, 5, 1, &log, &picture), 0);
    EXPECT_TRUE(log.entries.empty());
    EXPECT_EQ(pixelsOf(picture), decodeToBytes(stream));
    zrFree(&picture);
}

TEST(ZrDecodeStream, HookEndsTheStreamLikeATruncation)
{
    ToolStream params;
    params.height = 200;
    params.width = 120;
    std::vector<uint8_t> stream = makeToolStream(params);
    PartialLog log;
    log.stopAfter = 2;
    ZrPicture picture;
    ChunkReader reader;
    ASSERT_EQ(streamDecode(stream, 1, 1, &log, &picture, &reader), 0);
    ASSERT_EQ(log.entries.size(), 2u);
    int32_t stop = log.entries.back().position;
    EXPECT_EQ(reader.calls, stop); // nothing read after the hook said stop
    std::vector<uint8_t> prefix(stream.begin(), stream.begin() + stop);
    EXPECT_EQ(pixelsOf(picture), decodeToBytes(prefix));
    EXPECT_EQ(picture.height, 200);
    zrFree(&picture);
}

TEST(ZrDecodeStream, RefusalAndSilentSource)
{
    std::vector<uint8_t> none;
    ZrPicture picture;
    PartialLog log;
    EXPECT_EQ(streamDecode(none, 4, 1, &log, &picture), 1);
    EXPECT_EQ(picture.pixels, nullptr);
    EXPECT_TRUE(log.entries.empty());

    ZrStream stream{};
    EXPECT_EQ(zrDecodeStream(&stream, nullptr, &picture), ZR_STATUS_BAD_ARGUMENT);
}

TEST(ZrArguments, NullArgumentsAreRefused)
{
    std::vector<uint8_t> bytes = makeHeader(HeaderFields{});
    ZrPicture picture;
    picture.pixels = bytes.data(); // must be cleared
    EXPECT_EQ(zrDecode(nullptr, 10, nullptr, &picture), ZR_STATUS_BAD_ARGUMENT);
    EXPECT_EQ(picture.pixels, nullptr);
    EXPECT_EQ(zrDecode(bytes.data(), bytes.size(), nullptr, nullptr), ZR_STATUS_BAD_ARGUMENT);
    EXPECT_EQ(zrInfo(nullptr, 10, &picture), ZR_STATUS_BAD_ARGUMENT);
    EXPECT_EQ(zrInfo(bytes.data(), bytes.size(), nullptr), ZR_STATUS_BAD_ARGUMENT);
    EXPECT_EQ(zrDecodeStream(nullptr, nullptr, &picture), ZR_STATUS_BAD_ARGUMENT);
    ChunkReader reader{&bytes};
    ZrStream stream{};
    stream.read = readChunk;
    stream.readContext = &reader;
    EXPECT_EQ(zrDecodeStream(&stream, nullptr, nullptr), ZR_STATUS_BAD_ARGUMENT);
    EXPECT_EQ(reader.calls, 0);
    zrFree(nullptr);
    EXPECT_STREQ(zrStatusText(ZR_STATUS_BAD_ARGUMENT), "bad argument");
    EXPECT_STREQ(zrStatusText(ZR_STATUS_FINISHED), "decode finished");
    EXPECT_STREQ(zrStatusText(ZR_STATUS_NEED_MORE_DATA), "more data needed");
}

// Both entry points under one request; the pixels must be null when refused.
int32_t decodeBothWays(const std::vector<uint8_t>& bytes, const ZrRequest& request)
{
    ZrPicture picture;
    int32_t status = zrDecode(bytes.data(), bytes.size(), &request, &picture);
    EXPECT_EQ(picture.pixels != nullptr, status == 0);
    zrFree(&picture);
    ChunkReader reader{&bytes};
    reader.chunk = 4096;
    ZrStream stream{};
    stream.read = readChunk;
    stream.readContext = &reader;
    EXPECT_EQ(zrDecodeStream(&stream, &request, &picture), status);
    EXPECT_EQ(picture.pixels != nullptr, status == 0);
    zrFree(&picture);
    return status;
}

TEST(ZrLimits, LargeHeadersAreRefusedBeforeAllocating)
{
    // The default bound holds on any machine.
    HeaderFields h;
    h.colour = true;
    h.height = 65535;
    h.width = 65535;
    std::vector<uint8_t> huge = makeHeader(h);
    EXPECT_EQ(decodeBothWays(huge, ZrRequest{}), ZR_STATUS_OUT_OF_MEMORY);
    ZrPicture picture;
    EXPECT_EQ(zrInfo(huge.data(), huge.size(), &picture), ZR_STATUS_OUT_OF_MEMORY);
    EXPECT_EQ(picture.height, 65535);

    // A small bound refuses pictures that the default takes.
    h.height = 700;
    h.width = 500;
    std::vector<uint8_t> large = makeHeader(h);
    ZrRequest small{};
    small.maxMemory = 1 << 20;
    EXPECT_EQ(decodeBothWays(large, small), ZR_STATUS_OUT_OF_MEMORY);
    EXPECT_EQ(decodeBothWays(large, ZrRequest{}), ZR_STATUS_OK);
    // Low-memory decoding needs less, but not that little.
    small.lowMemory = 1;
    EXPECT_EQ(decodeBothWays(large, small), ZR_STATUS_OUT_OF_MEMORY);

    ZrRequest pixels{};
    pixels.maxPixels = 700 * 500 - 1;
    EXPECT_EQ(decodeBothWays(large, pixels), ZR_STATUS_OUT_OF_MEMORY);
    pixels.maxPixels = 700 * 500;
    EXPECT_EQ(decodeBothWays(large, pixels), ZR_STATUS_OK);
}

TEST(ZrLimits, ContextModelOutgrowingTheBoundEndsTheDecode)
{
    // Noise at the finest step: the order-1 model of the value coder meets
    // most pairs of magnitude symbols and grows far beyond the picture.
    const int32_t side = 256;
    PictureSamples noise{side, side, 1, 8, std::vector<uint16_t>(size_t(side) * side)};
    std::mt19937 random(11);
    for (uint16_t& sample : noise.samples)
        sample = uint16_t(random() & 255);
    EncoderPicture picture = noise.view();
    EncoderParams params;
    params.decodeMode = 1;
    params.mapCoder = 0;
    params.valueCoder = 0;
    params.quantStep = 1;
    std::vector<uint8_t> noisy;
    std::string error;
    ASSERT_TRUE(encodePicture(picture, params, &noisy, nullptr, &error)) << error;

    DecodeSession session{};
    session.height = side;
    session.width = side;
    session.components = 1;
    session.bitsPerSample = 8;
    ZrRequest tight{};
    tight.maxMemory = pictureMemoryBytes(&session) + 64 * 1024;
    std::vector<uint8_t> header(noisy.begin(), noisy.begin() + 12);
    EXPECT_EQ(decodeBothWays(header, tight), ZR_STATUS_OK); // the picture alone fits
    EXPECT_EQ(decodeBothWays(noisy, ZrRequest{}), ZR_STATUS_OK);
    EXPECT_EQ(decodeBothWays(noisy, tight), ZR_STATUS_OUT_OF_MEMORY);
    // The process goes on decoding.
    EXPECT_EQ(decodeBothWays(noisy, ZrRequest{}), ZR_STATUS_OK);
}

} // namespace
