#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "codec/core/alloc.h"
#include "platform/layer_hooks.h"
#include "server/frame_delivery.h"

namespace {

constexpr uint8_t kUntouched = 0xCD;

FrameInfo frameOf(std::vector<uint8_t>& pixels, int width, int height, bool colour, uint32_t format,
                  uint32_t bits = 8)
{
    FrameInfo f{};
    f.pixels = pixels.data();
    f.width = f.partWidth = width;
    f.height = f.partHeight = height;
    f.isColour = colour ? 1 : 0;
    f.bitsPerPixel = colour ? 24 : bits;
    f.format = format;
    return f;
}

std::vector<uint8_t> contents(HGLOBAL memory)
{
    std::vector<uint8_t> bytes(GlobalSize(memory));
    void* p = GlobalLock(memory);
    std::memcpy(bytes.data(), p, bytes.size());
    GlobalUnlock(memory);
    return bytes;
}

// A block of `size` bytes of kUntouched, unlocked.
HGLOBAL presetMemory(size_t size)
{
    HGLOBAL memory = GlobalAlloc(GMEM_DDESHARE | GMEM_MOVEABLE, size);
    std::memset(GlobalLock(memory), kUntouched, size);
    GlobalUnlock(memory);
    return memory;
}

void release(FrameInfo& f)
{
    GlobalUnlock(f.frameMemory);
    GlobalFree(f.frameMemory);
    f.frameMemory = nullptr;
}

TEST(FrameConversion, ColourBitmapRowsAreBottomUpBgr)
{
    std::vector<uint8_t> pixels(5 * 2 * 3);
    for (size_t i = 0; i < pixels.size(); i++)
        pixels[i] = static_cast<uint8_t>(i + 1);
    FrameInfo f = frameOf(pixels, 5, 2, true, 1);
    f.frameMemory = presetMemory(32);
    ASSERT_EQ(convertFrame(&f, 5, 2), 0);
    // Left locked for the caller: this unlock ends the only lock.
    EXPECT_FALSE(GlobalUnlock(f.frameMemory));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NO_ERROR));

    std::vector<uint8_t> out = contents(f.frameMemory);
    ASSERT_EQ(out.size(), 32u);
    // Source row 0 (bytes 1..15) is destination row 1; row 1 (16..30) is row 0.
    EXPECT_EQ(out[16], 3);
    EXPECT_EQ(out[17], 2);
    EXPECT_EQ(out[18], 1);
    EXPECT_EQ(out[28], 15);
    EXPECT_EQ(out[30], 13);
    EXPECT_EQ(out[31], kUntouched); // padding
    EXPECT_EQ(out[0], 18);
    EXPECT_EQ(out[2], 16);
    EXPECT_EQ(out[15], kUntouched);
    GlobalFree(f.frameMemory);
}

TEST(FrameConversion, FreshMemoryIsSizedForTheWholePicture)
{
    std::vector<uint8_t> pixels(8 * 8 * 3, 200);
    const struct {
        bool colour;
        uint32_t format;
        size_t size;
    } cases[] = {{true, 1, 24 * 8}, {false, 1, 8 * 8}, {true, 3, 8 * 8}, {false, 3, 8 * 8},
                 {true, 0, 8 * 8 * 3}, {false, 7, 8 * 8}};
    for (const auto& c : cases) {
        FrameInfo f = frameOf(pixels, 8, 8, c.colour, c.format);
        // A partial picture of 5 x 2 still gets memory for 8 x 8.
        ASSERT_EQ(convertFrame(&f, 5, 2), 0);
        ASSERT_NE(f.frameMemory, nullptr);
        EXPECT_EQ(GlobalSize(f.frameMemory), c.size) << c.colour << " " << c.format;
        release(f);
    }
}

TEST(FrameConversion, GreyRowsAndRawCopy)
{
    std::vector<uint8_t> pixels = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    FrameInfo f = frameOf(pixels, 5, 2, false, 1);
    f.frameMemory = presetMemory(16);
    ASSERT_EQ(convertFrame(&f, 5, 2), 0);
    GlobalUnlock(f.frameMemory);
    EXPECT_EQ(contents(f.frameMemory), (std::vector<uint8_t>{6, 7, 8, 9, 10, kUntouched, kUntouched, kUntouched, 1,
                                                             2, 3, 4, 5, kUntouched, kUntouched, kUntouched}));
    GlobalFree(f.frameMemory);

    FrameInfo raw = frameOf(pixels, 5, 2, false, 2);
    ASSERT_EQ(convertFrame(&raw, 5, 2), 0);
    GlobalUnlock(raw.frameMemory);
    EXPECT_EQ(contents(raw.frameMemory), pixels);
    GlobalFree(raw.frameMemory);

    // Format 3 on a grey frame of width 5: rows of 8 indices.
    std::vector<uint8_t> white(5 * 3, 255);
    FrameInfo d = frameOf(white, 5, 3, false, 3);
    ASSERT_EQ(convertFrame(&d, 5, 3), 0);
    GlobalUnlock(d.frameMemory);
    std::vector<uint8_t> indices = contents(d.frameMemory);
    ASSERT_EQ(indices.size(), 24u);
    for (int y = 0; y < 3; y++)
        for (int x = 0; x < 5; x++)
            EXPECT_EQ(indices[y * 8 + x], 0xFF);
    GlobalFree(d.frameMemory);
}

TEST(FrameConversion, MemoryIsReusedOrReallocated)
{
    std::vector<uint8_t> pixels(5 * 2 * 3, 9);
    FrameInfo f = frameOf(pixels, 5, 2, true, 1);
    ASSERT_EQ(convertFrame(&f, 5, 2), 0);
    GlobalUnlock(f.frameMemory);
    HGLOBAL first = f.frameMemory;
    long blocks = zrGlobalBlockCount();
    ASSERT_EQ(convertFrame(&f, 5, 2), 0);
    GlobalUnlock(f.frameMemory);
    EXPECT_EQ(f.frameMemory, first);
    EXPECT_EQ(zrGlobalBlockCount(), blocks);
    GlobalFree(first);

    // A block left from a smaller picture is replaced, not overrun.
    HGLOBAL small = presetMemory(10);
    f.frameMemory = small;
    ASSERT_EQ(convertFrame(&f, 5, 2), 0);
    EXPECT_NE(f.frameMemory, small);
    EXPECT_EQ(GlobalSize(small), 0u); // freed
    EXPECT_EQ(GlobalSize(f.frameMemory), 32u);
    release(f);

    // A larger block is kept as it is.
    HGLOBAL large = presetMemory(1000);
    f.frameMemory = large;
    ASSERT_EQ(convertFrame(&f, 5, 2), 0);
    EXPECT_EQ(f.frameMemory, large);
    release(f);
}

TEST(FrameConversion, GlobalMemoryFailing)
{
    std::vector<uint8_t> pixels(5 * 2 * 3, 9);
    FrameInfo f = frameOf(pixels, 5, 2, true, 1);
    zrFailGlobalAllocAfter(0);
    EXPECT_EQ(convertFrame(&f, 5, 2), 102);
    EXPECT_EQ(f.frameMemory, nullptr);

    // The too-small block stays with the frame when no bigger one can be had.
    zrFailGlobalAllocAfter(-1);
    HGLOBAL small = presetMemory(4);
    f.frameMemory = small;
    zrFailGlobalAllocAfter(0);
    EXPECT_EQ(convertFrame(&f, 5, 2), 102);
    zrFailGlobalAllocAfter(-1);
    EXPECT_EQ(f.frameMemory, small);
    EXPECT_EQ(contents(small), std::vector<uint8_t>(4, kUntouched));
    GlobalFree(small);

    // Dithering without its row buffers: 102, memory allocated but unlocked.
    FrameInfo d = frameOf(pixels, 5, 2, true, 3);
    setAllocLimit(16);
    int32_t status = convertFrame(&d, 5, 2);
    setAllocLimit(0);
    EXPECT_EQ(status, 102);
    ASSERT_NE(d.frameMemory, nullptr);
    EXPECT_FALSE(GlobalUnlock(d.frameMemory));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_LOCKED));
    GlobalFree(d.frameMemory);
}

TEST(FrameConversion, DeepGreyFrames)
{
    // 12-bit samples, low byte first: 0xABC, 0x123, 0xFFF.
    std::vector<uint8_t> pixels = {0xBC, 0x0A, 0x23, 0x01, 0xFF, 0x0F};
    FrameInfo f = frameOf(pixels, 3, 1, false, 1, 12);
    ASSERT_EQ(convertFrame(&f, 3, 1), 0);
    GlobalUnlock(f.frameMemory);
    std::vector<uint8_t> out = contents(f.frameMemory);
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[0], 0xAB);
    EXPECT_EQ(out[1], 0x12);
    EXPECT_EQ(out[2], 0xFF);
    GlobalFree(f.frameMemory);

    // The raw copy keeps both bytes of every sample.
    FrameInfo raw = frameOf(pixels, 3, 1, false, 0, 12);
    ASSERT_EQ(convertFrame(&raw, 3, 1), 0);
    GlobalUnlock(raw.frameMemory);
    EXPECT_EQ(contents(raw.frameMemory), pixels);
    GlobalFree(raw.frameMemory);

    // 16-bit samples dither by their high byte.
    std::vector<uint8_t> sixteen = {0x00, 0xFF, 0xFF, 0xFF};
    FrameInfo d = frameOf(sixteen, 2, 1, false, 3, 16);
    ASSERT_EQ(convertFrame(&d, 2, 1), 0);
    GlobalUnlock(d.frameMemory);
    out = contents(d.frameMemory);
    EXPECT_EQ(out[0], 0xFF);
    EXPECT_EQ(out[1], 0xFF);
    GlobalFree(d.frameMemory);
}

} // namespace
