// The level-progressive stream layout: header, lowest bands, then for every
// level, coarsest first, a detail flag and, when it is set, each component's
// value coder start data, its three band passes and its end data.
#pragma once
#include <cstdint>

#include "codec/encoder/coefficient_plan.h"
#include "codec/encoder/header_writer.h"

struct BitReader;

bool writeProgressiveStream(BitReader* writer, const StreamHeader& header, const PicturePlan& plan);
