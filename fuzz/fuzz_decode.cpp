// decodeStart on a stream wholly in memory, with the request's options taken
// from the input.
//
// Input: one settings byte, then the stream.
//   bit 0  exactSteps     bit 1  halfSize
//   bits 2-3  the options' sharpen field (only 1 switches sharpening on)
#include "decode_checks.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    limitAllocations();
    FuzzInput in{data, size};
    uint8_t settings = in.byte();

    StreamSource source{in.data, static_cast<int32_t>(in.size), 0, 0};
    DecodeOptions options = decodeOptionsFrom(settings);
    FrameInfo frame{};
    frame.format = 1;

    int32_t status = decodeStart(&source, &options, &frame);
    checkFinalFrame(status, frame);
    decodeFree(&frame);
    return 0;
}
