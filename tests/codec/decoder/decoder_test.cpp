#include "codec/decoder/decoder.h"
#include "tests/support/alloc_limit.h"
#include "tests/support/stream_header.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

int32_t decodeMemory(const std::vector<uint8_t>& bytes, FrameInfo* frame, DecodeOptions options = {})
{
    StreamSource source{bytes.data(), static_cast<int32_t>(bytes.size()), 0, 0};
    return decodeStart(&source, &options, frame);
}

TEST(DecodeStart, FillsTheFrameOfAnAcceptedStream)
{
    HeaderFields h;
    h.height = 48;
    h.width = 64;
    FrameInfo frame{};
    frame.format = 3;
    EXPECT_EQ(decodeMemory(makeHeader(h), &frame), 0);
    EXPECT_NE(frame.pixels, nullptr);
    EXPECT_EQ(frame.height, 48);
    EXPECT_EQ(frame.width, 64);
    EXPECT_EQ(frame.partHeight, 48);
    EXPECT_EQ(frame.partWidth, 64);
    EXPECT_EQ(frame.bitsPerPixel, 8u);
    EXPECT_EQ(frame.isColour, 0u);
    EXPECT_EQ(frame.session, nullptr);
    EXPECT_EQ(frame.format, 3u);
    decodeFree(&frame);
    EXPECT_EQ(frame.pixels, nullptr);
    decodeFree(&frame);
    decodeFree(nullptr);

    h.colour = true;
    EXPECT_EQ(decodeMemory(makeHeader(h), &frame), 0);
    EXPECT_EQ(frame.bitsPerPixel, 24u);
    EXPECT_EQ(frame.isColour, 1u);
    decodeFree(&frame);

    h.colour = false;
    h.bitsPerSample = 12;
    EXPECT_EQ(decodeMemory(makeHeader(h), &frame), 0);
    EXPECT_EQ(frame.bitsPerPixel, 12u);
    decodeFree(&frame);
}

TEST(DecodeStart, RefusalsStillReportTheHeaderSizes)
{
    struct Case {
        const char* name;
        HeaderFields header;
        int32_t status;
    };
    std::vector<Case> cases;
    HeaderFields h;
    h.height = 40;
    h.width = 30;
    h.colour = true;
    auto refusal = [&](const char* name, int32_t status, auto change) {
        HeaderFields v = h;
        change(v);
        cases.push_back({name, v, status});
    };
    refusal("version", 2, [](HeaderFields& v) { v.version = 1; });
    refusal("depth", 16, [](HeaderFields& v) { v.bitsPerSample = 10; });
    refusal("mode", 3, [](HeaderFields& v) { v.decodeMode = 2; });
    refusal("tiny", 3, [](HeaderFields& v) { v.height = 5; });
    refusal("huge", 8, [](HeaderFields& v) { v.height = v.width = 65535; });
    ScopedAllocLimit limit(kTestAllocLimit);
    for (const Case& c : cases) {
        FrameInfo frame{};
        frame.pixels = reinterpret_cast<uint8_t*>(&frame); // must be cleared
        EXPECT_EQ(decodeMemory(makeHeader(c.header), &frame), c.status) << c.name;
        EXPECT_EQ(frame.pixels, nullptr) << c.name;
        EXPECT_EQ(frame.height, static_cast<int32_t>(c.header.height)) << c.name;
        EXPECT_EQ(frame.width, static_cast<int32_t>(c.header.width)) << c.name;
        EXPECT_EQ(frame.partHeight, static_cast<int32_t>(c.header.height)) << c.name;
        EXPECT_EQ(frame.partWidth, static_cast<int32_t>(c.header.width)) << c.name;
        EXPECT_EQ(frame.bitsPerPixel, 24u) << c.name;
        EXPECT_EQ(frame.isColour, 1u) << c.name;
        EXPECT_EQ(frame.session, nullptr) << c.name;
    }

    HeaderFields grey;
    grey.bitsPerSample = 17;
    FrameInfo frame{};
    EXPECT_EQ(decodeMemory(makeHeader(grey), &frame), 16);
    EXPECT_EQ(frame.bitsPerPixel, 17u);
    EXPECT_EQ(frame.isColour, 0u);
}

TEST(DecodeStart, EmptyOrMissingDataIsNotAStream)
{
    FrameInfo frame{};
    EXPECT_EQ(decodeMemory({}, &frame), 1);
    EXPECT_EQ(frame.pixels, nullptr);
    EXPECT_EQ(frame.height, 0);
    EXPECT_EQ(frame.bitsPerPixel, 0u);

    // A size without an address, or a negative size, reads as no data.
    DecodeOptions options{};
    StreamSource missing{nullptr, 1000, 0, 0};
    EXPECT_EQ(decodeStart(&missing, &options, &frame), 1);
    std::vector<uint8_t> bytes = makeHeader(HeaderFields{});
    StreamSource negative{bytes.data(), -5, 0, 0};
    EXPECT_EQ(decodeStart(&negative, &options, &frame), 1);
}

// A byte source that looks at the running decode on every call, as the
// server's source does.
struct Watcher {
    std::vector<uint8_t> bytes;
    size_t headerBytes = 0;
    size_t next = 0;
    FrameInfo* frame = nullptr;
    std::vector<int32_t> continueResults;
    std::vector<size_t> continuePositions;
    int32_t sharpen = -1;
    uint32_t exactSteps = 0;
    uint32_t halfSize = 0;
    bool statusClearedAfterContinue = true;

    static int32_t fetch(void* context, uint32_t* slot)
    {
        auto* w = static_cast<Watcher*>(context);
        DecodeSession* session = w->frame->session;
        if (session) {
            w->sharpen = session->sharpen;
            w->exactSteps = session->exactSteps;
            w->halfSize = session->halfSize;
            w->continueResults.push_back(decodeContinue(w->frame));
            w->continuePositions.push_back(w->next);
            if (session->status != 0)
                w->statusClearedAfterContinue = false;
        }
        if (w->next >= w->bytes.size())
            return 1;
        *slot = w->bytes[w->next++];
        return 0;
    }
};

int32_t decodeWatched(Watcher* w, FrameInfo* frame, DecodeOptions options)
{
    w->frame = frame;
    options.byteSource = &Watcher::fetch;
    options.sourceContext = w;
    StreamSource source{nullptr, static_cast<int32_t>(w->bytes.size()), 0, 0};
    return decodeStart(&source, &options, frame);
}

TEST(DecodeStart, CopiesTheRequestOptionsIntoTheSession)
{
    const struct {
        uintptr_t sharpenField;
        int32_t sharpen;
    } cases[] = {{1, 1}, {0, 0}, {2, 0}, {0x10001, 0}};
    for (const auto& c : cases) {
        Watcher w;
        w.bytes = makeHeader(HeaderFields{});
        FrameInfo frame{};
        DecodeOptions options{};
        options.exactSteps = 7;
        options.halfSize = 1;
        options.sharpen = c.sharpenField;
        EXPECT_EQ(decodeWatched(&w, &frame, options), 0);
        EXPECT_EQ(w.sharpen, c.sharpen) << c.sharpenField;
        EXPECT_EQ(w.exactSteps, 7u);
        EXPECT_EQ(w.halfSize, 1u);
        decodeFree(&frame);
    }
}

TEST(DecodeContinue, NoDecodeInProgress)
{
    FrameInfo frame{};
    EXPECT_EQ(decodeContinue(&frame), 15);
    EXPECT_EQ(decodeContinue(nullptr), 15);
    EXPECT_EQ(frame.pixels, nullptr);
}

TEST(DecodeContinue, DuringADecodeRefusesWithoutDisturbingIt)
{
    for (uint32_t mode : {0u, 1u}) {
        Watcher w;
        HeaderFields h;
        h.decodeMode = mode;
        w.bytes = makeHeader(h);
        w.headerBytes = w.bytes.size();
        // Some coded data after the header for the drivers to read.
        for (int i = 0; i < 64; i++)
            w.bytes.push_back(0);
        FrameInfo frame{};
        EXPECT_EQ(decodeWatched(&w, &frame, DecodeOptions{}), 0);
        ASSERT_FALSE(w.continueResults.empty());
        EXPECT_TRUE(w.statusClearedAfterContinue);
        for (size_t k = 0; k < w.continueResults.size(); k++) {
            int32_t r = w.continueResults[k];
            if (w.continuePositions[k] < w.headerBytes) {
                EXPECT_EQ(r, 12) << "header byte " << w.continuePositions[k];
            } else if (mode == 0) {
                EXPECT_EQ(r, 11) << "byte " << w.continuePositions[k];
            } else {
                EXPECT_TRUE(r == 0 || r == 12) << "byte " << w.continuePositions[k];
            }
        }
        EXPECT_NE(frame.pixels, nullptr);
        EXPECT_EQ(frame.height, 64);
        decodeFree(&frame);
    }
}

} // namespace
