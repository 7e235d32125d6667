// Decoding with a reconstruction thread gives the single-thread decode's
// bytes: final pictures and partial pictures, for every mode and coder, low
// memory, sharpening, the fine quantiser, cut and damaged streams.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "codec/encoder/encoder.h"
#include "codec/zr.h"
#include "tests/support/test_pictures.h"

namespace {

struct Frame {
    int32_t position, partHeight, partWidth;
    std::vector<uint8_t> pixels;
    bool operator==(const Frame&) const = default;
};

struct Decoded {
    int32_t status = -1;
    std::vector<uint8_t> pixels;
    std::vector<Frame> frames;
    bool operator==(const Decoded&) const = default;
};

struct Feed {
    const std::vector<uint8_t>* bytes;
    size_t offset;
    std::vector<Frame>* frames;
};

int32_t readFeed(void* context, uint8_t* data, int32_t size)
{
    Feed* feed = static_cast<Feed*>(context);
    size_t n = std::min(feed->bytes->size() - feed->offset, size_t(size));
    if (n > 0)
        std::memcpy(data, feed->bytes->data() + feed->offset, n);
    feed->offset += n;
    return int32_t(n);
}

int32_t keepFrame(void* context, const ZrPartial* p)
{
    Feed* feed = static_cast<Feed*>(context);
    Frame frame{p->position, p->partHeight, p->partWidth, {}};
    frame.pixels.assign(p->pixels, p->pixels + size_t(p->partHeight) * p->partWidth * p->bytesPerPixel);
    feed->frames->push_back(std::move(frame));
    return 0;
}

void keepPicture(Decoded* out, int32_t status, ZrPicture* picture)
{
    out->status = status;
    if (picture->pixels)
        out->pixels.assign(picture->pixels,
                           picture->pixels + size_t(picture->height) * picture->width * picture->bytesPerPixel);
    zrFree(picture);
}

// interval 0: zrDecode on the whole block; else zrDecodeStream with partial
// pictures every `interval` bytes.
Decoded decode(const std::vector<uint8_t>& bytes, ZrRequest request, uint32_t threads, int32_t interval)
{
    request.threads = threads;
    Decoded out;
    ZrPicture picture;
    if (interval == 0) {
        keepPicture(&out, zrDecode(bytes.data(), bytes.size(), &request, &picture), &picture);
        return out;
    }
    Feed feed{&bytes, 0, &out.frames};
    ZrStream stream{};
    stream.read = readFeed;
    stream.readContext = &feed;
    stream.partialInterval = interval;
    stream.partial = keepFrame;
    stream.partialContext = &feed;
    keepPicture(&out, zrDecodeStream(&stream, &request, &picture), &picture);
    return out;
}

void expectSameForEveryThreadCount(const std::vector<uint8_t>& bytes, const ZrRequest& request, int32_t interval,
                                   const std::string& what)
{
    const Decoded one = decode(bytes, request, 1, interval);
    // The test pictures are small: the second thread is forced on, and a
    // plain request, which leaves them on one thread, is checked as well.
    for (uint32_t threads : {2u, 2u | ZR_THREADS_ALWAYS, 4u | ZR_THREADS_ALWAYS}) {
        const Decoded many = decode(bytes, request, threads, interval);
        EXPECT_EQ(many.status, one.status) << what << ", " << threads << " threads";
        EXPECT_TRUE(many.pixels == one.pixels) << what << ", " << threads << " threads: pixels differ";
        ASSERT_EQ(many.frames.size(), one.frames.size()) << what << ", " << threads << " threads";
        for (size_t i = 0; i < one.frames.size(); i++)
            EXPECT_TRUE(many.frames[i] == one.frames[i])
                << what << ", " << threads << " threads: partial picture " << i << " differs";
    }
}

std::vector<uint8_t> encode(const PictureSamples& picture, const EncoderParams& params)
{
    std::vector<uint8_t> bytes;
    std::string error;
    EncodeStats stats;
    EXPECT_TRUE(encodePicture(picture.view(), params, &bytes, &stats, &error)) << error;
    return bytes;
}

ZrRequest requestFor(int32_t variant)
{
    ZrRequest request{};
    request.lowMemory = variant == 1;
    request.sharpen = variant == 2;
    request.exactSteps = variant == 3;
    return request;
}

const char* const kVariants[] = {"plain", "low memory", "sharpened", "exact steps"};

TEST(ThreadedDecode, EveryModeAndCoderGivesTheSameBytes)
{
    const PictureSamples grey = makeTestPicture(61, 83, 1, 8, 5);
    const PictureSamples colour = makeTestPicture(57, 74, 3, 8, 6);
    for (int32_t mode : {0, 1})
        for (int32_t map = 0; map < 4; map++)
            for (int32_t value = 0; value < 4; value++)
                for (const PictureSamples* picture : {&grey, &colour}) {
                    EncoderParams params;
                    params.decodeMode = mode;
                    params.mapCoder = map;
                    params.valueCoder = value;
                    params.quantStep = 3;
                    if (!checkEncoderParams(picture->view(), params).empty())
                        continue;
                    const std::vector<uint8_t> bytes = encode(*picture, params);
                    const std::string name = "mode " + std::to_string(mode) + " map " + std::to_string(map) +
                                             " value " + std::to_string(value) +
                                             (picture == &grey ? " grey" : " colour");
                    for (int32_t variant = 0; variant < 4; variant++)
                        expectSameForEveryThreadCount(bytes, requestFor(variant), 0,
                                                      name + ", " + kVariants[variant]);
                    // Partial pictures wait for the reconstruction to catch up.
                    expectSameForEveryThreadCount(bytes, requestFor(0), int32_t(bytes.size() / 9) + 1,
                                                  name + ", partial pictures");
                    expectSameForEveryThreadCount(bytes, requestFor(1), int32_t(bytes.size() / 7) + 1,
                                                  name + ", low-memory partial pictures");
                }
}

TEST(ThreadedDecode, FineQuantiserSharpenMarkAndDeepGrey)
{
    const PictureSamples colour = makeTestPicture(70, 66, 3, 8, 7);
    const PictureSamples deep = makeTestPicture(64, 58, 1, 12, 8);
    for (int32_t mode : {0, 1}) {
        EncoderParams params;
        params.decodeMode = mode;
        params.mapCoder = 1;
        params.valueCoder = 1;
        params.fineSteps = 3;
        params.magnitudeBoost = 2;
        params.sharpenCompensation = 1;
        for (const PictureSamples* picture : {&colour, &deep}) {
            const std::vector<uint8_t> bytes = encode(*picture, params);
            for (int32_t variant = 0; variant < 4; variant++)
                expectSameForEveryThreadCount(bytes, requestFor(variant), 0,
                                              "mode " + std::to_string(mode) + ", " + kVariants[variant]);
            expectSameForEveryThreadCount(bytes, requestFor(2), 97, "sharpened partial pictures");
        }
    }
}

// Larger than the queue, so that the decoding thread waits for free blocks.
TEST(ThreadedDecode, PictureLargerThanTheQueue)
{
    const PictureSamples colour = makeTestPicture(300, 410, 3, 8, 9);
    for (int32_t mode : {0, 1}) {
        EncoderParams params;
        params.decodeMode = mode;
        params.mapCoder = 1;
        params.valueCoder = 0;
        params.quantStep = 1;
        const std::vector<uint8_t> bytes = encode(colour, params);
        expectSameForEveryThreadCount(bytes, requestFor(0), 0, "mode " + std::to_string(mode));
        expectSameForEveryThreadCount(bytes, requestFor(1), 0, "low memory, mode " + std::to_string(mode));
        expectSameForEveryThreadCount(bytes, requestFor(0), int32_t(bytes.size() / 5),
                                      "partial pictures, mode " + std::to_string(mode));
    }
}

// Bands of 16384 positions or more (grey) or 8192 (colour) are listed ahead
// by the worker, and the decoding thread queues the context model's symbols
// for it to make the values: every value coder, both quantisers (colour
// takes one per value coder, in turn), exact steps, partial pictures, a cut
// and a damaged stream.
TEST(ThreadedDecode, ListedBandsGiveTheSameBytes)
{
    // Level-1 bands of 130 x 140 positions are listed too.
    const PictureSamples grey = makeTestPicture(520, 560, 1, 8, 12);
    const PictureSamples colour = makeTestPicture(520, 560, 3, 8, 13);
    for (int32_t value = 0; value < 4; value++)
        for (bool fine : {false, true})
            for (const PictureSamples* picture : {&grey, &colour}) {
                if (picture == &colour && fine != (value % 2 == 1))
                    continue;
                EncoderParams params;
                params.decodeMode = 1;
                params.mapCoder = 1;
                params.valueCoder = value;
                params.quantStep = 4;
                params.fineSteps = fine ? 3 : 0;
                params.magnitudeBoost = fine ? 2 : 0;
                const std::vector<uint8_t> bytes = encode(*picture, params);
                const std::string name = std::string(picture == &grey ? "grey " : "colour ") + "value "
                                         + std::to_string(value) + (fine ? " fine" : "");
                expectSameForEveryThreadCount(bytes, requestFor(0), 0, name);
                expectSameForEveryThreadCount(bytes, requestFor(3), 0, name + ", exact steps");
                expectSameForEveryThreadCount(bytes, requestFor(0), int32_t(bytes.size() / 4),
                                              name + ", partial pictures");
                std::vector<uint8_t> damaged(bytes.begin(), bytes.begin() + long(bytes.size() * 9 / 10));
                for (size_t i = bytes.size() / 2; i < damaged.size(); i += 997)
                    damaged[i] = uint8_t(damaged[i] ^ 0x3c);
                expectSameForEveryThreadCount(damaged, requestFor(0), 0, name + ", cut and damaged");
            }
}

TEST(ThreadedDecode, CutAndDamagedStreams)
{
    const PictureSamples colour = makeTestPicture(53, 71, 3, 8, 10);
    for (int32_t mode : {0, 1})
        for (int32_t value : {0, 1, 2}) {
            EncoderParams params;
            params.decodeMode = mode;
            params.mapCoder = mode == 0 ? 2 : 1;
            params.valueCoder = value;
            params.quantStep = 2;
            const std::vector<uint8_t> bytes = encode(colour, params);
            const std::string name = "mode " + std::to_string(mode) + " value " + std::to_string(value);
            for (size_t cut : {size_t(40), bytes.size() / 3, bytes.size() * 4 / 5}) {
                std::vector<uint8_t> part(bytes.begin(), bytes.begin() + long(cut));
                expectSameForEveryThreadCount(part, requestFor(0), 0, name + " cut at " + std::to_string(cut));
                expectSameForEveryThreadCount(part, requestFor(0), 31, name + " cut, partial pictures");
            }
            for (uint32_t seed = 1; seed <= 6; seed++) {
                std::vector<uint8_t> damaged = bytes;
                for (size_t i = 30 + seed * 7; i < damaged.size(); i += damaged.size() / 5 + seed)
                    damaged[i] = uint8_t(damaged[i] ^ (0x5a + seed));
                expectSameForEveryThreadCount(damaged, requestFor(seed % 2), 0,
                                              name + " damaged, seed " + std::to_string(seed));
            }
        }
}

// The final picture is rendered in two parts, one on each thread.
TEST(ThreadedDecode, EveryToneRuleAndHeightRendersTheSameBytes)
{
    for (int32_t height : {6, 7, 65})
        for (int32_t kind = 0; kind < 3; kind++) {
            const PictureSamples picture =
                makeTestPicture(height, 37, kind == 1 ? 3 : 1, kind == 2 ? 12 : 8, uint32_t(height + kind));
            for (int32_t stretch : {0, 3}) {
                EncoderParams params;
                params.decodeMode = 0;
                params.contrastStretch = stretch;
                const std::vector<uint8_t> bytes = encode(picture, params);
                expectSameForEveryThreadCount(bytes, requestFor(0), 0,
                                              "height " + std::to_string(height) + " kind " +
                                                  std::to_string(kind) + " stretch " + std::to_string(stretch));
            }
        }
}

TEST(ThreadedDecode, IncrementalDecoderWithThreadsMatches)
{
    const PictureSamples colour = makeTestPicture(48, 60, 3, 8, 11);
    EncoderParams params;
    params.decodeMode = 1;
    params.mapCoder = 1;
    params.valueCoder = 0;
    const std::vector<uint8_t> bytes = encode(colour, params);
    const Decoded want = decode(bytes, requestFor(0), 1, 53);

    ZrRequest request{};
    request.threads = 2 | ZR_THREADS_ALWAYS;
    Decoded got;
    Feed feed{&bytes, 0, &got.frames};
    ZrIncremental* decoder = zrIncrementalNew(&request, 53, keepFrame, &feed);
    ASSERT_NE(decoder, nullptr);
    for (size_t offset = 0; offset < bytes.size(); offset += 100)
        zrIncrementalAppend(decoder, bytes.data() + offset, std::min<size_t>(100, bytes.size() - offset));
    ZrPicture picture;
    keepPicture(&got, zrIncrementalFinish(decoder, &picture), &picture);
    zrIncrementalFree(decoder);
    EXPECT_TRUE(got == want);
}

} // namespace
