// The committed sample streams decode through the public interface, whole
// or piece by piece, cut short or not.
#include "codec/zr.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "codec/core/geometry.h"

namespace {

std::vector<uint8_t> sample(const char* name)
{
    std::ifstream in(std::string(ZR_SOURCE_DIR) + "/samples/" + name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<uint8_t> decode(const uint8_t* data, size_t size, const ZrRequest* request = nullptr)
{
    ZrPicture picture;
    EXPECT_EQ(zrDecode(data, size, request, &picture), 0);
    std::vector<uint8_t> pixels;
    if (picture.pixels)
        pixels.assign(picture.pixels, picture.pixels + size_t(picture.height) * picture.width * picture.bytesPerPixel);
    zrFree(&picture);
    return pixels;
}

double psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b)
{
    EXPECT_EQ(a.size(), b.size());
    double total = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); i++)
        total += (double(a[i]) - b[i]) * (double(a[i]) - b[i]);
    return total == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 * double(a.size()) / total);
}

struct Sample {
    const char* name;
    int32_t channels;
};
const Sample kSamples[] = {{"camera-one-pass.zr", 1}, {"astronaut-progressive.zr", 3}};

TEST(Samples, DecodeWholeAndCutShort)
{
    for (const Sample& s : kSamples) {
        std::vector<uint8_t> stream = sample(s.name);
        ASSERT_FALSE(stream.empty()) << s.name;
        ZrPicture picture;
        ASSERT_EQ(zrDecode(stream.data(), stream.size(), nullptr, &picture), 0) << s.name;
        EXPECT_EQ(picture.height, 256);
        EXPECT_EQ(picture.width, 256);
        EXPECT_EQ(picture.channels, s.channels);
        zrFree(&picture);
        std::vector<uint8_t> full = decode(stream.data(), stream.size());

        // Ten cuts, shortest first: each is a whole picture, and more bytes
        // never bring it further from the full decode.
        std::mt19937 random(11);
        std::vector<size_t> cuts;
        for (int i = 0; i < 10; i++)
            cuts.push_back(random() % stream.size());
        std::sort(cuts.begin(), cuts.end());
        double previous = 0;
        for (size_t cut : cuts) {
            std::vector<uint8_t> part = decode(stream.data(), cut);
            ASSERT_EQ(part.size(), full.size()) << s.name << " cut at " << cut;
            double quality = psnr(full, part);
            EXPECT_GE(quality + 0.01, previous) << s.name << " cut at " << cut;
            previous = quality;
        }
    }
}

TEST(Samples, RequestsGiveCloseVariants)
{
    for (const Sample& s : kSamples) {
        std::vector<uint8_t> stream = sample(s.name);
        std::vector<uint8_t> full = decode(stream.data(), stream.size());
        ZrRequest half{}, sharpen{}, exact{};
        half.lowMemory = 1;
        sharpen.sharpen = 1;
        exact.exactSteps = 1;
        // Low-memory decoding rounds differently at the last level and skips
        // the finest chroma detail of colour streams.
        EXPECT_GT(psnr(full, decode(stream.data(), stream.size(), &half)), 35.0) << s.name;
        double sharpened = psnr(full, decode(stream.data(), stream.size(), &sharpen));
        EXPECT_GT(sharpened, 20.0) << s.name;
        EXPECT_LT(sharpened, 99.0) << s.name;
        EXPECT_GT(psnr(full, decode(stream.data(), stream.size(), &exact)), 30.0) << s.name;
    }
}

struct Arrival {
    const std::vector<uint8_t>* bytes;
    size_t offset = 0;
    std::vector<int32_t> partHeights;
};

int32_t arrive(void* context, uint8_t* data, int32_t size)
{
    Arrival* a = static_cast<Arrival*>(context);
    size_t n = std::min(size_t(size < 1000 ? size : 1000), a->bytes->size() - a->offset);
    if (n > 0)
        std::memcpy(data, a->bytes->data() + a->offset, n);
    a->offset += n;
    return int32_t(n);
}

int32_t notePartial(void* context, const ZrPartial* partial)
{
    static_cast<Arrival*>(context)->partHeights.push_back(partial->partHeight);
    return 0;
}

TEST(Samples, ProgressiveSampleShowsEveryLevelOnTheWay)
{
    std::vector<uint8_t> stream = sample("astronaut-progressive.zr");
    Arrival arrival;
    arrival.bytes = &stream;
    ZrStream source{arrive, &arrival, 256, notePartial, &arrival};
    ZrPicture picture;
    ASSERT_EQ(zrDecodeStream(&source, nullptr, &picture), 0);
    std::vector<uint8_t> pixels(picture.pixels, picture.pixels + 256 * 256 * 3);
    zrFree(&picture);
    EXPECT_EQ(pixels, decode(stream.data(), stream.size()));
    // 256 x 256 has 6 levels; the lowest band is read before the first partial.
    std::vector<int32_t> seen;
    for (int32_t h : arrival.partHeights)
        if (seen.empty() || seen.back() != h)
            seen.push_back(h);
    std::vector<int32_t> levels;
    for (int32_t L = levelCount(256, 256) - 1; L >= 0; L--)
        levels.push_back(levelSize(256, L));
    EXPECT_EQ(seen, std::vector<int32_t>(levels.end() - seen.size(), levels.end()));
    EXPECT_EQ(seen.back(), 256);
    EXPECT_GE(seen.size(), 3u);
}

} // namespace
