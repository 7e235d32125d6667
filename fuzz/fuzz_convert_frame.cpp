// convertFrame with random picture and partial sizes, formats, sample depths
// and a frame memory left over from an earlier conversion of any size.
//
// Input: eleven settings bytes, then the pixel bytes (repeated to fill the
// picture's pixel block).
//   byte 0     bits 0-1 format (1, 3, 0 or 7), bit 2 colour, bits 3-6 grey depth 8 + (v % 9)
//   bytes 1-4  picture width and height (each 1..512)
//   bytes 5-8  converted width and height (0..picture size)
//   bytes 9-10 size of a leftover frame memory (0: none)
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_input.h"
#include "platform/windows_api.h"
#include "server/frame_delivery.h"

namespace {

constexpr uint32_t kFormats[4] = {1, 3, 0, 7};
constexpr int32_t kMaxSide = 512;

void check(bool condition)
{
    if (!condition)
        std::abort();
}

int32_t side(FuzzInput& in, int32_t limit)
{
    uint32_t v = static_cast<uint32_t>(in.byte()) << 8;
    v |= in.byte();
    return static_cast<int32_t>(v % static_cast<uint32_t>(limit + 1));
}

// The layouts that can be checked byte by byte: the raw copy, and bitmap rows
// of colour or 8-bit grey pictures.
void checkLayout(const FrameInfo& frame, const uint8_t* out, int32_t width, int32_t height)
{
    size_t w = static_cast<size_t>(width), h = static_cast<size_t>(height);
    if (frame.format != 1 && frame.format != 3) {
        size_t a = frame.isColour ? 3 : (frame.bitsPerPixel > 8 ? 2 : 1);
        check(std::memcmp(out, frame.pixels, w * h * a) == 0);
        return;
    }
    if (frame.format != 1 || (!frame.isColour && frame.bitsPerPixel > 8))
        return;
    size_t a = frame.isColour ? 3 : 1;
    size_t stride = (a * w + 3) & ~size_t{3};
    for (size_t i = 0; i < h; i++) {
        const uint8_t* src = frame.pixels + i * a * w;
        const uint8_t* dst = out + (h - 1 - i) * stride;
        for (size_t x = 0; x < w; x++) {
            if (frame.isColour)
                check(dst[3 * x] == src[3 * x + 2] && dst[3 * x + 1] == src[3 * x + 1]
                      && dst[3 * x + 2] == src[3 * x]);
            else
                check(dst[x] == src[x]);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    limitAllocations();
    FuzzInput in{data, size};
    uint8_t settings = in.byte();
    FrameInfo frame{};
    frame.format = kFormats[settings & 3];
    frame.isColour = (settings >> 2) & 1;
    frame.bitsPerPixel = frame.isColour ? 24 : 8 + ((settings >> 3) & 15) % 9;
    frame.width = 1 + side(in, kMaxSide - 1);
    frame.height = 1 + side(in, kMaxSide - 1);
    int32_t width = side(in, frame.width);
    int32_t height = side(in, frame.height);
    frame.partWidth = width;
    frame.partHeight = height;
    uint32_t leftover = static_cast<uint32_t>(in.byte()) << 8;
    leftover |= in.byte();

    // The decoder's pixel block for the whole picture.
    size_t a = frame.isColour ? 3 : (frame.bitsPerPixel > 8 ? 2 : 1);
    std::vector<uint8_t> pixels(static_cast<size_t>(frame.width) * static_cast<size_t>(frame.height) * a);
    for (size_t i = 0; i < pixels.size(); i++)
        pixels[i] = in.size ? in.data[i % in.size] : static_cast<uint8_t>(i);
    frame.pixels = pixels.data();
    if (leftover)
        frame.frameMemory = GlobalAlloc(GMEM_DDESHARE | GMEM_MOVEABLE, leftover);

    // A partial frame, then the final frame into the same memory.
    for (int pass = 0; pass < 2; pass++) {
        int32_t w = pass == 0 ? width : frame.width;
        int32_t h = pass == 0 ? height : frame.height;
        int32_t status = convertFrame(&frame, w, h);
        check(status == 0 || status == 102);
        if (status != 0)
            break;
        check(frame.frameMemory != nullptr);
        const uint8_t* out = static_cast<const uint8_t*>(GlobalLock(frame.frameMemory));
        checkLayout(frame, out, w, h);
        GlobalUnlock(frame.frameMemory); // the lock taken here
        GlobalUnlock(frame.frameMemory); // the lock convertFrame left
    }
    if (frame.frameMemory)
        GlobalFree(frame.frameMemory);
    return 0;
}
