// Finds the quantisation step that brings a stream to a target size.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "codec/encoder/encoder.h"

// Encodes with the smallest step (1..65535) whose stream takes at most
// maxBytes; *step receives it. Fails when even the largest step is too big.
bool encodeToSize(const PreparedPicture& prepared, const EncoderParams& params, int64_t maxBytes,
                  std::vector<uint8_t>* out, int32_t* step, EncodeStats* stats, std::string* error);
