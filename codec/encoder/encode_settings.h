// The encoder's named options, shared by zrenc's command line and zr.encode's
// keywords: one table of names, value kinds and ranges, the rules that settle
// options depending on each other, the quality scale, and the encode they
// describe (a step, or a size target searched at some effort).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "codec/encoder/effort_search.h"
#include "codec/encoder/encoder.h"
#include "codec/encoder/step_search.h"

struct EncodeSettings {
    EncoderParams params;    // level-progressive, map coder 1, value coder 0 unless chosen
    FixedChoices fixed;      // which choices an effort search must keep
    bool fineStepsGiven = false;
    bool stepGiven = false;
    int32_t quality = -1;    // 0..100; -1: none
    int32_t bits = 0;        // depth of a grey stream; 0: the picture's
    int64_t sizeTarget = 0;  // bytes; 0: none
    double bppTarget = 0.0;  // bits per pixel; 0: none
    int32_t effort = 1;
    int32_t threads = 0;     // threads of the encode; 0: all cores

    EncodeSettings()
    {
        params.decodeMode = 1;
        params.mapCoder = 1;
        params.valueCoder = 0;
    }
};

enum class SettingKind {
    Whole,  // an integer within [lo, hi]
    Number, // a real number within [lo, hi]
    Word,
    Switch, // on or off
    Triple, // three integers
};

struct SettingValue {
    int64_t whole = 0; // Whole; Switch: 0 or 1
    double number = 0.0;
    std::string word;
    int64_t triple[3] = {};
};

struct EncodeSetting {
    const char* name; // words joined by '-': "map-coder"
    SettingKind kind;
    double lo;
    double hi;
    const char* takes; // what the option takes, for messages: "a whole number from 0 to 3"
    bool (*apply)(const SettingValue& value, EncodeSettings* settings); // false: not what `takes` says
};

const std::vector<EncodeSetting>& encodeSettingTable();
// Null for a name the table does not have.
const EncodeSetting* findEncodeSetting(const std::string& name);
// Checks the value against the setting's range and applies it; false when
// the value is not what `setting.takes` says.
bool applyEncodeSetting(const EncodeSetting& setting, const SettingValue& value, EncodeSettings* settings);

// How a front end writes an option's name in messages ("--size", "size").
using SpellName = std::string (*)(const std::string& name);

struct SettleMessages {
    std::vector<std::string> warnings; // options that have no effect
    std::vector<std::string> notes;    // choices made for the caller
};

// Settles what depends on several options: refuses contradictions (false,
// with the reason), marks sharpening streams, chooses fine steps where the
// coders need them.
bool settleEncodeSettings(EncodeSettings* settings, SpellName spell, SettleMessages* said, std::string* error);

// Quality 0..100 to a step: 75 is step 4, every 12.5 lower doubles the step,
// 100 is step 1, the closest to lossless. Deeper grey scales the step with
// its range.
int32_t stepForQuality(int32_t quality, int32_t bitsPerSample);

// Encodes the picture as the settings say: at the quality's or the given
// step, or to the size target (at effort 1 the values of the chosen step
// are then fitted to the synthesis; effort 2 and up search more settings).
// *step receives the step used. params.searchProgress is told of trial
// encodes of a single-setting size search, whose report *searched receives
// where given (left as it is for other encodes).
bool encodeWithSettings(const EncoderPicture& picture, EncodeSettings settings, std::vector<uint8_t>* out,
                        int32_t* step, EncodeStats* stats, std::string* error,
                        SizeSearchReport* searched = nullptr);
