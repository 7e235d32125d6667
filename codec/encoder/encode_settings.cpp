#include "codec/encoder/encode_settings.h"

#include <climits>
#include <cmath>

#include "codec/encoder/final_fitting.h"
#include "codec/encoder/parallel_tasks.h"
#include "codec/encoder/size_fill.h"
#include "codec/encoder/step_search.h"
#include "codec/session/sharpen_mark.h"

namespace {

using S = EncodeSettings;
using V = SettingValue;

const std::vector<EncodeSetting> kTable = {
    {"mode", SettingKind::Word, 0, 0, "one-pass or progressive",
     [](const V& v, S* s) {
         if (v.word != "one-pass" && v.word != "progressive")
             return false;
         s->params.decodeMode = v.word == "progressive" ? 1 : 0;
         s->fixed.mode = true;
         return true;
     }},
    {"map-coder", SettingKind::Whole, 0, 3, "a whole number from 0 to 3",
     [](const V& v, S* s) {
         s->params.mapCoder = int32_t(v.whole);
         s->fixed.mapCoder = true;
         return true;
     }},
    {"value-coder", SettingKind::Whole, 0, 3, "a whole number from 0 to 3",
     [](const V& v, S* s) {
         s->params.valueCoder = int32_t(v.whole);
         s->fixed.valueCoder = true;
         return true;
     }},
    {"step", SettingKind::Whole, 1, 65535, "a whole number from 1 to 65535",
     [](const V& v, S* s) {
         s->params.quantStep = int32_t(v.whole);
         s->stepGiven = true;
         return true;
     }},
    {"quality", SettingKind::Whole, 0, 100, "a whole number from 0 to 100",
     [](const V& v, S* s) {
         s->quality = int32_t(v.whole);
         return true;
     }},
    {"fine-steps", SettingKind::Whole, 0, kMaxFineSteps, "a whole number from 0 to 255",
     [](const V& v, S* s) {
         s->params.fineSteps = int32_t(v.whole);
         s->fineStepsGiven = true;
         return true;
     }},
    {"boost", SettingKind::Whole, 0, kMaxMagnitudeBoost, "a whole number from 0 to 64",
     [](const V& v, S* s) {
         s->params.magnitudeBoost = int32_t(v.whole);
         s->fixed.boost = true;
         return true;
     }},
    {"stretch", SettingKind::Whole, 0, kMaxContrastStretch, "a whole number from 0 to 255",
     [](const V& v, S* s) {
         s->params.contrastStretch = int32_t(v.whole);
         return true;
     }},
    {"bits", SettingKind::Whole, 8, 16, "a whole number from 8 to 16",
     [](const V& v, S* s) {
         s->bits = int32_t(v.whole);
         return true;
     }},
    {"trailer", SettingKind::Triple, 0, 0, "three numbers, the first two 0..255 and the third 0..7",
     [](const V& v, S* s) {
         const int64_t* t = v.triple;
         if (t[0] < 0 || t[0] > 255 || t[1] < 0 || t[1] > 255 || t[2] < 0 || t[2] > 7)
             return false;
         s->params.hasTrailer = 1;
         s->params.extension1 = uint32_t(t[0]);
         s->params.extension2 = uint32_t(t[1]);
         s->params.extension3 = uint32_t(t[2]);
         return true;
     }},
    {"sharpen", SettingKind::Switch, 0, 1, "on or off",
     [](const V& v, S* s) {
         s->params.sharpenCompensation = int32_t(v.whole);
         return true;
     }},
    {"size", SettingKind::Whole, 1, INT32_MAX, "a number of bytes from 1 to 2147483647",
     [](const V& v, S* s) {
         s->sizeTarget = v.whole;
         return true;
     }},
    {"bpp", SettingKind::Number, 1e-9, 64, "a positive number of bits per pixel up to 64",
     [](const V& v, S* s) {
         s->bppTarget = v.number;
         return true;
     }},
    {"value-cost", SettingKind::Number, 0, 1000, "a number from 0 to 1000",
     [](const V& v, S* s) {
         s->params.valueCost = v.number;
         s->fixed.valueCost = true;
         return true;
     }},
    {"effort", SettingKind::Whole, 0, kMaxEffort, "a whole number from 0 to 3",
     [](const V& v, S* s) {
         s->effort = int32_t(v.whole);
         return true;
     }},
    {"threads", SettingKind::Whole, 1, 256, "a whole number from 1 to 256",
     [](const V& v, S* s) {
         s->threads = int32_t(v.whole);
         return true;
     }},
};

} // namespace

const std::vector<EncodeSetting>& encodeSettingTable()
{
    return kTable;
}

const EncodeSetting* findEncodeSetting(const std::string& name)
{
    for (const EncodeSetting& s : kTable)
        if (name == s.name)
            return &s;
    return nullptr;
}

bool applyEncodeSetting(const EncodeSetting& setting, const SettingValue& value, EncodeSettings* settings)
{
    if (setting.kind == SettingKind::Whole && (value.whole < setting.lo || value.whole > setting.hi))
        return false;
    if (setting.kind == SettingKind::Number && !(value.number >= setting.lo && value.number <= setting.hi))
        return false;
    return setting.apply(value, settings);
}

bool settleEncodeSettings(EncodeSettings* s, SpellName spell, SettleMessages* said, std::string* error)
{
    bool target = s->sizeTarget || s->bppTarget > 0.0;
    if (s->sizeTarget && s->bppTarget > 0.0) {
        *error = "give " + spell("size") + " or " + spell("bpp") + ", not both";
        return false;
    }
    if (s->stepGiven && s->quality >= 0) {
        *error = "give " + spell("quality") + " or " + spell("step") + ", not both";
        return false;
    }
    EncoderParams& p = s->params;
    if (p.sharpenCompensation && p.hasTrailer) {
        *error = spell("sharpen") + " marks the stream in the trailer; it cannot be given with " + spell("trailer");
        return false;
    }
    if (target && (s->stepGiven || s->quality >= 0))
        said->warnings.push_back(spell(s->stepGiven ? "step" : "quality") + " is ignored: "
                                 + spell(s->sizeTarget ? "size" : "bpp") + " chooses the step");
    if (!target && s->effort != 1)
        said->warnings.push_back(spell("effort") + " is ignored: it applies to " + spell("size") + " and "
                                 + spell("bpp"));
    if (p.sharpenCompensation) {
        p.hasTrailer = 1;
        p.extension1 = kSharpenMark[0];
        p.extension2 = kSharpenMark[1];
        p.extension3 = kSharpenMark[2];
    }
    // Progressive map coder 1 with value coders 1..3 codes every coefficient
    // that is not known zero, and none can be zero: without fine steps each
    // reconstructs at least half a step away from 0.
    if (p.decodeMode == 1 && p.mapCoder == 1 && p.valueCoder != 0 && !s->fineStepsGiven) {
        p.fineSteps = 3;
        said->notes.push_back("progressive map coder 1 with value coder " + std::to_string(p.valueCoder)
                              + " codes every coefficient; using " + spell("fine-steps") + " 3 (give "
                              + spell("fine-steps") + " to choose)");
    }
    return true;
}

int32_t stepForQuality(int32_t quality, int32_t bitsPerSample)
{
    if (quality >= 100)
        return 1;
    double step = std::exp2((100 - quality) / 12.5 + (bitsPerSample - 8));
    return step > 65535 ? 65535 : int32_t(std::lround(step));
}

bool encodeWithSettings(const EncoderPicture& picture, EncodeSettings settings, std::vector<uint8_t>* out,
                        int32_t* step, EncodeStats* stats, std::string* error, SizeSearchReport* searched)
{
    EncoderParams& p = settings.params;
    if (settings.quality >= 0)
        p.quantStep = stepForQuality(settings.quality, picture.bitsPerSample);
    std::string problem = checkEncoderParams(picture, p);
    if (!problem.empty()) {
        *error = problem;
        return false;
    }
    int32_t threads = encoderThreads(settings.threads);
    p.threads = threads;
    PreparedPicture prepared;
    if (!preparePicture(picture, p, &prepared, error))
        return false;
    if (!settings.sizeTarget && !(settings.bppTarget > 0.0)) {
        if (p.samplesRead)
            p.samplesRead(p.progressContext);
        *step = p.quantStep;
        return encodePrepared(prepared, p, out, stats, error);
    }
    int64_t target = settings.sizeTarget;
    if (!target)
        target = int64_t(settings.bppTarget * picture.height * picture.width / 8.0);
    if (settings.effort >= 1 && !settings.fixed.mapCoder)
        p.mapCoder = chooseMapCoder(picture, prepared, p);
    if (!settings.fixed.valueCost) {
        double bitsPerPixel = eightBitRate(target, picture.height, picture.width, picture.bitsPerSample);
        p.valueCost = valueCostForPicture(prepared, bitsPerPixel);
    }
    std::vector<EncoderParams> candidates = effortCandidates(p, settings.effort, settings.fixed);
    if (candidates.size() == 1) {
        SizeSearchReport report;
        EncodeWorkspace workspace;
        // The fill rebuilds the picture from the prepared one where it needs it.
        if (!encodePictureToSize(prepared, candidates[0], target, out, step, stats, error, &report,
                                 &workspace))
            return false;
        if (searched)
            *searched = report;
        EncoderParams chosen = candidates[0];
        chosen.quantStep = report.step;
        chosen.valueCost = report.valueCost;
        if (!report.cut
            && fillToSize(nullptr, prepared, target, !settings.fixed.boost, &chosen, out, stats, &workspace)) {
            report.planKept = false;
            *step = chosen.quantStep;
        }
        if (settings.effort >= 1) {
            // Values fitted in every trial of a second search from the chosen
            // step decode closest, where that search is affordable; else the
            // chosen stream refitted. The search's plan makes way for the
            // second search's.
            if (searchesFittedStream(prepared, chosen)) {
                workspace.plan = PicturePlan();
                report.planKept = false;
                if (searchFittedStream(prepared, candidates[0], chosen, target, out, stats, step))
                    return true;
            }
            // The search's last plan is the chosen stream's more often than not;
            // where it is not, its memory goes before the refit's.
            if (!report.planKept)
                workspace.plan = PicturePlan();
            refitChosenStream(&prepared, chosen, target, out, stats, report.planKept ? &workspace.plan : nullptr);
        }
        return true;
    }
    // The candidates share the threads.
    int32_t each = threads / static_cast<int32_t>(candidates.size());
    for (EncoderParams& c : candidates) {
        c.searchProgress = nullptr; // the searches run on several threads
        c.samplesRead = nullptr;    // and compare decoded streams with the picture
        c.threads = each > 1 ? each : 1;
    }
    EncoderParams chosen;
    EncodeStats own;
    if (!encodeBestToSize(picture, prepared, candidates, target, threads, out, &chosen, stats ? stats : &own, error))
        return false;
    EncodeWorkspace workspace;
    fillToSize(&picture, prepared, target, !settings.fixed.boost, &chosen, out, stats ? stats : &own, &workspace);
    *step = chosen.quantStep;
    return true;
}
