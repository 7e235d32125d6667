#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "codec/encoder/encoder.h"
#include "codec/encoder/picture_samples.h"

namespace {

// Noise over the whole range, the extremes included: every sample must come
// back from the prepared planes exactly.
PictureSamples noise(int32_t height, int32_t width, int32_t components, int32_t bits, uint32_t seed)
{
    PictureSamples p;
    p.height = height;
    p.width = width;
    p.components = components;
    p.bitsPerSample = bits;
    p.samples.resize(static_cast<size_t>(height) * width * components);
    std::mt19937 random(seed);
    uint32_t top = (1u << bits) - 1;
    for (uint16_t& s : p.samples) {
        uint32_t pick = random() % 8;
        s = static_cast<uint16_t>(pick == 0 ? 0 : pick == 1 ? top : random() % (top + 1));
    }
    return p;
}

TEST(RestorePicture, GivesBackEverySampleOfThePreparedPicture)
{
    struct Case {
        int32_t height, width, components, bits, threads;
    };
    for (Case k : {Case{6, 6, 3, 8, 1}, Case{37, 53, 3, 8, 2}, Case{130, 67, 3, 8, 1}, Case{64, 96, 1, 8, 2},
                   Case{45, 31, 1, 12, 1}, Case{70, 129, 1, 16, 2}}) {
        SCOPED_TRACE(std::to_string(k.height) + " x " + std::to_string(k.width) + " x " + std::to_string(k.components)
                     + ", " + std::to_string(k.bits) + " bits");
        PictureSamples picture = noise(k.height, k.width, k.components, k.bits, static_cast<uint32_t>(k.width));
        EncoderParams params;
        params.threads = k.threads;
        PreparedPicture prepared;
        std::string error;
        ASSERT_TRUE(preparePicture(picture.view(), params, &prepared, &error)) << error;
        std::vector<uint16_t> samples;
        EncoderPicture rebuilt;
        ASSERT_TRUE(restorePicture(prepared, &samples, &rebuilt));
        EXPECT_EQ(rebuilt.height, k.height);
        EXPECT_EQ(rebuilt.width, k.width);
        EXPECT_EQ(rebuilt.components, k.components);
        EXPECT_EQ(rebuilt.bitsPerSample, k.bits);
        EXPECT_EQ(rebuilt.samples, samples.data());
        EXPECT_TRUE(samples == picture.samples);
    }
}

TEST(RestorePicture, RefusesPicturesPreparedForSharpening)
{
    PictureSamples picture = noise(32, 32, 1, 8, 3);
    EncoderParams params;
    params.sharpenCompensation = 1;
    params.decodeMode = 1;
    PreparedPicture prepared;
    std::string error;
    ASSERT_TRUE(preparePicture(picture.view(), params, &prepared, &error)) << error;
    std::vector<uint16_t> samples;
    EncoderPicture rebuilt;
    EXPECT_FALSE(restorePicture(prepared, &samples, &rebuilt));
}

} // namespace
