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

// Whether the finest level's detail of component 0 (bands 0 and 1) is dense
// and close to Gaussian, as in noise, grain and woven texture: its root mean
// square at least kDenseDetailRms (8-bit units) and its kurtosis below
// kDenseDetailKurtosis. Photographs and renders have sparse, heavy-tailed
// detail (kurtosis 15 and up); smooth pictures have little (rms below 3).
constexpr double kDenseDetailRms = 4.0;
constexpr double kDenseDetailKurtosis = 10.0;
bool finestDetailIsDense(const PreparedPicture& prepared);

// The value cost a size search on this picture starts from: valueCostForRate,
// except for dense finest detail, whose many small values decode closer kept
// than traded for a finer step: there the low-rate cost holds at every rate.
double valueCostForPicture(const PreparedPicture& prepared, double bitsPerPixel);

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
