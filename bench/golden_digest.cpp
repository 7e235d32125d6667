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
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_streams.h"
#include "codec/zr.h"

namespace {

constexpr uint64_t kFnvOffset = 0xCBF29CE484222325ull;
constexpr uint64_t kFnvPrime = 0x100000001B3ull;

struct Digest {
    uint64_t h = kFnvOffset;
    void bytes(const void* data, size_t size)
    {
        const uint8_t* p = static_cast<const uint8_t*>(data);
        for (size_t i = 0; i < size; i++)
            h = (h ^ p[i]) * kFnvPrime;
    }
    void value(int64_t v) { bytes(&v, sizeof v); }
};

struct Request {
    const char* name;
    ZrRequest request;
};

Request request(const char* name, uint32_t exactSteps, uint32_t lowMemory, uint32_t sharpen)
{
    Request r{name, {}};
    r.request.exactSteps = exactSteps;
    r.request.lowMemory = lowMemory;
    r.request.sharpen = sharpen;
    return r;
}

const Request kRequests[] = {
    request("plain", 0, 0, 0),
    request("exact", 1, 0, 0),
    request("half", 0, 1, 0),
    request("sharpen", 0, 0, 1),
    request("half+sharpen", 0, 1, 1),
    request("exact+half+sharpen", 1, 1, 1),
};

uint64_t pictureDigest(int32_t status, const ZrPicture& picture, Digest d)
{
    d.value(status);
    d.value(picture.height);
    d.value(picture.width);
    d.value(picture.channels);
    d.value(picture.bitsPerSample);
    if (picture.pixels)
        d.bytes(picture.pixels, static_cast<size_t>(picture.height) * picture.width * picture.bytesPerPixel);
    return d.h;
}

// Memory-mode decode of the whole block.
void decodeMemory(const std::string& name, const std::vector<uint8_t>& stream, const Request& request)
{
    ZrPicture picture{};
    int32_t status = zrDecode(stream.data(), stream.size(), &request.request, &picture);
    uint64_t h = pictureDigest(status, picture, Digest());
    std::printf("%s %s %d %dx%dx%d %016" PRIx64 "\n", name.c_str(), request.name, status, picture.height,
                picture.width, picture.channels, h);
    zrFree(&picture);
}

struct Feed {
    const std::vector<uint8_t>* stream;
    size_t offset = 0;
    int32_t chunk = 1;
    Digest partials;
    int32_t partialCount = 0;
};

int32_t readFeed(void* context, uint8_t* data, int32_t size)
{
    Feed* feed = static_cast<Feed*>(context);
    size_t left = feed->stream->size() - feed->offset;
    size_t n = std::min<size_t>(left, std::min(size, feed->chunk));
    std::memcpy(data, feed->stream->data() + feed->offset, n);
    feed->offset += n;
    return static_cast<int32_t>(n);
}

int32_t takePartial(void* context, const ZrPartial* partial)
{
    Feed* feed = static_cast<Feed*>(context);
    feed->partialCount++;
    feed->partials.value(partial->position);
    feed->partials.value(partial->partHeight);
    feed->partials.value(partial->partWidth);
    feed->partials.bytes(partial->pixels,
                         static_cast<size_t>(partial->partHeight) * partial->partWidth * partial->bytesPerPixel);
    return 0;
}

// Callback-mode decode in small reads, with partial pictures every `interval` bytes.
void decodeStreamed(const std::string& name, const std::vector<uint8_t>& stream, const Request& request,
                    int32_t interval, int32_t chunk)
{
    Feed feed;
    feed.stream = &stream;
    feed.chunk = chunk;
    ZrStream source{};
    source.read = readFeed;
    source.readContext = &feed;
    source.partialInterval = interval;
    source.partial = takePartial;
    source.partialContext = &feed;
    ZrPicture picture{};
    int32_t status = zrDecodeStream(&source, &request.request, &picture);
    uint64_t h = pictureDigest(status, picture, feed.partials);
    std::printf("%s stream/%d %s %d %dx%dx%d partials %d %016" PRIx64 "\n", name.c_str(), interval, request.name,
                status, picture.height, picture.width, picture.channels, feed.partialCount, h);
    zrFree(&picture);
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
        decodeMemory(partName, part, kRequests[0]);
        decodeMemory(partName, part, kRequests[4]);
        decodeStreamed(partName, part, kRequests[0], 53, 5);
    }
}

// Every valid stream of the corpus, kept for the garbage pass.
std::vector<std::vector<uint8_t>> encodedCorpus(bool quick)
{
    std::vector<std::vector<uint8_t>> corpus;
    const int32_t steps[] = {3, 12, 60};
    for (const Shape& shape : kShapes) {
        if (quick && shape.height > 100)
            continue;
        BenchPicture picture = makeBenchPicture(shape.height, shape.width, shape.components, shape.bits, 7u);
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
                            EncoderParams p;
                            p.decodeMode = mode;
                            p.mapCoder = map;
                            p.valueCoder = value;
                            p.quantStep = step << (shape.bits - 8);
                            p.fineSteps = variant.fineSteps;
                            p.magnitudeBoost = variant.magnitudeBoost;
                            p.contrastStretch = variant.contrastStretch;
                            p.sharpenCompensation = variant.sharpenCompensation;
                            std::vector<uint8_t> stream = encodeBenchStream(picture, p);
                            if (stream.empty())
                                continue;
                            std::string name = caseName(shape, p, variant.name);
                            for (const Request& request : kRequests)
                                decodeMemory(name, stream, request);
                            if (mode == 1)
                                decodeStreamed(name, stream, kRequests[3], 97, 3);
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
        decodeMemory(name, stream, kRequests[i % 6 == 0 ? 5 : 0]);
        if (i % 10 == 0)
            decodeStreamed(name, stream, kRequests[0], 41, 4);
    }
}

} // namespace

int main(int argc, char** argv)
{
    bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    for (const auto& [name, stream] : loadSampleStreams()) {
        for (const Request& request : kRequests)
            decodeMemory(name, stream, request);
        decodeStreamed(name, stream, kRequests[0], 2048, 512);
        decodeStreamed(name, stream, kRequests[3], 301, 7);
        truncations(name, stream);
    }
    std::vector<std::vector<uint8_t>> corpus = encodedCorpus(quick);
    garbage(corpus, quick ? 500 : 4000);
    return 0;
}
