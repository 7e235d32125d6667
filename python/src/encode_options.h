// Keyword options of zr.encode: the encoder's option table in Python
// spelling (map_coder for map-coder), with values as Python handed them over.
#pragma once
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "codec/encoder/encode_settings.h"

// A keyword argument's value as Python handed it over.
using OptionValue = std::variant<bool, int64_t, double, std::string, std::vector<int64_t>>;

// Applies one keyword; false with a one-line reason for an unknown name or a
// value the option does not take.
bool applyEncodeOption(const std::string& name, const OptionValue& value, EncodeSettings* settings,
                       std::string* error);

// Settles what depends on several options, as zrenc does; false with the
// reason for combinations zrenc refuses.
bool finishEncodeOptions(EncodeSettings* settings, std::string* error);

// The accepted keywords, for messages and documentation.
std::vector<std::string> encodeOptionNames();
