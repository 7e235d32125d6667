#include <gtest/gtest.h>

#include <random>
#include <string>

#include "codec/core/geometry.h"
#include "codec/encoder/encoder.h"
#include "codec/encoder/forward_transform.h"
#include "tests/support/test_pictures.h"

namespace {

double dot(const CoefficientPlane& a, const CoefficientPlane& b)
{
    double sum = 0.0;
    for (size_t i = 0; i < a.samples.size(); i++)
        sum += static_cast<double>(a.samples[i]) * b.samples[i];
    return sum;
}

// <S a, b> = <a, S' b> for the synthesis S and its transpose, odd and even sizes.
TEST(AdjointSynthesis, IsTheTransposeOfTheInverseTransform)
{
    std::mt19937 random(7);
    std::uniform_real_distribution<float> value(-100.0f, 100.0f);
    for (auto [H, W] : {std::pair{13, 10}, std::pair{16, 9}, std::pair{6, 6}, std::pair{40, 33}}) {
        int32_t levels = levelCount(H, W);
        CoefficientPlane a{H, W, {}}, b{H, W, {}};
        for (int32_t i = 0; i < H * W; i++) {
            a.samples.push_back(value(random));
            b.samples.push_back(value(random));
        }
        CoefficientPlane Sa = a, Stb = b;
        inverseTransform(&Sa, levels);
        adjointInverseTransform(&Stb, levels);
        double left = dot(Sa, b), right = dot(a, Stb);
        EXPECT_NEAR(left, right, 1e-4 * (std::fabs(left) + 1.0)) << H << "x" << W;
    }
}

// Fitting the values to the synthesis keeps the decoded error at a coarse
// step (it gains at matched sizes), and the streams still decode, for every
// mode and coder.
TEST(SynthesisRefinement, LowersTheDecodedErrorAndStreamsStillDecode)
{
    for (int32_t components : {1, 3}) {
        PictureSamples picture = makeTestPicture(72, 88, components, 8, 11);
        for (int32_t mode = 0; mode < 2; mode++) {
            for (int32_t map = 0; map < 4; map++) {
                for (int32_t value = 0; value < 4; value++) {
                    if (mode == 1 && map == 2 && value == 0)
                        continue;
                    SCOPED_TRACE("components " + std::to_string(components) + " mode " + std::to_string(mode)
                                 + " map " + std::to_string(map) + " value " + std::to_string(value));
                    EncoderParams p;
                    p.decodeMode = mode;
                    p.mapCoder = map;
                    p.valueCoder = value;
                    p.quantStep = 24;
                    std::vector<uint8_t> plain, fitted;
                    std::string error;
                    ASSERT_TRUE(encodePicture(picture.view(), p, &plain, nullptr, &error)) << error;
                    p.synthesisRounds = 3;
                    ASSERT_TRUE(encodePicture(picture.view(), p, &fitted, nullptr, &error)) << error;
                    DecodeResult before = decodeAndCompare(plain, picture);
                    DecodeResult after = decodeAndCompare(fitted, picture);
                    ASSERT_EQ(after.status, 0);
                    // At one step the values left out may change too, so the
                    // error may rise a little where the stream shrinks.
                    if (map != 3)
                        EXPECT_GT(after.psnr, before.psnr - 0.1);
                    else
                        EXPECT_EQ(plain, fitted);
                }
            }
        }
    }
    EncoderParams p;
    p.synthesisRounds = kMaxSynthesisRounds + 1;
    EXPECT_FALSE(checkEncoderParams(makeTestPicture(8, 8, 1, 8).view(), p).empty());
}

} // namespace
