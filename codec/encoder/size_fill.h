// The size search's fill stage: where the chosen stream lands more than the
// tolerance under its budget (the sizes jump between neighbouring steps or
// value costs), finer steps at the chosen value cost and then the decisions
// of a lower value cost's plan, coarse levels first, bring it closer without
// ever exceeding the budget; a larger stream cut to the budget where that
// decodes better.
#pragma once
#include <cstdint>
#include <vector>

#include "codec/encoder/encoder.h"

// Samples up to which the fill blends two plans (it then holds three plans).
constexpr int64_t kFillBlendMaxSamples = int64_t(1) << 20;

// Samples up to which the fill's cut is tried where the caller does not give
// the picture (it is then rebuilt from the prepared one).
constexpr int64_t kFillCutMaxSamples = int64_t(1) << 22;

// *chosen: the parameters of *out, a stream of at most maxBytes (not cut).
// Returns whether it tried, which it does where *out lands more than the
// tolerance under maxBytes; its trials then plan in *workspace. Where it finds
// a larger stream within maxBytes, it replaces *out, *stats and *chosen (the
// step, value cost and boost, whose plan it may have mixed with a lower
// cost's). mayBoost: the caller left the boost free. Where a level-progressive
// stream stays short, a larger stream cut to maxBytes replaces *out where it
// decodes closer to the picture (stats->cut is then set): to `picture` (the
// one prepared) where given, else, up to kFillCutMaxSamples, to the picture
// rebuilt from `prepared` (none for sharpening compensation).
bool fillToSize(const EncoderPicture* picture, const PreparedPicture& prepared, int64_t maxBytes, bool mayBoost,
                EncoderParams* chosen, std::vector<uint8_t>* out, EncodeStats* stats, EncodeWorkspace* workspace);
