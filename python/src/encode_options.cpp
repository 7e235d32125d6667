#include "python/src/encode_options.h"

#include <cmath>
#include <cstdint>

#include "tools/stream_info.h"

namespace {

bool asInteger(const OptionValue& value, int64_t* out)
{
    if (const int64_t* v = std::get_if<int64_t>(&value)) {
        *out = *v;
        return true;
    }
    return false;
}

bool asNumber(const OptionValue& value, double* out)
{
    if (const double* v = std::get_if<double>(&value)) {
        *out = *v;
        return true;
    }
    if (const int64_t* v = std::get_if<int64_t>(&value)) {
        *out = double(*v);
        return true;
    }
    return false;
}

std::string range(int64_t lo, int64_t hi)
{
    return "a whole number from " + std::to_string(lo) + " to " + std::to_string(hi);
}

// Options that set one integer field of EncoderParams.
struct IntegerField {
    const char* name;
    int32_t EncoderParams::*field;
    int64_t lo;
    int64_t hi;
};

const IntegerField kIntegerFields[] = {
    {"map_coder", &EncoderParams::mapCoder, 0, 3},
    {"value_coder", &EncoderParams::valueCoder, 0, 3},
    {"step", &EncoderParams::quantStep, 1, 65535},
    {"fine_steps", &EncoderParams::fineSteps, 0, kMaxFineSteps},
    {"boost", &EncoderParams::magnitudeBoost, 0, kMaxMagnitudeBoost},
    {"stretch", &EncoderParams::contrastStretch, 0, kMaxContrastStretch},
};

using Setter = bool (*)(const OptionValue&, EncodeRequest*, std::string*);

// Options with their own rules.
struct SpecialOption {
    const char* name;
    Setter set;
};

const SpecialOption kSpecialOptions[] = {
    {"mode",
     [](const OptionValue& value, EncodeRequest* r, std::string* error) {
         const std::string* m = std::get_if<std::string>(&value);
         if (m && *m == "one-pass")
             r->params.decodeMode = 0;
         else if (m && *m == "progressive")
             r->params.decodeMode = 1;
         else
             *error = "mode is 'one-pass' or 'progressive'";
         return error->empty();
     }},
    {"bits",
     [](const OptionValue& value, EncodeRequest* r, std::string* error) {
         int64_t v;
         if (!asInteger(value, &v) || v < 8 || v > 16) {
             *error = "bits takes " + range(8, 16);
             return false;
         }
         r->bits = int32_t(v);
         return true;
     }},
    {"trailer",
     [](const OptionValue& value, EncodeRequest* r, std::string* error) {
         const std::vector<int64_t>* t = std::get_if<std::vector<int64_t>>(&value);
         if (!t || t->size() != 3 || (*t)[0] < 0 || (*t)[0] > 255 || (*t)[1] < 0 || (*t)[1] > 255
             || (*t)[2] < 0 || (*t)[2] > 7) {
             *error = "trailer takes three numbers (a, b, c) with a and b 0..255 and c 0..7";
             return false;
         }
         r->params.hasTrailer = 1;
         r->params.extension1 = uint32_t((*t)[0]);
         r->params.extension2 = uint32_t((*t)[1]);
         r->params.extension3 = uint32_t((*t)[2]);
         return true;
     }},
    {"sharpen",
     [](const OptionValue& value, EncodeRequest* r, std::string* error) {
         const bool* b = std::get_if<bool>(&value);
         if (!b) {
             *error = "sharpen takes True or False";
             return false;
         }
         r->params.sharpenCompensation = *b ? 1 : 0;
         return true;
     }},
    {"size",
     [](const OptionValue& value, EncodeRequest* r, std::string* error) {
         int64_t v;
         if (!asInteger(value, &v) || v < 1 || v > INT32_MAX) {
             *error = "size takes a number of bytes from 1 up";
             return false;
         }
         r->sizeTarget = v;
         return true;
     }},
    {"bpp",
     [](const OptionValue& value, EncodeRequest* r, std::string* error) {
         double v;
         if (!asNumber(value, &v) || !(v > 0.0) || v > 64.0) {
             *error = "bpp takes a positive number of bits per pixel up to 64";
             return false;
         }
         r->bppTarget = v;
         return true;
     }},
    {"value_cost",
     [](const OptionValue& value, EncodeRequest* r, std::string* error) {
         double v;
         if (!asNumber(value, &v) || !(v >= 0.0) || v > 1000.0) {
             *error = "value_cost takes a number from 0 to 1000";
             return false;
         }
         r->params.valueCost = v;
         return true;
     }},
};

} // namespace

EncodeRequest defaultEncodeRequest()
{
    EncodeRequest r;
    r.params.decodeMode = 1;
    r.params.mapCoder = 1;
    r.params.valueCoder = 0;
    return r;
}

bool applyEncodeOption(const std::string& name, const OptionValue& value, EncodeRequest* request,
                       std::string* error)
{
    error->clear();
    for (const IntegerField& f : kIntegerFields) {
        if (name != f.name)
            continue;
        int64_t v;
        if (!asInteger(value, &v) || v < f.lo || v > f.hi) {
            *error = name + " takes " + range(f.lo, f.hi);
            return false;
        }
        request->params.*f.field = int32_t(v);
        if (name == "fine_steps")
            request->fineStepsGiven = true;
        return true;
    }
    for (const SpecialOption& o : kSpecialOptions)
        if (name == o.name)
            return o.set(value, request, error);
    *error = "unknown option '" + name + "'";
    return false;
}

bool finishEncodeRequest(EncodeRequest* request, std::string* error)
{
    if (request->sizeTarget && request->bppTarget > 0.0) {
        *error = "give size or bpp, not both";
        return false;
    }
    EncoderParams& p = request->params;
    if (p.sharpenCompensation) {
        if (p.hasTrailer) {
            *error = "sharpen marks the stream in the trailer; it cannot be given with trailer";
            return false;
        }
        p.hasTrailer = 1;
        p.extension1 = kSharpenMark[0];
        p.extension2 = kSharpenMark[1];
        p.extension3 = kSharpenMark[2];
    }
    // Progressive map coder 1 with value coders 1..3 codes every coefficient
    // that is not known zero; without fine steps none can be small.
    if (p.decodeMode == 1 && p.mapCoder == 1 && p.valueCoder != 0 && !request->fineStepsGiven)
        p.fineSteps = 3;
    return true;
}

std::vector<std::string> encodeOptionNames()
{
    std::vector<std::string> names;
    for (const IntegerField& f : kIntegerFields)
        names.push_back(f.name);
    for (const SpecialOption& o : kSpecialOptions)
        names.push_back(o.name);
    return names;
}
