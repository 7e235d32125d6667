#include "server/frame_delivery.h"

#include <cstring>

#include "platform/windows_api.h"

namespace {

uint64_t paddedRow(uint64_t bytes)
{
    return (bytes + 3) & ~static_cast<uint64_t>(3);
}

// Bytes that a conversion of width x height pixels in `format` occupies.
uint64_t layoutSize(uint32_t format, uint64_t width, uint64_t height, uint64_t bytesPerPixel, uint64_t components)
{
    if (format == FRAME_FORMAT_BITMAP)
        return paddedRow(components * width) * height;
    if (format == FRAME_FORMAT_PALETTE)
        return paddedRow(width) * height;
    return width * height * bytesPerPixel;
}

// Makes sure frameMemory holds at least `written` bytes; allocations are sized
// for the whole picture. On failure an existing block is kept.
bool provideMemory(FrameInfo* frame, uint64_t written, uint64_t full)
{
    if (frame->frameMemory && GlobalSize(frame->frameMemory) >= written)
        return true;
    uint64_t size = full > written ? full : written;
    if (size == 0)
        size = 1;
    if (size > SIZE_MAX)
        return false;
    HGLOBAL memory = GlobalAlloc(GMEM_DDESHARE | GMEM_MOVEABLE, static_cast<SIZE_T>(size));
    if (!memory)
        return false;
    if (frame->frameMemory)
        GlobalFree(frame->frameMemory);
    frame->frameMemory = memory;
    return true;
}

uint8_t topByte(const uint8_t* sample, uint32_t bitsPerSample)
{
    return static_cast<uint8_t>((sample[0] | static_cast<uint32_t>(sample[1]) << 8) >> (bitsPerSample - 8));
}

void writeBitmap(const uint8_t* pixels, uint8_t* out, size_t width, size_t height, bool colour, bool deep,
                 uint32_t bitsPerSample)
{
    size_t components = colour ? 3 : 1;
    size_t sourceStride = width * components * (deep ? 2 : 1);
    size_t stride = static_cast<size_t>(paddedRow(components * width));
    for (size_t i = 0; i < height; i++) {
        const uint8_t* src = pixels + i * sourceStride;
        uint8_t* dst = out + (height - 1 - i) * stride;
        if (colour) {
            for (size_t x = 0; x < width; x++) {
                dst[3 * x] = src[3 * x + 2];
                dst[3 * x + 1] = src[3 * x + 1];
                dst[3 * x + 2] = src[3 * x];
            }
        } else if (deep) {
            for (size_t x = 0; x < width; x++)
                dst[x] = topByte(src + 2 * x, bitsPerSample);
        } else {
            std::memcpy(dst, src, width);
        }
    }
}

} // namespace

int32_t convertFrame(FrameInfo* frame, int32_t width, int32_t height)
{
    bool colour = frame->isColour != 0;
    bool deep = !colour && frame->bitsPerPixel > 8;
    uint64_t components = colour ? 3 : 1;
    uint64_t bytesPerPixel = components * (deep ? 2 : 1);
    uint64_t w = width > 0 ? static_cast<uint64_t>(width) : 0;
    uint64_t h = height > 0 ? static_cast<uint64_t>(height) : 0;
    uint64_t fullWidth = frame->width > 0 ? static_cast<uint64_t>(frame->width) : 0;
    uint64_t fullHeight = frame->height > 0 ? static_cast<uint64_t>(frame->height) : 0;

    uint64_t written = layoutSize(frame->format, w, h, bytesPerPixel, components);
    uint64_t full = layoutSize(frame->format, fullWidth, fullHeight, bytesPerPixel, components);
    if (!provideMemory(frame, written, full))
        return ZR_NO_GLOBAL_MEMORY;
    uint8_t* out = static_cast<uint8_t*>(GlobalLock(frame->frameMemory));
    if (!out)
        return ZR_NO_GLOBAL_MEMORY;
    if (!frame->pixels || written == 0)
        return 0;

    if (frame->format == FRAME_FORMAT_BITMAP) {
        writeBitmap(frame->pixels, out, static_cast<size_t>(w), static_cast<size_t>(h), colour, deep,
                    frame->bitsPerPixel);
    } else if (frame->format == FRAME_FORMAT_PALETTE) {
        if (ditherFrame(frame->pixels, out, width, height, frame->isColour, deep ? frame->bitsPerPixel : 8) != 0) {
            GlobalUnlock(frame->frameMemory);
            return ZR_NO_GLOBAL_MEMORY;
        }
    } else {
        std::memcpy(out, frame->pixels, static_cast<size_t>(written));
    }
    return 0;
}
