#include <gtest/gtest.h>

#include <string>

#include "codec/encoder/encoder.h"
#include "codec/encoder/step_search.h"
#include "tests/support/test_pictures.h"

namespace {

std::vector<uint8_t> encode(const PictureSamples& picture, const EncoderParams& params)
{
    std::vector<uint8_t> stream;
    std::string error;
    EXPECT_TRUE(encodePicture(picture.view(), params, &stream, nullptr, &error)) << error;
    return stream;
}

EncoderParams combination(int32_t mode, int32_t map, int32_t value, int32_t step = 4)
{
    EncoderParams p;
    p.decodeMode = mode;
    p.mapCoder = map;
    p.valueCoder = value;
    p.quantStep = step;
    return p;
}

bool accepted(int32_t mode, int32_t map, int32_t value)
{
    return !(mode == 1 && map == 2 && value == 0);
}

// Progressive map coder 1 with value coders 1..3 codes every coefficient not
// known zero, and none of them reconstructs at 0.
bool codesEverything(int32_t mode, int32_t map, int32_t value)
{
    return mode == 1 && map == 1 && value != 0;
}

const PictureSamples& grey()
{
    static const PictureSamples p = makeTestPicture(70, 53, 1, 8);
    return p;
}

const PictureSamples& colour()
{
    static const PictureSamples p = makeTestPicture(48, 61, 3, 8, 7);
    return p;
}

TEST(RoundTrip, EveryCombinationDecodesClose)
{
    for (int32_t mode = 0; mode < 2; mode++) {
        for (int32_t map = 0; map < 3; map++) {
            for (int32_t value = 0; value < 4; value++) {
                if (!accepted(mode, map, value))
                    continue;
                for (const PictureSamples* picture : {&grey(), &colour()}) {
                    DecodeResult r = decodeAndCompare(encode(*picture, combination(mode, map, value)), *picture);
                    SCOPED_TRACE("mode " + std::to_string(mode) + " map " + std::to_string(map) + " value "
                                 + std::to_string(value) + " components " + std::to_string(picture->components));
                    ASSERT_EQ(r.status, 0);
                    double floor = picture->components == 1 ? 43.0 : 40.0;
                    if (codesEverything(mode, map, value))
                        floor = picture->components == 1 ? 42.0 : 33.0;
                    EXPECT_GE(r.psnr, floor);
                }
            }
        }
    }
}

TEST(RoundTrip, FineStepsLetEveryCoefficientComeClose)
{
    // With fine steps of one unit even the coefficients that must be coded can be 0.
    for (int32_t value = 1; value < 4; value++) {
        EncoderParams p = combination(1, 1, value);
        p.fineSteps = 3;
        DecodeResult r = decodeAndCompare(encode(colour(), p), colour());
        ASSERT_EQ(r.status, 0);
        EXPECT_GE(r.psnr, 44.0) << "value coder " << value;
    }
}

TEST(RoundTrip, PsnrFallsAsTheStepGrows)
{
    const int32_t combos[][3] = {{0, 0, 0}, {0, 1, 1}, {0, 2, 2}, {0, 1, 3}, {1, 0, 0}, {1, 0, 1},
                                 {1, 1, 0}, {1, 2, 3}, {1, 1, 2}};
    for (const auto& c : combos) {
        for (const PictureSamples* picture : {&grey(), &colour()}) {
            double previous = 1e9;
            size_t previousSize = SIZE_MAX;
            for (int32_t step : {2, 4, 8, 16, 32}) {
                std::vector<uint8_t> stream = encode(*picture, combination(c[0], c[1], c[2], step));
                DecodeResult r = decodeAndCompare(stream, *picture);
                ASSERT_EQ(r.status, 0);
                EXPECT_LT(r.psnr, previous) << "combination " << c[0] << c[1] << c[2] << " step " << step;
                EXPECT_LT(stream.size(), previousSize);
                previous = r.psnr;
                previousSize = stream.size();
            }
        }
    }
}

TEST(RoundTrip, FineStepsAndBoost)
{
    for (int32_t mode = 0; mode < 2; mode++) {
        for (int32_t value = 0; value < 4; value++) {
            // A boost widens the steps of the two finest levels by boost / 8.
            for (auto [fine, boost] : {std::pair{2, 0}, std::pair{0, 1}, std::pair{3, 2}}) {
                EncoderParams p = combination(mode, mode == 1 && value == 0 ? 0 : 2, value);
                p.fineSteps = fine;
                p.magnitudeBoost = boost;
                for (const PictureSamples* picture : {&grey(), &colour()}) {
                    DecodeResult r = decodeAndCompare(encode(*picture, p), *picture);
                    ASSERT_EQ(r.status, 0);
                    EXPECT_GE(r.psnr, picture->components == 1 ? 43.0 : 40.0)
                        << "mode " << mode << " value " << value << " fine " << fine << " boost " << boost;
                }
            }
        }
    }
}

TEST(RoundTrip, LowMemoryDecodes)
{
    DecodeRequest half;
    half.halfSize = 1;
    for (int32_t mode = 0; mode < 2; mode++) {
        for (int32_t value = 0; value < 4; value++) {
            EncoderParams p = combination(mode, 0, value);
            DecodeResult r = decodeAndCompare(encode(grey(), p), grey(), half);
            ASSERT_EQ(r.status, 0);
            EXPECT_GE(r.psnr, 40.0) << "mode " << mode << " value " << value;
            // Progressive low-memory decodes skip the colour detail of level 0.
            r = decodeAndCompare(encode(colour(), p), colour(), half);
            ASSERT_EQ(r.status, 0);
            EXPECT_GE(r.psnr, mode == 0 ? 38.0 : 30.0) << "mode " << mode << " value " << value;
        }
    }
}

TEST(RoundTrip, SharpeningDecodersGetCompensatedStreams)
{
    DecodeRequest sharpen;
    sharpen.sharpen = 1;
    for (int32_t mode = 0; mode < 2; mode++) {
        for (const PictureSamples* picture : {&grey(), &colour()}) {
            EncoderParams p = combination(mode, 1, 0);
            double plain = decodeAndCompare(encode(*picture, p), *picture, sharpen).psnr;
            p.sharpenCompensation = 1;
            std::vector<uint8_t> stream = encode(*picture, p);
            DecodeResult r = decodeAndCompare(stream, *picture, sharpen);
            ASSERT_EQ(r.status, 0);
            EXPECT_GE(r.psnr, picture->components == 1 ? 42.0 : 38.0) << "mode " << mode;
            EXPECT_GT(r.psnr, plain + 2.0) << "mode " << mode;
            // Decoders that do not sharpen still get a whole, softer picture.
            EXPECT_EQ(decodeAndCompare(stream, *picture).status, 0);
        }
    }
}

TEST(RoundTrip, DeepGreySamples)
{
    for (int32_t bits : {10, 12, 16}) {
        PictureSamples picture = makeTestPicture(66, 71, 1, bits, 3);
        for (int32_t mode = 0; mode < 2; mode++) {
            // The step scales with the depth so that the quality stays comparable.
            EncoderParams p = combination(mode, 1, 1, 4 << (bits - 8));
            DecodeResult r = decodeAndCompare(encode(picture, p), picture);
            ASSERT_EQ(r.status, 0);
            EXPECT_GE(r.psnr, 43.0) << bits << " bits, mode " << mode;
            // A small step keeps almost every sample exact.
            p.quantStep = 1;
            r = decodeAndCompare(encode(picture, p), picture);
            EXPECT_GE(r.psnr, bits == 16 ? 80.0 : 60.0) << bits << " bits, mode " << mode;
        }
    }
}

TEST(RoundTrip, HeaderOnlyOptions)
{
    EncoderParams p = combination(1, 1, 0);
    p.hasTrailer = 1;
    p.extension1 = 255;
    p.extension2 = 1;
    p.extension3 = 7;
    double withTrailer = decodeAndCompare(encode(grey(), p), grey()).psnr;
    EXPECT_NEAR(withTrailer, decodeAndCompare(encode(grey(), combination(1, 1, 0)), grey()).psnr, 1e-9);
    // Stretched streams decode (the decoder changes the tones on purpose).
    p.contrastStretch = 2;
    EXPECT_EQ(decodeAndCompare(encode(grey(), p), grey()).status, 0);
    // Map coder 3 carries the lowest band only.
    for (int32_t mode = 0; mode < 2; mode++) {
        for (int32_t value = 0; value < 4; value++) {
            DecodeResult r = decodeAndCompare(encode(grey(), combination(mode, 3, value)), grey());
            ASSERT_EQ(r.status, 0);
            EXPECT_GT(r.psnr, 20.0);
            EXPECT_LT(r.psnr, 35.0);
        }
    }
}

TEST(RoundTrip, TruncatedStreamsLoseQualityGradually)
{
    for (const EncoderParams& p : {combination(0, 1, 0), combination(1, 0, 1), combination(1, 1, 0)}) {
        for (const PictureSamples* picture : {&grey(), &colour()}) {
            std::vector<uint8_t> stream = encode(*picture, p);
            double previous = decodeAndCompare(stream, *picture).psnr;
            const size_t header = 8;
            for (int32_t cut = 1; cut <= 10; cut++) {
                size_t keep = header + (stream.size() - header) * (10 - cut) / 10;
                std::vector<uint8_t> part(stream.begin(), stream.begin() + keep);
                DecodeResult r = decodeAndCompare(part, *picture);
                ASSERT_EQ(r.status, 0);
                EXPECT_LE(r.psnr, previous + 0.05) << "mode " << p.decodeMode << " cut " << cut;
                previous = r.psnr;
            }
        }
    }
}

TEST(StepSearch, FindsTheSmallestStepThatFits)
{
    PreparedPicture prepared;
    std::string error;
    EncoderParams p = combination(1, 1, 0);
    ASSERT_TRUE(preparePicture(colour().view(), p, &prepared, &error)) << error;
    std::vector<uint8_t> stream;
    int32_t step = 0;
    ASSERT_TRUE(encodeToSize(prepared, p, 1500, &stream, &step, nullptr, &error)) << error;
    EXPECT_LE(stream.size(), 1500u);
    std::vector<uint8_t> finer;
    p.quantStep = step - 1;
    ASSERT_TRUE(encodePrepared(prepared, p, &finer, nullptr, &error));
    EXPECT_GT(finer.size(), 1500u);
    EXPECT_FALSE(encodeToSize(prepared, p, 5, &stream, &step, nullptr, &error));
    EXPECT_NE(error.find("smallest stream"), std::string::npos);
}

TEST(EncoderParamsCheck, RefusesWhatDecodersRefuse)
{
    EncoderPicture picture = grey().view();
    EXPECT_EQ(checkEncoderParams(picture, combination(1, 2, 1)), "");
    EXPECT_NE(checkEncoderParams(picture, combination(1, 2, 0)), "");
    EXPECT_EQ(checkEncoderParams(picture, combination(0, 2, 0)), "");
    EncoderParams p = combination(0, 0, 0, 0);
    EXPECT_NE(checkEncoderParams(picture, p), "");
    p = combination(2, 0, 0);
    EXPECT_NE(checkEncoderParams(picture, p), "");
    EncoderPicture deepColour = colour().view();
    deepColour.bitsPerSample = 10;
    EXPECT_NE(checkEncoderParams(deepColour, combination(0, 0, 0)), "");
    EncoderPicture tiny = picture;
    tiny.height = 5;
    EXPECT_NE(checkEncoderParams(tiny, combination(0, 0, 0)), "");
    // 16-bit samples on a picture this large would overflow the decoder's planes.
    EncoderPicture large = picture;
    large.height = large.width = 5000;
    large.bitsPerSample = 16;
    EXPECT_NE(checkEncoderParams(large, combination(0, 0, 0)).find("overflow"), std::string::npos);
    large.bitsPerSample = 12;
    EXPECT_EQ(checkEncoderParams(large, combination(0, 0, 0)), "");
    std::vector<uint8_t> stream;
    std::string error;
    EXPECT_FALSE(encodePicture(picture, combination(1, 2, 0), &stream, nullptr, &error));
    EXPECT_NE(error.find("map coder 2"), std::string::npos);
}

TEST(RoundTrip, SmallestPictures)
{
    // 6 x 6 has no detail level; 10 x 10 has one.
    for (int32_t side : {6, 7, 10, 13}) {
        PictureSamples picture = makeTestPicture(side, side + 3, 3, 8, side);
        for (int32_t mode = 0; mode < 2; mode++) {
            DecodeResult r = decodeAndCompare(encode(picture, combination(mode, 1, 0, 2)), picture);
            ASSERT_EQ(r.status, 0) << side;
            EXPECT_GE(r.psnr, 38.0) << side << " mode " << mode;
        }
    }
}

} // namespace
