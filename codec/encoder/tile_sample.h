// A small prepared picture standing in for a large one while a size search
// looks for its rate: whole tiles of the large picture's coefficients, every
// level's share of each tile copied as it is, so that no edge appears where
// two tiles meet. The tiles are chosen across the ranks of their detail, so
// that the sample's detail spreads as the picture's does.
#pragma once
#include <cstdint>
#include <vector>

#include "codec/encoder/encoder.h"

// Pictures from this many samples up are sampled.
constexpr int64_t kSampleFrom = int64_t(1) << 20;

struct TileSample {
    PreparedPicture prepared;
    double share = 1.0; // the sample's area over the picture's
};

// Detail of each whole tile x tile square of the prepared picture, tile
// rows by tile columns: log magnitudes of its detail coefficients against
// `step`, summed over its levels and components (on up to `threads`
// threads, the same for every count).
std::vector<double> tileDetail(const PreparedPicture& prepared, int32_t tile, double step, int32_t threads = 1);

// The tiles taken: `count` indexes (row-major over the picture's tiles) at
// evenly spread ranks of `detail`, in row-major order.
std::vector<int32_t> tilesAcrossRanks(const std::vector<double>& detail, size_t count);

// About 1/16 of the picture's area (1/8 below 4 million samples); false
// where the picture is too small for sampling to pay. The components are
// taken on up to `threads` threads.
bool takeTileSample(const PreparedPicture& prepared, TileSample* sample, int32_t threads = 1);
