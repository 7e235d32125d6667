// The default size search's last step: the stream it chose, refitted to the
// decoder's synthesis at the same step (one round), where the refitted stream
// still fits the budget.
#pragma once
#include <cstdint>
#include <vector>

#include "codec/encoder/encoder.h"

// Rounds of the refit after a plain size search (effort 1).
constexpr int32_t kFinalFittingRounds = 1;

// Samples up to which the refit runs: its round holds one more plane per
// component and one besides, which large pictures are spared.
constexpr int64_t kFinalFittingMaxSamples = int64_t(1) << 22;

// Rounds of each trial of the fitted search that follows a plain size search
// (effort 1) on pictures of fewer than kFittedSearchMaxSamples pixels (whose
// plain search runs on the whole picture, not a sample): its trials cost
// about three plain ones, and it takes two to six of them.
constexpr int32_t kFittedSearchRounds = 1;
constexpr int64_t kFittedSearchMaxSamples = int64_t(1) << 19;

// Samples up to which the refitted stream replaces the chosen one only where
// it decodes closer to the picture (rebuilt from the prepared one).
constexpr int64_t kFinalCheckMaxSamples = int64_t(1) << 20;

// `chosen`: the parameters (step and value cost included) of *out, a stream
// of at most maxBytes. Replaces *out (and *stats) by the refitted stream
// when that takes at most maxBytes and no fewer bytes than both *out and the
// 1% window below maxBytes ask (and, up to kFinalCheckMaxSamples, decodes
// closer to the picture); the value cost moves to bring it there, a few
// trials at most. Returns whether *out was replaced. `planned`, where given, is the
// plan of *out (the search's last), which then is not made again; the refit
// consumes it, as it consumes *prepared (its planes end as the fitted values,
// or spent).
bool refitChosenStream(PreparedPicture* prepared, const EncoderParams& chosen, int64_t maxBytes,
                       std::vector<uint8_t>* out, EncodeStats* stats, PicturePlan* planned = nullptr);

// Whether a plain size search with these parameters ends with the refit.
bool refitsChosenStream(const PreparedPicture& prepared, const EncoderParams& params);

// Whether a plain size search with these parameters is followed by the
// fitted search (then by the refit where that does not replace the stream).
bool searchesFittedStream(const PreparedPicture& prepared, const EncoderParams& params);

// A size search whose every trial fits the values to the decoder's synthesis
// (kFittedSearchRounds), started from the step of `chosen`, the plain
// search's answer for *out, with the settings and value cost of `base`, where
// searchesFittedStream says so. Replaces
// *out, *stats and *step when the fitted stream takes at most maxBytes, no
// fewer than both *out and the 1% window below maxBytes ask, and decodes
// closer to the picture (rebuilt from `prepared`); returns whether it did.
bool searchFittedStream(const PreparedPicture& prepared, const EncoderParams& base, const EncoderParams& chosen,
                        int64_t maxBytes, std::vector<uint8_t>* out, EncodeStats* stats, int32_t* step);
