#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "codec/encoder/encoder.h"
#include "codec/encoder/final_fitting.h"
#include "codec/encoder/step_search.h"
#include "tests/support/test_pictures.h"

namespace {

// A plain size search's stream and the parameters it chose.
struct Searched {
    std::vector<uint8_t> stream;
    EncoderParams chosen;
    int32_t step = 0;
};

Searched searchPlainly(const PreparedPicture& prepared, const EncoderParams& p, int64_t target)
{
    Searched s;
    std::string error;
    SizeSearchReport report;
    EXPECT_TRUE(encodeToSize(prepared, p, target, &s.stream, &s.step, nullptr, &error, &report)) << error;
    s.chosen = p;
    s.chosen.quantStep = report.step;
    s.chosen.valueCost = report.valueCost;
    return s;
}

// A later stage's stream stays within the target and the window (or takes
// no fewer bytes than the searched one), decodes, and differs from the
// searched one only where it replaced it, decoding closer. The PSNR gained.
double checkAgainstSearched(const std::vector<uint8_t>& stream, const std::vector<uint8_t>& searched, bool replaced,
                            const PictureSamples& picture, int64_t target)
{
    EXPECT_LE(static_cast<int64_t>(stream.size()), target);
    double floorBytes = std::ceil(0.99 * static_cast<double>(target));
    EXPECT_GE(static_cast<double>(stream.size()), std::fmin(static_cast<double>(searched.size()), floorBytes));
    DecodeResult before = decodeAndCompare(searched, picture);
    DecodeResult after = decodeAndCompare(stream, picture);
    EXPECT_EQ(after.status, 0);
    if (!replaced) {
        EXPECT_EQ(stream, searched);
        return 0.0;
    }
    EXPECT_GT(after.psnr, before.psnr);
    return after.psnr - before.psnr;
}

// The refitted stream stays within the target and the window below it, still
// decodes, and replaces the searched one only where it decodes closer to the
// picture, grey and colour, in both modes.
TEST(FinalFitting, StaysWithinTheTargetAndDecodesCloser)
{
    int32_t replaced = 0, tried = 0;
    double gain = 0.0;
    for (int32_t components : {1, 3}) {
        PictureSamples picture = makeTestPicture(96, 128, components, 8, 21);
        for (int32_t mode = 0; mode < 2; mode++) {
            EncoderParams p;
            p.decodeMode = mode;
            p.mapCoder = 1;
            p.valueCoder = 0;
            PreparedPicture prepared;
            std::string error;
            ASSERT_TRUE(preparePicture(picture.view(), p, &prepared, &error)) << error;
            for (double bpp : {0.5, 1.5}) {
                int64_t target = static_cast<int64_t>(bpp * picture.height * picture.width / 8);
                SCOPED_TRACE("components " + std::to_string(components) + " mode " + std::to_string(mode)
                             + " target " + std::to_string(target));
                Searched searched = searchPlainly(prepared, p, target);
                std::vector<uint8_t> stream = searched.stream;
                PreparedPicture spent = prepared;
                bool refitted = refitChosenStream(&spent, searched.chosen, target, &stream, nullptr);
                tried++;
                replaced += refitted;
                gain += checkAgainstSearched(stream, searched.stream, refitted, picture, target);
            }
        }
    }
    EXPECT_GE(replaced, tried / 2);
    EXPECT_GT(gain / (replaced > 0 ? replaced : 1), 0.0);
}

// Streams for sharpening decoders, streams without detail, searches that
// fitted already and large pictures keep the searched stream.
TEST(FinalFitting, KeepsTheStreamWhereItDoesNotApply)
{
    PreparedPicture prepared;
    prepared.height = 64;
    prepared.width = 64;
    prepared.levels = 3;
    EncoderParams p;
    EXPECT_TRUE(refitsChosenStream(prepared, p));
    EncoderParams noDetail = p;
    noDetail.mapCoder = 3;
    EXPECT_FALSE(refitsChosenStream(prepared, noDetail));
    EncoderParams fitted = p;
    fitted.synthesisRounds = 2;
    EXPECT_FALSE(refitsChosenStream(prepared, fitted));
    PreparedPicture sharpened = prepared;
    sharpened.sharpenedFor = 1;
    EXPECT_FALSE(refitsChosenStream(sharpened, p));
    PreparedPicture large = prepared;
    large.height = 4096;
    large.width = 2048;
    EXPECT_FALSE(refitsChosenStream(large, p));
    // The fitted search spares smaller pictures already.
    EXPECT_TRUE(searchesFittedStream(prepared, p));
    PreparedPicture mid = prepared;
    mid.height = 512;
    mid.width = 1024;
    EXPECT_TRUE(refitsChosenStream(mid, p));
    EXPECT_FALSE(searchesFittedStream(mid, p));
    mid.height = 511;
    EXPECT_TRUE(searchesFittedStream(mid, p));
    EXPECT_FALSE(searchesFittedStream(sharpened, p));

    PictureSamples picture = makeTestPicture(48, 64, 1, 8, 4);
    std::string error;
    EncoderParams sharpen = p;
    sharpen.sharpenCompensation = 1;
    sharpen.decodeMode = 1;
    ASSERT_TRUE(preparePicture(picture.view(), sharpen, &sharpened, &error)) << error;
    std::vector<uint8_t> stream;
    ASSERT_TRUE(encodePrepared(sharpened, sharpen, &stream, nullptr, &error)) << error;
    std::vector<uint8_t> kept = stream;
    EXPECT_FALSE(refitChosenStream(&sharpened, sharpen, static_cast<int64_t>(stream.size()) + 100, &stream, nullptr));
    EXPECT_EQ(stream, kept);
    int32_t step = sharpen.quantStep;
    EXPECT_FALSE(searchFittedStream(sharpened, sharpen, sharpen, static_cast<int64_t>(stream.size()) + 100, &stream,
                                    nullptr, &step));
    EXPECT_EQ(stream, kept);
}

// The plan a search leaves in its workspace, where it says the plan is the
// chosen stream's, refits to the very stream that planning again gives.
TEST(FinalFitting, TakesTheSearchsPlanWhereItIsTheChosenOne)
{
    int32_t kept = 0;
    for (int32_t mode = 0; mode < 2; mode++) {
        PictureSamples picture = makeTestPicture(80, 112, 3, 8, 23);
        EncoderParams p;
        p.decodeMode = mode;
        p.mapCoder = 1;
        PreparedPicture prepared;
        std::string error;
        ASSERT_TRUE(preparePicture(picture.view(), p, &prepared, &error)) << error;
        for (double bpp : {0.5, 1.0, 2.0}) {
            int64_t target = static_cast<int64_t>(bpp * picture.height * picture.width / 8);
            SCOPED_TRACE("mode " + std::to_string(mode) + " target " + std::to_string(target));
            std::vector<uint8_t> searched;
            int32_t step = 0;
            SizeSearchReport report;
            EncodeWorkspace workspace;
            ASSERT_TRUE(encodePictureToSize(prepared, p, target, &searched, &step, nullptr, &error,
                                            &report, &workspace))
                << error;
            if (!report.planKept)
                continue;
            kept++;
            EncoderParams chosen = p;
            chosen.quantStep = report.step;
            chosen.valueCost = report.valueCost;
            std::vector<uint8_t> again = searched, handed = searched;
            PreparedPicture first = prepared, second = prepared;
            bool refitAgain = refitChosenStream(&first, chosen, target, &again, nullptr);
            EXPECT_EQ(refitChosenStream(&second, chosen, target, &handed, nullptr, &workspace.plan), refitAgain);
            EXPECT_EQ(handed, again);
        }
    }
    EXPECT_GT(kept, 0);
}

// A stream fitted more closely than one refit round can fit is kept, though
// the refit lands within the window: the refit never trades the picture for
// its bytes.
TEST(FinalFitting, KeepsAStreamThatDecodesCloser)
{
    for (int32_t components : {1, 3}) {
        PictureSamples picture = makeTestPicture(96, 128, components, 8, 5);
        EncoderParams p;
        p.decodeMode = 1;
        p.mapCoder = 1;
        PreparedPicture prepared;
        std::string error;
        ASSERT_TRUE(preparePicture(picture.view(), p, &prepared, &error)) << error;
        for (int32_t step : {6, 12, 24}) {
            SCOPED_TRACE("components " + std::to_string(components) + " step " + std::to_string(step));
            EncoderParams chosen = p;
            chosen.quantStep = step;
            EncoderParams closer = chosen;
            closer.synthesisRounds = 6;
            std::vector<uint8_t> stream;
            ASSERT_TRUE(encodePrepared(prepared, closer, &stream, nullptr, &error)) << error;
            std::vector<uint8_t> kept = stream;
            PreparedPicture spent = prepared;
            int64_t target = static_cast<int64_t>(static_cast<double>(stream.size()) * 1.02);
            bool refitted = refitChosenStream(&spent, chosen, target, &stream, nullptr);
            DecodeResult before = decodeAndCompare(kept, picture);
            DecodeResult after = decodeAndCompare(stream, picture);
            ASSERT_EQ(after.status, 0);
            if (refitted)
                EXPECT_GT(after.psnr, before.psnr);
            else
                EXPECT_EQ(stream, kept);
        }
    }
}


// The search with fitted trials, started from a plain search's answer, keeps
// within the target and the window, and replaces the plain stream only with
// one that decodes closer, which it does on most of these pictures.
TEST(FinalFitting, FittedSearchLandsAndDecodesCloser)
{
    int32_t replaced = 0, tried = 0;
    for (int32_t components : {1, 3}) {
        PictureSamples picture = makeTestPicture(96, 128, components, 8, 33);
        EncoderParams p;
        p.decodeMode = 1;
        p.mapCoder = 1;
        PreparedPicture prepared;
        std::string error;
        ASSERT_TRUE(preparePicture(picture.view(), p, &prepared, &error)) << error;
        for (double bpp : {0.5, 1.5}) {
            int64_t target = static_cast<int64_t>(bpp * picture.height * picture.width / 8);
            SCOPED_TRACE("components " + std::to_string(components) + " target " + std::to_string(target));
            Searched searched = searchPlainly(prepared, p, target);
            std::vector<uint8_t> stream = searched.stream;
            int32_t step = searched.step;
            bool fitted = searchFittedStream(prepared, p, searched.chosen, target, &stream, nullptr, &step);
            tried++;
            replaced += fitted;
            checkAgainstSearched(stream, searched.stream, fitted, picture, target);
            if (!fitted) {
                EXPECT_EQ(step, searched.step);
            }
        }
    }
    EXPECT_GE(replaced, tried / 2);
}

} // namespace
