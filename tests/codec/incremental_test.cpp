// The push-style decoder against zrDecode and zrDecodeStream: same final
// pictures, same partial pictures at the same positions, for any chunking.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "codec/encoder/encoder.h"
#include "codec/zr.h"
#include "tests/support/test_pictures.h"

namespace {

struct Partial {
    int32_t position, partHeight, partWidth, height, width, bytesPerPixel;
    std::vector<uint8_t> pixels;
    bool operator==(const Partial&) const = default;
};

struct Outcome {
    int32_t status = -1;
    int32_t height = 0, width = 0, channels = 0, bitsPerSample = 0, bytesPerPixel = 0;
    std::vector<uint8_t> pixels;
    std::vector<Partial> partials;
    bool operator==(const Outcome&) const = default;
};

void take(Outcome* out, int32_t status, ZrPicture* picture)
{
    out->status = status;
    out->height = picture->height;
    out->width = picture->width;
    out->channels = picture->channels;
    out->bitsPerSample = picture->bitsPerSample;
    out->bytesPerPixel = picture->bytesPerPixel;
    if (picture->pixels)
        out->pixels.assign(picture->pixels, picture->pixels + size_t(picture->height) * picture->width *
                                                                  picture->bytesPerPixel);
    zrFree(picture);
}

struct Log {
    std::vector<Partial>* partials;
    int32_t stopAfter = 0; // nonzero: answer 1 to that many-th partial
};

int32_t record(void* context, const ZrPartial* p)
{
    Log* log = static_cast<Log*>(context);
    Partial e{p->position, p->partHeight, p->partWidth, p->height, p->width, p->bytesPerPixel, {}};
    e.pixels.assign(p->pixels, p->pixels + size_t(p->partHeight) * p->partWidth * p->bytesPerPixel);
    log->partials->push_back(std::move(e));
    return log->stopAfter != 0 && int32_t(log->partials->size()) == log->stopAfter;
}

struct Memory {
    const std::vector<uint8_t>* bytes;
    size_t offset;
};

int32_t readMemory(void* context, uint8_t* data, int32_t size)
{
    Memory* m = static_cast<Memory*>(context);
    size_t n = std::min(m->bytes->size() - m->offset, size_t(size));
    if (n > 0)
        std::memcpy(data, m->bytes->data() + m->offset, n);
    m->offset += n;
    return int32_t(n);
}

// zrDecode's picture with zrDecodeStream's partial pictures.
Outcome reference(const std::vector<uint8_t>& bytes, int32_t interval, const ZrRequest* request = nullptr)
{
    Outcome out;
    ZrPicture picture;
    take(&out, zrDecode(bytes.data(), bytes.size(), request, &picture), &picture);
    Memory memory{&bytes, 0};
    Log log{&out.partials};
    ZrStream stream{};
    stream.read = readMemory;
    stream.readContext = &memory;
    stream.partialInterval = interval;
    stream.partial = record;
    stream.partialContext = &log;
    Outcome streamed;
    take(&streamed, zrDecodeStream(&stream, request, &picture), &picture);
    return out;
}

// chunk > 0: fixed chunks; 0: random sizes from `seed`.
Outcome incremental(const std::vector<uint8_t>& bytes, int32_t interval, size_t chunk, uint32_t seed = 1,
                    const ZrRequest* request = nullptr)
{
    Outcome out;
    Log log{&out.partials};
    ZrIncremental* decoder = zrIncrementalNew(request, interval, record, &log);
    EXPECT_NE(decoder, nullptr);
    std::mt19937 random(seed);
    for (size_t offset = 0; offset < bytes.size();) {
        size_t n = chunk ? chunk : size_t(random() % 300);
        n = std::min(n, bytes.size() - offset);
        int32_t status = zrIncrementalAppend(decoder, bytes.data() + offset, n);
        EXPECT_TRUE(status == 0 || (status >= 1 && status <= 16)) << status;
        offset += n;
    }
    ZrPicture picture;
    take(&out, zrIncrementalFinish(decoder, &picture), &picture);
    zrIncrementalFree(decoder);
    return out;
}

std::vector<uint8_t> readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const char* const kSamples[] = {"astronaut-progressive.zr", "camera-one-pass.zr", "gradient-progressive.zr"};

std::vector<uint8_t> sample(const char* name)
{
    std::vector<uint8_t> bytes = readFile(std::string(ZR_SOURCE_DIR) + "/samples/" + name);
    EXPECT_FALSE(bytes.empty()) << name;
    return bytes;
}

struct Coded {
    std::string name;
    std::vector<uint8_t> bytes;
};

// One stream per mode and coder combination the encoder writes, grey and
// colour in turn, small enough to feed a byte at a time.
const std::vector<Coded>& encodedStreams()
{
    static const std::vector<Coded> streams = [] {
        std::vector<Coded> all;
        PictureSamples grey = makeTestPicture(29, 41, 1, 8, 3);
        PictureSamples colour = makeTestPicture(33, 27, 3, 8, 4);
        int n = 0;
        for (int32_t mode : {0, 1})
            for (int32_t map = 0; map < 4; map++)
                for (int32_t value = 0; value < 4; value++) {
                    EncoderParams params;
                    params.decodeMode = mode;
                    params.mapCoder = map;
                    params.valueCoder = value;
                    params.fineSteps = (mode == 1 && map == 1 && value > 0) ? 3 : 0;
                    const PictureSamples& picture = (n++ % 2) ? colour : grey;
                    if (!checkEncoderParams(picture.view(), params).empty())
                        continue;
                    Coded coded;
                    coded.name = "mode " + std::to_string(mode) + " map " + std::to_string(map) + " value " +
                                 std::to_string(value);
                    std::string error;
                    EncodeStats stats;
                    if (encodePicture(picture.view(), params, &coded.bytes, &stats, &error))
                        all.push_back(std::move(coded));
                    else
                        ADD_FAILURE() << coded.name << ": " << error;
                }
        return all;
    }();
    return streams;
}

void expectSame(const Outcome& got, const Outcome& want, const std::string& what)
{
    EXPECT_EQ(got.status, want.status) << what;
    EXPECT_EQ(got.height, want.height) << what;
    EXPECT_EQ(got.width, want.width) << what;
    EXPECT_EQ(got.bytesPerPixel, want.bytesPerPixel) << what;
    EXPECT_TRUE(got.pixels == want.pixels) << what << ": final pixels differ";
    ASSERT_EQ(got.partials.size(), want.partials.size()) << what;
    for (size_t i = 0; i < got.partials.size(); i++)
        EXPECT_TRUE(got.partials[i] == want.partials[i])
            << what << ": partial " << i << " at " << got.partials[i].position << " vs "
            << want.partials[i].position;
}

void expectEveryChunking(const std::vector<uint8_t>& bytes, int32_t interval, const std::string& name,
                         const ZrRequest* request = nullptr)
{
    Outcome want = reference(bytes, interval, request);
    expectSame(incremental(bytes, interval, 1, 1, request), want, name + ", 1-byte chunks");
    expectSame(incremental(bytes, interval, 0, 11, request), want, name + ", random chunks");
    expectSame(incremental(bytes, interval, bytes.size(), 1, request), want, name + ", whole");
}

TEST(ZrIncremental, SamplesMatchTheWholeDecodes)
{
    for (const char* name : kSamples) {
        std::vector<uint8_t> bytes = sample(name);
        int32_t interval = std::max<int32_t>(7, int32_t(bytes.size() / 25));
        expectEveryChunking(bytes, interval, name);
        if (name == kSamples[0]) {
            EXPECT_GE(reference(bytes, interval).partials.size(), 20u) << name;
        }
    }
}

TEST(ZrIncremental, EncoderStreamsOfEveryModeAndCoderMatch)
{
    ASSERT_GE(encodedStreams().size(), 28u);
    size_t withPartials = 0;
    for (const Coded& coded : encodedStreams()) {
        for (int32_t interval : {0, 5, 64})
            expectEveryChunking(coded.bytes, interval, coded.name + ", interval " + std::to_string(interval));
        withPartials += !reference(coded.bytes, 5).partials.empty();
    }
    // Most level-progressive streams show coarse pictures on the way.
    EXPECT_GE(withPartials, 10u);
}

TEST(ZrIncremental, RequestsReachTheDecoder)
{
    std::vector<uint8_t> bytes = sample("astronaut-progressive.zr");
    for (int variant = 0; variant < 3; variant++) {
        ZrRequest request{};
        request.exactSteps = variant == 0;
        request.lowMemory = variant == 1;
        request.sharpen = variant == 2;
        Outcome want = reference(bytes, 997, &request);
        expectSame(incremental(bytes, 997, 0, 5, &request), want, "request variant " + std::to_string(variant));
        EXPECT_FALSE(want.pixels == reference(bytes, 0).pixels) << variant;
    }
}

TEST(ZrIncremental, TruncatedStreamsFinishLikeZrDecode)
{
    std::vector<std::vector<uint8_t>> streams = {sample("gradient-progressive.zr"), encodedStreams()[0].bytes,
                                                 encodedStreams().back().bytes};
    for (const std::vector<uint8_t>& whole : streams) {
        std::vector<size_t> cuts;
        for (size_t cut = 0; cut < 24 && cut < whole.size(); cut++) // every cut inside the header
            cuts.push_back(cut);
        for (size_t cut = 24; cut < whole.size(); cut += whole.size() / 17 + 1)
            cuts.push_back(cut);
        for (size_t cut : cuts) {
            std::vector<uint8_t> bytes(whole.begin(), whole.begin() + cut);
            Outcome want = reference(bytes, 3);
            expectSame(incremental(bytes, 3, 0, uint32_t(cut)), want, "cut at " + std::to_string(cut));
            expectSame(incremental(bytes, 3, 1), want, "cut at " + std::to_string(cut) + ", 1-byte chunks");
        }
    }
}

TEST(ZrIncremental, HookThatStopsEndsTheStreamAsZrDecodeStreamDoes)
{
    std::vector<uint8_t> bytes = sample("astronaut-progressive.zr");
    Outcome want;
    {
        Log log{&want.partials, 2};
        Memory memory{&bytes, 0};
        ZrStream stream{};
        stream.read = readMemory;
        stream.readContext = &memory;
        stream.partialInterval = 500;
        stream.partial = record;
        stream.partialContext = &log;
        ZrPicture picture;
        take(&want, zrDecodeStream(&stream, nullptr, &picture), &picture);
    }
    Outcome got;
    Log log{&got.partials, 2};
    ZrIncremental* decoder = zrIncrementalNew(nullptr, 500, record, &log);
    for (size_t offset = 0; offset < bytes.size(); offset += 333)
        EXPECT_EQ(zrIncrementalAppend(decoder, bytes.data() + offset, std::min<size_t>(333, bytes.size() - offset)), 0);
    ZrPicture picture;
    take(&got, zrIncrementalFinish(decoder, &picture), &picture);
    zrIncrementalFree(decoder);
    ASSERT_EQ(want.partials.size(), 2u);
    expectSame(got, want, "hook stops at the second partial");
}

TEST(ZrIncremental, InfoAndLatestFollowTheStream)
{
    std::vector<uint8_t> bytes = sample("astronaut-progressive.zr");
    ZrPicture expected;
    ASSERT_EQ(zrInfo(bytes.data(), bytes.size(), &expected), 0);
    std::vector<Partial> partials;
    Log log{&partials};
    ZrIncremental* decoder = zrIncrementalNew(nullptr, 1000, record, &log);
    ZrPicture info;
    ZrPartial latest;
    EXPECT_EQ(zrIncrementalInfo(decoder, &info), ZR_STATUS_NEED_MORE_DATA);
    EXPECT_EQ(zrIncrementalLatest(decoder, &latest), ZR_STATUS_NOT_READY);
    size_t headerDone = 0;
    for (size_t offset = 0; offset < bytes.size(); offset++) {
        ASSERT_EQ(zrIncrementalAppend(decoder, &bytes[offset], 1), 0);
        int32_t status = zrIncrementalInfo(decoder, &info);
        if (status == 0 && headerDone == 0) {
            headerDone = offset + 1;
            EXPECT_EQ(info.pixels, nullptr);
            EXPECT_EQ(std::memcmp(&info, &expected, sizeof info), 0);
        }
        EXPECT_EQ(status, headerDone ? 0 : ZR_STATUS_NEED_MORE_DATA);
        if (partials.empty()) {
            EXPECT_EQ(zrIncrementalLatest(decoder, &latest), ZR_STATUS_NOT_READY);
        } else {
            ASSERT_EQ(zrIncrementalLatest(decoder, &latest), 0);
            const Partial& last = partials.back();
            EXPECT_EQ(latest.position, last.position);
            ASSERT_EQ(latest.partHeight, last.partHeight);
            EXPECT_EQ(std::memcmp(latest.pixels, last.pixels.data(), last.pixels.size()), 0);
        }
    }
    EXPECT_GT(headerDone, 8u);
    EXPECT_LT(headerDone, 20u);
    EXPECT_GE(partials.size(), 3u);
    ZrPicture picture;
    EXPECT_EQ(zrIncrementalFinish(decoder, &picture), 0);
    zrFree(&picture);
    zrIncrementalFree(decoder);
}

TEST(ZrIncremental, LatestWorksWithoutAHook)
{
    std::vector<uint8_t> bytes = sample("astronaut-progressive.zr");
    Outcome want = reference(bytes, 999);
    ASSERT_FALSE(want.partials.empty());
    ZrIncremental* decoder = zrIncrementalNew(nullptr, 999, nullptr, nullptr);
    ASSERT_EQ(zrIncrementalAppend(decoder, bytes.data(), bytes.size() - 1), 0);
    ZrPartial latest;
    ASSERT_EQ(zrIncrementalLatest(decoder, &latest), 0);
    EXPECT_EQ(latest.position, want.partials.back().position);
    zrIncrementalFree(decoder);
}

std::vector<uint8_t> withHeaderByte(std::vector<uint8_t> bytes, size_t index, uint8_t value)
{
    bytes[index] = value;
    return bytes;
}

TEST(ZrIncremental, RefusalsAreReportedOnceKnownAndStay)
{
    std::vector<uint8_t> good = sample("gradient-progressive.zr");
    struct Case {
        std::vector<uint8_t> bytes;
        int32_t status;
    } cases[] = {
        {{'P', 'N', 'G', 1, 2, 3}, ZR_STATUS_NOT_ZR},
        {withHeaderByte(good, 2, 3), ZR_STATUS_BAD_VERSION},
        {withHeaderByte(good, 7, uint8_t(good[7] ^ 0x80)), 0}, // depth field changed, set below
    };
    // Depth 8 +/- 16: grey at 24 bits is refused.
    {
        ZrPicture info;
        zrInfo(cases[2].bytes.data(), cases[2].bytes.size(), &info);
        cases[2].status = zrInfo(cases[2].bytes.data(), cases[2].bytes.size(), &info);
        EXPECT_EQ(cases[2].status, ZR_STATUS_BAD_DEPTH);
    }
    for (const Case& c : cases) {
        ZrIncremental* decoder = zrIncrementalNew(nullptr, 1, record, nullptr);
        int32_t first = 0;
        size_t at = 0;
        for (; at < c.bytes.size() && first == 0; at++)
            first = zrIncrementalAppend(decoder, &c.bytes[at], 1);
        EXPECT_EQ(first, c.status);
        EXPECT_LE(at, 20u); // known as soon as the header says so
        EXPECT_EQ(zrIncrementalAppend(decoder, c.bytes.data(), c.bytes.size()), c.status);
        ZrPicture info, picture, expected;
        EXPECT_EQ(zrIncrementalInfo(decoder, &info), c.status);
        int32_t expectedStatus = zrDecode(c.bytes.data(), c.bytes.size(), nullptr, &expected);
        EXPECT_EQ(zrIncrementalFinish(decoder, &picture), expectedStatus);
        EXPECT_EQ(std::memcmp(&picture, &expected, sizeof picture), 0);
        EXPECT_EQ(zrIncrementalAppend(decoder, c.bytes.data(), 1), ZR_STATUS_FINISHED);
        zrIncrementalFree(decoder);
    }
}

TEST(ZrIncremental, MisuseGetsClearStatuses)
{
    uint8_t byte = 0x5A;
    ZrPicture picture;
    ZrPartial partial;
    EXPECT_EQ(zrIncrementalAppend(nullptr, &byte, 1), ZR_STATUS_BAD_ARGUMENT);
    EXPECT_EQ(zrIncrementalInfo(nullptr, &picture), ZR_STATUS_BAD_ARGUMENT);
    EXPECT_EQ(zrIncrementalLatest(nullptr, &partial), ZR_STATUS_BAD_ARGUMENT);
    EXPECT_EQ(zrIncrementalFinish(nullptr, &picture), ZR_STATUS_BAD_ARGUMENT);
    zrIncrementalFree(nullptr);

    ZrIncremental* decoder = zrIncrementalNew(nullptr, 0, nullptr, nullptr);
    ASSERT_NE(decoder, nullptr);
    EXPECT_EQ(zrIncrementalAppend(decoder, nullptr, 1), ZR_STATUS_BAD_ARGUMENT);
    EXPECT_EQ(zrIncrementalAppend(decoder, nullptr, 0), 0);
    EXPECT_EQ(zrIncrementalInfo(decoder, nullptr), ZR_STATUS_BAD_ARGUMENT);
    EXPECT_EQ(zrIncrementalLatest(decoder, nullptr), ZR_STATUS_BAD_ARGUMENT);
    EXPECT_EQ(zrIncrementalFinish(decoder, nullptr), ZR_STATUS_BAD_ARGUMENT);
    EXPECT_EQ(zrIncrementalAppend(decoder, &byte, 1), 0);
    // Nothing but the first magic byte: decoded as zrDecode decodes it.
    ZrPicture expected;
    int32_t status = zrDecode(&byte, 1, nullptr, &expected);
    EXPECT_EQ(zrIncrementalFinish(decoder, &picture), status);
    EXPECT_EQ(zrIncrementalFinish(decoder, &picture), ZR_STATUS_FINISHED);
    EXPECT_EQ(zrIncrementalAppend(decoder, &byte, 1), ZR_STATUS_FINISHED);
    EXPECT_EQ(zrIncrementalAppend(decoder, nullptr, 0), ZR_STATUS_FINISHED);
    zrIncrementalFree(decoder);
}

struct Reentry {
    ZrIncremental* decoder = nullptr;
    int32_t calls = 0;
    int32_t appendStatus = -1, finishStatus = -1, infoStatus = -1, latestStatus = -1;
    bool freeInHook = false;
};

int32_t reenter(void* context, const ZrPartial*)
{
    Reentry* r = static_cast<Reentry*>(context);
    uint8_t byte = 0;
    ZrPicture picture;
    ZrPartial partial;
    r->calls++;
    r->appendStatus = zrIncrementalAppend(r->decoder, &byte, 1);
    r->finishStatus = zrIncrementalFinish(r->decoder, &picture);
    r->infoStatus = zrIncrementalInfo(r->decoder, &picture);
    r->latestStatus = zrIncrementalLatest(r->decoder, &partial);
    if (r->freeInHook)
        zrIncrementalFree(r->decoder);
    return 0;
}

TEST(ZrIncremental, HookMayNotReenterButMayFree)
{
    std::vector<uint8_t> bytes = sample("astronaut-progressive.zr");
    for (bool freeInHook : {false, true}) {
        Reentry r;
        r.freeInHook = freeInHook;
        r.decoder = zrIncrementalNew(nullptr, 1000, reenter, &r);
        int32_t status = zrIncrementalAppend(r.decoder, bytes.data(), bytes.size());
        EXPECT_EQ(status, 0);
        EXPECT_EQ(r.appendStatus, ZR_STATUS_BAD_ARGUMENT);
        EXPECT_EQ(r.finishStatus, ZR_STATUS_BAD_ARGUMENT);
        EXPECT_EQ(r.infoStatus, 0);
        EXPECT_EQ(r.latestStatus, 0);
        if (freeInHook) {
            EXPECT_EQ(r.calls, 1); // the stream ended with the hook's call
        } else {
            EXPECT_GT(r.calls, 1);
            ZrPicture picture;
            EXPECT_EQ(zrIncrementalFinish(r.decoder, &picture), 0);
            zrFree(&picture);
            zrIncrementalFree(r.decoder);
        }
    }
}

// Many decoders with random streams, chunks, finishes and aborts; the
// sanitizer build checks that nothing leaks or is touched after release.
TEST(ZrIncremental, SoakWithRandomChunksAndAborts)
{
    std::vector<std::vector<uint8_t>> pool;
    for (const char* name : kSamples)
        pool.push_back(sample(name));
    for (const Coded& coded : encodedStreams())
        pool.push_back(coded.bytes);
    std::vector<Outcome> expected;
    for (const std::vector<uint8_t>& bytes : pool)
        expected.push_back(reference(bytes, 0));

    std::mt19937 random(2024);
    int32_t finished = 0, aborted = 0;
    for (int run = 0; run < 500; run++) {
        size_t which = random() % pool.size();
        const std::vector<uint8_t>& bytes = pool[which];
        std::vector<Partial> partials;
        Log log{&partials};
        int32_t interval = int32_t(random() % 200);
        ZrIncremental* decoder = zrIncrementalNew(nullptr, interval, random() % 2 ? record : nullptr, &log);
        ASSERT_NE(decoder, nullptr);
        bool abort = random() % 3 == 0;
        size_t stop = abort ? random() % (bytes.size() + 1) : bytes.size();
        for (size_t offset = 0; offset < stop;) {
            size_t n = std::min<size_t>(stop - offset, 1 + random() % 2000);
            ASSERT_EQ(zrIncrementalAppend(decoder, bytes.data() + offset, n), 0);
            offset += n;
        }
        if (abort) {
            aborted++;
        } else {
            Outcome got;
            ZrPicture picture;
            take(&got, zrIncrementalFinish(decoder, &picture), &picture);
            EXPECT_TRUE(got.pixels == expected[which].pixels) << "run " << run;
            finished++;
        }
        zrIncrementalFree(decoder);
    }
    EXPECT_GT(aborted, 100);
    EXPECT_GT(finished, 250);
}

} // namespace
