#include <gtest/gtest.h>

#include <string>

#include "codec/encoder/encode_settings.h"
#include "codec/encoder/encoder.h"
#include "tests/support/test_pictures.h"

namespace {

// Large enough that the transform splits its levels and the writers their
// components.
const PictureSamples& colour()
{
    static const PictureSamples p = makeTestPicture(260, 310, 3, 8, 11);
    return p;
}

const PictureSamples& grey()
{
    static const PictureSamples p = makeTestPicture(260, 256, 1, 8, 13);
    return p;
}

std::vector<uint8_t> encodeWith(const PictureSamples& picture, EncoderParams p, int32_t threads)
{
    p.threads = threads;
    std::vector<uint8_t> stream;
    std::string error;
    EXPECT_TRUE(encodePicture(picture.view(), p, &stream, nullptr, &error)) << error;
    return stream;
}

// Every mode and coder, and the options that change the planner's or the
// transform's work, write the same bytes on one, two and three threads.
TEST(EncoderThreads, EveryThreadCountWritesTheSameStream)
{
    // Modes, map coders and value coders (one-pass: value coders 0 and 2).
    std::vector<EncoderParams> cases;
    for (int32_t combination = 0; combination < 32; combination++) {
        EncoderParams p;
        p.decodeMode = combination / 16;
        p.mapCoder = combination / 4 % 4;
        p.valueCoder = combination % 4;
        p.quantStep = 6;
        bool refused = p.decodeMode == 1 && p.mapCoder == 2 && p.valueCoder == 0;
        if (refused || (p.decodeMode == 0 && p.valueCoder % 2 == 1))
            continue;
        cases.push_back(p);
        if (p.mapCoder == 1 && p.valueCoder == 0) {
            p.fineSteps = 3;
            p.magnitudeBoost = 4;
            cases.push_back(p);
            p.fineSteps = 0;
            p.magnitudeBoost = 0;
            p.sharpenCompensation = 1;
            cases.push_back(p);
        }
    }
    for (const EncoderParams& p : cases) {
        for (const PictureSamples* picture : {&colour(), &grey()}) {
            SCOPED_TRACE("mode " + std::to_string(p.decodeMode) + " map " + std::to_string(p.mapCoder) + " value "
                         + std::to_string(p.valueCoder) + " fine " + std::to_string(p.fineSteps) + " sharpen "
                         + std::to_string(p.sharpenCompensation) + " components "
                         + std::to_string(picture->components));
            std::vector<uint8_t> one = encodeWith(*picture, p, 1);
            ASSERT_FALSE(one.empty());
            EXPECT_EQ(decodeAndCompare(one, *picture).status, 0);
            EXPECT_EQ(encodeWith(*picture, p, 2), one);
            EXPECT_EQ(encodeWith(*picture, p, 3), one);
        }
    }
}

// The size search (its sample, its whole trials and the final fitting) and
// the map coder probe on several threads.
TEST(EncoderThreads, SizeSearchesChooseTheSameStream)
{
    // Over a million samples: the search starts on a sample of the tiles.
    static const PictureSamples large = makeTestPicture(1040, 1024, 1, 8, 17);
    struct Run {
        const PictureSamples* picture;
        int32_t effort;
        int64_t bytes;
    };
    for (const Run& run : {Run{&large, 0, 40000}, Run{&colour(), 1, 12000}}) {
        SCOPED_TRACE("effort " + std::to_string(run.effort) + " target " + std::to_string(run.bytes));
        std::vector<uint8_t> first;
        int32_t firstStep = 0;
        for (int32_t threads : {1, 2, 3}) {
            EncodeSettings settings;
            settings.sizeTarget = run.bytes;
            settings.effort = run.effort;
            settings.threads = threads;
            std::vector<uint8_t> stream;
            int32_t step = 0;
            std::string error;
            ASSERT_TRUE(encodeWithSettings(run.picture->view(), settings, &stream, &step, nullptr, &error)) << error;
            EXPECT_LE(static_cast<int64_t>(stream.size()), run.bytes);
            if (threads == 1) {
                first = stream;
                firstStep = step;
                EXPECT_EQ(decodeAndCompare(stream, *run.picture).status, 0);
            } else {
                EXPECT_EQ(stream, first) << threads << " threads";
                EXPECT_EQ(step, firstStep);
            }
        }
    }
}

} // namespace
