#include "codec/encoder/step_search.h"

bool encodeToSize(const PreparedPicture& prepared, const EncoderParams& params, int64_t maxBytes,
                  std::vector<uint8_t>* out, int32_t* step, EncodeStats* stats, std::string* error)
{
    EncoderParams trial = params;
    std::vector<uint8_t> stream;
    auto sizeAt = [&](int32_t q, int64_t* size) {
        trial.quantStep = q;
        if (!encodePrepared(prepared, trial, &stream, stats, error))
            return false;
        *size = static_cast<int64_t>(stream.size());
        return true;
    };
    int64_t size;
    int32_t lo = 1, hi = 65535;
    if (!sizeAt(hi, &size))
        return false;
    if (size > maxBytes) {
        if (error)
            *error = "cannot reach " + std::to_string(maxBytes) + " bytes: the smallest stream takes "
                     + std::to_string(size) + " bytes";
        return false;
    }
    // Sizes fall as the step grows: find the smallest step that fits.
    while (lo < hi) {
        int32_t mid = lo + (hi - lo) / 2;
        if (!sizeAt(mid, &size))
            return false;
        if (size <= maxBytes)
            hi = mid;
        else
            lo = mid + 1;
    }
    if (!sizeAt(hi, &size))
        return false;
    *step = hi;
    out->swap(stream);
    return true;
}
