#include <gtest/gtest.h>

#include <string>

#include "codec/encoder/effort_search.h"
#include "codec/encoder/step_search.h"
#include "tests/support/test_pictures.h"

namespace {

TEST(EffortSearch, CandidatesKeepWhatTheCallerFixed)
{
    EncoderParams base;
    base.decodeMode = 1;
    base.mapCoder = 1;
    EXPECT_EQ(effortCandidates(base, 1, FixedChoices()).size(), 1u);
    std::vector<EncoderParams> all = effortCandidates(base, 3, FixedChoices());
    ASSERT_GT(all.size(), 4u);
    EXPECT_EQ(all[0].decodeMode, 1);
    EXPECT_EQ(all[0].valueCost, base.valueCost);
    bool otherMode = false;
    for (const EncoderParams& p : all)
        otherMode |= p.decodeMode == 0;
    EXPECT_TRUE(otherMode);

    FixedChoices fixed;
    fixed.mode = fixed.mapCoder = fixed.valueCost = fixed.boost = true;
    EXPECT_EQ(effortCandidates(base, 3, fixed).size(), 1u);
    // Sharpening compensation is prepared for one mode only.
    base.sharpenCompensation = 1;
    for (const EncoderParams& p : effortCandidates(base, 3, FixedChoices()))
        EXPECT_EQ(p.decodeMode, 1);
}

// The chosen stream fits, decodes no worse than the first candidate's, and is
// the same whatever the number of threads.
TEST(EffortSearch, BestStreamIsTheSameOnAnyThreadCount)
{
    PictureSamples picture = makeTestPicture(64, 80, 3, 8, 11);
    EncoderParams base;
    base.decodeMode = 1;
    base.mapCoder = 1;
    PreparedPicture prepared;
    std::string error;
    ASSERT_TRUE(preparePicture(picture.view(), base, &prepared, &error)) << error;
    std::vector<EncoderParams> candidates = effortCandidates(base, 2, FixedChoices());
    const int64_t target = 1200;

    std::vector<uint8_t> one, three, first;
    EncoderParams chosenOne, chosenThree;
    ASSERT_TRUE(encodeBestToSize(picture.view(), prepared, candidates, target, 1, &one, &chosenOne, nullptr, &error))
        << error;
    ASSERT_TRUE(encodeBestToSize(picture.view(), prepared, candidates, target, 3, &three, &chosenThree, nullptr,
                                 &error))
        << error;
    EXPECT_EQ(one, three);
    EXPECT_EQ(chosenOne.decodeMode, chosenThree.decodeMode);
    EXPECT_LE(static_cast<int64_t>(one.size()), target);

    int32_t step;
    ASSERT_TRUE(encodeToSize(prepared, base, target, &first, &step, nullptr, &error)) << error;
    EXPECT_LE(decodedSquaredError(one, picture.view()), decodedSquaredError(first, picture.view()));
    EXPECT_LT(decodedSquaredError({1, 2, 3}, picture.view()), 0.0);
}

} // namespace
