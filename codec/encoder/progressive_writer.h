// The level-progressive stream layout: header, lowest bands, then for every
// level, coarsest first, a detail flag and, when it is set, each component's
// value coder start data, its three band passes and its end data.
#pragma once
#include <cstdint>

#include "codec/encoder/coefficient_plan.h"
#include "codec/encoder/header_writer.h"

struct BitReader;

// Where no coder state passes from one component to the next (map coder 1,
// or map coder 0 with value coder 0), the components are written on up to
// `threads` threads and joined: the same bits for every count.
bool writeProgressiveStream(BitReader* writer, const StreamHeader& header, const PicturePlan& plan,
                            int32_t threads = 1);
