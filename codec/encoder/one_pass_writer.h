// The one-pass stream layout: header, lowest bands, one significance map per
// component, then the values level by level, coarsest first.
#pragma once
#include <cstdint>

#include "codec/encoder/coefficient_plan.h"
#include "codec/encoder/header_writer.h"

struct BitReader;

bool writeOnePassStream(BitReader* writer, const StreamHeader& header, const PicturePlan& plan);
