// Brings a stream to a target size: the step sets the coarse rate, the cost
// of a coded value fills the gap between two neighbouring steps.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "codec/encoder/encoder.h"

struct SizeSearchReport {
    int32_t step = 0;
    double valueCost = 0.0;   // the value cost of the chosen stream
    int32_t encodes = 0;      // trial encodes spent on the whole picture
    int32_t sampleEncodes = 0; // trial encodes of a sample of it
    // What the whole picture's trials did: plans made, whole streams
    // written, finest-level writes apart from the coarser levels, and
    // replans of the finest level alone.
    int32_t plans = 0;
    int32_t writes = 0;
    int32_t finestWrites = 0;
    int32_t replans = 0;
    bool cut = false;         // a larger stream cut to the target (sizes jump over the window)
    bool planKept = false;    // the workspace given holds the chosen stream's plan
};

// Streams within this share below the target count as on target.
constexpr double kSizeTolerance = 0.01;

// The rate of a target of `bytes` over height x width pixels in bits per
// pixel, as for samples of 8 bits.
double eightBitRate(int64_t bytes, int32_t height, int32_t width, int32_t bitsPerSample);

// Encodes with parameters whose stream takes at most maxBytes and, wherever
// the stream can be that large, nearly always at least 99% of it; *step
// receives the step. Where the sizes jump far over that window, a larger
// stream is cut to maxBytes.
// Fails when even the largest step is too big.
bool encodeToSize(const PreparedPicture& prepared, const EncoderParams& params, int64_t maxBytes,
                  std::vector<uint8_t>* out, int32_t* step, EncodeStats* stats, std::string* error,
                  SizeSearchReport* report = nullptr);
// The same, faster on large pictures: the search runs on a sample of the
// picture's tiles first (see TileSample) and then needs about one plan of
// the whole picture, whose finest level is written apart and decided again
// until the stream lands, or two whole encodes for other modes and coders.
// `prepared` is prepared for params; a sampled search starts from the step
// the target's rate suggests, not from params.quantStep. With a workspace,
// its trials plan there, and report->planKept tells whether the chosen
// stream's plan is still in it.
bool encodePictureToSize(const PreparedPicture& prepared, const EncoderParams& params,
                         int64_t maxBytes, std::vector<uint8_t>* out, int32_t* step, EncodeStats* stats,
                         std::string* error, SizeSearchReport* report = nullptr,
                         EncodeWorkspace* workspace = nullptr);
