// Replays the committed seeds of the decode fuzz targets through the entry
// points, so that every test run (and the sanitizer build) covers them.
#include "codec/decoder/decoder.h"
#include "fuzz/fuzz_input.h"
#include "tests/support/alloc_limit.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct Seed {
    std::string name;
    std::vector<uint8_t> bytes; // settings byte, then the stream
};

std::vector<Seed> decodeSeeds()
{
    std::vector<Seed> seeds;
    std::filesystem::path dir = std::filesystem::path(ZR_SOURCE_DIR) / "fuzz/corpus/fuzz_decode";
    if (!std::filesystem::is_directory(dir))
        return seeds;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        std::ifstream in(entry.path(), std::ios::binary);
        Seed seed{entry.path().filename().string(),
                  std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>())};
        if (!seed.bytes.empty())
            seeds.push_back(std::move(seed));
    }
    return seeds;
}

// Hands out the stream a byte at a time and asks for a partial picture every
// `interval` bytes, as the server's byte source does.
struct Trickle {
    const uint8_t* data;
    int32_t size;
    int32_t position;
    int32_t interval;
    FrameInfo* frame;
    int32_t partials;

    static int32_t next(void* context, uint32_t* slot)
    {
        Trickle* t = static_cast<Trickle*>(context);
        if (t->position % t->interval == t->interval - 1 && decodeContinue(t->frame) == 0)
            t->partials++;
        if (t->position >= t->size)
            return 1;
        *slot = t->data[t->position++];
        return 0;
    }
};

uint64_t pictureBytes(const FrameInfo& frame)
{
    uint64_t perPixel = frame.isColour ? 3 : (frame.bitsPerPixel > 8 ? 2 : 1);
    return static_cast<uint64_t>(frame.width) * static_cast<uint64_t>(frame.height) * perPixel;
}

TEST(FuzzCorpus, EverySeedDecodesAsItsNameSays)
{
    std::vector<Seed> seeds = decodeSeeds();
    ASSERT_GE(seeds.size(), 30u) << "fuzz/corpus/fuzz_decode is missing";
    ScopedAllocLimit limit(kTestAllocLimit);
    for (const Seed& seed : seeds) {
        SCOPED_TRACE(seed.name);
        StreamSource source{seed.bytes.data() + 1, static_cast<int32_t>(seed.bytes.size() - 1), 0, 0};
        DecodeOptions options = decodeOptionsFrom(seed.bytes[0]);
        FrameInfo frame{};
        int32_t status = decodeStart(&source, &options, &frame);
        int32_t expected = seed.name == "huge-refused" ? 8 : (seed.name == "too-small" ? 3 : 0);
        EXPECT_EQ(status, expected);
        EXPECT_EQ(frame.pixels != nullptr, status == 0);
        decodeFree(&frame);
    }
}

// Partial pictures render into the pixel block while the decode runs; the
// final picture must not keep any trace of them.
TEST(FuzzCorpus, PartialPicturesLeaveTheFinalPictureAlone)
{
    int32_t withPartials = 0;
    for (const Seed& seed : decodeSeeds()) {
        bool progressive = seed.name.rfind("progressive-", 0) == 0;
        if (!progressive && seed.name.rfind("onepass-", 0) != 0 && seed.name.rfind("sample-", 0) != 0)
            continue;
        SCOPED_TRACE(seed.name);
        const uint8_t* stream = seed.bytes.data() + 1;
        int32_t size = static_cast<int32_t>(seed.bytes.size() - 1);

        StreamSource whole{stream, size, 0, 0};
        DecodeOptions options = decodeOptionsFrom(seed.bytes[0]);
        FrameInfo reference{};
        ASSERT_EQ(decodeStart(&whole, &options, &reference), 0);

        FrameInfo frame{};
        Trickle trickle{stream, size, 0, 7, &frame, 0};
        StreamSource none{nullptr, 0, 0, 0};
        DecodeOptions streaming = decodeOptionsFrom(seed.bytes[0]);
        streaming.byteSource = Trickle::next;
        streaming.sourceContext = &trickle;
        ASSERT_EQ(decodeStart(&none, &streaming, &frame), 0);
        ASSERT_EQ(frame.width, reference.width);
        ASSERT_EQ(frame.height, reference.height);
        EXPECT_EQ(std::memcmp(frame.pixels, reference.pixels, pictureBytes(frame)), 0);
        // Progressive streams with detail offer partial pictures between levels.
        if (progressive && seed.name.rfind("progressive-m3", 0) != 0) {
            EXPECT_GT(trickle.partials, 0);
            withPartials++;
        }
        decodeFree(&frame);
        decodeFree(&reference);
    }
    EXPECT_GE(withPartials, 15);
}

} // namespace
