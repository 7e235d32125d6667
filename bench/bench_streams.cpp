#include "bench/bench_streams.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "codec/encoder/step_search.h"

namespace {

uint32_t hashCell(int32_t x, int32_t y, uint32_t seed)
{
    uint32_t h = static_cast<uint32_t>(x) * 0x8DA6B343u ^ static_cast<uint32_t>(y) * 0xD8163841u ^ seed * 0xCB1AB31Fu;
    h ^= h >> 13;
    h *= 0x5BD1E995u;
    h ^= h >> 15;
    return h;
}

// Bilinear value noise in [0, 1) on a lattice of `cell` samples.
double valueNoise(double x, double y, double cell, uint32_t seed)
{
    double fx = x / cell, fy = y / cell;
    int32_t ix = static_cast<int32_t>(std::floor(fx)), iy = static_cast<int32_t>(std::floor(fy));
    double tx = fx - ix, ty = fy - iy;
    tx = tx * tx * (3 - 2 * tx);
    ty = ty * ty * (3 - 2 * ty);
    auto at = [&](int32_t cx, int32_t cy) { return (hashCell(cx, cy, seed) >> 8) / 16777216.0; };
    double top = at(ix, iy) + (at(ix + 1, iy) - at(ix, iy)) * tx;
    double bottom = at(ix, iy + 1) + (at(ix + 1, iy + 1) - at(ix, iy + 1)) * tx;
    return top + (bottom - top) * ty;
}

double sampleAt(int32_t y, int32_t x, int32_t c, int32_t height, int32_t width, uint32_t seed)
{
    double fy = (y + 0.5) / height, fx = (x + 0.5) / width;
    double v = 0.25 + 0.35 * fx + 0.15 * std::sin(5.0 * fy + c);
    double amplitude = 0.25;
    for (double cell = 64.0; cell >= 2.0; cell /= 2.0, amplitude *= 0.55)
        v += amplitude * (valueNoise(x, y, cell, seed + 17u * c + static_cast<uint32_t>(cell)) - 0.5);
    double dx = fx - 0.62, dy = fy - 0.38;
    if (dx * dx + dy * dy < 0.05)
        v = 0.8 - 0.15 * c + 0.1 * (valueNoise(x, y, 4.0, seed + 99u) - 0.5);
    if (fx > 0.12 && fx < 0.27 && fy > 0.2)
        v = 0.12 + 0.25 * c;
    if (fy > 0.75 && fx > 0.5)
        v += 0.12 * (((x / 3) + (y / 5)) & 1);
    return v < 0.0 ? 0.0 : (v > 1.0 ? 1.0 : v);
}

} // namespace

PictureSamples makeBenchPicture(int32_t height, int32_t width, int32_t components, int32_t bitsPerSample,
                              uint32_t seed)
{
    PictureSamples p;
    p.height = height;
    p.width = width;
    p.components = components;
    p.bitsPerSample = bitsPerSample;
    p.samples.resize(static_cast<size_t>(height) * width * components);
    double top = std::ldexp(1.0, bitsPerSample) - 1.0;
    for (int32_t y = 0; y < height; y++)
        for (int32_t x = 0; x < width; x++)
            for (int32_t c = 0; c < components; c++)
                p.samples[(static_cast<size_t>(y) * width + x) * components + c]
                    = static_cast<uint16_t>(std::lround(sampleAt(y, x, c, height, width, seed) * top));
    return p;
}

std::vector<uint8_t> encodeBenchStream(const PictureSamples& picture, const EncoderParams& params)
{
    std::vector<uint8_t> out;
    if (!checkEncoderParams(picture.view(), params).empty())
        return out;
    EncodeStats stats;
    std::string error;
    if (!encodePicture(picture.view(), params, &out, &stats, &error))
        out.clear();
    return out;
}

int32_t findBenchStep(const PictureSamples& picture, const EncoderParams& params, int64_t maxBytes)
{
    if (!checkEncoderParams(picture.view(), params).empty())
        return 0;
    PreparedPicture prepared;
    std::string error;
    if (!preparePicture(picture.view(), params, &prepared, &error))
        return 0;
    std::vector<uint8_t> out;
    EncodeStats stats;
    int32_t step = 0;
    if (!encodeToSize(prepared, params, maxBytes, &out, &step, &stats, &error))
        return 0;
    return step;
}

std::vector<std::pair<std::string, std::vector<uint8_t>>> loadSampleStreams()
{
    std::vector<std::pair<std::string, std::vector<uint8_t>>> streams;
    std::filesystem::path dir = std::filesystem::path(ZR_SOURCE_DIR) / "samples";
    std::error_code failed;
    for (const auto& entry : std::filesystem::directory_iterator(dir, failed)) {
        if (entry.path().extension() != ".zr")
            continue;
        std::ifstream file(entry.path(), std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        streams.emplace_back(entry.path().filename().string(), std::move(bytes));
    }
    std::sort(streams.begin(), streams.end());
    return streams;
}
