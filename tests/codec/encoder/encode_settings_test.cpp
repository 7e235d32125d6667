// The encoder's named options: ranges, the quality scale, and the rules that
// settle options depending on each other.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "codec/encoder/encode_settings.h"
#include "codec/encoder/picture_samples.h"
#include "codec/session/sharpen_mark.h"

namespace {

std::string plain(const std::string& name)
{
    return name;
}

bool set(EncodeSettings* s, const char* name, int64_t whole)
{
    SettingValue v;
    v.whole = whole;
    return applyEncodeSetting(*findEncodeSetting(name), v, s);
}

TEST(EncodeSettings, QualityScaleDoublesTheStepEvery12AndAHalf)
{
    EXPECT_EQ(stepForQuality(75, 8), 4);
    EXPECT_EQ(stepForQuality(50, 8), 16);
    EXPECT_EQ(stepForQuality(0, 8), 256);
    EXPECT_EQ(stepForQuality(100, 8), 1);
    EXPECT_EQ(stepForQuality(99, 8), 1);
    EXPECT_EQ(stepForQuality(75, 12), 64);   // deeper grey: the same share of its range
    EXPECT_EQ(stepForQuality(100, 16), 1);   // still the closest to lossless
    EXPECT_EQ(stepForQuality(0, 16), 65535); // capped at the largest step
    for (int q = 1; q <= 100; q++)
        EXPECT_LE(stepForQuality(q, 8), stepForQuality(q - 1, 8)) << q;
}

TEST(EncodeSettings, RangesAndKindsComeFromTheTable)
{
    EncodeSettings s;
    EXPECT_EQ(findEncodeSetting("no-such-option"), nullptr);
    EXPECT_FALSE(set(&s, "quality", 101));
    EXPECT_FALSE(set(&s, "map-coder", -1));
    EXPECT_TRUE(set(&s, "map-coder", 3));
    EXPECT_EQ(s.params.mapCoder, 3);
    EXPECT_TRUE(s.fixed.mapCoder);
    SettingValue mode;
    mode.word = "fast";
    EXPECT_FALSE(applyEncodeSetting(*findEncodeSetting("mode"), mode, &s));
    SettingValue trailer;
    trailer.triple[2] = 8;
    EXPECT_FALSE(applyEncodeSetting(*findEncodeSetting("trailer"), trailer, &s));
    SettingValue nan;
    nan.number = std::nan("");
    EXPECT_FALSE(applyEncodeSetting(*findEncodeSetting("value-cost"), nan, &s));
}

TEST(EncodeSettings, SettlingRefusesContradictionsAndSaysWhatItChose)
{
    std::string error;
    SettleMessages said;
    EncodeSettings both;
    set(&both, "quality", 80);
    set(&both, "step", 3);
    EXPECT_FALSE(settleEncodeSettings(&both, plain, &said, &error));
    EXPECT_EQ(error, "give quality or step, not both");

    EncodeSettings marked;
    set(&marked, "sharpen", 1);
    ASSERT_TRUE(settleEncodeSettings(&marked, plain, &said, &error));
    EXPECT_EQ(marked.params.hasTrailer, 1);
    EXPECT_EQ(marked.params.extension1, kSharpenMark[0]);
    SettingValue trailer;
    EXPECT_TRUE(applyEncodeSetting(*findEncodeSetting("trailer"), trailer, &marked));
    EXPECT_FALSE(settleEncodeSettings(&marked, plain, &said, &error)); // the mark would be lost

    EncodeSettings ignored;
    set(&ignored, "size", 500);
    set(&ignored, "step", 3);
    set(&ignored, "value-coder", 2);
    ASSERT_TRUE(settleEncodeSettings(&ignored, plain, &said, &error));
    ASSERT_EQ(said.warnings.size(), 1u);
    EXPECT_EQ(said.warnings[0], "step is ignored: size chooses the step");
    EXPECT_EQ(ignored.params.fineSteps, 3);
    EXPECT_EQ(said.notes.size(), 1u);
}

TEST(EncodeSettings, QualityChoosesTheStepOfTheEncode)
{
    PictureSamples grey{64, 64, 1, 8, std::vector<uint16_t>(64 * 64)};
    for (size_t i = 0; i < grey.samples.size(); i++)
        grey.samples[i] = uint16_t((i * 37 + i / 64 * 11) & 255);
    EncoderPicture picture = grey.view();
    EncodeSettings byQuality, byStep;
    set(&byQuality, "quality", 50);
    set(&byStep, "step", 16);
    std::vector<uint8_t> a, b;
    int32_t step = 0;
    EncodeStats stats;
    std::string error;
    ASSERT_TRUE(encodeWithSettings(picture, byQuality, &a, &step, &stats, &error)) << error;
    EXPECT_EQ(step, 16);
    ASSERT_TRUE(encodeWithSettings(picture, byStep, &b, &step, &stats, &error)) << error;
    EXPECT_EQ(a, b);
}

// Callers may free the samples once told they are read; a size search whose
// stream stays short (the target is beyond the largest stream) still compares
// decoded streams with them first. The sanitizer runs catch a late read.
TEST(EncodeSettings, SizeSearchesSayTheSamplesAreReadOnlyOnceDone)
{
    struct Freed {
        std::vector<uint16_t> samples;
        int32_t calls = 0;
    } owner;
    for (const char* mode : {"progressive", "one-pass"}) {
        SCOPED_TRACE(mode);
        owner.samples.resize(64 * 96);
        for (size_t i = 0; i < owner.samples.size(); i++)
            owner.samples[i] = uint16_t((i * 37 + i / 96 * 11) & 255);
        owner.calls = 0;
        EncoderPicture picture{64, 96, 1, 8, owner.samples.data()};
        EncodeSettings settings;
        SettingValue word;
        word.word = mode;
        ASSERT_TRUE(applyEncodeSetting(*findEncodeSetting("mode"), word, &settings));
        set(&settings, "value-coder", 3);
        set(&settings, "size", 1 << 20);
        settings.params.samplesRead = [](void* context) {
            Freed* f = static_cast<Freed*>(context);
            f->calls++;
            std::vector<uint16_t>().swap(f->samples);
        };
        settings.params.progressContext = &owner;
        std::vector<uint8_t> stream;
        int32_t step = 0;
        EncodeStats stats;
        std::string error;
        ASSERT_TRUE(encodeWithSettings(picture, settings, &stream, &step, &stats, &error)) << error;
        EXPECT_EQ(owner.calls, 1);
        EXPECT_FALSE(stream.empty());
    }
}

} // namespace
