// The mark of a stream written for sharpening decoders: set in the optional
// trailer fields, which decoders read and never use (extension1 'S',
// extension2 'H', extension3 1).
#pragma once
#include <cstdint>

#include "codec/session/session.h"

constexpr uint32_t kSharpenMark[3] = {0x53, 0x48, 1};

inline bool isSharpenedStream(const DecodeSession& h)
{
    return h.extension1 == kSharpenMark[0] && h.extension2 == kSharpenMark[1] && h.extension3 == kSharpenMark[2];
}
