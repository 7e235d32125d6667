#include "tools/image_write.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::string scratch(const std::string& name)
{
    std::filesystem::path dir = std::filesystem::temp_directory_path() / "zr-image-write-test";
    std::filesystem::create_directories(dir);
    return (dir / name).string();
}

std::vector<uint8_t> fileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

uint32_t le32(const std::vector<uint8_t>& b, size_t at)
{
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}

// A 12-bit grey block of 2 x 3 samples, two bytes each, low byte first.
std::vector<uint8_t> deepSamples(const std::vector<uint16_t>& values)
{
    std::vector<uint8_t> bytes;
    for (uint16_t v : values) {
        bytes.push_back(uint8_t(v));
        bytes.push_back(uint8_t(v >> 8));
    }
    return bytes;
}

TEST(PixelBlockToImage, DeepGreyKeepsOrWidensItsRange)
{
    std::vector<uint8_t> bytes = deepSamples({0, 1, 2048, 4095, 100, 3000});
    PixelBlock block{bytes.data(), 2, 3, 1, 12};
    EXPECT_EQ(pixelBlockSize(block), 12u);
    Image kept, widened;
    ASSERT_TRUE(pixelBlockToImage(block, false, &kept, nullptr));
    EXPECT_EQ(kept.maxValue, 4095);
    EXPECT_EQ(kept.samples, (std::vector<uint16_t>{0, 1, 2048, 4095, 100, 3000}));
    ASSERT_TRUE(pixelBlockToImage(block, true, &widened, nullptr));
    EXPECT_EQ(widened.maxValue, 65535);
    EXPECT_EQ(widened.samples[0], 0);
    EXPECT_EQ(widened.samples[1], 0x0010);
    EXPECT_EQ(widened.samples[2], 0x8008);
    EXPECT_EQ(widened.samples[3], 0xFFFF);
    for (size_t i = 0; i < kept.samples.size(); i++)
        EXPECT_EQ(widened.samples[i] >> 4, kept.samples[i]); // the top bits are the value

    std::string error;
    PixelBlock empty;
    EXPECT_FALSE(pixelBlockToImage(empty, false, &kept, &error));
    EXPECT_FALSE(error.empty());
}

TEST(WriteBmp, ColourRowsArePaddedBottomUpAndBgr)
{
    // 2 rows x 5 pixels; pixel (y, x) = (10y + x, 100 + x, 200 + y).
    std::vector<uint8_t> rgb;
    for (int y = 0; y < 2; y++)
        for (int x = 0; x < 5; x++)
            rgb.insert(rgb.end(), {uint8_t(10 * y + x), uint8_t(100 + x), uint8_t(200 + y)});
    PixelBlock block{rgb.data(), 2, 5, 3, 8};
    std::string path = scratch("colour.bmp");
    ASSERT_TRUE(writePicture(path, block, nullptr));
    std::vector<uint8_t> b = fileBytes(path);
    ASSERT_EQ(b.size(), 54u + 2 * 16);
    EXPECT_EQ(b[0], 'B');
    EXPECT_EQ(b[1], 'M');
    EXPECT_EQ(le32(b, 2), b.size());
    EXPECT_EQ(le32(b, 10), 54u);
    EXPECT_EQ(le32(b, 18), 5u);
    EXPECT_EQ(le32(b, 22), 2u);
    EXPECT_EQ(b[28], 24);
    // The first stored row is the bottom row (y = 1), blue first.
    EXPECT_EQ(b[54], 201);
    EXPECT_EQ(b[55], 100);
    EXPECT_EQ(b[56], 10);
    EXPECT_EQ(b[54 + 16], 200);
    EXPECT_EQ(b[54 + 16 + 2], 0);
    EXPECT_EQ(b[54 + 12 + 2], 14); // last pixel of the bottom row
}

TEST(WriteBmp, GreyHasAPaletteAndDeepSamplesAreReduced)
{
    std::vector<uint8_t> bytes = deepSamples({0, 4095, 2048, 1, 4094, 0});
    PixelBlock block{bytes.data(), 2, 3, 1, 12};
    std::string path = scratch("grey.bmp");
    ASSERT_TRUE(writePicture(path, block, nullptr));
    std::vector<uint8_t> b = fileBytes(path);
    size_t offset = 54 + 1024;
    ASSERT_EQ(b.size(), offset + 2 * 4);
    EXPECT_EQ(le32(b, 10), offset);
    EXPECT_EQ(b[28], 8);
    EXPECT_EQ(le32(b, 54 + 4 * 200), 0x00C8C8C8u);
    // bottom row first: 1, 4094, 0
    EXPECT_EQ(b[offset], 0);
    EXPECT_EQ(b[offset + 1], 255);
    EXPECT_EQ(b[offset + 2], 0);
    EXPECT_EQ(b[offset + 4], 0);
    EXPECT_EQ(b[offset + 5], 255);
    EXPECT_EQ(b[offset + 6], 128);
}

TEST(WritePicture, PngAndPnmReadBack)
{
    std::vector<uint8_t> rgb(4 * 3 * 3);
    for (size_t i = 0; i < rgb.size(); i++)
        rgb[i] = uint8_t(i * 7);
    PixelBlock colour{rgb.data(), 4, 3, 3, 8};
    for (const char* name : {"colour.png", "colour.ppm"}) {
        std::string path = scratch(name);
        ASSERT_TRUE(writePicture(path, colour, nullptr)) << name;
        Image back;
        ASSERT_TRUE(readImage(path, &back, nullptr));
        EXPECT_EQ(back.channels, 3);
        EXPECT_EQ(back.maxValue, 255);
        EXPECT_EQ(back.samples, std::vector<uint16_t>(rgb.begin(), rgb.end()));
    }

    std::vector<uint8_t> deep = deepSamples({0, 1, 2048, 4095, 100, 3000});
    PixelBlock grey{deep.data(), 2, 3, 1, 12};
    Image png, pgm;
    ASSERT_TRUE(writePicture(scratch("deep.png"), grey, nullptr));
    ASSERT_TRUE(readImage(scratch("deep.png"), &png, nullptr));
    EXPECT_EQ(png.maxValue, 65535); // 16-bit grey PNG
    EXPECT_EQ(png.samples[2], 0x8008);
    ASSERT_TRUE(writePicture(scratch("deep.pgm"), grey, nullptr));
    ASSERT_TRUE(readImage(scratch("deep.pgm"), &pgm, nullptr));
    EXPECT_EQ(pgm.maxValue, 4095);
    EXPECT_EQ(pgm.samples, (std::vector<uint16_t>{0, 1, 2048, 4095, 100, 3000}));

    std::string error;
    EXPECT_FALSE(writePicture(scratch("colour.jpg"), colour, &error));
    EXPECT_FALSE(isPictureName("x.jpg"));
    EXPECT_FALSE(isPictureName("x.raw"));
    EXPECT_TRUE(isPictureName("X.PNG"));
    EXPECT_EQ(pictureTypeOf("a.Pnm"), PictureType::Pnm);
    EXPECT_EQ(pictureTypeNamed("raw"), PictureType::Raw);
    EXPECT_EQ(pictureTypeNamed("x.png"), PictureType::Unknown);
    EXPECT_FALSE(writePicture("/nonexistent-dir/x.bmp", colour, &error));
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
}

// Both PNG settings, on shapes from one pixel to pictures whose image data
// needs several chunks, read back sample for sample.
TEST(WritePicture, PngSettingsKeepEverySample)
{
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return uint8_t(seed >> 16);
    };
    struct Shape {
        int32_t height, width, channels, bits;
    };
    for (Shape shape : {Shape{1, 1, 1, 8}, Shape{1, 37, 3, 8}, Shape{29, 1, 1, 12}, Shape{17, 23, 3, 8},
                        Shape{64, 33, 1, 16}, Shape{700, 800, 3, 8}}) {
        int32_t bytesPerSample = shape.bits > 8 ? 2 : 1;
        std::vector<uint8_t> pixels(size_t(shape.height) * shape.width * shape.channels * bytesPerSample);
        // Flat runs, steps and noise: every filter and match case.
        for (size_t i = 0; i < pixels.size(); i++)
            pixels[i] = i % 97 < 20 ? uint8_t(i / 97) : next();
        std::vector<uint16_t> expected(pixels.size() / bytesPerSample);
        for (size_t i = 0; i < expected.size(); i++) {
            if (bytesPerSample == 1) {
                expected[i] = pixels[i];
                continue;
            }
            uint32_t v = (pixels[2 * i] | pixels[2 * i + 1] << 8) & ((1u << shape.bits) - 1);
            pixels[2 * i] = uint8_t(v);
            pixels[2 * i + 1] = uint8_t(v >> 8);
            expected[i] = uint16_t(shape.bits == 16 ? v : (v << (16 - shape.bits) | v >> (2 * shape.bits - 16)));
        }
        PixelBlock block{pixels.data(), shape.height, shape.width, shape.channels, shape.bits};
        for (PngCompression setting : {PngCompression::Fast, PngCompression::Small}) {
            std::string path = scratch("shape.png");
            std::string what = std::to_string(shape.height) + "x" + std::to_string(shape.width) + "x"
                               + std::to_string(shape.channels) + " " + std::to_string(shape.bits) + " bits, "
                               + (setting == PngCompression::Fast ? "fast" : "small");
            ASSERT_TRUE(writePicture(path, block, nullptr, PictureType::Png, setting)) << what;
            Image back;
            ASSERT_TRUE(readImage(path, &back, nullptr)) << what;
            EXPECT_EQ(back.height, shape.height) << what;
            EXPECT_EQ(back.width, shape.width) << what;
            EXPECT_EQ(back.samples, expected) << what;
        }
    }
}

#ifdef __linux__
TEST(WritePicture, PngWriteFailureIsReported)
{
    std::vector<uint8_t> rgb(300 * 200 * 3, 7);
    PixelBlock colour{rgb.data(), 200, 300, 3, 8};
    for (PngCompression setting : {PngCompression::Fast, PngCompression::Small}) {
        std::string error;
        EXPECT_FALSE(writePicture("/dev/full", colour, &error, PictureType::Png, setting));
        EXPECT_NE(error.find("/dev/full"), std::string::npos) << error;
    }
}
#endif

} // namespace
