#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "codec/encoder/encoder.h"
#include "codec/encoder/size_fill.h"
#include "codec/encoder/step_search.h"
#include "tests/support/test_pictures.h"

namespace {

// Wood rings: few distinct detail values, so many coefficients flip together
// and the sizes jump between neighbouring steps and value costs.
PictureSamples rings(int32_t height, int32_t width)
{
    PictureSamples picture;
    picture.height = height;
    picture.width = width;
    picture.samples.resize(static_cast<size_t>(height) * width);
    for (int32_t r = 0; r < height; r++)
        for (int32_t c = 0; c < width; c++) {
            double d = std::hypot((static_cast<double>(c) / width - 0.3) * 3.0,
                                  (static_cast<double>(r) / height - 1.4) * 1.2);
            double v = std::lround(255.0 * (0.5 + 0.35 * std::sin(40.0 * d)));
            picture.samples[static_cast<size_t>(r) * width + c] = static_cast<uint16_t>(v);
        }
    return picture;
}

// After the search, the fill never exceeds the budget, never shrinks the
// stream, keeps it decodable and no worse, and brings streams that landed short into the
// window, in both modes with several coders.
TEST(SizeFill, FillsStreamsThatLandedShortWithinTheBudget)
{
    PictureSamples picture = rings(288, 384);
    struct Combo {
        int32_t mode, map, value;
    };
    int32_t shortBefore = 0, shortAfter = 0;
    for (Combo combo : {Combo{0, 0, 3}, Combo{0, 2, 0}, Combo{1, 2, 3}, Combo{1, 1, 2}}) {
        EncoderParams p;
        p.decodeMode = combo.mode;
        p.mapCoder = combo.map;
        p.valueCoder = combo.value;
        PreparedPicture prepared;
        std::string error;
        ASSERT_TRUE(preparePicture(picture.view(), p, &prepared, &error)) << error;
        for (double bpp : {1.0, 2.0}) {
            int64_t target = static_cast<int64_t>(bpp * picture.height * picture.width / 8);
            SCOPED_TRACE("mode " + std::to_string(combo.mode) + " map " + std::to_string(combo.map) + " value "
                         + std::to_string(combo.value) + " target " + std::to_string(target));
            std::vector<uint8_t> stream;
            int32_t step = 0;
            EncodeStats stats;
            SizeSearchReport report;
            ASSERT_TRUE(encodePictureToSize(prepared, p, target, &stream, &step, &stats, &error, &report))
                << error;
            if (report.cut)
                continue;
            size_t searched = stream.size();
            double searchedPsnr = decodeAndCompare(stream, picture).psnr;
            bool landedShort = static_cast<double>(searched) <= 0.99 * static_cast<double>(target);
            EncoderParams chosen = p;
            chosen.quantStep = report.step;
            chosen.valueCost = report.valueCost;
            EncodeWorkspace workspace;
            EXPECT_EQ(fillToSize(nullptr, prepared, target, true, &chosen, &stream, &stats, &workspace), landedShort);
            EXPECT_LE(static_cast<int64_t>(stream.size()), target);
            EXPECT_GE(stream.size(), searched);
            DecodeResult filled = decodeAndCompare(stream, picture);
            ASSERT_EQ(filled.status, 0);
            // More bytes decode no worse (mixed plans must keep the tree rules).
            EXPECT_GT(filled.psnr, searchedPsnr - 0.05);
            shortBefore += landedShort;
            shortAfter += static_cast<double>(stream.size()) <= 0.99 * static_cast<double>(target);
        }
    }
    EXPECT_GT(shortBefore, 0);
    EXPECT_LT(shortAfter, shortBefore);
}

// Progressive map coder 1 with value coder 3 codes every value of a level or
// none, so at the finest step the sizes jump as the value cost lets a level
// in. A budget inside such a jump leaves a whole stream short; a larger one
// cut to it replaces it only where that decodes closer to the picture.
TEST(SizeFill, CutsAStreamThatStaysShortWhereThatDecodesCloser)
{
    PictureSamples picture = makeTestPicture(96, 128, 1, 8, 5);
    EncoderPicture view = picture.view();
    EncoderParams p;
    p.decodeMode = 1;
    p.mapCoder = 1;
    p.valueCoder = 3;
    p.fineSteps = 3;
    p.quantStep = 1;
    PreparedPicture prepared;
    std::string error;
    ASSERT_TRUE(preparePicture(view, p, &prepared, &error)) << error;
    int32_t gaps = 0, cuts = 0;
    for (double cost : {0.4, 1.6, 6.4, 25.6, 102.4}) {
        EncoderParams chosen = p;
        chosen.valueCost = cost;
        std::vector<uint8_t> stream, more;
        EncodeStats stats;
        ASSERT_TRUE(encodePrepared(prepared, chosen, &stream, &stats, &error)) << error;
        EncoderParams lower = chosen;
        lower.valueCost = cost / 4.0;
        ASSERT_TRUE(encodePrepared(prepared, lower, &more, nullptr, &error)) << error;
        if (static_cast<double>(more.size()) < 1.05 * static_cast<double>(stream.size()))
            continue;
        gaps++;
        int64_t target = static_cast<int64_t>((stream.size() + more.size()) / 2);
        SCOPED_TRACE("cost " + std::to_string(cost) + " target " + std::to_string(target));
        double wholePsnr = decodeAndCompare(stream, picture).psnr;
        // Without the picture the fill rebuilds it from the prepared one: the same choice.
        std::vector<uint8_t> rebuilt = stream;
        EncoderParams rebuiltChosen = chosen;
        EncodeStats rebuiltStats = stats;
        EncodeWorkspace workspace;
        EXPECT_TRUE(fillToSize(&view, prepared, target, true, &chosen, &stream, &stats, &workspace));
        EXPECT_TRUE(fillToSize(nullptr, prepared, target, true, &rebuiltChosen, &rebuilt, &rebuiltStats, &workspace));
        EXPECT_TRUE(rebuilt == stream);
        EXPECT_EQ(rebuiltStats.cut, stats.cut);
        EXPECT_LE(static_cast<int64_t>(stream.size()), target);
        DecodeResult decoded = decodeAndCompare(stream, picture);
        ASSERT_EQ(decoded.status, 0);
        if (!stats.cut) {
            EXPECT_GE(decoded.psnr, wholePsnr);
            continue;
        }
        cuts++;
        EXPECT_EQ(static_cast<int64_t>(stream.size()), target);
        EXPECT_GT(decoded.psnr, wholePsnr);
        EXPECT_EQ(chosen.valueCost, lower.valueCost);
    }
    EXPECT_GT(gaps, 0);
    EXPECT_GT(cuts, 0);
}

// Streams on target, or larger than it, are left alone.
TEST(SizeFill, LeavesStreamsOnTargetAlone)
{
    PictureSamples picture = makeTestPicture(48, 64, 1, 8, 3);
    EncoderParams p;
    PreparedPicture prepared;
    std::string error;
    ASSERT_TRUE(preparePicture(picture.view(), p, &prepared, &error)) << error;
    std::vector<uint8_t> stream;
    ASSERT_TRUE(encodePrepared(prepared, p, &stream, nullptr, &error)) << error;
    std::vector<uint8_t> kept = stream;
    EncodeWorkspace workspace;
    EncoderParams chosen = p;
    for (int64_t target : {static_cast<int64_t>(stream.size()), static_cast<int64_t>(stream.size()) - 1}) {
        EXPECT_FALSE(fillToSize(nullptr, prepared, target, true, &chosen, &stream, nullptr, &workspace));
        EXPECT_EQ(stream, kept);
        EXPECT_EQ(chosen.quantStep, p.quantStep);
    }
}

} // namespace
