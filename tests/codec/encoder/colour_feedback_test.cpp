#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "codec/encoder/colour_feedback.h"
#include "codec/encoder/encoder.h"
#include "tests/support/test_pictures.h"

namespace {

// Waves of their own in each of red, green and blue, which the colour split
// spreads over all three components.
PictureSamples makeColourWaves(int32_t height, int32_t width)
{
    PictureSamples p{height, width, 3, 8, {}};
    for (int32_t y = 0; y < height; y++)
        for (int32_t x = 0; x < width; x++) {
            double red = 128 + 70 * std::sin(x * 0.5 + 2 * std::sin(y * 0.05));
            double green = 115 + 60 * std::sin(y * 0.45);
            double blue = 100 + 50 * std::sin((x + y) * 0.3);
            for (double v : {red, green, blue})
                p.samples.push_back(static_cast<uint16_t>(std::lround(v)));
        }
    return p;
}

// Writes the plan that `plan` makes of the prepared picture.
template <typename Plan>
std::vector<uint8_t> writePlan(const PreparedPicture& prepared, const EncoderParams& p, Plan plan)
{
    EncodeWorkspace workspace;
    plan(planSettingsOf(p), &workspace.plan);
    workspace.reusePlan = true;
    std::vector<uint8_t> out;
    std::string error;
    EXPECT_TRUE(encodePrepared(prepared, p, &out, nullptr, &error, &workspace)) << error;
    return out;
}

} // namespace

// Colour pictures decode closer for about the same bytes, in both modes and
// with both adaptive value coders; the streams decode.
TEST(ColourFeedback, ColourPicturesDecodeCloserForAboutTheSameBytes)
{
    for (int32_t kind = 0; kind < 2; kind++) {
        PictureSamples picture = kind == 0 ? makeColourWaves(96, 112) : makeTestPicture(96, 112, 3, 8, 5);
        for (int32_t mode = 0; mode < 2; mode++)
            for (int32_t value = 0; value < 2; value++)
                for (int32_t step : {6, 20}) {
                    SCOPED_TRACE("picture " + std::to_string(kind) + " mode " + std::to_string(mode) + " value "
                                 + std::to_string(value) + " step " + std::to_string(step));
                    EncoderParams p;
                    p.decodeMode = mode;
                    p.mapCoder = mode == 1 ? 0 : 1;
                    p.valueCoder = value;
                    p.quantStep = step;
                    PreparedPicture prepared;
                    std::string error;
                    ASSERT_TRUE(preparePicture(picture.view(), p, &prepared, &error)) << error;
                    auto planned = [&](bool feedback) {
                        return writePlan(prepared, p, [&](const PlanSettings& s, PicturePlan* plan) {
                            if (feedback)
                                planWithColourFeedback(prepared.planes, 3, prepared.levels, s, plan);
                            else
                                planPicture(prepared.planes, 3, prepared.levels, s, plan);
                        });
                    };
                    std::vector<uint8_t> plain = planned(false), fed = planned(true);
                    DecodeResult before = decodeAndCompare(plain, picture);
                    DecodeResult after = decodeAndCompare(fed, picture);
                    ASSERT_EQ(after.status, 0);
                    EXPECT_GT(after.psnr, before.psnr + 0.01);
                    EXPECT_LT(static_cast<double>(fed.size()), 1.03 * static_cast<double>(plain.size()));
                    // encodePrepared plans this way itself.
                    std::vector<uint8_t> own;
                    ASSERT_TRUE(encodePrepared(prepared, p, &own, nullptr, &error)) << error;
                    EXPECT_EQ(own, fed);
                }
    }
}

// Grey pictures, colour pictures over the limit and streams without detail
// are planned as planPicture plans them.
TEST(ColourFeedback, LeavesOtherPlansAsTheyAre)
{
    EncoderParams p;
    p.decodeMode = 1;
    p.mapCoder = 1;
    p.quantStep = 12;
    const PlanSettings settings = planSettingsOf(p);
    auto samePlans = [&](const PictureSamples& picture, const PlanSettings& s) {
        PreparedPicture prepared;
        std::string error;
        EXPECT_TRUE(preparePicture(picture.view(), p, &prepared, &error)) << error;
        PicturePlan a, b;
        planPicture(prepared.planes, picture.components, prepared.levels, s, &a);
        planWithColourFeedback(prepared.planes, picture.components, prepared.levels, s, &b);
        for (int32_t c = 0; c < picture.components; c++) {
            EXPECT_EQ(a.component[c].index, b.component[c].index) << c;
            EXPECT_EQ(a.component[c].lowest, b.component[c].lowest) << c;
        }
    };
    samePlans(makeTestPicture(80, 96, 1, 8, 3), settings);
    PlanSettings none = settings;
    none.mapCoder = 3;
    samePlans(makeColourWaves(80, 96), none);
    // Just over the limit: one row more than fits.
    int32_t width = 1024;
    samePlans(makeColourWaves(static_cast<int32_t>(kColourFeedbackMaxSamples / width) + 1, width), settings);
}
