#include "tests/support/test_pictures.h"

#include <cmath>

#include "tests/support/decode_to_pixels.h"

PictureSamples makeTestPicture(int32_t height, int32_t width, int32_t components, int32_t bitsPerSample,
                            uint32_t seed)
{
    PictureSamples p{height, width, components, bitsPerSample, {}};
    p.samples.resize(static_cast<size_t>(height) * width * components);
    double top = std::ldexp(1.0, bitsPerSample) - 1.0;
    uint32_t state = seed * 2654435761u + 12345u;
    auto noise = [&] {
        state = state * 1664525u + 1013904223u;
        return ((state >> 8) & 0xFFFF) / 65536.0 - 0.5;
    };
    for (int32_t y = 0; y < height; y++) {
        for (int32_t x = 0; x < width; x++) {
            double fy = (y + 0.5) / height, fx = (x + 0.5) / width;
            double dx = fx - 0.6, dy = fy - 0.4;
            bool disc = dx * dx + dy * dy < 0.06;
            bool bar = fx > 0.15 && fx < 0.3;
            for (int32_t c = 0; c < components; c++) {
                double v = 0.2 + 0.5 * fx * (c == 1 ? 1 - fy : fy) + 0.1 * std::sin(9.0 * fx + 3.0 * c);
                if (disc)
                    v = 0.85 - 0.2 * c;
                if (bar)
                    v = 0.1 + 0.3 * c;
                v = v * top + noise() * top * 0.02;
                v = v < 0 ? 0 : (v > top ? top : v);
                p.samples[(static_cast<size_t>(y) * width + x) * components + c]
                    = static_cast<uint16_t>(std::lround(v));
            }
        }
    }
    return p;
}

double psnrOf(const PictureSamples& picture, const std::vector<uint16_t>& decoded)
{
    double sum = 0.0;
    for (size_t i = 0; i < picture.samples.size(); i++) {
        double d = static_cast<double>(picture.samples[i]) - decoded[i];
        sum += d * d;
    }
    double mse = sum / static_cast<double>(picture.samples.size());
    double top = std::ldexp(1.0, picture.bitsPerSample) - 1.0;
    return mse == 0.0 ? 99.0 : 10.0 * std::log10(top * top / mse);
}

DecodeResult decodeAndCompare(const std::vector<uint8_t>& stream, const PictureSamples& picture,
                              const DecodeRequest& request)
{
    DecodeOptions options{};
    options.halfSize = request.halfSize;
    options.sharpen = request.sharpen;
    options.exactSteps = request.exactSteps;
    DecodedFrame frame = decodeToPixels(stream, stream.size(), options);
    DecodeResult result;
    result.status = frame.status;
    if (result.status != 0 || frame.pixels.empty() || frame.height != picture.height || frame.width != picture.width)
        return result;
    size_t count = picture.samples.size();
    result.samples.resize(count);
    bool deep = picture.components == 1 && picture.bitsPerSample > 8;
    for (size_t i = 0; i < count; i++)
        result.samples[i] = deep ? static_cast<uint16_t>(frame.pixels[2 * i] | (frame.pixels[2 * i + 1] << 8))
                                 : frame.pixels[i];
    result.psnr = psnrOf(picture, result.samples);
    return result;
}
