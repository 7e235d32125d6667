// golden_digest: decodes a fixed corpus and prints one line per decode with
// its status, picture shape and a digest of every output byte (and of every
// partial picture for streamed decodes). Two builds decode identically when
// their outputs are identical files:
//
//     golden_digest > before.txt   ...change...   golden_digest > after.txt
//     cmp before.txt after.txt
//
// The corpus: samples/*.zr; encoder streams of every mode x map coder x value
// coder at several steps, with fine steps, boost, stretch and sharpening
// variants; truncations of them; and random garbage after valid headers.
//
//     golden_digest --write-streams DIR
//
// writes the small fixed set of encoder streams that the golden-digest test
// decodes (tests/golden/streams): every mode x map coder x value coder for
// three picture kinds, and the variants for a few of them.
//
//     golden_digest --save-corpus DIR     golden_digest --corpus DIR
//
// keep the encoder streams of the corpus in DIR, or decode the ones kept there
// instead of encoding afresh, so that two decoders can be compared even when
// the encoder between them writes different streams.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench/bench_streams.h"
#include "codec/zr.h"
#include "tests/support/decode_digest.h"

namespace {

using Request = NamedRequest;

void decodeMemory(const std::string& name, const std::vector<uint8_t>& stream, const Request& request)
{
    DecodeDigest d = digestMemoryDecode(stream, request.request);
    std::printf("%s %s %d %dx%dx%d %016" PRIx64 "\n", name.c_str(), request.name, d.status, d.height, d.width,
                d.channels, d.digest);
}

// Callback-mode decode in small reads, with partial pictures every `interval` bytes.
void decodeStreamed(const std::string& name, const std::vector<uint8_t>& stream, const Request& request,
                    int32_t interval, int32_t chunk)
{
    DecodeDigest d = digestStreamedDecode(stream, request.request, interval, chunk);
    std::printf("%s stream/%d %s %d %dx%dx%d partials %d %016" PRIx64 "\n", name.c_str(), interval, request.name,
                d.status, d.height, d.width, d.channels, d.partials, d.digest);
}

struct Random {
    uint64_t state;
    uint32_t next()
    {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>(state >> 33);
    }
    uint32_t below(uint32_t n) { return next() % n; }
};

struct Shape {
    const char* name;
    int32_t height, width, components, bits;
};

const Shape kShapes[] = {
    {"grey61x47", 61, 47, 1, 8},
    {"colour64x40", 64, 40, 3, 8},
    {"grey12b33x70", 33, 70, 1, 12},
    {"colour130x97", 130, 97, 3, 8},
};

struct Variant {
    const char* name;
    int32_t fineSteps, magnitudeBoost, contrastStretch, sharpenCompensation;
};

const Variant kVariants[] = {
    {"basic", 0, 0, 0, 0},
    {"fine3", 3, 0, 0, 0},
    {"fine7+boost5", 7, 5, 0, 0},
    {"stretch2", 0, 2, 2, 0},
    {"sharpened", 0, 0, 0, 1},
};

EncoderParams paramsFor(int32_t mode, int32_t map, int32_t value, int32_t step, const Variant& variant)
{
    EncoderParams p;
    p.decodeMode = mode;
    p.mapCoder = map;
    p.valueCoder = value;
    p.quantStep = step;
    p.fineSteps = variant.fineSteps;
    p.magnitudeBoost = variant.magnitudeBoost;
    p.contrastStretch = variant.contrastStretch;
    p.sharpenCompensation = variant.sharpenCompensation;
    return p;
}

std::string caseName(const Shape& shape, const EncoderParams& p, const char* variant)
{
    char name[160];
    std::snprintf(name, sizeof name, "%s/m%d/map%d/val%d/q%d/%s", shape.name, p.decodeMode, p.mapCoder,
                  p.valueCoder, p.quantStep, variant);
    return name;
}

void truncations(const std::string& name, const std::vector<uint8_t>& stream)
{
    const size_t size = stream.size();
    const size_t cuts[] = {size / 9, size / 3, size / 2, size * 3 / 4, size * 15 / 16, size - 1};
    for (size_t cut : cuts) {
        std::vector<uint8_t> part(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(cut));
        std::string partName = name + "/cut" + std::to_string(cut);
        decodeMemory(partName, part, digestRequests()[0]);
        decodeMemory(partName, part, digestRequests()[4]);
        decodeStreamed(partName, part, digestRequests()[0], 53, 5);
    }
}

// Where the corpus's encoder streams come from.
struct CorpusSource {
    enum Kind { Encode, Save, Load } kind = Encode;
    std::filesystem::path dir;
};

std::filesystem::path corpusFile(const CorpusSource& source, std::string name)
{
    for (char& c : name)
        if (c == '/')
            c = '_';
    return source.dir / (name + ".zr");
}

// The case's stream as the source gives it; empty when there is none.
std::vector<uint8_t> corpusStream(const CorpusSource& source, const std::string& name,
                                  const PictureSamples& picture, const EncoderParams& p)
{
    if (source.kind == CorpusSource::Load) {
        std::ifstream in(corpusFile(source, name), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    std::vector<uint8_t> stream = encodeBenchStream(picture, p);
    if (source.kind == CorpusSource::Save && !stream.empty()) {
        std::ofstream out(corpusFile(source, name), std::ios::binary);
        out.write(reinterpret_cast<const char*>(stream.data()), std::streamsize(stream.size()));
        if (!out) {
            std::fprintf(stderr, "golden_digest: cannot write %s\n", corpusFile(source, name).c_str());
            std::exit(1);
        }
    }
    return stream;
}

// Every valid stream of the corpus, kept for the garbage pass.
std::vector<std::vector<uint8_t>> encodedCorpus(bool quick, const CorpusSource& source)
{
    std::vector<std::vector<uint8_t>> corpus;
    const int32_t steps[] = {3, 12, 60};
    for (const Shape& shape : kShapes) {
        if (quick && shape.height > 100)
            continue;
        PictureSamples picture = makeBenchPicture(shape.height, shape.width, shape.components, shape.bits, 7u);
        for (int32_t mode = 0; mode <= 1; mode++)
            for (int32_t map = 0; map <= 3; map++)
                for (int32_t value = 0; value <= 3; value++)
                    for (int32_t step : steps)
                        for (const Variant& variant : kVariants) {
                            // Variants beyond the basic one at the middle step only.
                            if (variant.fineSteps + variant.magnitudeBoost + variant.contrastStretch
                                        + variant.sharpenCompensation
                                    != 0
                                && step != 12)
                                continue;
                            EncoderParams p = paramsFor(mode, map, value, step << (shape.bits - 8), variant);
                            std::string name = caseName(shape, p, variant.name);
                            std::vector<uint8_t> stream = corpusStream(source, name, picture, p);
                            if (stream.empty())
                                continue;
                            for (const Request& request : digestRequests())
                                decodeMemory(name, stream, request);
                            if (mode == 1)
                                decodeStreamed(name, stream, digestRequests()[3], 97, 3);
                            if (step == 12 && variant.fineSteps == 0 && variant.contrastStretch == 0)
                                truncations(name, stream);
                            corpus.push_back(std::move(stream));
                        }
    }
    return corpus;
}

// A valid stream's first bytes (its header and a little more), then noise.
void garbage(const std::vector<std::vector<uint8_t>>& corpus, int32_t count)
{
    Random random{12345};
    for (int32_t i = 0; i < count; i++) {
        const std::vector<uint8_t>& base = corpus[random.below(static_cast<uint32_t>(corpus.size()))];
        size_t keep = std::min<size_t>(base.size(), 10 + random.below(40));
        std::vector<uint8_t> stream(base.begin(), base.begin() + static_cast<std::ptrdiff_t>(keep));
        size_t extra = random.below(4) == 0 ? random.below(8000) : random.below(600);
        for (size_t k = 0; k < extra; k++)
            stream.push_back(static_cast<uint8_t>(random.next() >> 5));
        std::string name = "garbage" + std::to_string(i);
        decodeMemory(name, stream, digestRequests()[i % 6 == 0 ? 5 : 0]);
        if (i % 10 == 0)
            decodeStreamed(name, stream, digestRequests()[0], 41, 4);
    }
}

int writeStreams(const std::filesystem::path& dir)
{
    const Shape shapes[] = {{"grey", 29, 37, 1, 8}, {"colour", 24, 31, 3, 8}, {"grey12", 21, 26, 1, 12}};
    std::filesystem::create_directories(dir);
    int32_t written = 0;
    for (const Shape& shape : shapes) {
        PictureSamples picture = makeBenchPicture(shape.height, shape.width, shape.components, shape.bits, 5u);
        for (int32_t mode = 0; mode <= 1; mode++)
            for (int32_t map = 0; map <= 3; map++)
                for (int32_t value = 0; value <= 3; value++)
                    for (const Variant& variant : kVariants) {
                        bool basic = variant.fineSteps + variant.magnitudeBoost + variant.contrastStretch
                                         + variant.sharpenCompensation
                                     == 0;
                        if (!basic && (shape.components != 1 || shape.bits != 8 || map != value))
                            continue;
                        EncoderParams p = paramsFor(mode, map, value, 10 << (shape.bits - 8), variant);
                        std::vector<uint8_t> stream = encodeBenchStream(picture, p);
                        if (stream.empty())
                            continue;
                        char name[96];
                        std::snprintf(name, sizeof name, "%s-m%d-map%d-val%d-%s.zr", shape.name, mode, map, value,
                                      variant.name);
                        std::ofstream out(dir / name, std::ios::binary);
                        out.write(reinterpret_cast<const char*>(stream.data()), std::streamsize(stream.size()));
                        if (!out) {
                            std::fprintf(stderr, "golden_digest: cannot write %s\n", (dir / name).c_str());
                            return 1;
                        }
                        written++;
                    }
    }
    std::fprintf(stderr, "golden_digest: wrote %d streams to %s\n", written, dir.c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--write-streams") == 0)
        return writeStreams(argv[2]);
    CorpusSource source;
    if (argc == 3 && (std::strcmp(argv[1], "--save-corpus") == 0 || std::strcmp(argv[1], "--corpus") == 0)) {
        source.kind = argv[1][2] == 's' ? CorpusSource::Save : CorpusSource::Load;
        source.dir = argv[2];
        std::error_code error;
        if (source.kind == CorpusSource::Save)
            std::filesystem::create_directories(source.dir, error);
        if (error || !std::filesystem::is_directory(source.dir)) {
            std::fprintf(stderr, "golden_digest: %s is not a directory\n", argv[2]);
            return 2;
        }
    } else if (argc > 1 && std::strcmp(argv[1], "--quick") != 0) {
        std::fprintf(stderr,
                     "usage: golden_digest [--quick] | --save-corpus DIR | --corpus DIR | --write-streams DIR\n");
        return 2;
    }
    bool quick = argc == 2;
    for (const auto& [name, stream] : loadSampleStreams()) {
        for (const Request& request : digestRequests())
            decodeMemory(name, stream, request);
        decodeStreamed(name, stream, digestRequests()[0], 2048, 512);
        decodeStreamed(name, stream, digestRequests()[3], 301, 7);
        truncations(name, stream);
    }
    std::vector<std::vector<uint8_t>> corpus = encodedCorpus(quick, source);
    garbage(corpus, quick ? 500 : 4000);
    return 0;
}
