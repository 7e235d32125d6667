#include <gtest/gtest.h>

#include <array>

#include "server/diffusion_tables.h"
#include "server/palette.h"

namespace {

std::array<int, 3> paletteColour(const uint8_t* table, int index)
{
    return {table[4 * index], table[4 * index + 1], table[4 * index + 2]};
}

TEST(FramePalette, EntriesInBothForms)
{
    uint8_t entries[1024];
    uint8_t colours[1024];
    ASSERT_EQ(buildPaletteEntries(entries), entries);
    ASSERT_EQ(buildColourTable(colours), colours);
    const struct {
        int index;
        std::array<int, 3> rgb;
    } cases[] = {{0xFF, {255, 255, 255}}, {0x00, {0, 0, 0}}, {0x1C, {0, 255, 0}}, {0x03, {0, 0, 255}},
                 {0x20, {36, 0, 0}}};
    for (const auto& c : cases) {
        EXPECT_EQ(paletteColour(entries, c.index), c.rgb) << c.index;
        std::array<int, 3> bgr = paletteColour(colours, c.index);
        EXPECT_EQ((std::array<int, 3>{bgr[2], bgr[1], bgr[0]}), c.rgb) << c.index;
    }
    for (int i = 0; i < 256; i++) {
        EXPECT_EQ(entries[4 * i + 3], 4);
        EXPECT_EQ(colours[4 * i + 3], 0);
    }
    const int redGreen[8] = {0, 36, 73, 109, 146, 182, 219, 255};
    const int blue[4] = {0, 85, 170, 255};
    for (int level = 0; level < 8; level++)
        EXPECT_EQ(redGreenLevelValue(level), redGreen[level]);
    for (int level = 0; level < 4; level++)
        EXPECT_EQ(blueLevelValue(level), blue[level]);
    EXPECT_EQ(buildColourTable(nullptr), nullptr);
}

TEST(FramePalette, ServerTableIsBuiltOnceAndKept)
{
    uint8_t* own = buildPaletteEntries(nullptr);
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(paletteColour(own, 0x1C), (std::array<int, 3>{0, 255, 0}));
    own[0] = 99; // a client scribbling on the table it was handed
    EXPECT_EQ(buildPaletteEntries(nullptr), own);
    EXPECT_EQ(own[0], 99); // not rebuilt
    own[0] = 0;
}

TEST(FramePalette, ColourIndex)
{
    EXPECT_EQ(colourIndex(255, 255, 255), 0xFF);
    EXPECT_EQ(colourIndex(128, 64, 200), 0x8B);
    EXPECT_EQ(colourIndex(0, 0, 0), 0x00);
    EXPECT_EQ(colourIndex(31, 31, 63), 0x00);
    EXPECT_EQ(colourIndex(32, 32, 64), 0x25);
}

TEST(FramePalette, DiffusionShares)
{
    const DiffusionTables& t = diffusionTables();
    auto at = [](const int32_t* table, int e) { return table[e + DiffusionTables::kOffset]; };
    EXPECT_EQ(at(t.t7, -1), 0);
    EXPECT_EQ(at(t.t7, 1), 0);
    EXPECT_EQ(at(t.t7, 8), 4);
    EXPECT_EQ(at(t.t7, -8), -4);
    EXPECT_EQ(at(t.t1, 255), 16);
    EXPECT_EQ(at(t.t1, -255), -16);
    EXPECT_EQ(at(t.t5, -256), -80);
    for (int e = -255; e <= 255; e++) {
        EXPECT_EQ(at(t.t3, e), -at(t.t3, -e));
        EXPECT_EQ(at(t.t5, e), -at(t.t5, -e));
    }
    EXPECT_EQ(&diffusionTables(), &t);
}

} // namespace
