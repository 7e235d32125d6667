// zr.StreamDecoder's engine: takes the stream in chunks and collects the
// partial pictures that become due.
#pragma once
#include <pybind11/pybind11.h>

#include <cstdint>
#include <vector>

#include "codec/zr.h"

class StreamDecoder {
public:
    StreamDecoder(int32_t interval, bool exact, bool lowMemory, bool sharpen);
    ~StreamDecoder();
    StreamDecoder(const StreamDecoder&) = delete;
    StreamDecoder& operator=(const StreamDecoder&) = delete;

    // Appends a chunk; returns the partial pictures that became due, as
    // (pixels, position) tuples. Raises ZrError once the stream is refused.
    pybind11::list feed(pybind11::buffer chunk);
    // Ends the stream: returns (partial pictures, final picture).
    pybind11::tuple finish();
    // The header's fields once read, else None.
    pybind11::object header() const;
    void close();

private:
    struct Partial {
        std::vector<uint8_t> pixels;
        int32_t partHeight, partWidth, channels, bytesPerPixel, position;
    };
    static int32_t collect(void* context, const ZrPartial* partial);
    pybind11::list takePartials();
    [[noreturn]] void refuse(int32_t status);
    ZrIncremental* decoder_ = nullptr;
    std::vector<Partial> due_;
    std::vector<uint8_t> head_;  // the first bytes, to explain a refusal
};
