// Keyword options of zr.encode, mapped onto the encoder's parameters the way
// zrenc maps its command-line options.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "codec/encoder/encoder.h"

// A keyword argument's value as Python handed it over.
using OptionValue = std::variant<bool, int64_t, double, std::string, std::vector<int64_t>>;

struct EncodeRequest {
    EncoderParams params;
    bool fineStepsGiven = false;
    int32_t bits = 0;          // stream depth of a grey picture; 0: the array's
    int64_t sizeTarget = 0;    // bytes, 0: none
    double bppTarget = 0.0;    // bits per pixel, 0: none
};

// zrenc's defaults: level-progressive, map coder 1, value coder 0.
EncodeRequest defaultEncodeRequest();

// Applies one keyword; false with a one-line reason for an unknown name or a
// value out of range.
bool applyEncodeOption(const std::string& name, const OptionValue& value, EncodeRequest* request,
                       std::string* error);

// Settles what depends on several options (as zrenc does); false with a
// reason for combinations zrenc refuses.
bool finishEncodeRequest(EncodeRequest* request, std::string* error);

// The accepted keywords, for messages and documentation.
std::vector<std::string> encodeOptionNames();
