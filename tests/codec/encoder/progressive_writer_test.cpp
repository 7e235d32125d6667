#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec/encoder/encoder.h"
#include "codec/encoder/progressive_writer.h"
#include "codec/encoder/significance_planner.h"
#include "tests/support/test_pictures.h"

namespace {

// A split stream must be the normal writer's stream bit for bit: the first
// write of its finest level, and every rewrite after the finest level was
// decided again, against an encode of the same plan.
TEST(FinestLevelStream, EqualsTheWholeWriterAtEveryWrite)
{
    struct Case {
        int32_t height, width, components, mapCoder, valueCoder, threads;
        int32_t step = 6;
    };
    // With threads, value coder 0's bands are walked apart from their coder.
    for (Case k : {Case{96, 130, 3, 1, 0, 1}, Case{96, 130, 3, 1, 0, 2}, Case{77, 64, 1, 1, 1, 1},
                   Case{64, 91, 3, 1, 1, 3}, Case{80, 80, 3, 0, 0, 2}, Case{70, 45, 1, 0, 0, 1},
                   Case{77, 64, 1, 1, 0, 3}, Case{96, 130, 3, 0, 0, 3},
                   // Levels without detail among those walked.
                   Case{96, 130, 3, 1, 0, 2, 1500}, Case{80, 80, 1, 0, 0, 3, 3000}}) {
        SCOPED_TRACE(std::to_string(k.height) + " x " + std::to_string(k.width) + " x "
                     + std::to_string(k.components) + ", coders " + std::to_string(k.mapCoder) + "/"
                     + std::to_string(k.valueCoder) + ", threads " + std::to_string(k.threads));
        PictureSamples picture = makeTestPicture(k.height, k.width, k.components, 8, 7);
        EncoderParams params;
        params.decodeMode = 1;
        params.mapCoder = k.mapCoder;
        params.valueCoder = k.valueCoder;
        params.quantStep = k.step;
        params.threads = k.threads;
        PreparedPicture prepared;
        std::string error;
        ASSERT_TRUE(preparePicture(picture.view(), params, &prepared, &error)) << error;
        // Against the plain writer's stream: one thread, no band walked apart.
        EncoderParams plain = params;
        plain.threads = 1;
        EncodeWorkspace workspace;
        std::vector<uint8_t> whole;
        ASSERT_TRUE(encodePrepared(prepared, plain, &whole, nullptr, &error, &workspace)) << error;
        ASSERT_TRUE(writesComponentsApart(streamHeaderOf(prepared, params)));
        int32_t bare = 0;
        for (int32_t L = 0; L < prepared.levels; L++)
            bare += !workspace.plan.levelHasDetail[L];
        EXPECT_EQ(bare > 0, k.step > 6);

        FinestLevelStream* split = writeAllButFinestLevel(streamHeaderOf(prepared, params), workspace.plan,
                                                          k.threads);
        ASSERT_NE(split, nullptr);
        std::vector<uint8_t> joined;
        ASSERT_TRUE(writeFinestLevel(split, k.threads, &joined));
        EXPECT_TRUE(joined == whole);
        // The bit counts add up to the stream's, its last byte padded.
        int64_t bits = bitsBeforeFinestLevel(split) + detailBits(split, 0);
        EXPECT_EQ((bits + 7) / 8, static_cast<int64_t>(whole.size()));
        // The finest level decided again at costs that code more, then less,
        // then as the first plan: each rewrite equals a whole write of the plan.
        for (double cost : {0.02, 2.0, params.valueCost}) {
            SCOPED_TRACE("finest cost " + std::to_string(cost));
            replanFinestLevel(prepared.planes, prepared.components, prepared.levels, planSettingsOf(params), cost,
                              &workspace.rates, &workspace.plan);
            std::vector<uint8_t> rewritten, expected;
            ASSERT_TRUE(writeFinestLevel(split, k.threads, &rewritten));
            workspace.reusePlan = true;
            ASSERT_TRUE(encodePrepared(prepared, plain, &expected, nullptr, &error, &workspace)) << error;
            workspace.reusePlan = false;
            EXPECT_TRUE(rewritten == expected);
            bits = bitsBeforeFinestLevel(split) + detailBits(split, 0);
            EXPECT_EQ((bits + 7) / 8, static_cast<int64_t>(expected.size()));
        }
        releaseFinestLevelStream(split);
    }
}

TEST(FinestLevelStream, OnlyForStreamsWhoseComponentsAreWrittenApart)
{
    PictureSamples picture = makeTestPicture(40, 40, 3, 8);
    EncoderParams params;
    params.decodeMode = 1;
    PreparedPicture prepared;
    std::string error;
    ASSERT_TRUE(preparePicture(picture.view(), params, &prepared, &error)) << error;
    for (int32_t mapCoder : {0, 2}) {
        params.mapCoder = mapCoder;
        params.valueCoder = 1;
        EXPECT_FALSE(writesComponentsApart(streamHeaderOf(prepared, params)));
        EncodeWorkspace workspace;
        std::vector<uint8_t> stream;
        ASSERT_TRUE(encodePrepared(prepared, params, &stream, nullptr, &error, &workspace)) << error;
        EXPECT_EQ(writeAllButFinestLevel(streamHeaderOf(prepared, params), workspace.plan), nullptr);
    }
    params.decodeMode = 0;
    params.mapCoder = 1;
    params.valueCoder = 0;
    EXPECT_FALSE(writesComponentsApart(streamHeaderOf(prepared, params)));
}

} // namespace
