// Encodes to a size under several parameter sets (modes, coders, value costs,
// boost) and keeps the stream that decodes closest to the picture.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "codec/encoder/encoder.h"

constexpr int32_t kMaxEffort = 3;

// What the caller chose and the search must keep.
struct FixedChoices {
    bool mode = false;
    bool mapCoder = false;
    bool valueCoder = false;
    bool valueCost = false;
    bool boost = false;
};

// The value cost a size search starts from at a target of this many bits per
// pixel (at 8 bits a sample): at high rates a finer step that leaves more
// small values out decodes closer than a coarser one that codes them.
double valueCostForRate(double bitsPerPixel);

// The parameter sets tried at effort 0..kMaxEffort; the first is `base`,
// from effort 2 on with values fitted to the synthesis. Efforts 0 and 1 try
// `base` alone.
std::vector<EncoderParams> effortCandidates(const EncoderParams& base, int32_t effort, const FixedChoices& fixed);

// The map coder for a level-progressive stream with value coder 0: 1 (the
// curve scan) unless 0 (raster runs) writes the picture at a probe step in
// fewer bytes by a clear margin, as it does for dense bands (fine textures,
// flat renders). Both code the same values, so the bytes alone decide.
// Pictures over kMapProbeSamples are probed on a strip of whole rows from
// their middle. Other parameters keep params.mapCoder.
constexpr int64_t kMapProbeSamples = int64_t(1) << 20;
int32_t chooseMapCoder(const EncoderPicture& picture, const PreparedPicture& prepared, const EncoderParams& params);

// Squared error of the decoded stream against the picture, summed over all
// samples; negative when the decoder refuses the stream.
double decodedSquaredError(const std::vector<uint8_t>& stream, const EncoderPicture& picture);

// Encodes every candidate (all prepared as `prepared`) to at most maxBytes on
// up to `threads` threads and keeps the one with the least decoded error
// (the earliest on ties): the result does not depend on the thread count.
bool encodeBestToSize(const EncoderPicture& picture, const PreparedPicture& prepared,
                      const std::vector<EncoderParams>& candidates, int64_t maxBytes, int32_t threads,
                      std::vector<uint8_t>* out, EncoderParams* chosen, EncodeStats* stats, std::string* error);
