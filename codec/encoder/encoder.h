// The encoder: writes version-2 streams of either mode with any coder
// combination the decoder accepts.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "codec/encoder/coefficient_plan.h"
#include "codec/encoder/forward_transform.h"
#include "codec/encoder/header_writer.h"
#include "codec/encoder/significance_planner.h"

// A grey (1 component) or colour (3, red green blue) picture, samples
// interleaved row by row, each 0 .. 2^bitsPerSample - 1.
struct EncoderPicture {
    int32_t height = 0;
    int32_t width = 0;
    int32_t components = 1;
    int32_t bitsPerSample = 8;   // 8 for colour, 8..16 for grey
    const uint16_t* samples = nullptr;
};

struct EncoderParams {
    int32_t decodeMode = 0;      // 0 one-pass, 1 level-progressive
    int32_t mapCoder = 0;        // 0..3 (3 carries no detail)
    int32_t valueCoder = 0;      // 0..3
    int32_t quantStep = 4;       // 1..65535
    int32_t fineSteps = 0;
    int32_t magnitudeBoost = 0;
    int32_t contrastStretch = 0; // decoders stretch tones by contrastStretch + 1 around the mean
    int32_t hasTrailer = 0;
    uint32_t extension1 = 0;     // 0..255
    uint32_t extension2 = 0;     // 0..255
    uint32_t extension3 = 0;     // 0..7
    // Prepare the stream for decoders asked to sharpen: they then restore the
    // picture, while decoders that do not sharpen show it softer.
    int32_t sharpenCompensation = 0;
    // Cost of one coded value against its squared error, in squared steps:
    // larger values leave more small coefficients out.
    double valueCost = 0.1;
    // Rounds fitting the coded values to the decoder's synthesis (each about
    // one more encode's planning); 0: the plain transform's values.
    int32_t synthesisRounds = 0;
    // Threads an encode may use (0: all cores); the stream is the same for
    // every count.
    int32_t threads = 1;
    // Optional: told of every trial encode of a size search (the step tried
    // and the stream's size in bytes), so that callers can show progress.
    void (*searchProgress)(void* context, int32_t step, int64_t bytes) = nullptr;
    // Optional: told once an encode or size search no longer reads the
    // picture's samples (the prepared planes hold all it needs), so that
    // callers can free them early.
    void (*samplesRead)(void* context) = nullptr;
    void* progressContext = nullptr;
};

// Limits of the unary header fields.
constexpr int32_t kMaxFineSteps = 255;
constexpr int32_t kMaxMagnitudeBoost = 64;
constexpr int32_t kMaxContrastStretch = 255;
constexpr int32_t kMaxSynthesisRounds = 16;

struct EncodeStats {
    int64_t clampedValues = 0;   // magnitudes cut to what the value coder carries
    int32_t levels = 0;
    // A size search cut a larger stream to its target: decoders show what
    // arrived and report that the stream ended early.
    bool cut = false;
};

// The picture after the forward colour transform and the wavelet
// decomposition; it does not depend on the coding parameters, so one prepared
// picture serves every encode of a step search.
struct PreparedPicture {
    int32_t height = 0;
    int32_t width = 0;
    int32_t components = 0;
    int32_t bitsPerSample = 0;
    int32_t levels = 0;
    int32_t sharpenedFor = -1;   // decodeMode whose sharpening decoders it serves, or -1
    CoefficientPlane planes[3];
};

// Empty when the picture can be written with these parameters, else the
// reason (one line).
std::string checkEncoderParams(const EncoderPicture& picture, const EncoderParams& params);

// Uses params.sharpenCompensation and params.decodeMode only.
bool preparePicture(const EncoderPicture& picture, const EncoderParams& params,
                    PreparedPicture* prepared, std::string* error);
// The picture `prepared` was prepared from, rebuilt by the inverse transforms:
// *samples receives its samples, *picture describes them. Exact for pictures
// prepared without sharpening compensation; false for the others.
bool restorePicture(const PreparedPicture& prepared, std::vector<uint16_t>* samples, EncoderPicture* picture);

// Arrays an encode fills; a search keeps one across its trials so that each
// trial reuses the memory of the last.
struct EncodeWorkspace {
    PicturePlan plan;
    PlanRates rates; // what planning `plan` learnt
    // Write `plan` as it stands (made by an encode with the same settings
    // but for the stream layout) rather than planning again.
    bool reusePlan = false;
};

// The planner's share of the parameters.
PlanSettings planSettingsOf(const EncoderParams& params);

// The header of a stream of the prepared picture with these parameters.
StreamHeader streamHeaderOf(const PreparedPicture& prepared, const EncoderParams& params);

// The plan encodePrepared writes for these parameters; *rates (may be null)
// receives what planning learnt.
void planPrepared(const PreparedPicture& prepared, const EncoderParams& params, PicturePlan* plan, PlanRates* rates);

// Writes the stream into *out (replacing its contents). The picture must have
// been prepared for the same sharpening compensation and mode.
bool encodePrepared(const PreparedPicture& prepared, const EncoderParams& params,
                    std::vector<uint8_t>* out, EncodeStats* stats, std::string* error,
                    EncodeWorkspace* workspace = nullptr);
bool encodePicture(const EncoderPicture& picture, const EncoderParams& params,
                   std::vector<uint8_t>* out, EncodeStats* stats, std::string* error);
