// Whole-picture decodes from memory: MP/s per mode, map coder and value
// coder on a 512 x 512 synthetic picture coded at about 1 bit per pixel, plus
// the sample streams.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench_streams.h"
#include "codec/zr.h"

namespace {

constexpr int32_t kSide = 512;
constexpr int64_t kOneBitPerPixel = kSide * kSide / 8;

void decodeLoop(benchmark::State& state, const std::vector<uint8_t>& stream, ZrRequest request)
{
    ZrPicture picture{};
    int64_t pixels = 0;
    for (auto _ : state) {
        int32_t status = zrDecode(stream.data(), stream.size(), &request, &picture);
        if (status != 0) {
            state.SkipWithError(zrStatusText(status));
            break;
        }
        pixels = int64_t(picture.height) * picture.width;
        benchmark::DoNotOptimize(picture.pixels);
        zrFree(&picture);
    }
    state.counters["MP/s"] = benchmark::Counter(double(pixels) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["bpp"] = double(stream.size()) * 8.0 / double(pixels ? pixels : 1);
}

const char* modeName(int32_t mode)
{
    return mode == 0 ? "onepass" : "progressive";
}

// The step that brings the default coders of the mode to 1 bit per pixel
// serves every coder of that mode, so that they code the same coefficients.
void registerCoders(const PictureSamples& picture, const char* pictureName)
{
    for (int32_t mode = 0; mode <= 1; mode++) {
        EncoderParams params;
        params.decodeMode = mode;
        params.mapCoder = 1;
        params.valueCoder = 0;
        int32_t step = findBenchStep(picture, params, kOneBitPerPixel);
        if (step == 0) {
            std::fprintf(stderr, "decode_bench: no step fits %s %s\n", pictureName, modeName(mode));
            continue;
        }
        for (int32_t map = 0; map <= 2; map++) {
            for (int32_t value = 0; value <= 3; value++) {
                params.mapCoder = map;
                params.valueCoder = value;
                params.quantStep = step;
                std::vector<uint8_t> stream = encodeBenchStream(picture, params);
                if (stream.empty())
                    continue;
                std::string name = std::string("decode/") + pictureName + "/" + modeName(mode) + "/map"
                                 + std::to_string(map) + "/value" + std::to_string(value);
                benchmark::RegisterBenchmark(name.c_str(), [stream](benchmark::State& state) {
                    decodeLoop(state, stream, ZrRequest{});
                })->Unit(benchmark::kMillisecond);
            }
        }
    }
}

// The default coders with the decoding requests.
void registerRequests(const PictureSamples& picture, const char* pictureName)
{
    EncoderParams params;
    params.decodeMode = 1;
    params.mapCoder = 1;
    params.valueCoder = 0;
    params.quantStep = findBenchStep(picture, params, kOneBitPerPixel);
    std::vector<uint8_t> stream = encodeBenchStream(picture, params);
    if (stream.empty())
        return;
    ZrRequest half{}, sharpen{}, exact{};
    half.lowMemory = 1;
    sharpen.sharpen = 1;
    exact.exactSteps = 1;
    const std::pair<const char*, ZrRequest> requests[] = {{"half", half}, {"sharpen", sharpen}, {"exact", exact}};
    for (const auto& [requestName, request] : requests) {
        std::string name = std::string("decode/") + pictureName + "/progressive/map1/value0/" + requestName;
        benchmark::RegisterBenchmark(name.c_str(), [stream, request](benchmark::State& state) {
            decodeLoop(state, stream, request);
        })->Unit(benchmark::kMillisecond);
    }
}

void registerStream(const std::string& name, std::vector<uint8_t> stream)
{
    benchmark::RegisterBenchmark(name.c_str(), [bytes = std::move(stream)](benchmark::State& state) {
        decodeLoop(state, bytes, ZrRequest{});
    })->Unit(benchmark::kMillisecond);
}

// The committed samples, and the files named in ZR_BENCH_FILES (separated by
// colons) as decode/file/NAME.
void registerSamples()
{
    for (auto& [fileName, stream] : loadSampleStreams())
        registerStream("decode/sample/" + fileName, std::move(stream));
    const char* files = std::getenv("ZR_BENCH_FILES");
    std::stringstream list(files ? files : "");
    for (std::string path; std::getline(list, path, ':');) {
        std::ifstream file(path, std::ios::binary);
        if (!file) {
            std::fprintf(stderr, "decode_bench: cannot read %s\n", path.c_str());
            continue;
        }
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        registerStream("decode/file/" + std::filesystem::path(path).filename().string(), std::move(bytes));
    }
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    PictureSamples grey = makeBenchPicture(kSide, kSide, 1, 8, 1u);
    PictureSamples colour = makeBenchPicture(kSide, kSide, 3, 8, 2u);
    registerCoders(grey, "grey512");
    registerRequests(grey, "grey512");
    registerCoders(colour, "colour512");
    registerSamples();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
